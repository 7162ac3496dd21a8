// The HTTP front end of the real program: velmor-testsrc -> `velmor --headless --http` ->
// velmor-sink, driven by HTTP requests and by velmor-ctl --url.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "remote_fixture.h"
#include "support/ndi_names.h"
#include "tools/velmor-testsrc/test_pattern.h"
#include "video/proc_amp.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Get;
using test::HttpRequest;
using test::Post;
using testsrc::TestPattern;
using velmor::testing::LocalSourceName;

// The first frame number whose test picture, through `tables`, equals `bytes` (UYVY); -1 when none
// within two minutes of frames does.
int MatchingFrame(const TestPattern& pattern, int w, int h, const std::vector<uint8_t>& bytes,
                  const ProcAmpByteTables& tables) {
    std::vector<uint8_t> picture;
    for (int n = 0; n < 3000; ++n) {
        pattern.Render(n, picture);
        ApplyProcAmp(FrameView{picture.data(), w, h, w * 2,
                               static_cast<uint32_t>(NDIlib_FourCC_video_type_UYVY)},
                     tables);
        if (picture == bytes) return n;
    }
    return -1;
}

class RemoteRelay : public Relay {
protected:
    bool Start(const std::vector<std::string>& args = {}) {
        return StartHttpRelay(
            *this, args, relay_,
            [this](const char* p, std::vector<std::string> a) { return Run(p, std::move(a)); });
    }
    // Waits until the picker lists `name`, then connects to it over the API.
    void Connect(const std::string& name) {
        ASSERT_TRUE(Eventually([&] {
            return Get(relay_.port, "/api/v1/sources", relay_.token).body.find(name) !=
                   std::string::npos;
        })) << relay_.process->Output();
        const auto r = Post(relay_.port, "/api/v1/connect", relay_.token,
                            nlohmann::json{{"source", name}}.dump());
        ASSERT_EQ(r.status, 202) << r.body;
        ASSERT_TRUE(Eventually([&] { return Status(relay_)["connected"] == true; }))
            << relay_.process->Output();
    }
    HttpRelay relay_;
};

