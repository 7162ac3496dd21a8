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
