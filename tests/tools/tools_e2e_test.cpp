// velmor-testsrc and velmor-sink as separate processes on this machine, talking through the
// built-in transport: what a person running them, or a script, relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "ndi/ndi_library.h"
#include "tools_fixture.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Process;
using test::Tools;

TEST_F(Tools, BothExplainThemselves) {
    for (const char* tool : {VELMOR_TESTSRC, VELMOR_SINK}) {
        Process help(tool, {"--help"});
        EXPECT_EQ(help.Wait(5s), 0);
        EXPECT_TRUE(help.OutputHas("Usage:"));
        Process bad(tool, {"--no-such-option"});
        EXPECT_EQ(bad.Wait(5s), 1);
    }
}

TEST_F(Tools, PictureOptionsReachTheSinkAsAsked) {
    struct Case {
        std::vector<std::string> source, sink;
        const char* format;
    } cases[] = {
        {{"--format", "bgra"}, {}, "format: 64x32 BGRA 25/1 progressive"},
        {{}, {"--color-format", "0"}, "format: 64x32 BGRX 25/1 progressive"},
        {{"--interlaced"}, {}, "format: 64x32 UYVY 25/1 interlaced"},
        {{"--interlaced"}, {"--progressive"}, "format: 64x32 UYVY 25/1 progressive"},
    };
    for (const auto& c : cases) {
        const std::string name = Name("picture");
        std::vector<std::string> src = {"--name",           name,   "--size",    "64x32",
                                        "--rate",           "25/1", "--seconds", "8",
                                        "--audio-channels", "0"};
        src.insert(src.end(), c.source.begin(), c.source.end());
        Process source(VELMOR_TESTSRC, src);
        std::vector<std::string> args = {"--source", name, "--frames", "3", "--seconds", "5"};
        args.insert(args.end(), c.sink.begin(), c.sink.end());
        Process sink(VELMOR_SINK, args);
        EXPECT_EQ(sink.Wait(10s), 0) << sink.Output();
        EXPECT_TRUE(sink.OutputHas(c.format)) << c.format << "\n" << sink.Output();
    }
}

TEST_F(Tools, TheSinkListsConnectsByAddressAndSavesFramesAndAudio) {
    const std::string name = Name("save");
    Process src(VELMOR_TESTSRC, {"--name", name, "--size", "64x32", "--rate", "25/1", "--seconds",
                                 "10", "--audio-channels", "3", "--sample-rate", "32000"});
    // The list names the source with its address.
    std::smatch m;
    std::string out;
    const std::regex line("source: [^\n]*\\(" + name + "\\) at (127\\.0\\.0\\.1:[0-9]+)");
    for (int attempt = 0; attempt < 5 && !std::regex_search(out, m, line); ++attempt) {
        Process list(VELMOR_SINK, {"--list", "--find-timeout", "1"});
        ASSERT_EQ(list.Wait(5s), 0);
        out = list.Output();
    }
    ASSERT_TRUE(std::regex_search(out, m, line)) << out;
    const std::string address = m[1];

    const std::string dir = dir_ + "/saved";
    Process sink(VELMOR_SINK, {"--address", address, "--frames", "10", "--seconds", "6",
                               "--save-frames", "2", "--save-audio", "--save-dir", dir});
    ASSERT_EQ(sink.Wait(10s), 0) << sink.Output();
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::file_size(dir + "/frame_1_64x32.UYVY"), 64u * 32 * 2);
    EXPECT_TRUE(fs::exists(dir + "/frame_2_64x32.UYVY"));
    EXPECT_FALSE(fs::exists(dir + "/frame_3_64x32.UYVY"));
    // A float WAV whose header agrees with the data written after it.
    std::ifstream wav(dir + "/audio.wav", std::ios::binary);
    char header[44] = {};
    wav.read(header, sizeof header);
    ASSERT_EQ(std::string(header, 4), "RIFF");
    uint16_t channels, format;
    uint32_t rate, dataBytes;
    std::memcpy(&format, header + 20, 2);
    std::memcpy(&channels, header + 22, 2);
    std::memcpy(&rate, header + 24, 4);
    std::memcpy(&dataBytes, header + 40, 4);
    EXPECT_EQ(format, 3);
    EXPECT_EQ(channels, 3);
    EXPECT_EQ(rate, 32000u);
    EXPECT_GT(dataBytes, 0u);
    EXPECT_EQ(fs::file_size(dir + "/audio.wav"), 44u + dataBytes);
    EXPECT_EQ(dataBytes % (3 * 4), 0u);
}

TEST_F(Tools, TheSinkProbesEverySourceItListsAndPrintsTheirFormats) {
    const std::string alpha = Name("probe-alpha");
    const std::string fields = Name("probe-fields");
    Process a(VELMOR_TESTSRC, {"--name", alpha, "--size", "64x36", "--rate", "25/1", "--format",
                               "bgra", "--audio-channels", "0", "--seconds", "60"});
    Process b(VELMOR_TESTSRC, {"--name", fields, "--size", "128x96", "--rate", "30000/1001",
                               "--interlaced", "--seconds", "60"});
    // Both listed first, so that one scan takes both.
    for (int i = 0; i < 100; ++i) {
        Process list(VELMOR_SINK, {"--list", "--find-timeout", "0"});
        list.Wait(10s);
        if (list.OutputHas(alpha) && list.OutputHas(fields)) break;
        std::this_thread::sleep_for(100ms);
    }
    Process sink(VELMOR_SINK, {"--list", "--probe", "--find-timeout", "10"});
    ASSERT_EQ(sink.Wait(60s), 0) << sink.Output();
    const std::string out = sink.Output();
    EXPECT_TRUE(std::regex_search(
        out, std::regex("NDI Name +Resolution +FPS +Aspect +Alpha\\? +Audio +IP Address\n")))
        << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\\(" + alpha +
                                                  "\\) +64 x 36 +25\\.00p +1\\.78:1 +\\+Alpha "
                                                  "+127\\.0\\.0\\.1:[0-9]+\n")))
        << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\\(" + fields +
                                                  "\\) +128 x 96 +59\\.94i +1\\.33:1 +2 Ch - "
                                                  "48\\.0 KHz +127\\.0\\.0\\.1:[0-9]+\n")))
        << out;

    Process bad(VELMOR_SINK, {"--probe"});
    EXPECT_EQ(bad.Wait(5s), 1) << "--probe goes with --list";
}

