// Configuration files with hostile values, one field per row: what the start-up load applies and
// what the captions show. Every value read from a file is brought into its valid range; the file
// itself is left as it is until the next save.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "app/startup_config.h"
#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "relay/text_fields.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

namespace velmor {
namespace {

using testing::ReadBytes;
using testing::RecordingNotifier;
using testing::RecordingView;
using testing::TempDir;
using testing::WriteBytes;

constexpr size_t kBlock1 = 8;
constexpr size_t kMeterBlock = 1784;
constexpr size_t kPresetBlock = 1816;

template <typename T>
void Put(std::vector<unsigned char>& file, size_t offset, T value) {
    std::memcpy(file.data() + offset, &value, sizeof value);
}
size_t At(size_t fieldOffset) {
    return kBlock1 + fieldOffset;
}
bool Has(const RecordingView& view, const std::string& call) {
    return std::find(view.calls.begin(), view.calls.end(), call) != view.calls.end();
}

struct Row {
    const char* field;
    std::function<void(std::vector<unsigned char>&)> patch;
    std::function<void(const RelayRecord&, const RecordingView&)> check;
};

TEST(HostileConfig, EveryStoredFieldIsBroughtIntoItsRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        {"gainSetting NaN", [&](auto& f) { Put(f, At(1664), nan); },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.audioGain, 0.0) << "the start-up default: unity";
             EXPECT_EQ(r.audioMapper.mapperGain, 0.0);
         }},
        {"gainSetting +inf", [&](auto& f) { Put(f, At(1664), inf); },
         [](const RelayRecord& r, const RecordingView&) { EXPECT_EQ(r.audioGain, 10.0); }},
        {"gainSetting -inf", [&](auto& f) { Put(f, At(1664), -inf); },
         [](const RelayRecord& r, const RecordingView&) { EXPECT_EQ(r.audioGain, 0.0); }},
        {"gainSetting huge", [](auto& f) { Put(f, At(1664), 1e300); },
         [](const RelayRecord& r, const RecordingView&) { EXPECT_EQ(r.audioGain, 10.0); }},
        {"gainSetting negative", [](auto& f) { Put(f, At(1664), -3.0); },
         [](const RelayRecord& r, const RecordingView&) { EXPECT_EQ(r.audioGain, 0.1); }},
        {"gainItemSetting", [](auto& f) { Put(f, At(1656), int32_t{40000}); },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.audioMapper.mapperGainItem, 0);
         }},
        {"delayFramesSetting 0xF0", [](auto& f) { Put(f, At(1718), static_cast<int8_t>(-16)); },
         [](const RelayRecord& r, const RecordingView& v) {
             EXPECT_EQ(r.audioDelayFrames, 0);
             EXPECT_TRUE(Has(v, "delay 0"));
             EXPECT_FALSE(Has(v, "delay -16"));
         }},
        {"delayFramesSetting 127", [](auto& f) { Put(f, At(1718), int8_t{127}); },
         [](const RelayRecord& r, const RecordingView& v) {
             EXPECT_EQ(r.audioDelayFrames, 15);
             EXPECT_TRUE(Has(v, "delay 15"));
         }},
        {"rotationSetting", [](auto& f) { Put(f, At(1648), int16_t{77}); },
         [](const RelayRecord& r, const RecordingView& v) {
             EXPECT_EQ(r.rotationMode, 0);
             EXPECT_TRUE(Has(v, "rotation 0"));
         }},
        {"deinterlaceSetting", [](auto& f) { Put(f, At(1676), int8_t{9}); },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.deinterlaceMode, 0);
             EXPECT_EQ(r.settingsRecord.deinterlaceSetting, 0) << "the connection probe reads it";
         }},
        {"monitorLevelSetting", [](auto& f) { Put(f, At(1720), int8_t{-1}); },
         [](const RelayRecord& r, const RecordingView& v) {
             EXPECT_FLOAT_EQ(r.monitorLevel, 1.0f);
             EXPECT_EQ(r.settingsRecord.monitorLevelSetting, 2);
             EXPECT_TRUE(Has(v, "monitor 2"));
         }},
        {"grabFormatSetting", [](auto& f) { Put(f, At(334), int16_t{7}); },
         [](const RelayRecord& r, const RecordingView&) { EXPECT_EQ(r.grabSetup.formatIndex, 3); }},
        {"mapChannelsSetting", [](auto& f) { Put(f, At(1719), int8_t{100}); },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.mapActive, 0);
             EXPECT_EQ(r.audioChannelCount, 0);
         }},
        {"channelMapSetting",
         [](auto& f) {
             Put(f, At(1719), int8_t{2});
             Put(f, At(1686), int8_t{100});
             Put(f, At(1687), int8_t{-5});
             Put(f, At(1688), int8_t{33});
         },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.mapActive, 2);
             EXPECT_EQ(r.channelMap[0], 0) << "a column that does not exist: its own input";
             EXPECT_EQ(r.channelMap[1], 1);
             EXPECT_EQ(r.channelMap[2], 2) << "rows past the map name at most column 32";
             EXPECT_EQ(r.audioMapper.mapperMap[0], 0);
         }},
        {"procAmpValuesSetting",
         [](auto& f) {
             Put(f, At(2), int16_t{30000});  // blackLevel
             Put(f, At(4), int16_t{-300});   // gain
             Put(f, At(8), int16_t{-1});     // gamma
         },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.procAmp.settings.blackLevel, 255);
             EXPECT_EQ(r.procAmp.settings.gain, -50);
             EXPECT_EQ(r.procAmp.settings.gamma, 0);
         }},
        {"procAmpModeSetting",
         [](auto& f) {
             Put(f, At(32), int8_t{7});
             Put(f, At(33), int8_t{-1});
             Put(f, At(296), int8_t{9});
         },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.procAmp.settings.fxOrder, 0);
             EXPECT_EQ(r.procAmp.settings.uvLinking, 0);
             EXPECT_EQ(r.procAmp.currentPreset, 0);
         }},
        {"previewSetting flag", [](auto& f) { Put(f, At(1678), int8_t{5}); },
         [](const RelayRecord& r, const RecordingView&) { EXPECT_EQ(r.previewOn, 1); }},
        {"extraIpSetting", [](auto& f) { std::memcpy(f.data() + At(298), "999.1.1.1", 10); },
         [](const RelayRecord& r, const RecordingView& v) {
             EXPECT_STREQ(r.extraIpText, "");
             for (const std::string& call : v.calls)
                 EXPECT_EQ(call.find("999"), std::string::npos) << call;
         }},
        {"meterPos near the int limits",
         [](auto& f) {
             Put(f, kMeterBlock + 0, INT_MIN);
             Put(f, kMeterBlock + 4, INT_MAX);
         },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.meterSettings.meterPosV, 0);
             EXPECT_EQ(r.meterSettings.meterPosH, 100);
         }},
        {"meterMode and meterLayout",
         [](auto& f) {
             Put(f, kMeterBlock + 11, uint8_t{5});
             Put(f, kMeterBlock + 14, uint8_t{200});
         },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.meterSettings.meterMode, 0);
             EXPECT_EQ(r.meterSettings.meterLayout, 0);
         }},
        {"preset slot values",
         [](auto& f) {
             Put(f, kPresetBlock + 296 * 2 + 6, int16_t{999});  // slot 3 contrast
             Put(f, kPresetBlock + 296 * 2 + 33, int8_t{50});   // slot 3 uvLinking
         },
         [](const RelayRecord& r, const RecordingView&) {
             EXPECT_EQ(r.procAmp.presets[2].contrast, 255);
             EXPECT_EQ(r.procAmp.presets[2].uvLinking, 0);
         }},
    };

    // A file as the windows save it, with "Load settings on startup".
    RelayRecord saved;
    saved.ApplyStartupDefaults();
    CaptureSettings(saved);
    saved.settingsRecord.loadOnStartupSetting = 1;
    saved.settingsRecord.monitorLevelSetting = 1;  // Dim, so that a change back to Full shows
    TempDir dir;
    RecordingNotifier saveNotifier;
    ASSERT_EQ(SaveConfig(saved, dir.File("good.vlm"), saveNotifier), 1);
    const std::vector<unsigned char> good = ReadBytes(dir.File("good.vlm"));
    ASSERT_EQ(good.size(), 3776u);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.field);
        std::vector<unsigned char> bytes = good;
        row.patch(bytes);
        const std::string path = dir.File("hostile.vlm");
        WriteBytes(path, bytes);
        RelayRecord r;
        r.ApplyStartupDefaults();
        RecordingNotifier notifier;
        RecordingView view;
        ASSERT_EQ(RunStartupConfigLoad(r, notifier, view, view, path), 5);
        row.check(r, view);
        EXPECT_EQ(ReadBytes(path), bytes) << "the file stays as it was until the next save";
    }
}

}  // namespace
}  // namespace velmor