TEST_F(RemoteRelay, WithoutTheTokenEveryApiPathIsRefusedAndNothingHappens) {
    auto src = Run(VELMOR_TESTSRC,
                   {"--name", "Locked", "--size", "160x90", "--rate", "25/1", "--seconds", "30"});
    ASSERT_TRUE(Start({"--show-local"})) << relay_.process->Output();
    const std::string name = LocalSourceName("Locked");
    ASSERT_TRUE(Eventually([&] {
        return Get(relay_.port, "/api/v1/sources", relay_.token).body.find(name) !=
               std::string::npos;
    }));
    const std::string connect = nlohmann::json{{"source", name}}.dump();
    struct Call {
        const char* method;
        const char* path;
        std::string body;
    };
    const Call calls[] = {
        {"GET", "/api/v1/status", ""},
        {"GET", "/api/v1/sources", ""},
        {"POST", "/api/v1/connect", connect},
        {"POST", "/api/v1/disconnect", ""},
        {"POST", "/api/v1/freeze", R"({"on":true})"},
        {"POST", "/api/v1/grab", ""},
        {"POST", "/api/v1/text", R"({"text":"X"})"},
        {"DELETE", "/api/v1/text", ""},
        {"GET", "/api/v1/settings", ""},
        {"PATCH", "/api/v1/settings", R"({"rotation":1})"},
        {"GET", "/api/v1/preview.jpg", ""},
        {"GET", "/api/v1/events", ""},
        {"GET", "/metrics", ""},
    };
    for (const std::string& token : {std::string(), std::string("wrong-token-123456789")}) {
        for (const Call& c : calls) {
            const auto r = HttpRequest("127.0.0.1", relay_.port, c.method, c.path, token, c.body);
            EXPECT_EQ(r.status, 401) << c.method << " " << c.path << " " << r.error;
        }
    }
    std::this_thread::sleep_for(1500ms);
    const nlohmann::json status = Status(relay_);
    EXPECT_EQ(status["connected"], false) << "the refused connect did nothing";
    EXPECT_EQ(status["textBox"], false);
    EXPECT_FALSE(relay_.process->OutputHas("remote text box"));
    EXPECT_EQ(nlohmann::json::parse(
                  Get(relay_.port, "/api/v1/settings", relay_.token).body)["values"]["rotation"],
              0);
    // The page itself loads without it.
    EXPECT_EQ(Get(relay_.port, "/").status, 200);
    // The token file is the user's alone.
    EXPECT_EQ(std::filesystem::status(relay_.tokenFile).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(relay_.tokenFile, (dir_ / "run" / "velmor" / "http-token-1").string());
}

TEST_F(RemoteRelay, TheCommandLineAndAGivenTokenFile) {
    auto wrong = Run(VELMOR_BIN, {"--headless", "--http", "localhost:80"});
    EXPECT_EQ(wrong->Wait(10s), 2);
    EXPECT_TRUE(wrong->OutputHas("velmor: --http: \"localhost\" is not a dotted IPv4 address"))
        << wrong->Output();
    auto missing = Run(
        VELMOR_BIN, {"--headless", "--http", "0", "--http-token-file", (dir_ / "none").string()});
    EXPECT_EQ(missing->Wait(10s), 2);
    EXPECT_TRUE(missing->OutputHas("cannot open the token file")) << missing->Output();

    // Every interface, with the operator's own token: the log says who can reach it, and no
    // token file is written.
    const std::string tokenFile = (dir_ / "my.token").string();
    std::ofstream(tokenFile) << "operators-own-token-42\n";
    std::filesystem::permissions(
        tokenFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    auto relay =
        Run(VELMOR_BIN, {"--headless", "--http", "0.0.0.0:0", "--http-token-file", tokenFile});
    ASSERT_TRUE(WaitForOutput(*relay, "HTTP control page: ")) << relay->Output();
    EXPECT_TRUE(
        relay->OutputHas("which other machines can reach: the token is the only "
                         "protection"))
        << relay->Output();
    std::smatch m;
    const std::string output = relay->Output();
    ASSERT_TRUE(std::regex_search(output, m, std::regex(R"(http://127\.0\.0\.1:(\d+)/\n)")));
    const auto port = static_cast<uint16_t>(std::stoi(m[1]));
    EXPECT_EQ(Get(port, "/api/v1/status", "operators-own-token-42").status, 200);
    EXPECT_EQ(Get(port, "/api/v1/status", "operators-own-token-4").status, 401);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "run" / "velmor" / "http-token-1"));
    EXPECT_EQ(output.find("operators-own-token-42"), std::string::npos)
        << "the token never goes to the log";
}

TEST_F(RemoteRelay, ASettingsChangeReachesTheOutputAndABadOneChangesNothing) {
    auto src = Run(VELMOR_TESTSRC, {"--name", "Settings Cam", "--size", "320x180", "--rate", "25/1",
                                    "--seconds", "60"});
    ASSERT_TRUE(Start({"--show-local"})) << relay_.process->Output();
    Connect(LocalSourceName("Settings Cam"));
    auto patch = [&](const std::string& body) {
        return HttpRequest("127.0.0.1", relay_.port, "PATCH", "/api/v1/settings", relay_.token,
                           body);
    };
    // The design's table for gain -50: slope 2224 about black, 16 stays, 100 becomes 198.
    ProcAmpSettings gainMinus50;
    gainMinus50.gain = -50;
    ProcAmpTables expected;
    FullRebuild(expected, gainMinus50);
    ASSERT_EQ(expected.lumaTable[16], 16);
    ASSERT_EQ(expected.lumaTable[100], 198);
    ASSERT_EQ(expected.lumaTable[255], 255);

    const auto changed = patch(R"({"procAmp.gain": -50, "procAmp.applyToOutput": 1})");
    ASSERT_EQ(changed.status, 200) << changed.body;
    EXPECT_EQ(nlohmann::json::parse(changed.body)["texts"]["procAmp.gain"], "217.2%");
    // A change with one bad field is refused whole, naming it.
    const auto refused = patch(R"({"procAmp.gain": 10, "rotation": 9})");
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(nlohmann::json::parse(refused.body)["field"], "rotation");
    const nlohmann::json now =
        nlohmann::json::parse(Get(relay_.port, "/api/v1/settings", relay_.token).body)["values"];
    EXPECT_EQ(now["procAmp.gain"], -50);
    EXPECT_EQ(now["rotation"], 0);

    // Every frame the sink receives is a frame of the source through those tables.
    auto sink = Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--frames", "10", "--seconds", "20",
                                  "--save-frames", "3", "--save-dir", (dir_ / "gain").string(),
                                  "--color-format", "100"});
    ASSERT_EQ(sink->Wait(30s), 0) << sink->Output() << relay_.process->Output();
    const TestPattern pattern(320, 180, false);
    const auto files = Saved("gain");
    ASSERT_EQ(files.size(), 3u);
    for (const auto& file : files)
        EXPECT_GE(MatchingFrame(pattern, 320, 180, ReadFile(file), expected), 0)
            << file << " is not a frame of the source through the gain -50 table";
}

