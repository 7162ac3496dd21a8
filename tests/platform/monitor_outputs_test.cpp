// The monitor's sound devices: the WAV recorder, a real PulseAudio server started by the test with
// a null sink (playing, stalled, gone and back), and start-up without any sound server. The audio
// thread's side (MonitorTap into the ring) must never wait for any of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/monitor_queue.h"
#include "platform/monitor_outputs.h"
#include "support/pulse_server.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old, had_ = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_, saved_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

// The device's reports, as they arrive on its thread.
class Events {
public:
    MonitorListener Listener() {
        return [this](MonitorEvent e) {
            std::lock_guard<std::mutex> guard(mutex_);
            seen_.push_back(e);
        };
    }
    std::vector<MonitorEvent> Seen() {
        std::lock_guard<std::mutex> guard(mutex_);
        return seen_;
    }
    // Waits until `count` reports have come; true when they did.
    bool WaitFor(size_t count, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Seen().size() < count)
            if (Clock::now() > end)
                return false;
            else
                std::this_thread::sleep_for(10ms);
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<MonitorEvent> seen_;
};

uint32_t Read32(const std::vector<unsigned char>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}

std::vector<float> StereoRamp(int samples, float step) {
    std::vector<float> planes(static_cast<size_t>(samples) * 2);
    for (int j = 0; j < samples; ++j) {
        planes[static_cast<size_t>(j)] = step * static_cast<float>(j % 100);
        planes[static_cast<size_t>(samples + j)] = -step * static_cast<float>(j % 37);
    }
    return planes;
}

