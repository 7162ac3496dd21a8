// The vector intrinsics of x86-64 and the attribute that builds one function for AVX2. Kernels
// that use them are chosen at run time through video/kernel_level.h; everywhere else only the
// plain reference versions exist.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELMOR_X86 1
#include <immintrin.h>
// Builds one function for processors with AVX2; call it only where BestKernelLevel() allows.
#define VELMOR_AVX2 __attribute__((target("avx2")))
// The same for processors with the AVX-512 of KernelLevel::Avx512 (F, BW, VL and VBMI).
#define VELMOR_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi")))
#else
#define VELMOR_X86 0
#endif
