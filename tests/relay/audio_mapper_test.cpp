// The audio map window's model: its layout for N channels, the radio commands, the gain steps and
// "Reset".
#include "relay/audio_mapper.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmor {
namespace {

TEST(AudioMapLayout, SizeAndPlacesFollowTheChannelCount) {
    struct Case {
        int channels, width, height;
        bool below;
    };
    for (const Case& c : {Case{1, 220, 26 * 4 + 67, false}, Case{2, 220, 197, false},
                          Case{6, 300, 26 * 9 + 67, false}, Case{8, 360, 26 * 12 + 67, true},
                          Case{32, 1080, 26 * 36 + 67, true}}) {
        SCOPED_TRACE(c.channels);
        const AudioMapLayout l = LayoutAudioMap(c.channels);
        EXPECT_EQ(l.width, c.width);
        EXPECT_EQ(l.height, c.height);
        EXPECT_EQ(l.headersBelow, c.below);
        // Output 1 is the bottom row; every row sits inside the window, above the gain button.
        EXPECT_EQ(l.RowTop(0), 26 * c.channels + 20);
        EXPECT_EQ(l.RowTop(c.channels - 1), 46);
        EXPECT_LT(l.Radio(0, c.channels).y2, l.gainButton.y);
        EXPECT_LE(l.RowFrame(0).x2, l.width);
        EXPECT_LE(l.cancel.x + 54, l.width);
    }
    const AudioMapLayout two = LayoutAudioMap(2);
    EXPECT_EQ(two.Radio(0, 0), (MapRect{20, 72, 40, 92}));
    EXPECT_EQ(two.Radio(1, 2), (MapRect{80, 46, 100, 66}));
    EXPECT_EQ(two.RowFrame(1), (MapRect{13, 45, 150, 67}));
    EXPECT_EQ(two.RowLabel(0), (MapRect{105, 72, 147, 91}));
    EXPECT_EQ(two.ColumnHeader(2, false), (MapRect{76, 25, 146, 45}));
    EXPECT_EQ(two.gainButton, (MapPoint{20, 98}));
    EXPECT_EQ(two.gainText, (MapPoint{70, 102}));
    EXPECT_EQ(two.use, (MapPoint{79, 125}));
    EXPECT_EQ(two.cancel, (MapPoint{137, 125}));
    EXPECT_EQ(two.monoMix, (MapPoint{87, 5}));
    EXPECT_EQ(LayoutAudioMap(8).ColumnHeader(0, true), (MapRect{16, 254, 36, 274}));
}

TEST(NDIAudioMapper, RadioCommandsNameARowAndAColumn) {
    NDIAudioMapper m;
    m.mapperChannels = 2;
    EXPECT_EQ(m.RadioCommand(0, 0), 1100);
    EXPECT_EQ(m.RadioCommand(0, 2), 1102);
    EXPECT_EQ(m.RadioCommand(1, 0), 1103);
    EXPECT_EQ(m.RadioCommand(1, 2), 1105);
    EXPECT_TRUE(m.RadioClicked(1105));  // output 2, "Mute"
    EXPECT_EQ(m.mapperMap[1], 2);
    EXPECT_TRUE(m.RadioClicked(1101));
    EXPECT_EQ(m.mapperMap[0], 1);
    for (int outside : {1099, 1106, 2189})
        EXPECT_FALSE(m.RadioClicked(outside)) << outside;
    EXPECT_EQ(m.mapperMap[2], 2);
    m.mapperChannels = 0;
    EXPECT_FALSE(m.RadioClicked(1100)) << "no grid without channels";
}

TEST(NDIAudioMapper, GainStepsAndTheirTexts) {
    NDIAudioMapper m;
    EXPECT_EQ(m.GainText(), "+0 dB");
    EXPECT_EQ(NDIAudioMapper::GainMenuText(32771), "\t+20 dB");
    EXPECT_EQ(NDIAudioMapper::GainMenuText(32780), "\t+0 dB");
    EXPECT_EQ(NDIAudioMapper::GainMenuText(32789), "\t-20 dB");
    EXPECT_EQ(NDIAudioMapper::GainMenuText(32790), "");
    struct Case {
        int command;
        const char* text;
        double gain;
    };
    for (const Case& c : {Case{32772 + 10, "-6 dB", 0.501187}, Case{32772 + 8, "+0 dB", 1.0},
                          Case{32771, "+20 dB", 10.0}, Case{32779, "+4 dB", 1.584893}}) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(m.ChooseGain(c.command));
        EXPECT_EQ(m.mapperGainItem, c.command);
        EXPECT_EQ(m.GainText(), c.text);
        EXPECT_NEAR(m.mapperGain, c.gain, 1e-6);
    }
    EXPECT_FALSE(m.ChooseGain(0)) << "the menu closed without a choice";
    EXPECT_FALSE(m.ChooseGain(32790));
    EXPECT_EQ(m.mapperGainItem, 32779);

    // A stored step gives its gain again when the window is set up; a stored number that is no
    // step changes nothing.
    NDIAudioMapper stored;
    stored.mapperGainItem = 32782;
    EXPECT_TRUE(stored.ApplyGainItem());
    EXPECT_NEAR(stored.mapperGain, std::pow(10.0, -6.0 / 20.0), 1e-6);
    stored.mapperGainItem = 12345;
    stored.mapperGain = 0.25;
    EXPECT_FALSE(stored.ApplyGainItem());
    EXPECT_EQ(stored.GainText(), "+0 dB");
    EXPECT_EQ(stored.mapperGain, 0.25);
}

TEST(NDIAudioMapper, ResetRestoresTheDiagonalAndKeepsTheGain) {
    NDIAudioMapper m;
    m.mapperChannels = 4;
    m.RadioClicked(m.RadioCommand(0, 3));
    m.RadioClicked(m.RadioCommand(3, 4));
    m.mapperMonoMix = 1;
    m.ChooseGain(32782);
    m.Reset();
    for (int i = 0; i < 33; ++i)
        EXPECT_EQ(m.mapperMap[i], i);
    EXPECT_EQ(m.mapperMonoMix, 0);
    EXPECT_EQ(m.mapperGainItem, 32782);
    EXPECT_NEAR(m.mapperGain, 0.501187, 1e-6);
}

}  // namespace
}  // namespace velmor
