#include "persist/preset_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "relay/text_fields.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::ShownMessage;
using testing::TempDir;
using testing::WriteBytes;

TEST(PresetFile, SaveStripsSpacesAndLoadsBack) {
    TempDir dir;
    ProcAmpState pa;
    pa.presetName = "Night Studio 2";
    pa.settings.gain = -20;
    pa.settings.uvLinking = 2;
    pa.wfmOn = 1;
    pa.currentPreset = 1;
    pa.presets[1].storedFlag = 0;
    RecordingNotifier notifier;
    ASSERT_TRUE(SavePresetFile(pa, notifier, dir.path().string()));
    EXPECT_EQ(notifier.shown, (std::vector<ShownMessage>{{"NightStudio2.pap\n\nPreset file saved",
                                                          "Save File", MessageButtons::Ok}}));
    // The save stores into the current slot without recomputing its stored flag.
    EXPECT_EQ(pa.presets[1].gain, -20);
    EXPECT_EQ(pa.presets[1].storedFlag, 0);

    const auto bytes = ReadBytes(dir.File("NightStudio2.pap"));
    ASSERT_EQ(bytes.size(), 304u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "QWVLMXP\x81", 8));

    ProcAmpState loaded;
    loaded.currentPreset = 4;
    EXPECT_EQ(LoadPresetFile(loaded, dir.File("NightStudio2.pap"), notifier),
              PresetLoadResult::Loaded);
    EXPECT_EQ(loaded.settings.gain, -20);
    EXPECT_EQ(loaded.settings.uvLinking, 2);
    EXPECT_EQ(loaded.wfmOn, 1);
    EXPECT_EQ(loaded.presetName, "Night Studio 2");
    EXPECT_EQ(loaded.presets[4].gain, -20);  // into the current slot
}

TEST(PresetFile, BadFilesChangeNothing) {
    TempDir dir;
    ProcAmpState source;
    source.presetName = "p";
    source.settings.contrast = 80;
    RecordingNotifier notifier;
    ASSERT_TRUE(SavePresetFile(source, notifier, dir.path().string()));
    const auto good = ReadBytes(dir.File("p.pap"));

    struct Case {
        const char* label;
        std::vector<unsigned char> bytes;
        PresetLoadResult result;
        std::vector<ShownMessage> messages;
    };
    auto resized = [&](size_t n) {
        auto b = good;
        b.resize(n);
        return b;
    };
    auto wrongMagic = good;
    wrongMagic[2] = 'x';
    auto otherVersion = good;
    otherVersion[7] = 0x80;
    const ShownMessage kUnrecognised{"Unrecognised file type", "LoadPreset", MessageButtons::Ok};
    const ShownMessage kTooSmall{"Something went wrong - file too small", "Load Preset",
                                 MessageButtons::Ok};
    const Case cases[] = {
        {"empty", {}, PresetLoadResult::Rejected, {kUnrecognised}},
        {"short header", resized(5), PresetLoadResult::Rejected, {kUnrecognised}},
        {"wrong magic", wrongMagic, PresetLoadResult::Rejected, {kUnrecognised}},
        {"300 bytes", resized(300), PresetLoadResult::Rejected, {kTooSmall}},
        {"other version byte", otherVersion, PresetLoadResult::Loaded, {}},
    };
    for (const Case& c : cases) {
        WriteBytes(dir.File("x.pap"), c.bytes);
        ProcAmpState pa;
        RecordingNotifier n;
        EXPECT_EQ(LoadPresetFile(pa, dir.File("x.pap"), n), c.result) << c.label;
        EXPECT_EQ(n.shown, c.messages) << c.label;
        EXPECT_EQ(pa.settings.contrast, c.result == PresetLoadResult::Loaded ? 80 : 50) << c.label;
    }
    ProcAmpState pa;
    RecordingNotifier n;
    EXPECT_EQ(LoadPresetFile(pa, dir.File("absent.pap"), n), PresetLoadResult::NotOpened);
    EXPECT_TRUE(n.shown.empty());
}

TEST(PresetFile, UnterminatedNameIsCutInsideTheRecord) {
    TempDir dir;
    std::vector<unsigned char> bytes(304, 0);
    std::memcpy(bytes.data(), "QWVLMXP\x81", 8);
    for (size_t i = 8 + 40; i < 304; i += 2)
        bytes[i] = 'a';  // 128 units, no terminator
    WriteBytes(dir.File("n.pap"), bytes);
    ProcAmpState pa;
    RecordingNotifier n;
    ASSERT_EQ(LoadPresetFile(pa, dir.File("n.pap"), n), PresetLoadResult::Loaded);
    EXPECT_EQ(pa.presetName, std::string(127, 'a'));
}

TEST(PresetFile, FileNameFitsTheLimitAtACharacterBoundary) {
    EXPECT_EQ(PresetFileName("a b c"), "abc.pap");
    EXPECT_EQ(PresetFileName(""), "Preset.pap");
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xC3\xA9";  // 400 bytes
    const std::string name = PresetFileName(longName);
    EXPECT_LE(name.size(), kPresetPathLimit);
    EXPECT_EQ(name.size(), 246u + 4u);
}

TEST(PresetFile, NamesThatLookLikePathsStayInTheFolder) {
    struct Case {
        std::string typed;
        std::string file;
    };
    const Case cases[] = {
        {"../../escape", "_._.._escape.pap"},
        {"a/b", "a_b.pap"},
        {"..", "_..pap"},
        {".hidden", "_hidden.pap"},
        {"/etc/passwd", "_etc_passwd.pap"},
        {"back\\slash", "back_slash.pap"},
        {"tab\there", "tab_here.pap"},
        {"   ", "Preset.pap"},
        {std::string(600, 'n'), std::string(246, 'n') + ".pap"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        TempDir dir;
        std::filesystem::create_directories(dir.path() / "work");
        ProcAmpState pa;
        pa.presetName = c.typed;
        RecordingNotifier n;
        ASSERT_TRUE(SavePresetFile(pa, n, dir.File("work")));
        // Exactly one file, in the folder itself, and nothing anywhere else.
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
            if (e.is_regular_file()) found.push_back(e.path().lexically_relative(dir.path()));
        EXPECT_EQ(found, std::vector<std::string>{"work/" + c.file});
        EXPECT_EQ(n.shown.back().text, c.file + "\n\nPreset file saved");
        // The name inside the file stays as typed (up to its 123 characters).
        ProcAmpState loaded;
        ASSERT_EQ(LoadPresetFile(loaded, dir.File("work/" + c.file), n), PresetLoadResult::Loaded);
        EXPECT_EQ(loaded.presetName, c.typed.substr(0, 123));
    }
}

TEST(PresetFile, UnwritableFolderReportsIt) {
    ProcAmpState pa;
    pa.presetName = "x";
    RecordingNotifier n;
    EXPECT_FALSE(SavePresetFile(pa, n, "/nonexistent-folder"));
    EXPECT_EQ(n.shown,
              (std::vector<ShownMessage>{{"Problem  occurred\n\nPreset file not opened for writing",
                                          "Save File", MessageButtons::Ok}}));
}

}  // namespace
}  // namespace velmor
