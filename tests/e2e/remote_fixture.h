// What the HTTP front end's end-to-end tests share: a relay started with --http on a free port,
// its page's address and token as it announces them, and the sink's delay log read while it runs.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>

#include "relay_fixture.h"
#include "support/delay_log.h"
#include "support/http_client.h"

namespace velmor {

struct HttpRelay {
    std::unique_ptr<test::Process> process;
    uint16_t port = 0;
    std::string token;
    std::string tokenFile;
};

// Starts `velmor --headless --http 127.0.0.1:0 ARGS` and waits for its "HTTP control page:" line,
// which names the port and the token file.
inline bool StartHttpRelay(
    Relay& fixture, const std::vector<std::string>& args, HttpRelay& out,
    const std::function<std::unique_ptr<test::Process>(const char*, std::vector<std::string>)>&
        run) {
    std::vector<std::string> all = {"--headless", "--http", "127.0.0.1:0"};
    all.insert(all.end(), args.begin(), args.end());
    out.process = run(VELMOR_BIN, all);
    if (!WaitForOutput(*out.process, "HTTP control page: ")) return false;
    static const std::regex line(
        R"(HTTP control page: http://127\.0\.0\.1:(\d+)/ \(token in (\S+)\))");
    std::smatch m;
    const std::string output = out.process->Output();
    if (!std::regex_search(output, m, line)) return false;
    out.port = static_cast<uint16_t>(std::stoi(m[1]));
    out.tokenFile = m[2];
    std::ifstream in(out.tokenFile);
    std::getline(in, out.token);
    (void)fixture;
    return !out.token.empty();
}

// Polls `done` every 50 ms until it holds or `limit` passes.
template <class F>
bool Eventually(F done, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

inline nlohmann::json Status(const HttpRelay& relay) {
    const auto r = test::Get(relay.port, "/api/v1/status", relay.token);
    return r.status == 200 ? nlohmann::json::parse(r.body) : nlohmann::json();
}

// Video frames the sink has logged so far.
inline size_t SinkFrames(const std::string& delayLog) {
    return test::DelayLog::Read(delayLog).video.size();
}

// The value of a Prometheus sample, e.g. `velmor_video_frames_sent_total{copy="1"}`; -1 when
// the text has no such line.
inline double Metric(const std::string& text, const std::string& sample) {
    const size_t at = text.find("\n" + sample + " ");
    if (at == std::string::npos) return -1;
    return std::stod(text.substr(at + sample.size() + 2));
}

}  // namespace velmor
