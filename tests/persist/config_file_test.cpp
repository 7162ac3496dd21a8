#include "persist/config_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>

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

template <typename T>
bool SameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// A saved file of a fresh record with some recognisable content.
std::vector<unsigned char> SavedFile(const TempDir& dir) {
    RelayRecord r;
    r.ApplyStartupDefaults();
    r.settingsRecord.rotationSetting = 2;
    CopyToField(r.sourceName, "HOST (Cam 1)");
    RecordingNotifier notifier;
    EXPECT_EQ(SaveConfig(r, dir.File("saved.vlm"), notifier), 1);
    return ReadBytes(dir.File("saved.vlm"));
}

TEST(ConfigFile, FileNames) {
    EXPECT_EQ(ConfigFileNameFor(0), "last.vlm");
    EXPECT_EQ(ConfigFileNameFor(1), "last2.vlm");
    EXPECT_EQ(ConfigFileNameFor(7), "last8.vlm");
    RelayRecord r;
    SetConfigFileName(r, 2);
    EXPECT_STREQ(r.configFileName, "last3.vlm");
}

TEST(ConfigFile, FreshRecordSavesTo3776BytesAndLoadsBackEqual) {
    TempDir dir;
    RelayRecord saved;
    saved.ApplyStartupDefaults();
    saved.settingsRecord.reserved16[3] = 0xA5;  // reserved bytes survive the round trip
    saved.meterSettings.reserved15[0] = 7;
    RecordingNotifier notifier;
    ASSERT_EQ(SaveConfig(saved, dir.File("last.vlm"), notifier), 1);
    EXPECT_TRUE(notifier.shown.empty());
    EXPECT_EQ(saved.configVersion, 1);

    const auto bytes = ReadBytes(dir.File("last.vlm"));
    ASSERT_EQ(bytes.size(), 3776u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "QWVLMXF", 7));
    EXPECT_EQ(bytes[7], 0x81);

    RelayRecord loaded;
    EXPECT_EQ(LoadConfig(loaded, dir.File("last.vlm"), notifier), 1);
    EXPECT_EQ(loaded.configSectionsRead, 5);
    EXPECT_TRUE(SameBytes(loaded.settingsRecord, saved.settingsRecord));
    EXPECT_TRUE(SameBytes(loaded.meterSettings, saved.meterSettings));
    EXPECT_TRUE(SameBytes(loaded.procAmp.presets, saved.procAmp.presets));
    EXPECT_TRUE(SameBytes(loaded.sourceName, saved.sourceName));
    EXPECT_TRUE(notifier.shown.empty());
}

TEST(ConfigFile, FixtureValuesLandInTheirMembers) {
    TempDir dir;
    std::vector<unsigned char> f(3776, 0);
    std::memcpy(f.data(), "QWVLMXF\x81", 8);
    auto put16 = [&](size_t at, int16_t v) { std::memcpy(&f[at], &v, 2); };
    const size_t block1 = 8;
    put16(block1 + 4, -20);   // gain
    put16(block1 + 2, 3);     // black level
    put16(block1 + 1648, 5);  // rotation
    const double gain = 0.25;
    std::memcpy(&f[block1 + 1664], &gain, 8);
    f[block1 + 1686] = 0x01;  // channel map: swapped
    f[block1 + 1687] = 0x00;
    f[block1 + 1719] = 2;  // for two channels
    const char16_t name[] = u"R\u00e9sum\u00e9";
    std::memcpy(&f[block1 + 40], name, sizeof name);
    std::memcpy(&f[block1 + 1120 + 16], "Studio A", 8);
    f[block1 + 1120] = 1;  // detectPublic
    const size_t meter = 1784, presets = 1816, source = 3592;
    f[meter] = 55;                      // meterPosV
    put16(presets + 296 * 2 + 4, -40);  // slot 3 gain
    std::memcpy(&f[source], "HOST (Cam)", 10);
    WriteBytes(dir.File("f.vlm"), f);

    RelayRecord r;
    RecordingNotifier notifier;
    ASSERT_EQ(LoadConfig(r, dir.File("f.vlm"), notifier), 1);
    const SettingsRecord& s = r.settingsRecord;
    EXPECT_EQ(s.procAmpValuesSetting[2], -20);
    EXPECT_EQ(s.procAmpValuesSetting[1], 3);
    EXPECT_EQ(s.rotationSetting, 5);
    EXPECT_DOUBLE_EQ(s.gainSetting, 0.25);
    EXPECT_EQ(s.channelMapSetting[0], 1);
    EXPECT_EQ(s.channelMapSetting[1], 0);
    EXPECT_EQ(FieldText(s.procAmpPresetNameSetting), u"R\u00e9sum\u00e9");
    EXPECT_EQ(FieldText(s.groupSettings.detectExtraGroups), "Studio A");
    EXPECT_EQ(s.groupSettings.detectPublic, 1);
    EXPECT_EQ(r.meterSettings.meterPosV, 55);
    EXPECT_EQ(r.procAmp.presets[2].gain, -40);
    EXPECT_STREQ(r.sourceName, "HOST (Cam)");
}

