#include "relay/audio_map.h"

#include <algorithm>

namespace velmor {

void OpenAudioMapCopy(RelayRecord& r, int channels) {
    NDIAudioMapper& m = r.audioMapper;
    // Outputs beyond this source's channels keep the window's own entries.
    for (int i = 0; i < std::min(channels, kMaxAudioChannels); ++i) {
        const int entry = r.channelMap[i];
        m.mapperMap[i] = entry < channels ? entry : i;
    }
}

bool AcceptAudioMapCopy(RelayRecord& r, int channels) {
    NDIAudioMapper& m = r.audioMapper;
    bool remapped = false;
    for (int i = 0; i < channels && i < kMaxAudioChannels; ++i)
        remapped = remapped || m.mapperMap[i] != i;
    for (int i = 0; i < kMaxAudioChannels; ++i) {
        const auto entry = static_cast<int8_t>(m.mapperMap[i].load());
        r.channelMap[i] = entry;
        r.settingsRecord.channelMapSetting[i] = entry;
    }
    return remapped;
}

void SetChannelMap(RelayRecord& r, std::span<const int8_t, kMaxAudioChannels> entries) {
    for (size_t j = 0; j < entries.size(); ++j) {
        r.channelMap[j] = entries[j];
        r.audioMapper.mapperMap[j] = entries[j];
    }
}

void ResetAudioMapCopy(RelayRecord& r) {
    for (int i = 0; i < NDIAudioMapper::kMaxChannels + 1; ++i)
        r.audioMapper.mapperMap[i] = i;
}

void FollowChannelCount(std::array<int8_t, kMaxAudioChannels>& map, int oldCount) {
    const int old = std::min(oldCount, kMaxAudioChannels);
    for (int i = 0; i < old; ++i) {
        if (map[static_cast<size_t>(i)] >= old)
            map[static_cast<size_t>(i)] = static_cast<int8_t>(i);
    }
}

void PublishAudioSettings(RelayRecord& r) {
    r.audioSettings.Update([&r](AudioSettings& s) {
        for (int i = 0; i < kMaxAudioChannels; ++i)
            s.channelMap[static_cast<size_t>(i)] = r.channelMap[static_cast<size_t>(i)];
        s.monoMix = r.monoMix;
        s.gain = r.audioGain;
        s.mapActive = r.mapActive;
        s.delayOn = r.audioDelayOn;
        s.delayFrames = r.audioDelayFrames;
        ++s.generation;
    });
}

void FollowChannelCount(RelayRecord& r, int oldCount) {
    const int old = std::min(oldCount, kMaxAudioChannels);
    for (int i = 0; i < old; ++i) {
        if (r.channelMap[i] >= old) {
            r.channelMap[i] = static_cast<int8_t>(i);
            r.audioMapper.mapperMap[i] = i;
        }
    }
}

}  // namespace velmor
