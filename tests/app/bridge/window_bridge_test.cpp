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

TEST(WindowCalls, OtherThreadsWaitForTheWindowAndTheWindowNeverWaits) {
    testing::EnsureQtApp();
    WindowCalls calls;
    int value = 0;
    calls.Call([&] { value = 1; });
    EXPECT_EQ(value, 1) << "on the window thread a call runs at once";

    // A caller on another thread returns only once the window thread ran its task, in order
    // with posted tasks.
    std::vector<int> order;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        calls.Post([&] { order.push_back(1); });
        calls.Call([&] { order.push_back(2); });
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(WindowCalls, ANestedEventLoopStillServesCalls) {
    testing::EnsureQtApp();
    WindowCalls calls;
    std::atomic<bool> firstRunning{false}, secondRan{false};
    std::thread first([&] {
        // As a message box would: the first task waits in an event loop for the second call.
        calls.Call([&] {
            firstRunning = true;
            QEventLoop loop;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (secondRan) loop.quit();
            });
            poll.start(5);
            loop.exec();
        });
    });
    // The second call is made only while the first task is running its loop.
    std::thread second([&] {
        while (!firstRunning)
            std::this_thread::sleep_for(1ms);
        calls.Call([&] { secondRan = true; });
    });
    ASSERT_TRUE(WaitFor([&] { return secondRan.load(); }));
    second.join();
    first.join();
}

TEST(WindowCalls, CloseReleasesAWaitingCaller) {
    testing::EnsureQtApp();
    auto calls = std::make_unique<WindowCalls>();
    std::atomic<bool> returned{false};
    bool ran = false;
    std::thread worker([&] {
        calls->Call([&] { ran = true; });
        returned = true;
    });
    // The window thread does not run its queue here; closing it must still free the caller.
    std::this_thread::sleep_for(20ms);
    calls->Close();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ran);
    calls->Call([&] { ran = true; });
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
