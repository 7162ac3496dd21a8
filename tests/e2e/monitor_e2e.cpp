// The local monitor playing on a real PulseAudio server (the test's own, with a null sink) while
// velmor relays 1080p60 with stereo audio: the output's audio leaves in step with its video, and a
// sound server that stalls costs the monitor only. Its own executable, run alone (RUN_SERIAL): the
// chain needs most of the machine's two processors.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "relay_fixture.h"
#include "support/delay_log.h"
#include "support/pulse_server.h"
#include "tools/tools_fixture.h"

namespace velmor {
namespace {

using test::DelayEntry;
using test::DelayLog;

constexpr double kFrameMs = 1000.0 / 60;
constexpr int kAhead = -10;  // the chain runs ahead of the machine's other work

// Now on the sink's clock: 100 ns units of the wall clock.
int64_t Now100ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() /
           100;
}
constexpr int64_t Seconds(double s) {
    return static_cast<int64_t>(s * 1e7);
}

// How the output behaved in one span of time.
struct Span {
    double video = 0, audio = 0;  // median delays behind the source, ms
    double videoGap = 0, audioGap = 0;
    long long videoLost = 0;
    size_t videoFrames = 0;
    double audioLost = 0;
};

Span Measure(const DelayLog& log, int64_t from, int64_t to) {
    const auto v = DelayLog::Between(log.video, from, to);
    const auto a = DelayLog::Between(log.audio, from, to);
    Span s;
    s.video = DelayLog::DelayQuantile(v, 0.5);
    s.audio = DelayLog::DelayQuantile(a, 0.5);
    s.videoGap = DelayLog::LargestGapMs(v);
    s.audioGap = DelayLog::LargestGapMs(a);
    s.videoLost = DelayLog::VideoFramesLost(v);
    s.videoFrames = v.size();
    s.audioLost = DelayLog::AudioLostShare(a, 48000);
    return s;
}

std::string Describe(const char* name, const Span& s) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "%s: delay video %.1f ms, audio %.1f ms (audio - video %+.1f ms); largest gap "
                  "video %.1f ms, audio %.1f ms; video frames %zu, lost %lld; audio lost %.2f %%",
                  name, s.video, s.audio, s.audio - s.video, s.videoGap, s.audioGap, s.videoFrames,
                  s.videoLost, 100.0 * s.audioLost);
    return text;
}

// Watches how late a thread of the same priority as the chain wakes: other sessions share this
// machine's two processors and can take them for longer than any frame at any moment, whatever
// the relay does, and then nothing the output shows can be judged.
class Canary {
public:
    Canary() {
        thread_ = std::thread([this] {
            [[maybe_unused]] const int ignored = setpriority(PRIO_PROCESS, 0, kAhead);
            while (!stop_) {
                const auto asked = std::chrono::steady_clock::now() + 2ms;
                std::this_thread::sleep_until(asked);
                const double late = std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - asked)
                                        .count();
                if (late > worst_) worst_ = late;
            }
        });
    }
    ~Canary() {
        stop_ = true;
        thread_.join();
    }
    // The longest the thread waited beyond its wake-up since the last call, in ms.
    double TakeWorst() { return worst_.exchange(0.0); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<double> worst_{0.0};
    std::thread thread_;
};
constexpr double kBusyMs = 40;

// Samples louder than half the tone's peak on the monitor: 0.25 at Full with the SMPTE reference
// (the start-up choice of an output without a stored configuration) plays at 0.25 x 3284 = 821.
size_t Loud(const std::vector<int16_t>& samples) {
    size_t n = 0;
    for (int16_t s : samples)
        n += std::abs(s) > 400;
    return n;
}

// velmor-testsrc 1080p60 with its stereo tones -> velmor --headless, its monitor on the test's
// PulseAudio server at Full -> velmor-sink --delay-log.
class MonitorRelay : public Relay {
protected:
    void SetUp() override {
        Relay::SetUp();
        if (test::kSanitized) GTEST_SKIP() << "a sanitized relay cannot keep 1080p60";
        pulse_ = std::make_unique<test::PulseServer>(dir_ / "pulse");
        ASSERT_TRUE(pulse_->ok()) << "pulseaudio did not start:\n" << pulse_->Output();
        env_.push_back("PULSE_SERVER=" + pulse_->address());
        recorder_ = pulse_->Record((dir_ / "heard.raw").string());
        src_ = Run(VELMOR_TESTSRC,
                   {"--name", "Mon", "--size", "1920x1080", "--rate", "60/1", "--seconds", "90"},
                   kAhead);
        relay_ =
            Run(VELMOR_BIN, {"--headless", "--show-local", "--source", Host() + " (Mon)"}, kAhead);
        ASSERT_TRUE(WaitForOutput(*relay_, "signal lamp: magenta")) << relay_->Output();
        sink_ = Run(VELMOR_SINK,
                    {"--source", "Korvo Velmor 1", "--seconds", "80", "--delay-log",
                     (dir_ / "delay.log").string()},
                    kAhead);
        ASSERT_TRUE(WaitForOutput(*sink_, "stats: ")) << sink_->Output();
    }
    void TearDown() override {
        for (auto* p : {&sink_, &relay_, &src_, &recorder_})
            p->reset();
        pulse_.reset();
        Relay::TearDown();
    }
    DelayLog Log() const { return DelayLog::Read((dir_ / "delay.log").string()); }
    // The recording of what the monitor played, in stereo samples, from `from` on.
    std::vector<int16_t> Heard(size_t from = 0) const {
        return test::RawSamples((dir_ / "heard.raw").string(), from);
    }
    size_t HeardSoFar() const { return Heard().size(); }
    std::string Outputs() const {
        return "\n--- velmor:\n" + relay_->Output() + "\n--- pulseaudio:\n" + pulse_->Output();
    }

