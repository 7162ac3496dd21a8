#include "audio/audio_plan.h"

#include <algorithm>
#include <cstring>

namespace velmor {

AudioPlan PlanAudioBlock(std::span<const int8_t, kMaxPlannedChannels> map, bool monoMix,
                         double gain, int blockChannels, int outputChannels) {
    using Kind = AudioChannelStep::Kind;
    AudioPlan plan;
    const int n = std::clamp(std::min(blockChannels, outputChannels), 0, kMaxPlannedChannels);
    plan.channels = n;
    plan.gain = gain;
    plan.scaled = gain != 0.0 && gain != 1.0;
    auto present = [n](int m) { return m >= 0 && m < n; };
    for (int i = 0; i < n; ++i) {
        AudioChannelStep& step = plan.steps[static_cast<size_t>(i)];
        if (monoMix && i == 1) {
            step.kind = Kind::WithFirst;
        } else if (monoMix && i == 0) {
            const int a = map[0], b = map[1];
            if (present(a) && present(b)) {
                step = {Kind::MixBoth, a, b};
            } else if (present(a) || present(b)) {
                step = {Kind::MixOne, present(a) ? a : b, 0};
            }
        } else {
            const int m = map[static_cast<size_t>(i)];
            // The "Mute" column, or an entry that names no input channel: silence.
            if (present(m)) step = {plan.scaled ? Kind::Scale : Kind::Copy, m, 0};
        }
    }
    return plan;
}

void RunAudioPlan(const AudioPlan& plan, const AudioKernels& k, const float* in, size_t inStride,
                  int available, float* out, int outSamples) {
    using Kind = AudioChannelStep::Kind;
    const int s = std::max(outSamples, 0);
    const int n = std::clamp(available, 0, s);
    auto input = [&](int c) { return in + static_cast<size_t>(c) * inStride; };
    auto output = [&](int i) { return out + static_cast<size_t>(i) * static_cast<size_t>(s); };
    for (int i = 0; i < plan.channels; ++i) {
        const AudioChannelStep& step = plan.steps[static_cast<size_t>(i)];
        float* dst = output(i);
        switch (step.kind) {
            case Kind::WithFirst:
                continue;
            case Kind::Silence:
                std::fill(dst, dst + s, 0.0f);
                break;
            case Kind::Copy:
                std::memcpy(dst, input(step.a), sizeof(float) * static_cast<size_t>(n));
                break;
            case Kind::Scale:
                k.scale(input(step.a), dst, n, plan.gain);
                break;
            case Kind::MixBoth:
                if (plan.scaled) {
                    k.mixScaled(input(step.a), input(step.b), dst, n, plan.gain);
                } else {
                    k.mix(input(step.a), input(step.b), dst, n);
                }
                break;
            case Kind::MixOne:
                // Half of the one input: the gain and the halving in one scaling.
                if (plan.scaled) {
                    k.scale(input(step.a), dst, n, plan.gain * 0.5);
                } else {
                    k.half(input(step.a), dst, n);
                }
                break;
        }
        std::fill(dst + n, dst + s, 0.0f);
        // The mono mix: output 2 carries what output 1 does (a one-channel output has none).
        if (i == 0 && plan.channels > 1 && plan.steps[1].kind == Kind::WithFirst)
            std::memcpy(output(1), dst, sizeof(float) * static_cast<size_t>(s));
    }
}

}  // namespace velmor
