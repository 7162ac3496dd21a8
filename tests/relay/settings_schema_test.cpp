// The settings table: each setting declared once and captured, limited, applied, read and changed
// by name through that one declaration.
#include "relay/settings_schema.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "relay/capture_apply.h"
#include "relay/relay_record.h"
#include "relay/stored_ranges.h"
#include "relay/text_fields.h"
#include "support/recording_fakes.h"

namespace velmor {
namespace {

using testing::RecordingView;

const SettingDecl& Decl(std::string_view name) {
    const SettingDecl* decl = FindSetting(name);
    EXPECT_NE(decl, nullptr) << name;
    return *decl;
}

TEST(SettingsSchema, NamesAreUniqueAndEveryFieldLiesInsideItsBlock) {
    std::set<std::string_view> names;
    for (const SettingDecl& decl : OperatorSettings()) {
        const size_t block =
            decl.block == SettingBlock::Settings ? sizeof(SettingsRecord) : sizeof(MeterSettings);
        size_t size = 0;
        switch (decl.type) {
            case StoredType::I8:
            case StoredType::U8:
                size = 1;
                break;
            case StoredType::I16:
                size = 2;
                break;
            case StoredType::I32:
            case StoredType::F32:
                size = 4;
                break;
            case StoredType::F64:
                size = 8;
                break;
            case StoredType::Utf16Text:
                size = 2u * decl.units;
                break;
            case StoredType::Text8:
                size = decl.units;
                break;
            case StoredType::Map32:
                size = 32;
                break;
        }
        EXPECT_LE(decl.offset + size, block) << decl.name;
        if (!decl.exposed()) continue;
        EXPECT_TRUE(names.insert(decl.name).second) << "twice: " << decl.name;
        EXPECT_EQ(FindSetting(decl.name), &decl);
        EXPECT_NE(decl.apply, nullptr) << decl.name << " cannot be changed by name";
    }
    EXPECT_EQ(FindSetting("noSuchSetting"), nullptr);
    EXPECT_EQ(FindSetting(""), nullptr);
}

TEST(SettingsSchema, ValuesByNameAreWhatTheFileStoresWithATextForPeople) {
    RelayRecord r;
    r.ApplyStartupDefaults();
    r.rotationMode = 1;
    r.procAmp.settings.blackLevel = 60;
    r.audioMapper.mapperGainItem = NDIAudioMapper::kFirstGainCommand + 10;  // -4 dB
    r.settingsRecord.delayFramesSetting = 3;
    r.grabSetup.baseName = std::string(200, 'b');  // stored cut to 123 characters

    EXPECT_EQ(CurrentValue(r, Decl("rotation")), SettingValue(1));
    EXPECT_EQ(SettingText(Decl("rotation"), 1), "Rotate 90");
    EXPECT_EQ(SettingText(Decl("deinterlace"), 2), "Field 1");
    EXPECT_EQ(CurrentValue(r, Decl("procAmp.blackLevel")), SettingValue(60));
    EXPECT_EQ(CurrentValue(r, Decl("procAmp.gain")), SettingValue(50)) << "50 is neutral";
    const SettingValue step = CurrentValue(r, Decl("audio.gainStep"));
    EXPECT_EQ(step, SettingValue(NDIAudioMapper::kFirstGainCommand + 10));
    EXPECT_EQ(SettingText(Decl("audio.gainStep"), step), "-4 dB");
    EXPECT_EQ(CurrentValue(r, Decl("audio.delayFrames")), SettingValue(3));
    EXPECT_EQ(std::get<std::string>(CurrentValue(r, Decl("grab.baseName"))).size(), 123u);
    EXPECT_EQ(SettingText(Decl("preview"), 1), "On");
    EXPECT_EQ(CurrentValue(r, Decl("meter.positionV")), SettingValue(90));
    EXPECT_EQ(SettingText(Decl("meter.layout"), 1), "Vertical");
    // Reading by name captures nothing into the record itself.
    EXPECT_EQ(r.settingsRecord.rotationSetting, 0);
}

// A set of changes by name is checked whole against the rules a loaded file is limited by, and
// applied only when every change is valid.
TEST(SettingsSchema, ChangesByNameApplyAllOrNothing) {
    RelayRecord r;
    r.ApplyStartupDefaults();
    RecordingView view;
    SettingTargets targets{r, view, view};
    const uint64_t published = r.audioSettings.Latest().generation;

    struct Refused {
        std::vector<SettingChange> changes;
        const char* why;
    };
    ChannelMapEntries map = AudioSettings::Identity();
    map[0] = 3;  // input 4: there is none in a map for two channels
    const Refused refused[] = {
        {{{&Decl("rotation"), 1}, {&Decl("deinterlace"), 4}}, "a choice that does not exist"},
        {{{&Decl("procAmp.blackLevel"), 256}}, "beyond the slider"},
        {{{&Decl("audio.delayFrames"), 16}}, "beyond 15 frames"},
        {{{&Decl("preview"), 2}}, "a flag is 0 or 1"},
        {{{&Decl("rotation"), std::string("Rotate 90")}}, "a code, not its text"},
        {{{&Decl("audio.gain"), 100.0}}, "beyond +20 dB"},
        {{{&Decl("extraIp"), std::string("not an address")}}, "not an address list"},
        {{{&Decl("grab.baseName"), std::string(200, 'x')}}, "longer than the field"},
        {{{&Decl("audio.mapChannels"), 2}, {&Decl("audio.channelMap"), map}}, "map for 2"},
        {{{nullptr, 1}}, "unknown"},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.why);
        const std::vector<SettingRefusal> refusals = ApplySettingValues(targets, c.changes);
        EXPECT_FALSE(refusals.empty());
    }
    EXPECT_EQ(r.rotationMode, 0) << "nothing of a refused set is applied";
    EXPECT_TRUE(view.calls.empty());

