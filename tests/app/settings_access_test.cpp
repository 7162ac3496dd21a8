// The operator settings by name on a started copy (GET and PATCH /api/v1/settings without the
// server): the values the file would store with their texts, and changes made as the windows
// make them, whole or not at all.
#include "app/settings_access.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/app_fixture.h"

namespace velmor {
namespace {

using Json = nlohmann::json;
using testing::ControllerTest;

class SettingsByName : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        Start();
        access_ = std::make_unique<SettingsAccess>(*controller_, commands());
    }
    void TearDown() override {
        access_.reset();
        ControllerTest::TearDown();
    }
    SettingsReply Patch(const char* document) { return access_->Patch(Json::parse(document)); }
    Json Values() { return access_->Get()["values"]; }
    // A source with `channels` channels of audio has been seen.
    void AudioSeen(int channels) { record().audioChannelCount = channels; }

    std::unique_ptr<SettingsAccess> access_;
};

TEST_F(SettingsByName, TheDocumentHoldsWhatTheFileWouldStoreWithTextsAndLimits) {
    record().rotationMode = 1;
    record().procAmp.settings.gain = 20;
    record().procAmp.Refresh();
    AudioSeen(2);
    const Json doc = access_->Get();
    EXPECT_EQ(doc["values"].size(), 23u);
    EXPECT_EQ(doc["values"]["rotation"], 1);
    EXPECT_EQ(doc["texts"]["rotation"], "Rotate 90");
    EXPECT_EQ(doc["values"]["procAmp.gain"], 20);
    EXPECT_EQ(doc["texts"]["procAmp.gain"], "135.2%");
    EXPECT_EQ(doc["texts"]["procAmp.blackLevel"], "+0");
    EXPECT_EQ(doc["values"]["monitorLevel"], 2);
    EXPECT_EQ(doc["texts"]["monitorLevel"], "Full");
    EXPECT_EQ(doc["values"]["preview"], 1);
    EXPECT_EQ(doc["values"]["audio.channelMap"].size(), 32u);
    EXPECT_EQ(doc["values"]["audio.channelMap"][1], 1);
    EXPECT_EQ(doc["values"]["timecodeBurnIn"], 0);
    EXPECT_EQ(doc["texts"]["timecodeBurnIn"], "Off");
    EXPECT_EQ(doc["limits"]["procAmp.blackLevel"], (Json{{"min", 0}, {"max", 255}}));
    EXPECT_EQ(doc["limits"]["audio.channelMap"], (Json{{"channels", 2}}));
}

TEST_F(SettingsByName, AChangeActsAsTheWindowsDoAndShowsAtOnce) {
    const SettingsReply reply = Patch(R"({"rotation": 3, "deinterlace": 1, "procAmp.gain": -50,
        "procAmp.applyToOutput": 1, "monitorLevel": 0, "audio.delayFrames": 4,
        "audio.delayOn": true, "timecodeBurnIn": 1, "preview": 0})");
    ASSERT_EQ(reply.status, 200) << reply.field << ": " << reply.message;
    RelayRecord& r = record();
    EXPECT_EQ(r.rotationMode, 3);
    EXPECT_EQ(model().button(WindowButton::Rotate).caption, "Rotate -90");
    EXPECT_EQ(r.deinterlaceMode, 1);
    EXPECT_EQ(model().button(WindowButton::Deinterlace).caption, "Blend fields");
    // The proc amp's tables are the design's for gain -50, and the button shows them applied.
    EXPECT_EQ(r.procAmp.settings.gain, -50);
    EXPECT_EQ(r.procAmp.active, 1);
    EXPECT_EQ(r.procAmp.tables().lumaTable[16], 16);
    EXPECT_EQ(r.procAmp.tables().lumaTable[100], 198);
    EXPECT_EQ(r.procAmp.tables().lumaTable[255], 255);
    EXPECT_EQ(model().button(WindowButton::ProcAmp).colour, 1);
    EXPECT_EQ(r.monitorLevel, 0.0f);
    EXPECT_EQ(model().caption(Caption::Level), "Mute");
    EXPECT_EQ(r.audioDelayFrames, 4);
    EXPECT_EQ(r.settingsRecord.delayFramesSetting, 4);
    EXPECT_EQ(model().caption(Caption::DelayCounter), "4");
    EXPECT_EQ(r.audioDelayOn, 1);
    EXPECT_EQ(r.audioSettings.Latest().delayFrames, 4);
    EXPECT_EQ(r.timecodeBurnIn, 1);
    EXPECT_EQ(r.previewOn, 0);
    EXPECT_EQ(side_.settingsShown, 1);
    EXPECT_EQ(Values()["procAmp.gain"], -50);
    EXPECT_EQ(access_->Get()["texts"]["procAmp.gain"], "217.2%");
    // The same values again change nothing and are no error.
    EXPECT_EQ(Patch(R"({"rotation": 3, "timecodeBurnIn": 1})").status, 200);
    EXPECT_EQ(r.timecodeBurnIn, 1);
}

TEST_F(SettingsByName, AnyBadFieldRefusesTheWholeChange) {
    AudioSeen(2);
    struct Case {
        const char* document;
        int status;
        const char* field;
    };
    const Case cases[] = {
        {R"({"rotation": 2, "rotatoin": 1})", 400, "rotatoin"},
        {R"({"rotation": 2, "procAmp.gain": 60})", 400, "procAmp.gain"},
        {R"({"procAmp.gain": 10, "audio.channelMap": [3, 0]})", 400, "audio.channelMap"},
        {R"({"rotation": 2, "preview": "no"})", 400, "preview"},
        {R"({"rotation": 2, "overlay": 1})", 409, "overlay"},
        {R"({"rotation": 2, "ppmOverlay": 1})", 409, "ppmOverlay"},
    };
    const Json before = access_->Get();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        const SettingsReply reply = Patch(c.document);
        EXPECT_EQ(reply.status, c.status) << reply.message;
        EXPECT_EQ(reply.field, c.field);
        EXPECT_FALSE(reply.message.empty());
        EXPECT_EQ(access_->Get(), before) << "a refused change changed something";
    }
    EXPECT_EQ(side_.settingsShown, 0);
}

