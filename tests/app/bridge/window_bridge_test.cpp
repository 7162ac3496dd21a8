// The engine's threads reaching the window: window-thread calls, the model bridge and the preview,
// with the real video and audio threads of the engine and the window thread's event loop. These
// run under ThreadSanitizer; a report is a bug.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <thread>

#include "app/main_window_model.h"
#include "app/model_bridge.h"
#include "engine/engine.h"
#include "platform/platform_test_support.h"
#include "platform/window_calls.h"
#include "support/fake_ndi.h"
#include "support/recording_fakes.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using testing::WaitFor;

// A window that does not serve its queue (a display server stopped, a long task on the window
// thread) never holds up a thread that reports to it, and holds one report per state.
TEST(WindowCalls, ReportsNeverWaitAndOnlyTheNewestOfEachStateIsKept) {
    testing::EnsureQtApp();
    WindowCalls calls;
    std::vector<int> values(3, -1), events;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        for (int i = 0; i < 100000; ++i) {
            const int key = i % 3;
            calls.PostLatest(key + 1, [&values, key, i] { values[key] = i; });
            if (i % 25000 == 0) calls.Post([&events, i] { events.push_back(i); });
        }
        returned = true;
    });
    worker.join();  // the window thread served nothing meanwhile
    EXPECT_TRUE(returned);
    EXPECT_EQ(calls.Pending(), 3u + 4u) << "one report per key, and every plain post";
    calls.RunPending();
    EXPECT_EQ(values, (std::vector<int>{99999, 99997, 99998})) << "the newest report of each key";
    EXPECT_EQ(events, (std::vector<int>{0, 25000, 50000, 75000})) << "plain posts keep their order";
    EXPECT_EQ(calls.Pending(), 0u);
}

// On the window thread a report runs at once, and an older one still queued for the same state
// is dropped so it cannot overwrite the newer one afterwards.
TEST(WindowCalls, OnTheWindowThreadAReportRunsAtOnceAndSupersedesAQueuedOne) {
    testing::EnsureQtApp();
    WindowCalls calls;
    int value = 0;
    std::thread worker([&] { calls.PostLatest(7, [&] { value = 1; }); });
    worker.join();
    calls.PostLatest(7, [&] { value = 2; });
    EXPECT_EQ(value, 2);
    calls.RunPending();
    EXPECT_EQ(value, 2) << "the older report from the other thread was dropped";
}

TEST(WindowCalls, ANestedEventLoopStillServesPosts) {
    testing::EnsureQtApp();
    WindowCalls calls;
    std::atomic<bool> firstRunning{false}, secondRan{false};
    // As a message box would: the first task waits in an event loop for the second post.
    calls.Post([&] {
        firstRunning = true;
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (secondRan) loop.quit();
        });
        poll.start(5);
        loop.exec();
    });
    std::thread second([&] {
        while (!firstRunning)
            std::this_thread::sleep_for(1ms);
        calls.PostLatest(3, [&] { secondRan = true; });
    });
    ASSERT_TRUE(WaitFor([&] { return secondRan.load(); }));
    second.join();
}

TEST(WindowCalls, CloseDropsWhatIsQueuedAndLaterPosts) {
    testing::EnsureQtApp();
    auto calls = std::make_unique<WindowCalls>();
    bool ran = false;
    std::thread worker([&] { calls->PostLatest(1, [&] { ran = true; }); });
    worker.join();
    calls->Close();
    calls->RunPending();
    EXPECT_FALSE(ran);
    calls->Post([&] { ran = true; });
    calls->PostLatest(1, [&] { ran = true; });
    calls->RunPending();
    EXPECT_FALSE(ran) << "nothing runs after Close";
}

class Actions : public IWindowActions {
public:
    void StartFreezeBlink() override {}
    void StopFreezeBlink() override {}
    void StartWatchdog() override {}
    void StopWatchdog() override {}
    void StartGrabBlink() override {}
};

// A warning about refused frames is an event, not a state: a format caption reported right after
// it, while the window serves nothing, does not wipe it out before it is shown (and logged).
TEST(ModelBridge, ASkippedFrameWarningOutlivesTheNextFormatCaption) {
    testing::EnsureQtApp();
    RelayRecord record;
    MainWindowModel model;
    WindowCalls calls;
    Actions actions;
    ModelBridge bridge(record, model, calls, actions);
    std::vector<std::string> shown;
    model.onChange = [&](const ModelChange& change) {
        if (change.kind == ModelChange::Kind::Caption &&
            change.index == static_cast<int>(Caption::Video))
            shown.push_back(model.caption(Caption::Video));
    };
    std::thread video([&] {
        bridge.ShowFramesSkipped(MediaKind::Video, "picture size 8192 x 8192");
        for (int i = 0; i < 3; ++i)
            bridge.ShowVideoFormat(VideoFormatReport{320, 180, 25.0f, true, true});
    });
    video.join();
    calls.RunPending();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Video frames skipped: picture size 8192 x 8192");
    EXPECT_EQ(shown[1], "320 x 180, 25.00p YUV");
    calls.Close();
}

