// The relay as operators run it: velmor-testsrc publishes, `velmor --headless` relays, velmor-sink
// receives, each its own process, over the built-in transport on this machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "relay/text_fields.h"
#include "relay_fixture.h"
#include "support/recording_fakes.h"
#include "support/wav_reading.h"
#include "tools/process.h"
#include "tools/velmor-testsrc/test_pattern.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Process;
using testsrc::TestPattern;

using velmor::testing::CrossingsPerSecond;
using velmor::testing::LocalSourceName;

// The frame number whose test picture equals `bytes`, or -1.
int MatchingFrame(const TestPattern& pattern, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> picture;
    for (int n = 0; n < 3000; ++n) {
        pattern.Render(n, picture);
        if (picture == bytes) return n;
    }
    return -1;
}

TEST_F(Relay, PassthroughIsBitExactWithNamesMetadataAndTally) {
    const std::string gap(14, ' ');
    const std::string senderProduct = "<ndi_product long_name=\"Korvo Receiver-Transmitter\"" +
                                      gap + "short_name=\"Korvo Velmor\"" + gap +
                                      "manufacturer=\"Brelta\"";
    for (const char* format : {"uyvy", "bgra"}) {
        SCOPED_TRACE(format);
        const bool bgra = std::string(format) == "bgra";
        const std::string name = std::string("Cam ") + format;
        auto src =
            Run(VELMOR_TESTSRC, {"--name", name, "--size", "320x180", "--rate", "25/1", "--format",
                                 format, "--seconds", "25", "--print-tally", "--print-metadata"});
        auto relay =
            Run(VELMOR_BIN, {"--headless", "--show-local", "--source", LocalSourceName(name)});
        const std::string saves = std::string("saved-") + format;
        auto sink =
            Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--frames", "20", "--seconds", "20",
                              "--save-frames", "4", "--save-dir", (dir_ / saves).string(),
                              "--color-format", "100", "--tally", "program", "--print-metadata"});
        ASSERT_EQ(sink->Wait(30s), 0) << sink->Output() << relay->Output();
        EXPECT_TRUE(sink->OutputHas("metadata: " + senderProduct));

        // Every saved frame is exactly one of the pictures the source sent.
        const TestPattern pattern(320, 180, bgra);
        const auto files = Saved(saves);
        ASSERT_EQ(files.size(), 4u);
        for (const auto& file : files) {
            EXPECT_NE(file.string().find(bgra ? ".BGRA" : ".UYVY"), std::string::npos) << file;
            EXPECT_GE(MatchingFrame(pattern, ReadFile(file)), 0)
                << file << " is not a frame of the source";
        }

        // The source hears the relay's receiver announce itself, and the sink's tally.
        EXPECT_TRUE(src->OutputHas("<ndi_format>")) << src->Output();
        EXPECT_TRUE(src->OutputHas("short_name=\"NDI Velmor\"")) << src->Output();
        EXPECT_TRUE(src->OutputHas("tally: program=1 preview=0")) << src->Output();

        relay->Kill(SIGINT);
        EXPECT_EQ(relay->Wait(10s), 0) << relay->Output();
        EXPECT_TRUE(relay->OutputHas("signal lamp: magenta"));
        EXPECT_TRUE(
            relay->OutputHas("video: 320 x 180, 25.00p " + std::string(bgra ? "RGBA" : "YUV")));
        EXPECT_TRUE(relay->OutputHas("monitor reference: EBU o/p"));
        EXPECT_TRUE(relay->OutputHas("video: No video"));
    }
}

