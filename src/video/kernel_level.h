// Which version of a kernel runs. Every kernel family has a plain reference version, and on x86-64
// SSE2 and AVX2 versions where they pay off; a family's table maps each level to the function for
// it (a level a family has no own version for takes the next lower one). The level is chosen from
// the processor's features once, and a caller picks its function pointers when it is configured
// (the video path when the output format is set up), never per pixel or per row. Tests run every
// level this processor supports against the reference.
#pragma once

#include <cstdint>
#include <span>

namespace velmor {

enum class KernelLevel : uint8_t { Reference = 0, Sse2 = 1, Avx2 = 2 };
inline constexpr int kKernelLevelCount = 3;

// The highest level this processor runs (detected on the first call).
KernelLevel BestKernelLevel();
// Every level this processor runs, Reference first.
std::span<const KernelLevel> SupportedKernelLevels();
const char* KernelLevelName(KernelLevel level);

// The version for `level` of a family that has one of each.
template <typename T>
constexpr T ByLevel(KernelLevel level, T reference, T sse2, T avx2) {
    if (level == KernelLevel::Avx2) return avx2;
    return level == KernelLevel::Sse2 ? sse2 : reference;
}

// One function per level, for a family's table.
template <typename Fn>
struct KernelSet {
    Fn byLevel[kKernelLevelCount];
    Fn For(KernelLevel level) const { return byLevel[static_cast<int>(level)]; }
    Fn Best() const { return For(BestKernelLevel()); }
};

}  // namespace velmor