TEST_F(SettingsByName, TheRelaysStateRefusesWhatItsWindowsWouldNot) {
    RelayRecord& r = record();
    // No audio seen: the Audio Map window does not open.
    SettingsReply reply = Patch(R"({"audio.monoMix": 1})");
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(reply.field, "audio.monoMix");
    EXPECT_EQ(reply.message, "the audio map needs a source with audio");
    AudioSeen(2);
    // The Audio Map window open on the relay's screen owns the map meanwhile.
    r.mapDialogOpen = 1;
    EXPECT_EQ(Patch(R"({"audio.channelMap": [1, 0]})").status, 409);
    r.mapDialogOpen = 0;
    // The delay and the map wait while the frame rates differ.
    r.frameRateMismatch = 1;
    EXPECT_EQ(Patch(R"({"audio.delayFrames": 2})").status, 409);
    EXPECT_EQ(Patch(R"({"audio.gainStep": 32782})").status, 409);
    r.frameRateMismatch = 0;
    EXPECT_EQ(r.audioDelayFrames, 0);
    EXPECT_EQ(r.mapActive, 0);
    // The overlay switches on once a picture is loaded; the PPM overlay once a meter output is.
    r.overlaySetup.imageLoaded = 1;
    EXPECT_EQ(Patch(R"({"overlay": true})").status, 200);
    EXPECT_EQ(r.overlaySetup.overlayOn, 1);
    EXPECT_EQ(model().button(WindowButton::Overlay).colour, 1);
    r.meterSettings.meterOnMainOutput = 1;
    EXPECT_EQ(Patch(R"({"ppmOverlay": 1})").status, 200);
    EXPECT_EQ(r.ppmOverlayOn, 1);
    EXPECT_EQ(model().button(WindowButton::PpmOverlay).colour, 1);
}

TEST_F(SettingsByName, LinkedLevelShiftsMoveTogether) {
    const ProcAmpSettings& s = record().procAmp.settings;
    ASSERT_EQ(Patch(R"({"procAmp.uvLinking": 1, "procAmp.uLevelShift": 30})").status, 200);
    EXPECT_EQ(s.vLevelShift, 30);
    ASSERT_EQ(Patch(R"({"procAmp.vLevelShift": 44})").status, 200);
    EXPECT_EQ(s.uLevelShift, 44);
    // Choosing Reversed takes V from U at once.
    ASSERT_EQ(Patch(R"({"procAmp.uvLinking": 2})").status, 200);
    EXPECT_EQ(s.vLevelShift, 56);
    const SettingsReply unlinked =
        Patch(R"({"procAmp.uLevelShift": 10, "procAmp.vLevelShift": 10})");
    EXPECT_EQ(unlinked.status, 400);
    EXPECT_EQ(unlinked.field, "procAmp.vLevelShift");
    EXPECT_NE(unlinked.message.find("90 goes with it"), std::string::npos) << unlinked.message;
    ASSERT_EQ(Patch(R"({"procAmp.uvLinking": 0, "procAmp.uLevelShift": 10})").status, 200);
    EXPECT_EQ(s.uLevelShift, 10);
    EXPECT_EQ(s.vLevelShift, 56);
}

TEST_F(SettingsByName, TheAudioMapIsTheAudioMapWindowsUse) {
    RelayRecord& r = record();
    AudioSeen(2);
    ASSERT_EQ(Patch(R"({"audio.channelMap": [1, 0]})").status, 200);
    EXPECT_EQ(r.channelMap[0], 1);
    EXPECT_EQ(r.channelMap[1], 0);
    EXPECT_EQ(r.settingsRecord.channelMapSetting[0], 1);
    EXPECT_EQ(r.mapActive, 2);
    EXPECT_EQ(r.settingsRecord.mapChannelsSetting, 2);
    EXPECT_EQ(model().button(WindowButton::AudioMap).colour, 1);
    EXPECT_EQ(r.audioSettings.Latest().channelMap[0], 1);

    // A gain step alone keeps the routing in force; its gain is the window's.
    ASSERT_EQ(Patch(R"({"audio.gainStep": 32782})").status, 200);  // -6 dB
    EXPECT_EQ(r.channelMap[0], 1);
    EXPECT_NEAR(r.audioGain, std::pow(10.0, -6.0 / 20), 1e-6);
    EXPECT_EQ(r.settingsRecord.gainItemSetting, 32782);
    EXPECT_EQ(access_->Get()["texts"]["audio.gainStep"], "-6 dB");
    // Straight routing with a gain step chosen is still a map in force; "Mute" stays muted when
    // another choice changes.
    ASSERT_EQ(Patch(R"({"audio.channelMap": [0, 2]})").status, 200);
    ASSERT_EQ(Patch(R"({"audio.monoMix": 1})").status, 200);
    EXPECT_EQ(r.channelMap[1], 2);
    EXPECT_EQ(r.monoMix, 1);
    EXPECT_EQ(r.mapActive, 2);
    // Once a step is chosen, "none" cannot be chosen again.
    EXPECT_EQ(Patch(R"({"audio.gainStep": 0})").status, 400);
}

}  // namespace
}  // namespace velmor
