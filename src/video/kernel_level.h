// Which version of a kernel runs. Every kernel family has a plain reference version, and on x86-64
// SSE2, AVX2 and AVX-512 versions where they pay off; a family's table maps each level to the
// function for it (a level a family has no own version for takes the next lower one). The level is
// chosen from the processor's features once, and a caller picks its function pointers when it is
// configured (the video path when the output format is set up), never per pixel or per row. Tests
// run every level this processor supports against the reference.
#pragma once

#include <cstdint>
#include <span>

namespace velmor {

// Avx512 needs the F, BW, VL and VBMI parts of AVX-512 (Ice Lake, Zen 4 and later): the byte
// permutes of VBMI are what its kernels use.
enum class KernelLevel : uint8_t { Reference = 0, Sse2 = 1, Avx2 = 2, Avx512 = 3 };
inline constexpr int kKernelLevelCount = 4;

// The highest level this processor runs (detected on the first call).
KernelLevel BestKernelLevel();
// Every level this processor runs, Reference first.
std::span<const KernelLevel> SupportedKernelLevels();
const char* KernelLevelName(KernelLevel level);

// The size of one core's second-level cache in bytes (512 KiB when the system does not say), for
// work done in pieces that should stay in it.
int64_t SecondLevelCacheBytes();

// The version for `level` of a family that has one of each (Avx512 takes the AVX2 one in the
// first form).
template <typename T>
constexpr T ByLevel(KernelLevel level, T reference, T sse2, T avx2) {
    if (level >= KernelLevel::Avx2) return avx2;
    return level == KernelLevel::Sse2 ? sse2 : reference;
}
template <typename T>
constexpr T ByLevel(KernelLevel level, T reference, T sse2, T avx2, T avx512) {
    return level == KernelLevel::Avx512 ? avx512 : ByLevel(level, reference, sse2, avx2);
}

// One function per level, for a family's table.
template <typename Fn>
struct KernelSet {
    Fn byLevel[kKernelLevelCount];
    Fn For(KernelLevel level) const { return byLevel[static_cast<int>(level)]; }
    Fn Best() const { return For(BestKernelLevel()); }
};

}  // namespace velmor
