// Reading the WAV files of velmor-sink (32-bit float) and of the monitor recorder (16-bit PCM):
// a tone's frequency by zero crossings, and its peak.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velmor::testing {

// The samples of channel `c` of a WAV file with a 44-byte header, as floats (16-bit samples
// scaled to -1..1); only the last `lastFrames` frames when that is not 0.
inline std::vector<float> WavChannel(const std::vector<uint8_t>& wav, int channels, int c,
                                     int bytesPerSample, size_t lastFrames = 0) {
    const size_t header = 44;
    std::vector<float> out;
    if (wav.size() <= header || channels <= 0) return out;
    const size_t frameBytes = static_cast<size_t>(channels) * bytesPerSample;
    const size_t frames = (wav.size() - header) / frameBytes;
    const size_t first = lastFrames && lastFrames < frames ? frames - lastFrames : 0;
    for (size_t i = first; i < frames; ++i) {
        const uint8_t* at = &wav[header + i * frameBytes + static_cast<size_t>(c) * bytesPerSample];
        if (bytesPerSample == 4) {
            float v;
            std::memcpy(&v, at, 4);
            out.push_back(v);
        } else {
            int16_t v;
            std::memcpy(&v, at, 2);
            out.push_back(static_cast<float>(v) / 32768.0f);
        }
    }
    return out;
}

inline double CrossingsPerSecond(const std::vector<float>& samples, int rate) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return samples.empty() ? 0 : crossings * static_cast<double>(rate) / samples.size();
}

inline double Peak(const std::vector<float>& samples) {
    double peak = 0;
    for (float v : samples)
        peak = std::max(peak, std::fabs(static_cast<double>(v)));
    return peak;
}

// Zero crossings per second of channel `c` of a 32-bit float WAV file written by velmor-sink.
inline double CrossingsPerSecond(const std::vector<uint8_t>& wav, int channels, int rate, int c) {
    return CrossingsPerSecond(WavChannel(wav, channels, c, 4), rate);
}

}  // namespace velmor::testing