    // The output type may not change while a connection runs.
    r.videoThreadRun = 1;
    const SettingChange airSend[] = {{&Decl("airSendOutput"), 1}};
    ASSERT_EQ(ApplySettingValues(targets, airSend).size(), 1u);
    EXPECT_EQ(ApplySettingValues(targets, airSend)[0].name, "airSendOutput");
    r.videoThreadRun = 0;

    // A valid set: each through what its control does, then the tables, the audio thread's
    // settings and the finder once.
    map[0] = 1;
    const SettingChange changes[] = {
        {&Decl("audio.channelMap"), map},  // valid for the four channels of the same set
        {&Decl("rotation"), 3},
        {&Decl("procAmp.gain"), 20},
        {&Decl("audio.mapChannels"), 4},
        {&Decl("audio.gain"), 0.5},
        {&Decl("extraIp"), std::string("192.0.2.9")},
        {&Decl("meter.layout"), 1},
    };
    EXPECT_TRUE(ApplySettingValues(targets, changes).empty());
    EXPECT_EQ(r.rotationMode, 3);
    EXPECT_EQ(r.procAmp.settings.gain, 20);
    EXPECT_EQ(r.procAmp.active, 1) << "the tables were rebuilt";
    EXPECT_EQ(r.mapActive, 4);
    EXPECT_EQ(r.settingsRecord.mapChannelsSetting, 4);
    EXPECT_EQ(r.channelMap[0], 1);
    EXPECT_EQ(r.audioMapper.mapperMap[0], 1);
    const AudioSettings audio = r.audioSettings.Latest();
    EXPECT_EQ(audio.generation, published + 1) << "published once";
    EXPECT_EQ(audio.channelMap[0], 1);
    EXPECT_DOUBLE_EQ(audio.gain, 0.5);
    EXPECT_STREQ(r.extraIpText, "192.0.2.9");
    EXPECT_EQ(LoadMeterSetting(r.meterSettings.meterLayout), 1);
    EXPECT_EQ(r.meterLink.meterChangeFlags & kMeterChangeLayout, 0) << "taken up at once";
    EXPECT_NE(r.meterLink.meterChangeFlags & kMeterChangePicture, 0) << "and placed again";
    const std::vector<std::string> shown = {"rotation 3", "extra ip 192.0.2.9",
                                            "finder local=0 ips=192.0.2.9 groups="};
    EXPECT_EQ(view.calls, shown);
}

// The meter's outputs by name, as the "PPM Config" window changes them: with neither output left,
// the meter overlay goes off and its button dark.
TEST(SettingsSchema, TheMeterTakesUpItsChoicesAfterAChangeByName) {
    RelayRecord r;
    r.ApplyStartupDefaults();
    r.ppmMeter = std::make_unique<PpmMeter>();
    r.meterSettings.meterOnMainOutput = 1;
    r.ppmOverlayOn = 1;
    RecordingView view;
    SettingTargets targets{r, view, view};
    const SettingChange off[] = {{&Decl("meter.onMainOutput"), 0}};
    EXPECT_TRUE(ApplySettingValues(targets, off).empty());
    EXPECT_EQ(r.ppmOverlayOn, 0);
    EXPECT_FALSE(r.ppmMeter->overlayEnabled());
    EXPECT_EQ(view.calls, (std::vector<std::string>{"ppm overlay off"}));
    const SettingChange separate[] = {{&Decl("meter.separateOutput"), 1}};
    EXPECT_TRUE(ApplySettingValues(targets, separate).empty());
    EXPECT_TRUE(r.ppmMeter->overlayEnabled()) << "the separate output keeps the pictures built";
}

// Adding a setting is one declaration: an entry for the timecode burn-in, stored in the record's
// first reserved byte, is captured, limited, applied and changed by name with nothing else added.
TEST(SettingsSchema, ASettingAddedIsOneDeclaration) {
    std::vector<SettingDecl> settings(OperatorSettings().begin(), OperatorSettings().end());
    settings.push_back(
        {.name = "timecodeBurnIn",
         .block = SettingBlock::Settings,
         .offset = static_cast<uint16_t>(offsetof(SettingsRecord, reserved1721)),
         .type = StoredType::I8,
         .units = 0,
         .rule = SettingRule::Flag,
         .min = 0,
         .max = 1,
         .fallback = 0,
         .texts = {},
         .storedBy = StoredBy::Capture,
         .phase = ApplyPhase::Settings,
         .live = [](const RelayRecord& r) { return SettingValue(r.timecodeBurnIn.load()); },
         .apply = [](SettingTargets& t,
                     const SettingValue& v) { t.record.timecodeBurnIn = std::get<int32_t>(v); }});

    RelayRecord r;
    r.ApplyStartupDefaults();
    r.timecodeBurnIn = 1;
    CaptureStored(r, {&r.settingsRecord, &r.meterSettings}, settings);
    EXPECT_EQ(r.settingsRecord.reserved1721[0], 1);

    r.settingsRecord.reserved1721[0] = 7;  // as a damaged file might hold it
    LimitStored({&r.settingsRecord, nullptr}, settings);
    EXPECT_EQ(r.settingsRecord.reserved1721[0], 1);

    r.timecodeBurnIn = 0;
    RecordingView view;
    SettingTargets targets{r, view, view};
    ApplyStored(targets, ApplyPhase::Settings, settings);
    EXPECT_EQ(r.timecodeBurnIn, 1);

    const SettingDecl* decl = FindSetting("timecodeBurnIn", settings);
    ASSERT_NE(decl, nullptr);
    const SettingChange off[] = {{decl, 0}};
    EXPECT_TRUE(ApplySettingValues(targets, off, settings).empty());
    EXPECT_EQ(r.timecodeBurnIn, 0);
    const SettingChange bad[] = {{decl, 2}};
    EXPECT_EQ(ApplySettingValues(targets, bad, settings).size(), 1u);
}

}  // namespace
}  // namespace velmor