TEST(ConfigFile, TruncatedAndForeignFiles) {
    TempDir dir;
    const auto good = SavedFile(dir);
    const ShownMessage kTooSmall{
        "Something went wrong - config file too small\n\n(e.g. from an earlier version)",
        "Load Config File", MessageButtons::Ok};
    const ShownMessage kTransition{"Version transition occurred - \nconfig file not fully read",
                                   "Load File", MessageButtons::Ok};
    const ShownMessage kUnrecognised{"Unrecognised file type", "Load File", MessageButtons::Ok};
    struct Case {
        size_t size;
        int result, sections;
        std::vector<ShownMessage> messages;
    };
    const Case cases[] = {
        {0, 0, 0, {kUnrecognised}},
        {7, 0, 0, {kUnrecognised}},
        {8, 0, 0, {kTooSmall}},
        {1735, 0, 0, {kTooSmall}},
        {1736, 0, 1, {kTransition}},
        {1783, 0, 1, {kTransition}},
        {1784, 0, 2, {}},
        {1815, 0, 2, {}},
        {1816, 0, 3, {}},
        {3591, 0, 3, {}},
        {3592, 0, 4, {}},
        {3775, 0, 4, {}},
        {3776, 1, 5, {}},
        {5000, 1, 5, {}},
    };
    for (const Case& c : cases) {
        auto bytes = good;
        bytes.resize(c.size, 0x42);
        WriteBytes(dir.File("t.vlm"), bytes);
        RelayRecord r;
        r.settingsRecord.rotationSetting = 9;  // a member that a short block must not touch
        RecordingNotifier notifier;
        EXPECT_EQ(LoadConfig(r, dir.File("t.vlm"), notifier), c.result) << c.size;
        EXPECT_EQ(r.configSectionsRead, c.sections) << c.size;
        EXPECT_EQ(notifier.shown, c.messages) << c.size;
        EXPECT_EQ(r.settingsRecord.rotationSetting, c.sections >= 1 ? 2 : 9) << c.size;
    }
}

TEST(ConfigFile, MissingFileIsSilentAndForeignMagicChangesNothing) {
    TempDir dir;
    RelayRecord r;
    RecordingNotifier notifier;
    EXPECT_EQ(LoadConfig(r, dir.File("absent.vlm"), notifier), 0);
    EXPECT_TRUE(notifier.shown.empty());

    auto bytes = SavedFile(dir);
    bytes[7] = 0x99;  // another version byte still loads
    WriteBytes(dir.File("v.vlm"), bytes);
    EXPECT_EQ(LoadConfig(r, dir.File("v.vlm"), notifier), 1);

    bytes[0] = 'X';
    WriteBytes(dir.File("m.vlm"), bytes);
    RelayRecord fresh;
    EXPECT_EQ(LoadConfig(fresh, dir.File("m.vlm"), notifier), 0);
    EXPECT_EQ(fresh.settingsRecord.rotationSetting, 0);
    EXPECT_EQ(notifier.shown.back().text, "Unrecognised file type");
}

TEST(ConfigFile, SourceNameWithoutTerminatorIsCutToFit) {
    TempDir dir;
    auto bytes = SavedFile(dir);
    std::memset(&bytes[3592], 'n', 184);
    WriteBytes(dir.File("n.vlm"), bytes);
    RelayRecord r;
    RecordingNotifier notifier;
    ASSERT_EQ(LoadConfig(r, dir.File("n.vlm"), notifier), 1);
    EXPECT_EQ(std::string(r.sourceName), std::string(183, 'n'));
}

// Lets writes past `bytes` fail with EFBIG, as a full disk would, for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit old_{};
    void (*previous_)(int) = nullptr;
};

TEST(ConfigFile, FailedSaveNamesTheStepAndKeepsThePreviousFile) {
    TempDir dir;
    const std::string path = dir.File("last.vlm");
    const auto previous = SavedFile(dir);
    WriteBytes(path, previous);
    struct Case {
        rlim_t limit;
        const char* message;
    };
    const Case cases[] = {
        {4, "Problem 1 initiating file save"},
        {100, "Problem 2 occurred - file not saved"},
        {1750, "Problem 3 occurred - file not saved"},
        {1800, "Problem 4 occurred - file not saved"},
        {2000, "Problem 5 occurred - full file not saved"},
        {3700, "Problem 6 occurred - full file not saved"},
    };
    for (const Case& c : cases) {
        RelayRecord r;
        r.ApplyStartupDefaults();
        RecordingNotifier notifier;
        int result;
        {
            FileSizeLimit limit(c.limit);
            result = SaveConfig(r, path, notifier);
        }
        EXPECT_EQ(result, 0) << c.limit;
        EXPECT_EQ(notifier.shown,
                  (std::vector<ShownMessage>{{c.message, "Save File", MessageButtons::Ok}}));
        EXPECT_EQ(ReadBytes(path), previous) << "the previous file must survive a failed save";
    }
    // No temporary file is left behind.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);  // saved.vlm and last.vlm
}

TEST(ConfigFile, UnwritableFolderReportsOpeningProblem) {
    RelayRecord r;
    RecordingNotifier notifier;
    EXPECT_EQ(SaveConfig(r, "/nonexistent-folder/last.vlm", notifier), 0);
    EXPECT_EQ(notifier.shown, (std::vector<ShownMessage>{{"Problem opening file for save",
                                                          "Save File", MessageButtons::Ok}}));
}

}  // namespace
}  // namespace velmor
