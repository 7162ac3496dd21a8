// The main window's commands on a started copy, without any widget: what each control does to
// the relay record and what the window then shows.
#include "app/main_commands.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"
#include "audio/meter_config.h"
#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

using testing::ControllerTest;
using testing::ShownMessage;

class Commands : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        Start();
    }
    const ButtonView& Button(WindowButton b) { return model().button(b); }
    // As an output set-up for frames of `fourCC` leaves it.
    void SetOutputFourCC(NDIlib_FourCC_video_type_e fourCC) {
        OutputFormat f = record().outputFormat.Load();
        f.fourCC = static_cast<uint32_t>(fourCC);
        record().outputFormat.Store(f);
    }
};

TEST_F(Commands, SteppingButtonsStepByWhereTheyAreClicked) {
    struct Case {
        bool rotate;
        int from, x, to, colour;
        const char* caption;
    };
    const Case cases[] = {
        {true, 0, 30, 5, 1, "V-Flip"},      {true, 5, 31, 0, 0, "Rotate 0"},
        {true, 1, 200, 2, 2, "Rotate 180"}, {true, 3, 0, 2, 2, "Rotate 180"},
        {false, 0, 10, 3, 2, "Field 2"},    {false, 3, 31, 0, 0, "DeInt OFF"},
        {false, 1, 90, 2, 1, "Field 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.caption) + " from " + std::to_string(c.from));
        if (c.rotate) {
            record().rotationMode = c.from;
            commands().RotateClicked(c.x);
            EXPECT_EQ(record().rotationMode, c.to);
        } else {
            record().deinterlaceMode = c.from;
            commands().DeinterlaceClicked(c.x);
            EXPECT_EQ(record().deinterlaceMode, c.to);
        }
        const ButtonView& b = Button(c.rotate ? WindowButton::Rotate : WindowButton::Deinterlace);
        EXPECT_EQ(b.caption, c.caption);
        EXPECT_EQ(b.colour, c.colour);
    }
}

TEST_F(Commands, AudioDelayCountsFromZeroToFifteenAndWaitsForMatchingRates) {
    RelayRecord& r = record();
    r.audioDelayFrames = 14;
    commands().DelayPlus();
    commands().DelayPlus();
    EXPECT_EQ(r.audioDelayFrames, 15);
    EXPECT_EQ(r.settingsRecord.delayFramesSetting, 15);
    EXPECT_EQ(model().caption(Caption::DelayCounter), "15");
    r.audioDelayFrames = 1;
    commands().DelayMinus();
    commands().DelayMinus();
    EXPECT_EQ(r.audioDelayFrames, 0);
    EXPECT_EQ(model().caption(Caption::DelayCounter), "0");

    commands().ToggleAudioDelay();
    EXPECT_EQ(r.audioDelayOn, 1);
    EXPECT_EQ(Button(WindowButton::AudioDelay).colour, 1);
    // While the source's rate differs from the output's, the delay controls do nothing.
    r.frameRateMismatch = 1;
    commands().DelayPlus();
    commands().ToggleAudioDelay();
    EXPECT_EQ(r.audioDelayFrames, 0);
    EXPECT_EQ(r.audioDelayOn, 1);
}

TEST_F(Commands, FreezeNeedsVideoAndTheSecondClickReleasesIt) {
    RelayRecord& r = record();
    commands().Freeze();
    EXPECT_TRUE(r.freezeState.live()) << "no connection: nothing happens";
    EXPECT_EQ(Button(WindowButton::Freeze).caption, "Freeze");
    EXPECT_EQ(Button(WindowButton::Freeze).colour, 2);

    r.videoThreadRun = 1;
    r.grabSetup.grabOnFreeze = 1;
    commands().Freeze();
    EXPECT_EQ(r.freezeState.state(), FreezeState::Requested);
    EXPECT_EQ(r.grabRequest, 1);
    EXPECT_EQ(Button(WindowButton::Freeze).caption, "Restart");
    EXPECT_EQ(Button(WindowButton::Freeze).colour, 1);
    EXPECT_EQ(model().lamp(LampId::Freeze), Lamp::Red);
    // Timer 4 blinks the lamp red and green.
    ASSERT_TRUE(testing::WaitFor([&] { return model().lamp(LampId::Freeze) == Lamp::Green; }));

    commands().Freeze();
    EXPECT_TRUE(r.freezeState.live());
    EXPECT_EQ(Button(WindowButton::Freeze).caption, "Freeze");
    EXPECT_EQ(Button(WindowButton::Freeze).colour, 2);
    EXPECT_EQ(model().lamp(LampId::Freeze), Lamp::Grey);
    r.videoThreadRun = 0;
}

TEST_F(Commands, GroupsAndExitRefuseWhileConnected) {
    RelayRecord& r = record();
    r.videoThreadAlive = 1;
    r.videoThreadRun = 1;
    const ShownMessage groups{"You must disconnect the NDI Source first", "NDI Group setup",
                              MessageButtons::OkCancel};
    const ShownMessage quit{"You must disconnect the NDI Source first", "Quit NDI Velmor",
                            MessageButtons::OkCancel};

    side_.answer = MessageAnswer::Cancel;
    commands().Groups();
    commands().Exit();
    EXPECT_EQ(side_.shown, (std::vector<ShownMessage>{groups, quit}));
    EXPECT_EQ(side_.groupRuns, 0);
    EXPECT_EQ(r.videoThreadRun, 1) << "Cancel changes nothing";

    side_.answer = MessageAnswer::Ok;
    commands().Groups();
    EXPECT_EQ(r.videoThreadRun, 0) << "OK disconnects";
    EXPECT_EQ(side_.groupRuns, 0) << "and the group window is not opened";
    r.videoThreadRun = 1;
    commands().Exit();
    EXPECT_EQ(r.videoThreadRun, 0);
    EXPECT_EQ(quitCode_, -1) << "OK disconnects but does not exit";

    r.videoThreadAlive = 0;
    side_.shown.clear();
    side_.groupAnswer = true;
    commands().Groups();
    EXPECT_EQ(side_.groupRuns, 1);
    side_.answer = MessageAnswer::Cancel;
    commands().Exit();
    EXPECT_EQ(quitCode_, -1);
    side_.answer = MessageAnswer::Ok;
    commands().Exit();
    const ShownMessage confirm{"OK to exit?", "Quit NDI Velmor", MessageButtons::OkCancel};
    EXPECT_EQ(side_.shown, (std::vector<ShownMessage>{confirm, confirm}));
    EXPECT_EQ(quitCode_, 0);
}

TEST_F(Commands, TheSpeakerRowChoosesTheMonitorLevel) {
    struct Case {
        int y;
        float level;
        int stored;
        const char* caption;
    };
    const Case cases[] = {{0, 1.0f, 2, "Full"},  {8, 1.0f, 2, "Full"},  {9, 0.25f, 1, "Dim"},
                          {12, 0.25f, 1, "Dim"}, {16, 0.25f, 1, "Dim"}, {17, 0.0f, 0, "Mute"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.y);
        commands().MonitorLevelClicked(c.y);
        EXPECT_FLOAT_EQ(record().monitorLevel, c.level);
        EXPECT_EQ(record().settingsRecord.monitorLevelSetting, c.stored);
        EXPECT_EQ(model().monitorLevel(), c.stored);
        EXPECT_EQ(model().caption(Caption::Level), c.caption);
    }
}

TEST_F(Commands, TimeMessagesAndPreviewClicks) {
    ModelBridge& bridge = controller_->bridge();
    bridge.ShowTime(3600 + 2 * 60 + 5);
    EXPECT_EQ(model().caption(Caption::TimeText), "01:02:05:--");
    EXPECT_TRUE(model().flag(Flag::TimeTextShown));
    bridge.ShowTime(25 * 3600);
    EXPECT_EQ(model().caption(Caption::TimeText), "01:00:00:--") << "hours wrap at 24";
    bridge.ShowTime(0);
    EXPECT_FALSE(model().flag(Flag::TimeTextShown));

    // The lower part of the preview burns the timecode in; the time text then hides.
    commands().PreviewClicked(81);
    EXPECT_EQ(record().timecodeBurnIn, 1);
    bridge.ShowTime(5);
    EXPECT_FALSE(model().flag(Flag::TimeTextShown));
    commands().PreviewClicked(200);
    EXPECT_EQ(record().timecodeBurnIn, 0);
    EXPECT_TRUE(model().flag(Flag::TimeTextShown)) << "shown again: the old burn-in value";
    // The upper part switches the preview.
    commands().PreviewClicked(80);
    EXPECT_EQ(record().previewOn, 0);
    commands().PreviewClicked(0);
    EXPECT_EQ(record().previewOn, 1);
}

// The no-frame watchdog ends the connection as the "Disconnect" button does: the picker no longer
// shows the lost source and the meter overlay's button goes dark with the overlay.
TEST_F(Commands, WatchdogDisconnectsLikeTheButton) {
    RelayRecord& r = record();
    r.meterSettings.meterOnMainOutput = 1;
    commands().PpmOverlay();
    ASSERT_EQ(Button(WindowButton::PpmOverlay).colour, 1);
    model().SetPicker({"HOST (Camera 1)"}, 0);  // the source the connection was made to
    r.videoThreadRun = 1;                       // as while a connection runs

    r.frameTick = 3;
    controller_->WatchdogTick();
    EXPECT_EQ(r.videoThreadRun, 1) << "frames came during the period";
    EXPECT_EQ(r.ppmOverlayOn, 1);

    controller_->WatchdogTick();
    EXPECT_EQ(r.videoThreadRun, 0);
    EXPECT_EQ(r.ppmOverlayOn, 0);
    EXPECT_EQ(Button(WindowButton::PpmOverlay).colour, 0);
    EXPECT_EQ(model().pickerCurrent(), 0);
    EXPECT_EQ(model().pickerItems().front(), "No source selected");
}

TEST_F(Commands, OutputAndMeterButtonsFollowTheirGuards) {
    RelayRecord& r = record();
    r.videoThreadRun = 1;
    commands().ToggleOutput();
    EXPECT_EQ(r.airSendOutput, 0) << "ignored while connected";
    r.videoThreadRun = 0;
    commands().ToggleOutput();
    EXPECT_EQ(r.airSendOutput, 1);
    EXPECT_EQ(Button(WindowButton::Output).caption, "AirSend");
    EXPECT_EQ(Button(WindowButton::Output).colour, 2);
    commands().ToggleOutput();
    EXPECT_EQ(Button(WindowButton::Output).caption, "NDI®");
    EXPECT_EQ(Button(WindowButton::Output).colour, 3);

    // Without a meter output configured the PPM overlay stays off.
    commands().PpmOverlay();
    EXPECT_EQ(r.ppmOverlayOn, 0);
    EXPECT_EQ(Button(WindowButton::PpmOverlay).colour, 0);
    r.meterSettings.meterOnMainOutput = 1;
    commands().PpmOverlay();
    EXPECT_EQ(r.ppmOverlayOn, 1);
    EXPECT_TRUE(r.ppmMeter->overlayEnabled());
    EXPECT_EQ(Button(WindowButton::PpmOverlay).colour, 1);
    commands().PpmOverlay();
    EXPECT_EQ(Button(WindowButton::PpmOverlay).colour, 0);

    commands().ToggleEbu();
    EXPECT_EQ(model().caption(Caption::Ebu), r.ebuMode ? "EBU o/p" : "SMPTE o/p");
}

// "Is the source BGRA" comes from the output set-up, never from the frame the video thread owns.
TEST_F(Commands, ProcAmpKnowsAlphaFromTheOutputSetUp) {
    RelayRecord& r = record();
    SetOutputFourCC(NDIlib_FourCC_video_type_BGRA);
    r.procAmp.applyToOutput = 1;
    commands().ProcAmp();
    EXPECT_EQ(r.procAmp.alphaMode, 1);
    EXPECT_EQ(r.procAmp.monitorPreview, 0);
    EXPECT_EQ(Button(WindowButton::ProcAmp).colour, 1);
    SetOutputFourCC(NDIlib_FourCC_video_type_UYVY);
    r.procAmp.applyToOutput = 0;
    commands().ProcAmp();
    EXPECT_EQ(r.procAmp.alphaMode, 0);
    EXPECT_EQ(Button(WindowButton::ProcAmp).colour, 3);
}

TEST_F(Commands, GroupsCancelKeepsTheEditsAndOnlyOkRestartsTheFinder) {
    RelayRecord& r = record();
    GroupSetup& g = r.groupSetup;
    g.detectPublicCheck = 1;
    g.BuildReceiveGroups();
    commands().ExcludeLocal(true);  // the finder now looks in "Public"
    EXPECT_EQ(r.picker.finderGroups, "Public");
    side_.groupEdits = [&] {
        g.detectPublicCheck = 0;  // "Public" unchecked: the window rebuilds the text at once
        g.BuildReceiveGroups();
    };
    side_.groupAnswer = false;
    commands().Groups();
    EXPECT_EQ(r.settingsRecord.groupSettings.detectPublic, 0);
    EXPECT_STREQ(g.receiveGroups, "");
    EXPECT_EQ(r.picker.finderGroups, "Public") << "Cancel restarts nothing";
    side_.groupEdits = [&] {
        g.detectExtraText = "Studio A";
        g.BuildReceiveGroups();
    };
    side_.groupAnswer = true;
    commands().Groups();
    EXPECT_EQ(r.picker.finderGroups, "Studio A");
    EXPECT_EQ(side_.groupRuns, 2);
}

TEST_F(Commands, ProcAmpSetsTheAlphaModeAndShowsWhetherItIsApplied) {
    RelayRecord& r = record();
    SetOutputFourCC(NDIlib_FourCC_video_type_BGRA);
    int alphaSeen = -1;
    side_.procAmp = [&] {
        alphaSeen = r.procAmp.alphaMode;
        r.procAmp.applyToOutput = 1;
        r.procAmp.monitorPreview = 1;
    };
    commands().ProcAmp();
    EXPECT_EQ(alphaSeen, 1);
    EXPECT_EQ(r.procAmp.monitorPreview, 0) << "the video thread feeds the main preview again";
    EXPECT_EQ(Button(WindowButton::ProcAmp).colour, 1);
    SetOutputFourCC(NDIlib_FourCC_video_type_UYVY);
    side_.procAmp = [&] {
        alphaSeen = r.procAmp.alphaMode;
        r.procAmp.applyToOutput = 0;
    };
    commands().ProcAmp();
    EXPECT_EQ(alphaSeen, 0);
    EXPECT_EQ(Button(WindowButton::ProcAmp).colour, 3);
}

TEST_F(Commands, ClosingPpmConfigHandsModeAndLayoutToTheMeter) {
    RelayRecord& r = record();
    PpmMeter& meter = *r.ppmMeter;
    r.meterSettings.meterOnMainOutput = 1;
    commands().PpmOverlay();
    ASSERT_EQ(r.ppmOverlayOn, 1);
    r.meterLink.meterChangeFlags = 0;
    side_.meterConfig = [&] {
        MeterConfig config(r.meterSettings, r.meterLink);
        config.ChooseMode(1);
        config.ChooseLayout(1);
        config.SetOnMainOutput(false);  // both outputs off while the overlay is on
    };
    commands().PpmOverlayRightClick();
    EXPECT_EQ(r.meterLink.meterChangeFlags & kMeterChangeLayout, 0)
        << "the audio path no longer sees bit 2";
    EXPECT_NE(r.meterLink.meterChangeFlags & kMeterChangePicture, 0) << "placed again";
    EXPECT_EQ(r.ppmOverlayOn, 0) << "neither output is on: the overlay goes off";
    EXPECT_EQ(Button(WindowButton::PpmOverlay).colour, 0);
    EXPECT_FALSE(meter.overlayEnabled());

    // The separate output alone keeps the meter pictures built, in the layout chosen.
    side_.meterConfig = [&] { MeterConfig(r.meterSettings, r.meterLink).SetSeparateOutput(true); };
    commands().PpmOverlayRightClick();
    EXPECT_TRUE(meter.overlayEnabled());
    EXPECT_EQ(r.ppmOverlayOn, 0);
    meter.MeterTick(MeterTimer::OverlayBars, r.meterSettings, 1920, 1080);
    EXPECT_EQ(meter.pictures().Acquire()->layout, 1);
}

TEST_F(Commands, AudioMapOpensOnlyWithChannelsAndAppliesOnOk) {
    RelayRecord& r = record();
    int runs = 0;
    side_.audioMap = [&] {
        ++runs;
        r.audioMapper.mapperMap[0] = 1;  // swap the first two channels
        r.audioMapper.mapperMap[1] = 0;
        return true;
    };
    commands().AudioMap();
    EXPECT_EQ(runs, 0) << "no audio yet";

    r.audioChannelCount = 2;
    r.channelMap[5] = 9;  // not a channel of this source: the window shows its own index
    commands().AudioMap();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(r.audioMapper.mapperMap[5], 5);
    EXPECT_EQ(r.mapActive, 2);
    EXPECT_EQ(r.settingsRecord.mapChannelsSetting, 2);
    EXPECT_EQ(r.channelMap[0], 1);
    EXPECT_EQ(r.settingsRecord.channelMapSetting[1], 0);
    EXPECT_EQ(r.mapDialogOpen, 0);
    EXPECT_EQ(Button(WindowButton::AudioMap).colour, 1);
}

TEST_F(Commands, AudioMapLeavesOutputsBeyondTheSourceAndLaysOutAtMost32) {
    RelayRecord& r = record();
    r.audioMapper.mapperMap[4] = 7;  // the window's own entry for an output this source lacks
    r.channelMap[4] = 4;
    int channels = 0;
    side_.audioMap = [&] {
        channels = r.audioMapper.mapperChannels;
        return false;
    };
    r.audioChannelCount = 2;
    commands().AudioMap();
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(r.audioMapper.mapperMap[4], 7);
    r.audioChannelCount = 40;
    commands().AudioMap();
    EXPECT_EQ(channels, 32);
    EXPECT_EQ(r.mapActive, 0) << "cancelled";
    EXPECT_EQ(Button(WindowButton::AudioMap).colour, 3);
}

TEST_F(Commands, OverlayGivesTheOutputSizeAndShowsWhetherTheOverlayIsOn) {
    RelayRecord& r = record();
    OutputFormat output;
    output.width = 1280;
    output.height = 720;
    r.outputFormat.Store(output);
    int shownWidth = 0, shownHeight = 0;
    side_.overlaySetup = [&](int w, int h) {
        shownWidth = w;
        shownHeight = h;
        r.overlaySetup.dialogOpen = 1;
        r.overlaySetup.overlayOn = 1;
    };
    commands().Overlay();
    EXPECT_EQ(shownWidth, 1280);
    EXPECT_EQ(shownHeight, 720);
    EXPECT_EQ(r.overlaySetup.dialogOpen, 0) << "cleared once the window is closed";
    EXPECT_EQ(Button(WindowButton::Overlay).colour, 1);
    side_.overlaySetup = [&](int, int) { r.overlaySetup.overlayOn = 0; };
    commands().Overlay();
    EXPECT_EQ(Button(WindowButton::Overlay).colour, 3);
}

TEST_F(Commands, MenuCommandsToggleAndCompareOnlyTheUpperBits) {
    RelayRecord& r = record();
    commands().MenuCommand(kMenuSplitKeyFill | 0x7);
    EXPECT_EQ(r.keyFillSplit, 1);
    EXPECT_TRUE(model().flag(Flag::MenuKeyFill));
    commands().MenuCommand(kMenuSplitKeyFill);
    EXPECT_EQ(r.keyFillSplit, 0);
    EXPECT_FALSE(model().flag(Flag::MenuKeyFill));

    commands().MenuCommand(kMenuCommsReturn);
    EXPECT_EQ(model().caption(Caption::Title), "Korvo Velmor acting as Comms Return");
    commands().MenuCommand(kMenuCommsReturn);
    EXPECT_EQ(model().caption(Caption::Title), "Korvo Velmor NDI® Receiver/Transmitter No 1");
    r.videoThreadRun = 1;
    commands().MenuCommand(kMenuCommsReturn);
    EXPECT_EQ(r.commsReturn, 0) << "refused while connected";
    r.videoThreadRun = 0;

    commands().MenuCommand(kMenuAlwaysOnTop);
    EXPECT_TRUE(model().flag(Flag::MenuAlwaysOnTop));
    commands().MenuCommand(kMenuAbout);
    commands().MenuCommand(kMenuGrabSettings);
    commands().MenuCommand(kMenuHelp);
    EXPECT_EQ(side_.aboutRuns, 1);
    EXPECT_EQ(side_.grabSettingsRuns, 1);
    ASSERT_EQ(side_.urls.size(), 1u);
    EXPECT_TRUE(side_.urls[0].ends_with("README.md")) << side_.urls[0];
}

TEST_F(Commands, MenuChoicesAreKeptEvenWhenTheSettingsAreNot) {
    // A file with both choices on and a rotation.
    RelayRecord& r = record();
    r.settingsRecord.loadOnStartupSetting = 1;
    r.settingsRecord.saveOnExitSetting = 1;
    r.rotationMode = 2;
    CaptureSettings(r);
    testing::RecordingNotifier notifier;
    ASSERT_EQ(SaveConfig(r, options_.configPath, notifier), 1);

    // This run turns "Save settings on exit" off and changes the rotation, then exits.
    commands().MenuCommand(kMenuSaveOnExit);
    EXPECT_FALSE(model().flag(Flag::MenuSaveOnExit));
    commands().RotateClicked(100);
    commands().Exit();
    ASSERT_EQ(quitCode_, 0);

    RelayRecord loaded;
    ASSERT_EQ(LoadConfig(loaded, options_.configPath, notifier), 1);
    EXPECT_EQ(loaded.settingsRecord.saveOnExitSetting, 0) << "the choice is remembered";
    EXPECT_EQ(loaded.settingsRecord.loadOnStartupSetting, 1);
    EXPECT_EQ(loaded.settingsRecord.rotationSetting, 2) << "the settings are not saved";
}

TEST_F(Commands, ExtraIpExcludeLocalAndThePickerRestartTheFinder) {
    RelayRecord& r = record();
    const std::string before = r.picker.finderExtraIps;
    commands().ExtraIpChanged(true, {0, 0, 0, 0});
    EXPECT_EQ(r.picker.finderExtraIps, before) << "a blank field changes nothing";
    commands().ExtraIpChanged(false, {192, 0, 2, 7});
    EXPECT_STREQ(r.extraIpText, "192.0.2.7");
    EXPECT_EQ(r.picker.finderExtraIps, "192.0.2.7");
    EXPECT_EQ(model().caption(Caption::ExtraIp), "192.0.2.7");

    commands().ExcludeLocal(false);
    EXPECT_EQ(r.excludeLocal, 0);
    EXPECT_TRUE(r.picker.finderSettings.show_local_sources);
    EXPECT_EQ(r.picker.fastPolling, 1);

    // The header item re-enables the output button; a cancelled open list clears the caption.
    model().EnableButton(WindowButton::Output, false);
    commands().SourceSelected(0);
    EXPECT_TRUE(Button(WindowButton::Output).enabled);
    commands().PickerCancel(true);
    EXPECT_EQ(model().caption(Caption::Source), "");
}

// The list may be refilled while the operator has it open: the choice follows the name.
TEST(ItemForChoice, FollowsTheNameShownToTheOperator) {
    const std::vector<std::string> items = {"Available NDI sources changed", "H (B)", "H (A)"};
    struct Case {
        int item;
        const char* shown;
        int expected;
    };
    const Case cases[] = {
        {2, "H (A)", 2},                  // unchanged
        {1, "H (A)", 2},                  // a source came before it
        {3, "H (B)", 1},                  // the list shrank
        {2, "H (C)", -1},                 // gone
        {0, "NDI sources available", 0},  // the header stays the header
        {5, "", -1},                      // nothing shown, out of range
        {-1, "H (A)", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(ItemForChoice(items, c.item, c.shown), c.expected);
    }
}

}  // namespace
}  // namespace velmor