TEST_F(Relay, KeyAndFillFromAStoredConfiguration) {
    // A configuration as the windows would save it: key+fill split on, local sources shown.
    RelayRecord stored;
    stored.ApplyStartupDefaults();
    stored.keyFillSplit = 1;
    stored.excludeLocal = 0;
    CaptureSettings(stored);
    stored.settingsRecord.loadOnStartupSetting = 1;
    stored.settingsRecord.saveOnExitSetting = 1;
    velmor::testing::RecordingNotifier notifier;
    const std::string config = (dir_ / "studio.vlm").string();
    ASSERT_EQ(SaveConfig(stored, config, notifier), 1);

    auto src = Run(VELMOR_TESTSRC, {"--name", "Graphics", "--size", "320x180", "--rate", "25/1",
                                    "--format", "bgra", "--seconds", "25"});
    auto relay = Run(VELMOR_BIN,
                     {"--headless", "--config", config, "--source", LocalSourceName("Graphics")});
    // The outputs announce themselves in the product's group (nothing else is checked in the file).
    auto key = Run(VELMOR_SINK, {"--source", "Korvo Velmor Key 1", "--groups", "Korvo Velmor",
                                 "--frames", "10", "--seconds", "20", "--save-frames", "2",
                                 "--save-dir", (dir_ / "key").string(), "--color-format", "100"});
    auto fill = Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--groups", "Korvo Velmor",
                                  "--frames", "10", "--seconds", "20", "--save-frames", "1",
                                  "--save-dir", (dir_ / "fill").string(), "--color-format", "100"});
    ASSERT_EQ(key->Wait(30s), 0) << key->Output() << "\n--- relay:\n" << relay->Output();
    ASSERT_EQ(fill->Wait(30s), 0) << fill->Output();

    const auto fillFiles = Saved("fill");
    ASSERT_EQ(fillFiles.size(), 1u);
    EXPECT_NE(fillFiles[0].string().find(".BGRX"), std::string::npos)
        << "the main output carries no alpha";

    // The key's luma follows the alpha of one of the source's pictures; its chroma is neutral.
    const TestPattern pattern(320, 180, true);
    const auto keyFiles = Saved("key");
    ASSERT_EQ(keyFiles.size(), 2u);
    for (const auto& file : keyFiles) {
        ASSERT_NE(file.string().find("320x180.UYVY"), std::string::npos) << file;
        const auto keyBytes = ReadFile(file);
        bool matched = false;
        std::vector<uint8_t> picture;
        for (int n = 0; n < 3000 && !matched; ++n) {
            pattern.Render(n, picture);
            matched = true;
            for (size_t p = 0; p < 320u * 180u && matched; ++p) {
                matched = keyBytes[2 * p] == 0x80 &&
                          keyBytes[2 * p + 1] == picture[4 * p + 3] * 219 / 255 + 16;
            }
        }
        EXPECT_TRUE(matched) << file;
    }

    // An orderly exit saves the settings, with the relayed source's name.
    relay->Kill(SIGTERM);
    ASSERT_EQ(relay->Wait(10s), 0) << relay->Output();
    RelayRecord reloaded;
    ASSERT_EQ(LoadConfig(reloaded, config, notifier), 1);
    EXPECT_EQ(std::string(reloaded.sourceName), LocalSourceName("Graphics"));
    EXPECT_EQ(reloaded.settingsRecord.keyFillSetting, 1);
    EXPECT_EQ(std::filesystem::file_size(config), 3776u);
}

