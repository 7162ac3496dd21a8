// What the main window makes of the states the engine and the apply step report: the captions,
// colour numbers and lamps, and the model changes the bridge makes of them.
#include "app/main_window_presenter.h"

#include <gtest/gtest.h>

#include "app/model_bridge.h"
#include "platform/platform_test_support.h"

namespace velmor {
namespace {

TEST(Presenter, Captions) {
    struct Case {
        std::string got, want;
    } cases[] = {
        // Fields show at twice the frame rate.
        {VideoFormatCaption({1920, 1080, 30000.0f / 1001.0f, false, true}),
         "1920 x 1080, 59.94i YUV"},
        {VideoFormatCaption({64, 36, 30000.0f / 1001.0f, true, true}), "64 x 36, 29.97p YUV"},
        {VideoFormatCaption({320, 180, 25.0f, false, true}), "320 x 180, 50.00i YUV"},
        {VideoFormatCaption({1280, 720, 50.0f, true, false}), "1280 x 720, 50.00p RGBA"},
        {AudioFormatCaption(2, 48000), "2 Ch - 48.0 KHz"},
        {AudioFormatCaption(16, 44100), "16 Ch - 44.1 KHz"},
        {SourceStateCaption(SourceState::Closing), "Closing current NDI connection"},
        {SourceStateCaption(SourceState::ConnectFailed), "Failed to connect - try again"},
        {SourceStateCaption(SourceState::Disconnecting), "Disconnecting"},
        {SourceStateCaption(SourceState::Ended), "No NDI source connected"},
        {SourceConnectedCaption("127.0.0.1:5961", "HOST (Camera 1)"),
         "127.0.0.1:5961 - HOST (Camera 1)"},
        {FramesSkippedCaption(MediaKind::Video, "picture size 8192 x 8192"),
         "Video frames skipped: picture size 8192 x 8192"},
        {FramesSkippedCaption(MediaKind::Audio, "100000 samples"),
         "Audio frames skipped: 100000 samples"},
        {MediaEndedCaption(MediaKind::Video), "No video"},
        {MediaEndedCaption(MediaKind::Audio), "No audio"},
        {EbuCaption(true), "EBU o/p"},
        {EbuCaption(false), "SMPTE o/p"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want);
}

TEST(Presenter, ButtonsAndLamps) {
    struct Case {
        ButtonLook got;
        int colour;
        const char* caption;
    } cases[] = {
        {RotationButton(0), 0, "Rotate 0"},
        {RotationButton(1), 4, "Rotate 90"},
        {RotationButton(2), 2, "Rotate 180"},
        {RotationButton(3), 4, "Rotate -90"},
        {RotationButton(4), 1, "H-Flip"},
        {RotationButton(5), 1, "V-Flip"},
        {RotationButton(77), 0, "Rotate 0"},
        {DeinterlaceButton(0), 0, "DeInt OFF"},
        {DeinterlaceButton(1), 4, "Blend fields"},
        {DeinterlaceButton(2), 1, "Field 1"},
        {DeinterlaceButton(3), 2, "Field 2"},
        {DeinterlaceButton(-1), 0, "DeInt OFF"},
        {OnOffButton(true), 1, ""},
        {OnOffButton(false), 3, ""},
        {FreezeButton(true), 1, "Restart"},
        {FreezeButton(false), 2, "Freeze"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.got.colour, c.colour) << c.caption;
        EXPECT_EQ(c.got.caption, c.caption);
    }
    EXPECT_EQ(SignalLamp(true, true), Lamp::Magenta);
    EXPECT_EQ(SignalLamp(true, false), Lamp::Red);
    EXPECT_EQ(SignalLamp(false, true), Lamp::Blue);
    EXPECT_EQ(SignalLamp(false, false), Lamp::Blue);
}

class FakeActions : public IWindowActions {
public:
    int blinking = 0;
    void StartFreezeBlink() override { ++blinking; }
    void StopFreezeBlink() override { --blinking; }
    void StartWatchdog() override {}
    void StopWatchdog() override {}
    void StartGrabBlink() override {}
};

// The bridge on the window thread: each state becomes the model's captions, buttons and lamps.
TEST(ModelBridge, StatesBecomeTheWindowsLook) {
    testing::EnsureQtApp();
    RelayRecord record;
    MainWindowModel model;
    WindowCalls calls;
    FakeActions actions;
    ModelBridge bridge(record, model, calls, actions);

    bridge.ShowSourceConnected("127.0.0.1:5961", "HOST (Camera 1)");
    EXPECT_EQ(model.caption(Caption::Source), "127.0.0.1:5961 - HOST (Camera 1)");
    EXPECT_EQ(record.scratchText, "127.0.0.1:5961 - HOST (Camera 1)");
    bridge.ShowSignal(true, false);
    EXPECT_EQ(model.lamp(LampId::Signal), Lamp::Red);
    bridge.ShowGrabStarted();
    EXPECT_EQ(model.lamp(LampId::Signal), Lamp::Amber);

    bridge.ShowFreeze(true);
    EXPECT_EQ(model.button(WindowButton::Freeze), (ButtonView{1, "Restart", true}));
    EXPECT_EQ(model.lamp(LampId::Freeze), Lamp::Red);
    EXPECT_EQ(record.freezeBlinkPhase, 1);
    EXPECT_EQ(actions.blinking, 1);
    bridge.ShowFreeze(false);
    EXPECT_EQ(model.button(WindowButton::Freeze), (ButtonView{2, "Freeze", true}));
    EXPECT_EQ(model.lamp(LampId::Freeze), Lamp::Grey);
    EXPECT_EQ(actions.blinking, 0);

    bridge.ShowDeinterlaceMode(2);
    EXPECT_EQ(model.button(WindowButton::Deinterlace), (ButtonView{1, "Field 1", true}));
    bridge.ShowAudioDelayOn(false);
    EXPECT_EQ(model.button(WindowButton::AudioDelay).colour, 3);
    bridge.ShowAudioDelayFrames(7);
    EXPECT_EQ(model.caption(Caption::DelayCounter), "7");

    bridge.ShowMediaEnded(MediaKind::Video);
    EXPECT_EQ(model.caption(Caption::Video), "No video");
    EXPECT_EQ(model.caption(Caption::Source), "No NDI source connected");
    EXPECT_EQ(model.lamp(LampId::Signal), Lamp::Grey);
    bridge.ShowMediaEnded(MediaKind::Audio);
    EXPECT_EQ(model.caption(Caption::Audio), "No audio");
}

}  // namespace
}  // namespace velmor
