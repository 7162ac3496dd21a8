// Back to live after a stall: frames that waited in the receiver's queue behind the live delay are
// dropped (and counted) while newer ones wait, so the relay sends the newest at once; a relay
// that keeps up drops nothing, whatever the frames' timestamps say.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/live_edge.h"
#include "engine_fixture.h"

namespace velmor::testing {
namespace {

constexpr int64_t kMs = 10'000;

class BackToLive : public EngineTest {
protected:
    // A 60p frame sent `late` ago by the source, numbered by its picture's seed.
    std::pair<NDIlib_video_frame_v2_t, std::vector<uint8_t>> Frame(int seed, int64_t late) {
        NDIlib_video_frame_v2_t f = VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY, 60, 1);
        f.timestamp = WallClock100ns() - late;
        f.timecode = seed;
        return {f, Pattern(f, seed)};
    }
    std::pair<NDIlib_audio_frame_v2_t, std::vector<float>> Block(int seed, int64_t late) {
        NDIlib_audio_frame_v2_t a = AudioFormat(2, 800);
        a.timestamp = WallClock100ns() - late;
        a.timecode = seed;
        return {a, Ramp(2, 800, static_cast<float>(seed))};
    }
    std::vector<int64_t> SentVideoTimecodes() {
        std::lock_guard lock(ndi.mutex);
        std::vector<int64_t> out;
        for (const SentVideo& v : ndi.video)
            if (v.sender == record.mainSender.load()) out.push_back(v.frame.timecode);
        return out;
    }
    std::vector<int64_t> SentAudioTimecodes() {
        std::lock_guard lock(ndi.mutex);
        std::vector<int64_t> out;
        for (const SentAudio& a : ndi.audio)
            out.push_back(a.frame.timecode);
        return out;
    }
    // What was sent after the last of the live frames (numbered from 1000): the last of them may
    // still be on its way out when the receiver's queue is found empty.
    static std::vector<int64_t> AfterTheLiveFrames(const std::vector<int64_t>& sent) {
        auto last = std::find_if(sent.rbegin(), sent.rend(), [](int64_t n) { return n >= 1000; });
        return {last.base(), sent.end()};
    }
    // Live frames one at a time, each 3 ms behind its send time: the live delay. Each block has
    // also been taken when it returns (the audio thread frees a block once it is sent): a block
    // still waiting when the backlog arrives would wait behind it, on a slow machine long enough
    // to be counted late itself.
    void GoLive(int frames) {
        const int freed = ndi.audioFreed.load();
        for (int i = 0; i < frames; ++i) {
            auto [f, data] = Frame(1000 + i, 3 * kMs);
            ndi.QueueVideo(f, std::move(data));
            auto [a, samples] = Block(1000 + i, 3 * kMs);
            ndi.QueueAudio(a, std::move(samples));
            ASSERT_TRUE(Drain());
            ASSERT_TRUE(ndi.WaitFor([&] { return ndi.audioFreed.load() >= freed + i + 1; }));
        }
    }
};

TEST_F(BackToLive, AfterAStallTheQueuedBacklogIsSkippedAndTheNewestSent) {
    QueueLeadIn(VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY, 60, 1));
    ASSERT_TRUE(Connect());
    GoLive(20);
    EXPECT_EQ(record.counters.videoFramesLate, 0u);

    // The relay was away for a while: the receiver holds 12 frames and as many audio blocks, the
    // newest fresh. Frames are 14 ms apart in age and blocks 19 ms: everything before the last two
    // is past the slacks (25 ms and 33 ms beyond the live delay), the one before the newest well
    // inside them.
    std::vector<std::pair<NDIlib_video_frame_v2_t, std::vector<uint8_t>>> frames;
    std::vector<std::pair<NDIlib_audio_frame_v2_t, std::vector<float>>> blocks;
    for (int k = 0; k < 12; ++k) {
        frames.push_back(Frame(k, 3 * kMs + (11 - k) * 14 * kMs));
        blocks.push_back(Block(k, 3 * kMs + (11 - k) * 19 * kMs));
    }
    ndi.QueueAudios(blocks);
    ndi.QueueVideos(frames);
    ASSERT_TRUE(Drain());
    // The newest frame and block go out in any case.
    auto endsWithTheNewest = [](const std::vector<int64_t>& sent) {
        return !sent.empty() && sent.back() == 11;
    };
    ASSERT_TRUE(ndi.WaitFor([&] { return endsWithTheNewest(SentVideoTimecodes()); }));
    ASSERT_TRUE(ndi.WaitFor([&] { return endsWithTheNewest(SentAudioTimecodes()); }));

    // Only the newest go out: the one before it too unless the machine took longer than its
    // margin (11 ms for video, 14 ms for audio) to get there, as a sanitized run on a busy machine
    // may. Everything else is skipped and counted.
    const std::vector<std::vector<int64_t>> live{{10, 11}, {11}};
    const std::vector<int64_t> videoTail = AfterTheLiveFrames(SentVideoTimecodes());
    EXPECT_THAT(live, ::testing::Contains(videoTail));
    EXPECT_EQ(record.counters.videoFramesLate, 12 - videoTail.size());
    EXPECT_GE(record.counters.videoFramesDropped, record.counters.videoFramesLate.load());
    const std::vector<int64_t> audioTail = AfterTheLiveFrames(SentAudioTimecodes());
    EXPECT_THAT(live, ::testing::Contains(audioTail));
    EXPECT_EQ(record.counters.audioBlocksLate, 12 - audioTail.size());
}

TEST_F(BackToLive, ARelayThatKeepsUpDropsNothingWhateverTheTimestampsSay) {
    QueueLeadIn(VideoFormat(64, 36, NDIlib_FourCC_video_type_UYVY, 60, 1));
    ASSERT_TRUE(Connect());
    GoLive(5);
    // Late frames with nothing newer behind them (a clock that stepped, a slower network path):
    // each is the newest there is, and goes out.
    for (int k = 0; k < 5; ++k) {
        auto [f, data] = Frame(k, 900 * kMs);
        ndi.QueueVideo(f, std::move(data));
        ASSERT_TRUE(Drain());
    }
    // A burst of frames within the slack: none is dropped either.
    std::vector<std::pair<NDIlib_video_frame_v2_t, std::vector<uint8_t>>> burst;
    for (int k = 0; k < 3; ++k)
        burst.push_back(Frame(100 + k, 3 * kMs));
    ndi.QueueVideos(burst);
    ASSERT_TRUE(Drain());
    // Frames without a send time.
    for (int k = 0; k < 3; ++k) {
        auto [f, data] = Frame(200 + k, 0);
        f.timestamp = 0;
        ndi.QueueVideo(f, std::move(data));
    }
    ASSERT_TRUE(Drain());
    EXPECT_EQ(record.counters.videoFramesLate, 0u);
    EXPECT_EQ(SentVideoTimecodes().size(), 5u + 5u + 3u + 3u);
    EXPECT_EQ(record.counters.videoFramesSent, 16u);
    EXPECT_EQ(record.counters.videoFramesReceived, 3u /* skipped at the start */ + 16u);
}

}  // namespace
}  // namespace velmor::testing