TEST_F(Tools, TallyAndConnectionMetadataTravelBothWays) {
    const std::string name = Name("tally");
    Process src(VELMOR_TESTSRC,
                {"--name", name, "--size", "320x180", "--rate", "30/1", "--seconds", "10",
                 "--print-tally", "--print-metadata", "--connection-metadata", "<from_source/>"});
    // Connection metadata goes to receivers that connect after it is added: the source says
    // "publishing" once it is, and a sink started earlier could connect in between.
    for (int i = 0; i < 500 && !src.OutputHas("publishing"); ++i)
        std::this_thread::sleep_for(10ms);
    // The sink holds program tally for the two seconds it receives; the source polls it every
    // frame, so the change is seen long before the sink leaves.
    Process sink(VELMOR_SINK,
                 {"--source", name, "--frames", "30", "--seconds", "5", "--tally", "program",
                  "--connection-metadata", "<from_sink/>", "--print-metadata"});
    ASSERT_EQ(sink.Wait(12s), 0) << sink.Output();
    EXPECT_TRUE(sink.OutputHas("metadata: <from_source/>")) << sink.Output();
    src.Kill(SIGTERM);
    src.Wait(5s);
    EXPECT_TRUE(src.OutputHas("tally: program=1 preview=0")) << src.Output();
    EXPECT_TRUE(src.OutputHas("metadata from receiver: <from_sink/>"));
}

TEST_F(Tools, GroupsAndLocalHidingDecideWhoIsFound) {
    const std::string name = Name("groups");
    Process src(VELMOR_TESTSRC, {"--name", name, "--size", "64x32", "--rate", "10/1", "--groups",
                                 "Studio B", "--seconds", "10", "--audio-channels", "0"});
    struct Case {
        std::vector<std::string> extra;
        int status;
    } cases[] = {
        {{"--groups", "news, studio b"}, 0},
        {{}, 2},  // public only
        {{"--groups", "Studio B", "--hide-local"}, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--source", name, "--frames", "3", "--find-timeout", "2"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Process sink(VELMOR_SINK, args);
        EXPECT_EQ(sink.Wait(10s), c.status) << sink.Output();
    }
}

TEST_F(Tools, TheSinkReconnectsWhenTheSourceRestarts) {
    const std::string name = Name("restart");
    auto args = [&](const std::string& size) {
        return std::vector<std::string>{"--name", name,   "--size",           size,
                                        "--rate", "30/1", "--audio-channels", "0"};
    };
    auto waitForOutput = [](const Process& p, const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!p.OutputHas(text) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        return p.OutputHas(text);
    };
    // Each run has its own picture size, so the sink's format lines tell the runs apart.
    auto first = std::make_unique<Process>(VELMOR_TESTSRC, args("64x32"));
    Process sink(VELMOR_SINK, {"--source", name, "--seconds", "30"});
    ASSERT_TRUE(waitForOutput(sink, "format: 64x32")) << sink.Output();
    first->Kill(SIGTERM);
    EXPECT_EQ(first->Wait(5s), 0);  // source gone
    std::this_thread::sleep_for(500ms);
    Process second(VELMOR_TESTSRC, args("48x32"));
    EXPECT_TRUE(waitForOutput(sink, "format: 48x32")) << sink.Output();
    sink.Kill(SIGTERM);
    second.Kill(SIGTERM);
    sink.Wait(5s);
    second.Wait(5s);
}

TEST_F(Tools, AKilledSourceLeavesTheListWithinFiveSeconds) {
    auto lib = LoadNdiLibrary(NdiChoice::Builtin);
    ASSERT_TRUE(lib.ok) << lib.error;
    const auto& ndi = lib.api;
    const std::string name = Name("killed");
    Process src(VELMOR_TESTSRC, {"--name", name, "--size", "64x32", "--rate", "10/1"});
    NDIlib_find_instance_t finder = ndi.find_create_v2(nullptr);
    auto listed = [&] {
        uint32_t n = 0;
        const NDIlib_source_t* s = ndi.find_get_current_sources(finder, &n);
        for (uint32_t i = 0; i < n; ++i)
            if (std::string(s[i].p_ndi_name).find("(" + name + ")") != std::string::npos)
                return true;
        return false;
    };
    auto waitFor = [&](bool want, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (listed() != want && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        return listed() == want;
    };
    ASSERT_TRUE(waitFor(true, 3s));
    src.Kill(SIGKILL);
    EXPECT_TRUE(waitFor(false, 5s));
    ndi.find_destroy(finder);
}

}  // namespace
}  // namespace velmor
