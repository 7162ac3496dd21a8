// A PulseAudio server of the test's own: one null sink ("velmor_null", 48 kHz) on a private
// socket, no D-Bus, no autospawn, nothing shared with a desktop session on this machine. Tests
// stop it (SIGSTOP) and let it go on (SIGCONT) to play a stalled sound server, and record what was
// played from the sink's monitor.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/process.h"

namespace velmor::test {

class PulseServer {
public:
    // `dir`: a folder of the test's own; the server's runtime folder, home and socket go there.
    explicit PulseServer(const std::filesystem::path& dir) : dir_(dir) {
        std::error_code ec;
        std::filesystem::create_directories(dir_ / "rt", ec);
        std::filesystem::permissions(dir_ / "rt", std::filesystem::perms::owner_all, ec);
        socket_ = (dir_ / "native").string();
        std::filesystem::remove(socket_, ec);  // left by a server of this folder that was killed
        const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + (dir_ / "rt").string(),
                                              "HOME=" + dir_.string(), "DBUS_SESSION_BUS_ADDRESS="};
        server_ = std::make_unique<Process>(
            "/usr/bin/pulseaudio",
            std::vector<std::string>{
                "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                "--disable-shm=yes", "--log-target=stderr", "-L",
                "module-null-sink sink_name=velmor_null rate=48000", "-L",
                "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1"},
            env);
        for (int i = 0; i < 500 && !std::filesystem::exists(socket_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!ok()) return;
        // A null sink runs ahead of the clock by its latency, which is 2 s until a stream asks for
        // less: a stream that connects then waits up to 2 s before its first sample is taken. A
        // speaker's sink does not, so the sink is kept at 10 ms by a silent stream, and the
        // server is ready once it has caught up.
        keepAlive_ = std::make_unique<Process>(
            "/usr/bin/pacat",
            std::vector<std::string>{"--latency-msec=10", "--raw", "--format=s16le", "--rate=48000",
                                     "--channels=2", "/dev/zero"},
            std::vector<std::string>{"PULSE_SERVER=" + address()});
        for (int i = 0; i < 50 && SinkLatencyUs() > 100000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~PulseServer() {
        keepAlive_.reset();
        Continue();  // a stopped server would not see SIGTERM until continued
        server_->Kill(SIGTERM);
        if (server_->Wait(std::chrono::seconds(3)) < 0) server_->Kill(SIGKILL);
    }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool ok() const { return std::filesystem::exists(socket_); }
    // For PULSE_SERVER.
    std::string address() const { return "unix:" + socket_; }
    std::string Output() const { return server_ ? server_->Output() : std::string(); }
    void Stop() { server_->Kill(SIGSTOP); }
    // Dies at once, as a crashed server does.
    void Kill() { server_->Kill(SIGKILL); }
    void Continue() { server_->Kill(SIGCONT); }

    // Records the null sink's monitor (what was played) as raw 16-bit stereo at 48 kHz into
    // `file`, until the returned process is killed.
    std::unique_ptr<Process> Record(const std::string& file) const {
        return std::make_unique<Process>(
            "/usr/bin/parec",
            std::vector<std::string>{"-d", "velmor_null.monitor", "--latency-msec=20", "--raw",
                                     "--format=s16le", "--rate=48000", "--channels=2", file},
            std::vector<std::string>{"PULSE_SERVER=" + address()});
    }

    // The null sink's latency as the server reports it (how far it runs ahead), in microseconds.
    long long SinkLatencyUs() const {
        Process pactl("/usr/bin/pactl", {"list", "sinks"}, {"PULSE_SERVER=" + address()});
        if (pactl.Wait(std::chrono::seconds(5)) != 0) return -1;
        const std::string out = pactl.Output();
        const size_t at = out.find("Latency: ");
        return at == std::string::npos ? -1 : std::atoll(out.c_str() + at + 9);
    }

    // The latency of the first playback stream as the server reports it (what it holds of the
    // stream plus how far the sink runs ahead), in microseconds; -1 without a stream.
    long long StreamLatencyUs() const {
        Process pactl("/usr/bin/pactl", {"list", "sink-inputs"}, {"PULSE_SERVER=" + address()});
        if (pactl.Wait(std::chrono::seconds(5)) != 0) return -1;
        const std::string out = pactl.Output();
        const size_t buffer = out.find("Buffer Latency: "), sink = out.find("Sink Latency: ");
        if (buffer == std::string::npos || sink == std::string::npos) return -1;
        return std::atoll(out.c_str() + buffer + 16) + std::atoll(out.c_str() + sink + 14);
    }

private:
    std::filesystem::path dir_;
    std::string socket_;
    std::unique_ptr<Process> server_, keepAlive_;
};

// Samples of a raw 16-bit little-endian recording, from sample `from` on.
inline std::vector<int16_t> RawSamples(const std::string& file, size_t from = 0) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    std::vector<int16_t> samples;
    for (size_t i = 2 * from; i + 1 < bytes.size(); i += 2)
        samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                               (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return samples;
}

}  // namespace velmor::test
