// Every audio setting changed at random from the window's side while blocks flow through the real
// audio thread: the map, mono mix and gain (as the Audio Map window's "Use" changes them), the
// delay count and switch (the main window's buttons). Each block sent must be one input block
// processed with one whole set of settings that the window published: a block made with half of a
// change (the new map with the old gain, say) matches none of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "relay/audio_map.h"

namespace velmor::testing {
namespace {

constexpr int kChannels = 4;
constexpr int kSamples = 8;

// Input block k: channel c, sample j carries a value that names all three (exact in float).
float InputSample(int64_t k, int c, int j) {
    return static_cast<float>(1 + j + kSamples * c + kSamples * kChannels * (k % 4096));
}

// The block the settings make of input block k, written plainly.
std::vector<float> Expected(const AudioSettings& s, int64_t k) {
    std::vector<float> out(kChannels * kSamples, 0.0f);
    const bool useGain = s.gain != 0.0 && s.gain != 1.0;
    auto present = [](int m) { return m >= 0 && m < kChannels; };
    for (int i = 0; i < kChannels; ++i) {
        for (int j = 0; j < kSamples; ++j) {
            float v = 0.0f;
            if (s.monoMix && i < 2) {
                const int a = s.channelMap[0], b = s.channelMap[1];
                if (present(a) && present(b)) {
                    const float sum = InputSample(k, a, j) + InputSample(k, b, j);
                    v = useGain ? static_cast<float>(static_cast<double>(sum) * s.gain * 0.5)
                                : sum * 0.5f;
                } else if (present(a) || present(b)) {
                    const float x = InputSample(k, present(a) ? a : b, j);
                    v = useGain ? static_cast<float>(static_cast<double>(x) * s.gain * 0.5)
                                : x * 0.5f;
                }
            } else {
                const int m = s.channelMap[static_cast<size_t>(i)];
                if (present(m)) {
                    const float x = InputSample(k, m, j);
                    v = useGain ? static_cast<float>(static_cast<double>(x) * s.gain) : x;
                }
            }
            out[static_cast<size_t>(i * kSamples + j)] = v;
        }
    }
    return out;
}

TEST_F(EngineTest, EveryAudioBlockSentIsMadeWithOneWholeSetOfSettings) {
    // A map is always active, so every block takes the processed path and every ring slot a
    // delay can reach holds a processed block.
    record.mapActive = kChannels;
    record.settingsRecord.mapChannelsSetting = kChannels;
    record.audioChannelCount = kChannels;
    PublishAudioSettings(record);

    int64_t next = 0;
    std::atomic<int64_t> fed{0};
    auto block = [&] {
        NDIlib_audio_frame_v2_t a = AudioFormat(kChannels, kSamples);
        a.timecode = next;
        std::vector<float> data(kChannels * kSamples);
        for (int c = 0; c < kChannels; ++c)
            for (int j = 0; j < kSamples; ++j)
                data[static_cast<size_t>(c * kSamples + j)] = InputSample(next, c, j);
        ++next;
        fed = next;
        ndi.QueueAudio(a, std::move(data));
    };
    block();
    QueueLeadIn(VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY));
    ASSERT_TRUE(Connect());

    // Every set published, with the number of blocks fed when it was: a block can only have been
    // made with a set published around its own time.
    std::mutex publishedMutex;
    std::vector<std::pair<int64_t, AudioSettings>> published{{0, record.audioSettings.Latest()}};
    std::atomic<bool> running{true};
    std::thread window([&] {
        std::mt19937 rng(5);
        const double gains[] = {0.0, 1.0, 0.5, 2.0, std::pow(10.0, -6.0 / 20.0), 0.1};
        while (running) {
            switch (rng() % 4) {
                case 0:
                case 1:
                    // "Use" in the Audio Map window: map, mix and gain at once.
                    for (int i = 0; i < kMaxAudioChannels; ++i)
                        record.channelMap[static_cast<size_t>(i)] =
                            static_cast<int8_t>(rng() % (kChannels + 1));
                    record.monoMix = static_cast<int32_t>(rng() % 2);
                    record.audioGain = gains[rng() % 6];
                    PublishAudioSettings(record);
                    break;
                case 2:
                    if (rng() % 2)
                        engine->DelayPlus();
                    else
                        engine->DelayMinus();
                    break;
                case 3:
                    engine->ToggleAudioDelay();
                    break;
            }
            {
                std::lock_guard lock(publishedMutex);
                published.emplace_back(fed.load(), record.audioSettings.Latest());
            }
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 700));
        }
    });

    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(3) || next < 400) {
        ASSERT_TRUE(ndi.WaitFor([&] { return ndi.AudioQueueSize() < 2; }));
        block();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) break;
    }
    running = false;
    window.join();
    ASSERT_TRUE(ndi.WaitFor([&] { return ndi.AudioQueueSize() == 0; }));
    engine->Disconnect();
    engine->StopAndWait();

    std::lock_guard lock(ndi.mutex);
    ASSERT_GT(ndi.audio.size(), 300u);
    int inconsistent = 0;
    size_t checked = 0;
    for (const SentAudio& a : ndi.audio) {
        const int64_t k = a.frame.timecode;  // the stamps are always the current block's
        if (k < 16) continue;                // the first slots a delay reaches were never written
        ++checked;
        // The sets published while blocks k - 20 to k + 2 were fed, and the one before them.
        auto first = std::lower_bound(
            published.begin(), published.end(), k - 20,
            [](const std::pair<int64_t, AudioSettings>& p, int64_t n) { return p.first < n; });
        if (first != published.begin()) --first;
        bool found = false;
        for (auto s = first; s != published.end() && s->first <= k + 2 && !found; ++s) {
            for (int d = 0; d <= 15 && !found; ++d)
                found = a.data == Expected(s->second, k - d);
        }
        if (!found && ++inconsistent <= 3)
            ADD_FAILURE() << "block " << k << " matches no published set of settings";
    }
    EXPECT_GT(checked, 300u);
    EXPECT_EQ(inconsistent, 0);
}

}  // namespace
}  // namespace velmor::testing