TEST(WavMonitor, RecordsEverythingTappedInOrder) {
    testing::TempDir dir;
    const std::string path = dir.File("heard.wav");
    ScopedEnv wav(kMonitorWavVariable, path);

    MonitorQueue queue;
    MonitorDevice device;
    Events events;
    device.Open(queue, events.Listener());
    ASSERT_EQ(events.Seen(), std::vector<MonitorEvent>{MonitorEvent::Playing});
    ASSERT_TRUE(queue.IsOpen());
    std::vector<int16_t> scratch;
    std::vector<uint8_t> expected;
    for (int block = 0; block < 3; ++block) {
        auto planes = StereoRamp(1600, 0.01f * static_cast<float>(block + 1));
        MonitorTap({}, {planes.data(), 2, 1600, 1600}, nullptr, &queue, scratch);
        const auto* bytes = reinterpret_cast<const uint8_t*>(scratch.data());
        expected.insert(expected.end(), bytes, bytes + 6400);
    }
    device.Close();
    EXPECT_FALSE(queue.IsOpen());

    const auto b = testing::ReadBytes(path);
    ASSERT_EQ(b.size(), 44 + expected.size());
    EXPECT_EQ(std::memcmp(b.data(), "RIFF", 4), 0);
    EXPECT_EQ(Read32(b, 4), 36 + expected.size());
    EXPECT_EQ(std::memcmp(b.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(Read32(b, 20), 1u | (2u << 16));  // PCM, 2 channels
    EXPECT_EQ(Read32(b, 24), 48000u);
    EXPECT_EQ(Read32(b, 28), 192000u);
    EXPECT_EQ(Read32(b, 32), 4u | (16u << 16));  // block alignment 4, 16 bits
    EXPECT_EQ(std::memcmp(b.data() + 36, "data", 4), 0);
    EXPECT_EQ(Read32(b, 40), expected.size());
    EXPECT_EQ(std::memcmp(b.data() + 44, expected.data(), expected.size()), 0);
}

TEST(WavMonitor, UnwritableFileMeansNoMonitor) {
    ScopedEnv wav(kMonitorWavVariable, "/nonexistent-folder/heard.wav");
    MonitorQueue queue;
    MonitorDevice device;
    Events events;
    device.Open(queue, events.Listener());
    EXPECT_EQ(events.Seen(), std::vector<MonitorEvent>{MonitorEvent::Unavailable});
    EXPECT_FALSE(queue.IsOpen());
}

TEST(PulseMonitor, WithoutASoundServerOpeningReturnsAtOnceAndReportsUnavailable) {
    testing::TempDir dir;
    ScopedEnv server("PULSE_SERVER", "unix:" + dir.File("nobody-listens"));
    ::unsetenv(kMonitorWavVariable);
    MonitorQueue queue;
    MonitorDevice device;
    Events events;
    const auto start = Clock::now();
    device.Open(queue, events.Listener());
    EXPECT_LT(Clock::now() - start, 200ms) << "the window thread waited for the sound server";
    ASSERT_TRUE(events.WaitFor(1, 4s));
    EXPECT_EQ(events.Seen(), std::vector<MonitorEvent>{MonitorEvent::Unavailable});
    EXPECT_FALSE(queue.IsOpen());
    EXPECT_FALSE(device.IsPlaying());
    // It goes on trying, quietly: no second report while there is still no server.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(events.Seen().size(), 1u);
    const auto closing = Clock::now();
    device.Close();
    EXPECT_LT(Clock::now() - closing, 500ms);
}

// Longer than any tap takes unless it waited for the device, shorter than any device's stall (a
// busy machine can hold a thread for some milliseconds whatever it does).
constexpr auto kNoWait = 100ms;

// A 1 kHz tone at Full, `blocks` blocks of 1024 pairs handed to the tap at the pace a source
// sends them. Returns the longest time one tap took.
Clock::duration PlayTone(MonitorQueue& queue, int blocks, int first = 0) {
    std::vector<float> tone(2 * 1024);
    std::vector<int16_t> scratch;
    Clock::duration longest{};
    auto next = Clock::now();
    for (int block = first; block < first + blocks; ++block) {
        for (int j = 0; j < 1024; ++j)
            tone[static_cast<size_t>(j)] = tone[static_cast<size_t>(1024 + j)] = std::sin(
                2.0f * 3.14159265f * 1000.0f * static_cast<float>(block * 1024 + j) / 48000.0f);
        const auto start = Clock::now();
        MonitorTap({}, {tone.data(), 2, 1024, 1024}, nullptr, &queue, scratch);
        longest = std::max(longest, Clock::now() - start);
        next += std::chrono::microseconds(1024 * 1000000 / 48000);
        std::this_thread::sleep_until(next);
    }
    return longest;
}

// Stereo samples of the tone (it peaks at 6553 at Full) in a recording.
size_t Loud(const std::vector<int16_t>& samples) {
    size_t n = 0;
    for (int16_t s : samples)
        n += std::abs(s) > 3000;
    return n;
}

class PulseMonitorServer : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv(kMonitorWavVariable);
        pulse_ = std::make_unique<test::PulseServer>(dir_.path() / "pulse");
        if (!pulse_->ok()) GTEST_SKIP() << "pulseaudio could not be started";
        server_ = std::make_unique<ScopedEnv>("PULSE_SERVER", pulse_->address());
        recorder_ = pulse_->Record(dir_.File("heard.raw"));
    }
    void TearDown() override {
        recorder_.reset();
        pulse_.reset();
        server_.reset();
    }
    std::vector<int16_t> Heard(size_t from = 0) const {
        return test::RawSamples(dir_.File("heard.raw"), from);
    }

    testing::TempDir dir_;
    std::unique_ptr<test::PulseServer> pulse_;
    std::unique_ptr<ScopedEnv> server_;
    std::unique_ptr<test::Process> recorder_;
};

TEST_F(PulseMonitorServer, PlaysTheToneAtTheMonitorsLatencyAndDrainsAtExit) {
    MonitorQueue queue;
    MonitorDevice device;
    Events events;
    device.Open(queue, events.Listener());
    ASSERT_TRUE(events.WaitFor(1, 4s));
    ASSERT_EQ(events.Seen(), std::vector<MonitorEvent>{MonitorEvent::Playing});
    ASSERT_TRUE(queue.IsOpen());

    // One second at the source's pace: nothing waits, nothing is dropped, and what waits in the
    // ring is mostly within one block plus the slack (the rest is in the server's short buffer).
    std::vector<size_t> queued;
    long long serverLatencyUs = -1;
    std::thread watch([&] {
        for (int i = 0; i < 80; ++i) {
            queued.push_back(queue.Queued());
            std::this_thread::sleep_for(10ms);
            if (i == 30) serverLatencyUs = pulse_->StreamLatencyUs();
        }
    });
    const auto longest = PlayTone(queue, 47);
    watch.join();
    std::printf("\n");
    EXPECT_LT(longest, kNoWait) << "a tap waited";
    EXPECT_EQ(queue.DroppedBytes(), 0u);
    std::sort(queued.begin(), queued.end());
    EXPECT_LE(queued[queued.size() / 2], 4096 + kMonitorSlackBytes);
    // The server holds about 40 ms of it (the stream's buffer and the sink's), as asked.
    std::printf("monitor latency: %.1f ms in the ring (median), %.1f ms at the server\n",
                static_cast<double>(queued[queued.size() / 2]) / kMonitorBytesPerMs,
                static_cast<double>(serverLatencyUs) / 1e3);
    EXPECT_GT(serverLatencyUs, 0);
    EXPECT_LT(serverLatencyUs, 80000);

    const auto closing = Clock::now();
    device.Close(3000ms);
    EXPECT_LT(Clock::now() - closing, 1s) << "draining 40 ms took too long";
    EXPECT_FALSE(queue.IsOpen());
    EXPECT_EQ(queue.TakenBytes(), 47u * 4096u) << "every block reached the server";

    std::this_thread::sleep_for(200ms);
    EXPECT_GT(Loud(Heard()), 30000u) << "the tone did not reach the sink";
}

