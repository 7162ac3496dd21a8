// What the audio path does to every block while a map, mono mix or gain is in force, decided once
// per change of the settings or of the block's channel count (PlanAudioBlock) and then run over
// each block with the block kernels of audio_kernels.h (RunAudioPlan): the per-sample work decides
// nothing.
//
// For output channel i of the N processed (the smaller of the block's and the ring's channels, at
// most 32): with the mono mix on, outputs 1 and 2 both carry the mix of the inputs mapped to them
// (half their sum, half of the one present, or silence); otherwise output i copies the input
// `map[i]` names, or is silent when that names no input (the "Mute" column is N). A gain other
// than 0.0 (never set) and 1.0 scales every value taken from the input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/audio_kernels.h"

namespace velmor {

inline constexpr int kMaxPlannedChannels = 32;

struct AudioChannelStep {
    enum class Kind : uint8_t {
        Silence,
        Copy,       // input a
        Scale,      // input a times the gain
        MixBoth,    // the mono mix of inputs a and b (gain included)
        MixOne,     // the mono mix of input a alone: half of it (gain included)
        WithFirst,  // written together with output 0 (the mono mix's second output)
    };
    Kind kind = Kind::Silence;
    int a = 0, b = 0;
};

struct AudioPlan {
    int channels = 0;  // N, the outputs written
    double gain = 1.0;
    bool scaled = false;  // a gain other than 0.0 and 1.0
    std::array<AudioChannelStep, kMaxPlannedChannels> steps{};
};

// The plan for blocks of `blockChannels` into outputs of `outputChannels`, with the channel map
// (32 entries), the mono mix and the gain.
AudioPlan PlanAudioBlock(std::span<const int8_t, kMaxPlannedChannels> map, bool monoMix,
                         double gain, int blockChannels, int outputChannels);

// Runs `plan` over one block: input plane k at in + k * inStride floats, `available` samples each;
// output plane i at out + i * outSamples floats, filled to outSamples (silence after `available`).
void RunAudioPlan(const AudioPlan& plan, const AudioKernels& kernels, const float* in,
                  size_t inStride, int available, float* out, int outSamples);

}  // namespace velmor