    std::unique_ptr<test::PulseServer> pulse_;
    std::unique_ptr<test::Process> recorder_, src_, relay_, sink_;
};

TEST_F(MonitorRelay, AudioAndVideoLeaveInStepWhileTheMonitorPlays) {
    std::this_thread::sleep_for(2s);  // the relay and the monitor settle
    Canary canary;
    constexpr int kAttempts = 3;
    bool judged = false;
    for (int attempt = 1; attempt <= kAttempts && !judged; ++attempt) {
        const size_t heardBefore = HeardSoFar();
        canary.TakeWorst();
        const int64_t from = Now100ns();
        std::this_thread::sleep_for(5s);
        const int64_t to = Now100ns();
        const double busy = canary.TakeWorst();
        const Span s = Measure(Log(), from, to);
        std::printf("attempt %d (the machine held a thread for up to %.0f ms)\n  %s\n", attempt,
                    busy, Describe("monitor playing", s).c_str());
        // Video that could not keep up (frames late in the receiver's queue) says the same.
        if (busy > kBusyMs || s.videoFrames < 200 || s.video > 50) continue;
        judged = true;

        EXPECT_LT(std::abs(s.audio - s.video), kFrameMs) << Describe("output", s) << Outputs();
        EXPECT_LT(s.audio, 50.0) << Describe("output", s);
        // ... and the monitor was heard meanwhile.
        EXPECT_GT(Loud(Heard(heardBefore)), 48000u) << "the tone did not reach the sound server";
    }
    if (!judged) GTEST_SKIP() << "the machine was too busy to judge 1080p60 in every attempt";
}

TEST_F(MonitorRelay, AStalledSoundServerCostsTheMonitorOnly) {
    // Each attempt watches the output undisturbed for 3 s, stops the server for 4 s and watches
    // 4 s more. An attempt during which the machine held the canary too long, or whose
    // undisturbed output was not clean, judges nothing.
    Canary canary;
    constexpr int kAttempts = 3;
    bool judged = false;
    for (int attempt = 1; attempt <= kAttempts && !judged; ++attempt) {
        canary.TakeWorst();
        std::this_thread::sleep_for(3s);
        const int64_t stop = Now100ns();
        pulse_->Stop();
        std::this_thread::sleep_for(4s);
        pulse_->Continue();
        const int64_t resumed = Now100ns();
        const size_t heardAtResume = HeardSoFar();
        std::this_thread::sleep_for(4s);
        const int64_t end = Now100ns();

        const DelayLog log = Log();
        const Span before = Measure(log, stop - Seconds(3), stop);
        const Span after = Measure(log, resumed + Seconds(1), end);
        const Span whole = Measure(log, stop - Seconds(3), end);
        const double busy = canary.TakeWorst();
        std::printf("attempt %d (the machine held a thread for up to %.0f ms)\n  %s\n  %s\n  %s\n",
                    attempt, busy, Describe("before the stall", before).c_str(),
                    Describe("from 1 s after it", after).c_str(),
                    Describe("the whole run", whole).c_str());
        if (busy > kBusyMs || before.videoGap > 100 || before.videoLost > 2 || before.video > 50)
            continue;
        judged = true;

        EXPECT_LT(whole.videoGap, 100.0) << Describe("whole", whole) << Outputs();
        EXPECT_LT(static_cast<double>(whole.videoLost),
                  0.01 * static_cast<double>(whole.videoFrames))
            << Describe("whole", whole);
        EXPECT_LT(whole.audioLost, 0.01) << Describe("whole", whole);
        EXPECT_LT(std::abs(after.video - before.video), 50.0) << Describe("after", after);
        EXPECT_LT(std::abs(after.audio - before.audio), 50.0) << Describe("after", after);
        EXPECT_LT(std::abs(before.audio - before.video), kFrameMs) << Describe("before", before);
        EXPECT_LT(std::abs(after.audio - after.video), kFrameMs) << Describe("after", after);

        // The monitor plays again: the last second recorded (from 3 s after the server went on)
        // carries the tone.
        const std::vector<int16_t> heard = Heard(heardAtResume);
        ASSERT_GT(heard.size(), 2u * 48000) << "the recorder heard nothing after the stall";
        const std::vector<int16_t> tail(heard.end() - 2 * 48000, heard.end());
        EXPECT_GT(Loud(tail), 48000u)
            << "the monitor did not play again after the stall" << Outputs();
    }
    if (!judged) GTEST_SKIP() << "the machine was too busy to judge 1080p60 in every attempt";
}

}  // namespace
}  // namespace velmor
