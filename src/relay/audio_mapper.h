// State of the audio map and gain window, which outlives the window itself. The audio thread reads
// entries 0 and 1 and the gain while the window is open and rewrites entries on a channel-count
// change, so those members are atomic.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace velmor {

class NDIAudioMapper {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kFirstGainCommand = 32771;
    // Gain steps in dB for commands 32771..32789 (there is no +-2 dB step).
    static constexpr std::array<int, 19> gainTable = {20, 18, 16, 14,  12,  10,  8,   6,   4,  0,
                                                      -4, -6, -8, -10, -12, -14, -16, -18, -20};

    NDIAudioMapper() { Reset(); }

    int32_t mapperMonoMix = 0;
    std::atomic<double> mapperGain{1.0};
    int32_t mapperChannels = 0;
    std::array<std::atomic<int32_t>, 33> mapperMap{};
    int32_t mapperGainItem = 0;

    // The "Reset" defaults: the identity routing and no mono mix (the gain is kept).
    void Reset() {
        for (int i = 0; i < 33; ++i)
            mapperMap[i].store(i, std::memory_order_relaxed);
        mapperMonoMix = 0;
    }
};

}  // namespace velmor