TEST_F(Relay, StoredAudioMapSwapsTheChannels) {
    // A configuration whose accepted audio map, for two channels, swaps them.
    RelayRecord stored;
    stored.ApplyStartupDefaults();
    stored.excludeLocal = 0;
    CaptureSettings(stored);
    stored.settingsRecord.loadOnStartupSetting = 1;
    stored.settingsRecord.channelMapSetting[0] = 1;
    stored.settingsRecord.channelMapSetting[1] = 0;
    stored.settingsRecord.mapChannelsSetting = 2;
    velmor::testing::RecordingNotifier notifier;
    const std::string config = (dir_ / "swap.vlm").string();
    ASSERT_EQ(SaveConfig(stored, config, notifier), 1);

    // Channel 1 of the source is a 250 Hz tone, channel 2 a 500 Hz tone.
    auto src = Run(VELMOR_TESTSRC,
                   {"--name", "Tones", "--size", "160x90", "--rate", "25/1", "--seconds", "25"});
    auto relay =
        Run(VELMOR_BIN, {"--headless", "--config", config, "--source", LocalSourceName("Tones")});
    auto sink = Run(VELMOR_SINK,
                    {"--source", "Korvo Velmor 1", "--groups", "Korvo Velmor", "--frames", "50",
                     "--seconds", "20", "--save-audio", "--save-dir", (dir_ / "audio").string()});
    ASSERT_EQ(sink->Wait(30s), 0) << sink->Output() << relay->Output();
    const auto wav = ReadFile(dir_ / "audio" / "audio.wav");
    const double left = CrossingsPerSecond(wav, 2, 48000, 0),
                 right = CrossingsPerSecond(wav, 2, 48000, 1);
    EXPECT_NEAR(left, 1000.0, 50.0) << "output 1 carries the 500 Hz tone of input 2";
    EXPECT_NEAR(right, 500.0, 25.0) << "output 2 carries the 250 Hz tone of input 1";
}

TEST_F(Relay, RemoteTextBoxAndGrabOverTheMessageBus) {
    auto bus = StartPrivateBus();
    ASSERT_TRUE(bus) << "no dbus-daemon";
    // Grabs go to a folder of the test, as PNG, named without date and time.
    const std::string config = SaveGrabConfig("ctl.vlm");

    auto src = Run(VELMOR_TESTSRC,
                   {"--name", "Desk", "--size", "320x180", "--rate", "25/1", "--seconds", "30"});
    auto relay =
        Run(VELMOR_BIN, {"--headless", "--config", config, "--source", Host() + " (Desk)"});
    ASSERT_TRUE(WaitForOutput(*relay, "signal lamp: magenta")) << relay->Output();

    auto text = Run(VELMOR_CTL, {"text", "ON AIR"});
    ASSERT_EQ(text->Wait(10s), 0) << text->Output();
    ASSERT_TRUE(WaitForOutput(*relay, "remote text box: ON AIR")) << relay->Output();
    auto grab = Run(VELMOR_CTL, {"--copy", "1", "grab"});
    ASSERT_EQ(grab->Wait(10s), 0) << grab->Output();
    ASSERT_TRUE(WaitForOutput(*relay, "frame grab saved")) << relay->Output();
    EXPECT_TRUE(std::filesystem::exists(dir_ / "grabs" / "VelmorGrab-1.png"));

    // With the text box on, the output is no longer any picture of the source.
    auto sink = Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--groups", "Korvo Velmor",
                                  "--frames", "3", "--seconds", "15", "--save-frames", "3",
                                  "--save-dir", (dir_ / "boxed").string()});
    ASSERT_EQ(sink->Wait(20s), 0) << sink->Output();
    const TestPattern pattern(320, 180, false);
    for (const auto& file : Saved("boxed"))
        EXPECT_EQ(MatchingFrame(pattern, ReadFile(file)), -1) << file;
    relay->Kill(SIGINT);
    EXPECT_EQ(relay->Wait(10s), 0);
    bus->Kill(SIGKILL);
}

// Without a display and without --headless, velmor says what to do in one line and fails.
TEST_F(Relay, WithoutADisplayItAsksForHeadless) {
    const char* names[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* name : names) {
        if (const char* v = getenv(name)) saved.emplace_back(name, v);
        unsetenv(name);
    }
    auto velmor = Run(VELMOR_BIN, {});
    const int code = velmor->Wait(10s);
    for (const auto& [name, value] : saved)
        setenv(name.c_str(), value.c_str(), 1);
    const std::string output = velmor->Output();
    EXPECT_NE(code, 0);
    EXPECT_NE(output.find("--headless"), std::string::npos) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
}

}  // namespace
}  // namespace velmor