TEST_F(PulseMonitorServer, AStalledServerNeverHoldsTheTapAndPlaysAgainAtItsLatency) {
    MonitorQueue queue;
    MonitorDevice device;
    Events events;
    device.Open(queue, events.Listener());
    ASSERT_TRUE(events.WaitFor(1, 4s));
    ASSERT_TRUE(queue.IsOpen());
    PlayTone(queue, 20);

    pulse_->Stop();
    const auto longest = PlayTone(queue, 60, 20);  // 1.3 s of a stopped server
    const uint64_t takenWhileStopped = queue.TakenBytes();
    EXPECT_LT(longest, kNoWait) << "a tap waited for the stopped server";
    // What the server could not take is let go, counted, and the ring keeps only the newest.
    EXPECT_GE(queue.DroppedBytes() + queue.TrimmedBytes(), 40u * 4096u);
    EXPECT_LE(queue.Queued(), 2 * 4096 + kMonitorSlackBytes);

    pulse_->Continue();
    const size_t heardAtResume = Heard().size();
    PlayTone(queue, 60, 80);
    EXPECT_GT(queue.TakenBytes(), takenWhileStopped + 40u * 4096u) << "the stream got data again";
    EXPECT_LE(queue.Queued(), 4096 + kMonitorSlackBytes) << "back at the usual latency";
    EXPECT_EQ(events.Seen(), std::vector<MonitorEvent>{MonitorEvent::Playing});
    std::this_thread::sleep_for(200ms);
    // Of the 1.3 s played since, at least half a second of tone was heard (the sink first makes
    // up the time it was stopped, with silence).
    EXPECT_GT(Loud(Heard(heardAtResume)), 48000u) << "the tone is not heard again";
    device.Close(1000ms);
}

TEST_F(PulseMonitorServer, ExitDoesNotHangOnAStoppedServer) {
    MonitorQueue queue;
    MonitorDevice device;
    Events events;
    device.Open(queue, events.Listener());
    ASSERT_TRUE(events.WaitFor(1, 4s));
    PlayTone(queue, 10);
    pulse_->Stop();
    PlayTone(queue, 10, 10);
    const auto closing = Clock::now();
    device.Close(300ms);
    EXPECT_LT(Clock::now() - closing, 1s);
    pulse_->Continue();
}

TEST_F(PulseMonitorServer, AServerThatDiesAndComesBackIsPlayedAgain) {
    MonitorQueue queue;
    MonitorDevice device(200ms);  // tries again every 200 ms
    Events events;
    device.Open(queue, events.Listener());
    ASSERT_TRUE(events.WaitFor(1, 4s));
    PlayTone(queue, 5);

    pulse_->Kill();
    ASSERT_TRUE(events.WaitFor(2, 4s));
    EXPECT_FALSE(queue.IsOpen()) << "a lost server takes no audio";
    const auto longest = PlayTone(queue, 10, 5);
    EXPECT_LT(longest, kNoWait);

    pulse_ = std::make_unique<test::PulseServer>(dir_.path() / "pulse");  // the same socket
    ASSERT_TRUE(pulse_->ok());
    ASSERT_TRUE(events.WaitFor(3, 5s)) << "the new server was not found";
    EXPECT_EQ(events.Seen(), (std::vector<MonitorEvent>{MonitorEvent::Playing, MonitorEvent::Lost,
                                                        MonitorEvent::Playing}));
    EXPECT_TRUE(queue.IsOpen());
    const uint64_t taken = queue.TakenBytes();
    PlayTone(queue, 10, 15);
    EXPECT_GT(queue.TakenBytes(), taken);
    device.Close(1000ms);
}

}  // namespace
}  // namespace velmor