TEST_F(RemoteRelay, ConnectFreezeGrabAndMetricsOverHttp) {
    const std::string config = SaveGrabConfig("remote.vlm");
    auto src = Run(VELMOR_TESTSRC, {"--name", "Remote Cam", "--size", "320x180", "--rate", "25/1",
                                    "--seconds", "90"});
    ASSERT_TRUE(Start({"--config", config})) << relay_.process->Output();
    Connect(LocalSourceName("Remote Cam"));
    const std::string log = (dir_ / "delay.log").string();
    // A stored configuration publishes in the product's group.
    auto sink = Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--groups", "Korvo Velmor",
                                  "--seconds", "80", "--delay-log", log});
    ASSERT_TRUE(Eventually([&] { return SinkFrames(log) > 25; })) << sink->Output();

    // The status names the source and the format.
    nlohmann::json status = Status(relay_);
    EXPECT_EQ(status["copy"], 1);
    EXPECT_EQ(status["source"], LocalSourceName("Remote Cam"));
    EXPECT_EQ(status["video"]["width"], 320);
    EXPECT_EQ(status["video"]["frameRateN"], 25);
    EXPECT_EQ(status["video"]["frameRateD"], 1);
    EXPECT_EQ(status["video"]["progressive"], true);
    EXPECT_EQ(status["video"]["fourCC"], "UYVY");
    EXPECT_EQ(status["audio"]["sampleRate"], 48000);
    EXPECT_EQ(status["lamps"]["signal"], "magenta");
    EXPECT_GT(status["counters"]["videoFramesSent"].get<uint64_t>(), 0u);

    // Metrics: Prometheus text whose frame counters grow with the relay.
    const auto m1 = Get(relay_.port, "/metrics", relay_.token);
    ASSERT_EQ(m1.status, 200);
    EXPECT_EQ(m1.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    static const std::regex lineForm(
        R"((# (HELP|TYPE) [a-z_]+ .+)|([a-z_]+\{[a-z]+="[^"]*"(,[a-z]+="[^"]*")*\} -?[0-9.e+-]+))");
    std::istringstream lines(m1.body);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(std::regex_match(line, lineForm)) << line;
    EXPECT_EQ(Metric(m1.body, R"(velmor_connected{copy="1"})"), 1);
    std::this_thread::sleep_for(1s);
    const auto m2 = Get(relay_.port, "/metrics", relay_.token);
    for (const char* counter : {R"(velmor_video_frames_received_total{copy="1"})",
                                R"(velmor_video_frames_sent_total{copy="1"})",
                                R"(velmor_audio_samples_sent_total{copy="1"})"}) {
        EXPECT_GT(Metric(m1.body, counter), 0) << counter;
        EXPECT_GT(Metric(m2.body, counter), Metric(m1.body, counter) + 10) << counter;
    }

    // Freeze: no new frames reach the sink; released, they move again.
    auto freeze = Post(relay_.port, "/api/v1/freeze", relay_.token, R"({"on":true})");
    ASSERT_EQ(freeze.status, 200) << freeze.body;
    ASSERT_TRUE(Eventually([&] { return Status(relay_)["freeze"] == "held"; }));
    std::this_thread::sleep_for(200ms);
    const size_t frozenAt = SinkFrames(log);
    std::this_thread::sleep_for(1500ms);
    EXPECT_LE(SinkFrames(log), frozenAt + 1) << "frames kept coming while frozen";
    freeze = Post(relay_.port, "/api/v1/freeze", relay_.token, R"({"on":false})");
    ASSERT_EQ(freeze.status, 200);
    ASSERT_TRUE(Eventually([&] { return SinkFrames(log) > frozenAt + 10; }, 5s))
        << "frames did not move again";
    EXPECT_EQ(Status(relay_)["frozen"], false);

    // A grab answers with the file it wrote.
    const auto grab = Post(relay_.port, "/api/v1/grab", relay_.token);
    ASSERT_EQ(grab.status, 200) << grab.body;
    const std::string file = nlohmann::json::parse(grab.body)["file"];
    EXPECT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_EQ(std::filesystem::path(file).parent_path(), dir_ / "grabs");
    EXPECT_EQ(std::filesystem::path(file).extension(), ".png");

    // The text box, on and off.
    EXPECT_EQ(Post(relay_.port, "/api/v1/text", relay_.token, R"({"text":"ON AIR"})").status, 200);
    EXPECT_TRUE(WaitForOutput(*relay_.process, "remote text box: ON AIR"));
    EXPECT_EQ(Status(relay_)["textBox"], true);
    EXPECT_EQ(HttpRequest("127.0.0.1", relay_.port, "DELETE", "/api/v1/text", relay_.token).status,
              200);
    EXPECT_EQ(Status(relay_)["textBox"], false);

    // A second connect while connected is refused with the window's own words.
    const auto again = Post(relay_.port, "/api/v1/connect", relay_.token,
                            nlohmann::json{{"source", LocalSourceName("Remote Cam")}}.dump());
    EXPECT_EQ(again.status, 409);
    EXPECT_EQ(nlohmann::json::parse(again.body)["error"],
              "You must disconnect the NDI Source first");

    // velmor-ctl speaks the same API.
    const std::string url = "http://127.0.0.1:" + std::to_string(relay_.port) + "/";
    auto ctl = Run(VELMOR_CTL, {"--url", url, "--token-file", relay_.tokenFile, "status"});
    ASSERT_EQ(ctl->Wait(10s), 0) << ctl->Output();
    EXPECT_TRUE(ctl->OutputHas("\"connected\":true"));
    ctl = Run(VELMOR_CTL, {"--url", url, "--token-file", relay_.tokenFile, "freeze", "on"});
    ASSERT_EQ(ctl->Wait(10s), 0) << ctl->Output();
    EXPECT_TRUE(Eventually([&] { return Status(relay_)["frozen"] == true; }));
    ctl = Run(VELMOR_CTL, {"--url", url, "--token-file", relay_.tokenFile, "connect", "NOBODY"});
    EXPECT_EQ(ctl->Wait(10s), 1);
    EXPECT_TRUE(ctl->OutputHas("velmor-ctl: 409: You must disconnect the NDI Source first"))
        << ctl->Output();
    // Settings by name, several at once; a bad value is refused naming its field.
    ctl = Run(VELMOR_CTL, {"--url", url, "--token-file", relay_.tokenFile, "set", "rotation=4",
                           "audio.monoMix=true"});
    ASSERT_EQ(ctl->Wait(10s), 0) << ctl->Output();
    EXPECT_TRUE(ctl->OutputHas("\"rotation\":4")) << ctl->Output();
    ctl = Run(VELMOR_CTL,
              {"--url", url, "--token-file", relay_.tokenFile, "set", "procAmp.gain=-51"});
    EXPECT_EQ(ctl->Wait(10s), 1);
    EXPECT_TRUE(ctl->OutputHas("velmor-ctl: 400: procAmp.gain: must be a whole number from -50"))
        << ctl->Output();
    ctl = Run(VELMOR_CTL, {"--url", url, "--token-file", relay_.tokenFile, "settings"});
    ASSERT_EQ(ctl->Wait(10s), 0) << ctl->Output();
    EXPECT_TRUE(ctl->OutputHas("\"H-Flip\"")) << ctl->Output();
    ctl = Run(VELMOR_CTL, {"--url", url, "disconnect"});  // the token file found by itself
    ASSERT_EQ(ctl->Wait(10s), 0) << ctl->Output();
    EXPECT_TRUE(Eventually([&] { return Status(relay_)["connected"] == false; }));

    relay_.process->Kill(SIGTERM);
    EXPECT_EQ(relay_.process->Wait(10s), 0) << relay_.process->Output();
}

}  // namespace
}  // namespace velmor
