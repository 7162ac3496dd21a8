// The monitor's sound devices: the WAV recorder, a real PulseAudio server started by the test with
// a null sink, and start-up without any sound server.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/monitor_queue.h"
#include "platform/monitor_outputs.h"
#include "platform_test_support.h"

namespace velmor {
namespace {

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

uint32_t Read32(const QByteArray& b, int at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(b[at + i]);
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

TEST(WavMonitor, RecordsExactlyTheFullBuffersThatWereQueued) {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/heard.wav").toStdString();
    ScopedEnv wav(kMonitorWavVariable, path);

    MonitorQueue queue;
    MonitorDevice device;
    ASSERT_TRUE(device.Open(queue));
    std::vector<int16_t> scratch;
    std::vector<uint8_t> expected;
    for (int block = 0; block < 3; ++block) {  // 3 x 6400 bytes: 4 full buffers and 2816 left over
        auto planes = StereoRamp(1600, 0.01f * static_cast<float>(block + 1));
        MonitorTap({}, {planes.data(), 2, 1600, 1600}, nullptr, &queue, scratch);
        const auto* bytes = reinterpret_cast<const uint8_t*>(scratch.data());
        expected.insert(expected.end(), bytes, bytes + 6400);
    }
    device.Close();
    expected.resize(4 * kMonitorBufferBytes);  // a partly filled buffer is discarded at exit

    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray b = file.readAll();
    ASSERT_EQ(b.size(), 44 + 4 * kMonitorBufferBytes);
    EXPECT_EQ(b.left(4), "RIFF");
    EXPECT_EQ(Read32(b, 4), 36u + 4 * kMonitorBufferBytes);
    EXPECT_EQ(b.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(Read32(b, 20), 1u | (2u << 16));  // PCM, 2 channels
    EXPECT_EQ(Read32(b, 24), 48000u);
    EXPECT_EQ(Read32(b, 28), 192000u);
    EXPECT_EQ(Read32(b, 32), 4u | (16u << 16));  // block alignment 4, 16 bits
    EXPECT_EQ(b.mid(36, 4), "data");
    EXPECT_EQ(Read32(b, 40), 4u * kMonitorBufferBytes);
    EXPECT_EQ(std::memcmp(b.constData() + 44, expected.data(), expected.size()), 0);
}

TEST(WavMonitor, UnwritableFileMeansNoMonitor) {
    ScopedEnv wav(kMonitorWavVariable, "/nonexistent-folder/heard.wav");
    MonitorQueue queue;
    MonitorDevice device;
    EXPECT_FALSE(device.Open(queue));
    EXPECT_FALSE(queue.IsOpen());
}

TEST(PulseMonitor, WithoutASoundServerOpeningFailsQuicklyAndTheMeterStillRuns) {
    ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/velmor-pulse");
    ::unsetenv(kMonitorWavVariable);
    MonitorQueue queue;
    MonitorDevice device;
    const auto start = Clock::now();
    EXPECT_FALSE(device.Open(queue));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_FALSE(queue.IsOpen());

    int metered = 0;
    std::vector<float> planes(2 * 480, 0.5f);
    std::vector<int16_t> scratch;
    MonitorTap(
        {}, {planes.data(), 2, 480, 480},
        [&](float*, float*, int, float) { return ++metered, kMeterScaleEbu; }, &queue, scratch);
    EXPECT_EQ(metered, 1);
}

// A PulseAudio server of the test's own: a null sink on a private socket.
class PulseServer {
public:
    PulseServer() {
        const QString runtime = dir_.path() + "/rt";
        QDir().mkpath(runtime);
        socket_ = dir_.path() + "/native";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("HOME", dir_.path());
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        server_.setProcessEnvironment(env);
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.start("pulseaudio",
                      {"--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                       "--disable-shm=yes", "--log-target=stderr", "-L",
                       "module-null-sink sink_name=velmor_null rate=48000", "-L",
                       "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1"});
        if (!server_.waitForStarted(3000)) return;
        for (int i = 0; i < 300 && !QFileInfo::exists(socket_); ++i)
            QThread::msleep(10);
    }
    ~PulseServer() {
        server_.terminate();
        if (!server_.waitForFinished(3000)) server_.kill();
        server_.waitForFinished(1000);
    }
    bool ok() const { return QFileInfo::exists(socket_); }
    std::string address() const { return "unix:" + socket_.toStdString(); }

private:
    QTemporaryDir dir_;
    QProcess server_;
    QString socket_;
};

TEST(PulseMonitor, PlaysThroughARealServerAtTheDeviceRateAndDrainsAtExit) {
    testing::EnsureQtApp();
    PulseServer pulse;
    if (!pulse.ok()) GTEST_SKIP() << "pulseaudio could not be started";
    ScopedEnv server("PULSE_SERVER", pulse.address());
    ::unsetenv(kMonitorWavVariable);

    // Listen to the null sink's monitor to hear what was played.
    QProcess recorder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    recorder.setProcessEnvironment(env);
    recorder.start("parec", {"-d", "velmor_null.monitor", "--raw", "--format=s16le", "--rate=48000",
                             "--channels=2"});
    const bool recording = recorder.waitForStarted(3000);

    MonitorQueue queue;
    MonitorDevice device;
    ASSERT_TRUE(device.Open(queue));
    ASSERT_TRUE(queue.IsOpen());

    // 48 buffers, about one second of a 1 kHz tone at Full.
    std::vector<float> tone(2 * 1024);
    std::vector<int16_t> scratch;
    const auto start = Clock::now();
    for (int block = 0; block < 48; ++block) {
        for (int j = 0; j < 1024; ++j)
            tone[static_cast<size_t>(j)] = tone[static_cast<size_t>(1024 + j)] = std::sin(
                2.0f * 3.14159265f * 1000.0f * static_cast<float>(block * 1024 + j) / 48000.0f);
        MonitorTap({}, {tone.data(), 2, 1024, 1024}, nullptr, &queue, scratch);
    }
    const auto queued = Clock::now() - start;
    // Only 16 buffers plus the server's short buffer fit ahead of the speaker: the rest must have
    // waited for the device (about 1024 ms - 341 ms - 85 ms).
    EXPECT_GT(queued, std::chrono::milliseconds(450));
    EXPECT_EQ(queue.DroppedBytes(), 0u);

    device.Close(std::chrono::milliseconds(3000));
    EXPECT_EQ(queue.FreeBuffers(), kMonitorBuffers);
    EXPECT_FALSE(queue.IsOpen());

    if (recording) {
        recorder.waitForReadyRead(500);
        QThread::msleep(100);
        const QByteArray heard = recorder.readAllStandardOutput();
        recorder.kill();
        recorder.waitForFinished(1000);
        int loud = 0;
        for (int i = 0; i + 1 < heard.size(); i += 2) {
            const int16_t s = static_cast<int16_t>(static_cast<uint8_t>(heard[i]) |
                                                   (static_cast<uint8_t>(heard[i + 1]) << 8));
            loud += std::abs(s) > 3000;  // the tone peaks at 6553
        }
        EXPECT_GT(loud, 1000) << "the tone did not reach the sink";
    }
}

}  // namespace
}  // namespace velmor
