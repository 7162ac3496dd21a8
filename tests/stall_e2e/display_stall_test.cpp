// The output never waits for the desktop: Velmor relays 1080p60 with stereo with its window open
// and the preview on, on a private X server; the X server is stopped (SIGSTOP) for 4 s and goes
// on (SIGCONT). The output, watched by velmor-sink, keeps its rate, loses nothing, keeps its delay
// behind the source and its lip sync, before, during and after.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "support/delay_log.h"
#include "support/ndi_names.h"
#include "support/xvfb.h"
#include "tools/tools_fixture.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::DelayLog;
using test::Process;
namespace fs = std::filesystem;

using test::kXvfb;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

class DisplayStall : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kXvfb)) GTEST_SKIP() << "needs Xvfb (scripts/setup.sh installs it)";
        dir_ = fs::temp_directory_path() / ("velmor-stall-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        for (const char* sub : {"run", "work", "ndi"})
            fs::create_directories(dir_ / sub);
        fs::permissions(dir_ / "run", fs::perms::owner_all);
        setenv("VELMOR_NDI_DIR", (dir_ / "ndi").c_str(), 1);
        std::string display;
        xvfb_ = test::StartXvfb(display);
        ASSERT_FALSE(display.empty()) << "Xvfb did not start:\n" << xvfb_->Output();
        env_ = {"VELMOR_NDI_DIR=" + (dir_ / "ndi").string(),
                "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "no-bus").string(),
                "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                // The monitor into a file: this test is about the display (the sound server has a
                // test of its own).
                "VELMOR_MONITOR_WAV=" + (dir_ / "monitor.wav").string()};
    }
    void TearDown() override {
        if (xvfb_) kill(xvfb_->pid(), SIGCONT);
        sink_.reset();
        velmor_.reset();
        source_.reset();
        xvfb_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::unique_ptr<Process> Run(const char* program, const std::vector<std::string>& args,
                                 int niceValue = 0) {
        return std::make_unique<Process>(program, args, env_, (dir_ / "work").string(), niceValue);
    }
    std::string Log() const {
        std::string log;
        if (velmor_) log += "\n--- velmor:\n" + velmor_->Output();
        if (sink_) log += "\n--- velmor-sink:\n" + sink_->Output();
        return log;
    }

    fs::path dir_;
    std::vector<std::string> env_;
    std::unique_ptr<Process> xvfb_, source_, velmor_, sink_;
};

TEST_F(DisplayStall, AStoppedXServerCostsTheOutputNothing) {
    if (test::kSanitized) GTEST_SKIP() << "a sanitized relay cannot keep 1080p60";
    // The chain runs ahead of the machine's other work, so what is measured is the relay.
    constexpr int kAhead = -10;
    source_ = Run(VELMOR_TESTSRC,
                  {"--name", "Stall", "--size", "1920x1080", "--rate", "60/1", "--seconds", "90"},
                  kAhead);
    velmor_ = Run(VELMOR_BIN,
                  {"--show-local", "--source", testing::LocalSourceName("Stall"), "--config",
                   (dir_ / "stall.vlm").string()},
                  kAhead);
    const std::string log = (dir_ / "delay.log").string();
    sink_ = Run(VELMOR_SINK,
                {"--source", "Korvo Velmor 1", "--find-timeout", "30", "--seconds", "80",
                 "--delay-log", log},
                kAhead);
    ASSERT_TRUE(WaitFor([&] { return DelayLog::Read(log).video.size() > 180; }, 40s))
        << "no steady output" << Log();

    const int64_t from = test::WallNow100ns();
    std::this_thread::sleep_for(3s);
    const int64_t start = test::WallNow100ns();
    ASSERT_EQ(kill(xvfb_->pid(), SIGSTOP), 0);
    std::this_thread::sleep_for(4s);
    const int64_t end = test::WallNow100ns();
    ASSERT_EQ(kill(xvfb_->pid(), SIGCONT), 0);
    std::this_thread::sleep_for(4s);
    const int64_t to = test::WallNow100ns();

    const test::DisturbanceReport r = test::Judge(DelayLog::Read(log), from, start, end, to);
    SCOPED_TRACE(r.Text());
    std::printf("display stall: %s\n", r.Text().c_str());
    // A busy machine shows as gaps before the disturbance too: then nothing can be judged.
    const auto before = DelayLog::Between(DelayLog::Read(log).video, from, start);
    if (DelayLog::LargestGapMs(before) > 100)
        GTEST_SKIP() << "the machine cannot carry 1080p60 now (gaps before the stall): "
                     << r.Text();
    EXPECT_LT(r.largestGapMs, 100);
    EXPECT_LT(r.VideoLostShare(), 0.01);
    EXPECT_LT(r.audioLostShare, 0.01);
    EXPECT_LT(std::abs(r.videoDelayAfterMs - r.videoDelayBeforeMs), 50);
    EXPECT_LT(std::abs(r.audioDelayAfterMs - r.audioDelayBeforeMs), 50);
    EXPECT_LT(r.worstAvSkewMs, 1000.0 / 60);
    EXPECT_EQ(velmor_->Wait(0ms), -1) << "velmor is still running" << Log();
}

}  // namespace
}  // namespace velmor
