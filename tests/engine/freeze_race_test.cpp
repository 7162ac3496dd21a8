// The freeze pressed and released from the window's side while frames flow through the real video
// thread. A release must never be undone by the video thread holding a freeze it saw requested a
// moment before: the output would stay frozen while the button shows live.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "engine_fixture.h"

namespace velmor::testing {
namespace {

TEST_F(EngineTest, AFreezeReleasedWhileTheVideoThreadCopiesItIsNeverHeldAfterwards) {
    // Large enough that copying the frozen picture takes a while.
    const auto format = VideoFormat(1280, 720, NDIlib_FourCC_video_type_UYVY);
    const std::vector<uint8_t> picture = Pattern(format, 3);
    ndi.recordVideoData = false;
    std::atomic<int> sent{0};
    ndi.onVideoSent = [&](void*, const NDIlib_video_frame_v2_t&) { sent.fetch_add(1); };
    QueueLeadIn(format);
    ASSERT_TRUE(Connect());

    std::atomic<bool> running{true};
    std::thread feeder([&] {
        while (running) {
            if (!ndi.WaitFor([&] { return ndi.VideoQueueSize() < 2 || !running; })) break;
            if (running) ndi.QueueVideo(format, picture);
        }
    });

    std::mt19937 rng(20);
    int heldAfterRelease = 0;
    for (int round = 0; round < 300; ++round) {
        engine->Freeze();  // request
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1500));
        engine->Freeze();  // release
        ASSERT_TRUE(record.freezeState.live());
        // Two more frames through the path: a freeze wrongly held would have been stored by now.
        const int freed = ndi.videoFreed.load();
        ASSERT_TRUE(ndi.WaitFor([&] { return ndi.videoFreed.load() >= freed + 2; }));
        if (!record.freezeState.live()) {
            ++heldAfterRelease;
            engine->Freeze();  // as an operator would, to carry on
        }
    }
    // Live again: frames go out.
    const int sentBefore = sent.load();
    const int freed = ndi.videoFreed.load();
    ASSERT_TRUE(ndi.WaitFor([&] { return ndi.videoFreed.load() >= freed + 3; }));
    running = false;
    feeder.join();
    EXPECT_EQ(heldAfterRelease, 0);
    EXPECT_GT(sent.load(), sentBefore);
}

}  // namespace
}  // namespace velmor::testing