// The real video thread renders every frame into the preview and the window thread paints from
// it, while the window thread changes settings the video thread reads.
TEST(ModelBridge, TheVideoThreadFeedsThePreviewWithoutWaitingForThePaint) {
    testing::EnsureQtApp();
    testing::FakeNdi ndi;
    RelayRecord record;
    record.ApplyStartupDefaults();
    record.groupSetup.BuildSendGroups();
    MainWindowModel model;
    WindowCalls calls;
    Actions actions;
    ModelBridge bridge(record, model, calls, actions);
    testing::RecordingNotifier shown;
    WindowThreadNotifier notifier(shown, calls);
    PreviewRenderer preview;
    bridge.SetRenderer(PreviewTarget::Main, &preview);

    int repaints = 0, painted = 0;
    uint64_t checksum = 0;
    model.onChange = [&](const ModelChange& change) {
        if (change.kind != ModelChange::Kind::Preview) return;
        ++repaints;
        // What a paint does: take the newest whole bitmap and read it.
        const PreviewBitmap* b = preview.AcquireBitmap();
        if (b->bitsPerPixel == 0) return;
        const size_t bytes = static_cast<size_t>(b->width) * b->height * b->bitsPerPixel / 8;
        for (size_t i = 0; i < bytes; i += 61)
            checksum += b->pixels[i];
        ++painted;
    };

    Engine engine(record, ndi.api(), bridge, notifier);
    engine.SetWindowPoster([&](std::function<void()> task) { calls.Post(std::move(task)); });
    const auto format = testing::VideoFormat(1280, 720, NDIlib_FourCC_video_type_UYVY, 50, 1);
    constexpr int kFrames = 60;
    for (int i = 0; i < kFrames; ++i)
        ndi.QueueVideo(format, testing::Pattern(format, i));
    ndi.QueueAudio(testing::AudioFormat(2, 960), testing::Ramp(2, 960, 0.0f));

    const NDIlib_source_t source{"HOST (Camera 1)", "127.0.0.1:5961"};
    ASSERT_TRUE(engine.ConnectTo(source));
    EXPECT_TRUE(engine.IsProbing()) << "the probe runs on a worker";
    // Meanwhile the window thread keeps changing what the video thread reads.
    int step = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            record.rotationMode = (++step / 7) % 6;
            record.previewOn = 1;
            return ndi.videoFreed.load() >= kFrames;
        },
        60000));
    EXPECT_GT(painted, 10);
    EXPECT_LE(repaints, kFrames) << "one repaint request per frame at most";
    EXPECT_EQ(model.caption(Caption::Video), "1280 x 720, 50.00p YUV");
    EXPECT_EQ(model.lamp(LampId::Signal), Lamp::Magenta);
    EXPECT_NE(checksum, 0u);

    // Ending the connection: the window thread polls, its event loop serving the threads' last
    // window calls, and never waits for a thread.
    engine.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return !engine.IsConnected(); }, 5000));
    engine.ReapThreads();
    calls.RunPending();  // the threads' last reports
    EXPECT_EQ(model.caption(Caption::Video), "No video");
    calls.Close();
}

// Anything that ends a connection while the probe runs cancels it: no thread starts.
TEST(ModelBridge, DisconnectDuringTheProbeStartsNoThread) {
    testing::EnsureQtApp();
    testing::FakeNdi ndi;  // sends nothing: the probe would take its full 3.2 s
    RelayRecord record;
    record.ApplyStartupDefaults();
    MainWindowModel model;
    WindowCalls calls;
    Actions actions;
    ModelBridge bridge(record, model, calls, actions);
    testing::RecordingNotifier shown;
    Engine engine(record, ndi.api(), bridge, shown);
    engine.SetWindowPoster([&](std::function<void()> task) { calls.Post(std::move(task)); });
    const NDIlib_source_t source{"HOST (Camera 1)", "127.0.0.1:5961"};
    ASSERT_TRUE(engine.ConnectTo(source));
    EXPECT_TRUE(engine.IsConnected());
    engine.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return !engine.IsConnected(); }, 1000))
        << "cancelled within one capture";
    EXPECT_EQ(record.videoThreadAlive, 0);
    EXPECT_EQ(record.videoThreadRun, 0);
    EXPECT_TRUE(model.button(WindowButton::Output).enabled);
    calls.Close();
}

}  // namespace
}  // namespace velmor
