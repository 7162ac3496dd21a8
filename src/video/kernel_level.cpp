#include "video/kernel_level.h"

#include <unistd.h>

#include "video/simd.h"

namespace velmor {

namespace {

struct Levels {
    KernelLevel list[kKernelLevelCount] = {KernelLevel::Reference};
    int count = 1;
    Levels() {
#if VELMOR_X86
        list[count++] = KernelLevel::Sse2;  // part of every x86-64 processor
        if (!__builtin_cpu_supports("avx2")) return;
        list[count++] = KernelLevel::Avx2;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")) {
            list[count++] = KernelLevel::Avx512;
        }
#endif
    }
};

const Levels& Detected() {
    static const Levels levels;
    return levels;
}

}  // namespace

KernelLevel BestKernelLevel() {
    const Levels& l = Detected();
    return l.list[l.count - 1];
}

std::span<const KernelLevel> SupportedKernelLevels() {
    const Levels& l = Detected();
    return {l.list, static_cast<size_t>(l.count)};
}

const char* KernelLevelName(KernelLevel level) {
    switch (level) {
        case KernelLevel::Reference:
            return "reference";
        case KernelLevel::Sse2:
            return "sse2";
        case KernelLevel::Avx2:
            return "avx2";
        case KernelLevel::Avx512:
            return "avx512";
    }
    return "?";
}

int64_t SecondLevelCacheBytes() {
    static const int64_t bytes = [] {
        const long size = sysconf(_SC_LEVEL2_CACHE_SIZE);
        return size > 0 ? int64_t{size} : int64_t{512} << 10;
    }();
    return bytes;
}

}  // namespace velmor
