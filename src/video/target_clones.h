// Builds a function for AVX2 and for any x86-64, chosen once at load time. Sanitizer builds take
// the plain version: the loader runs the chooser before ThreadSanitizer is ready. Clang (used for
// the fuzzers) cannot multi-version templates, so it takes the plain version too.
#pragma once

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__) || defined(__clang__)
#define VELMOR_TARGET_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define VELMOR_TARGET_CLONES
#endif
#endif
#ifndef VELMOR_TARGET_CLONES
#define VELMOR_TARGET_CLONES __attribute__((target_clones("avx2", "default")))
#endif

#include <atomic>

namespace velmor {

// Hand-written AVX2 kernels are chosen at run time with UseAvx2Kernels(). Tests switch them off
// with AllowAvx2Kernels(false) to check the SSE2 kernels on the same machine.
inline std::atomic<bool>& Avx2KernelsAllowed() {
    static std::atomic<bool> allowed{true};
    return allowed;
}

inline void AllowAvx2Kernels(bool allow) {
    Avx2KernelsAllowed().store(allow, std::memory_order_relaxed);
}

inline bool UseAvx2Kernels() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return hasAvx2 && Avx2KernelsAllowed().load(std::memory_order_relaxed);
#else
    return false;
#endif
}

}  // namespace velmor
