// The "PPM Config" window's model: what each control changes in the stored settings, the bit it
// raises, and how the meter's audio side takes the mode and layout up from those bits.
#include "audio/meter_config.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmor {
namespace {

class MeterConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.meterPosV = 90;  // the start-up values
        settings.meterPosH = 10;
    }
    void Block() {
        std::vector<float> plane(16, 0.25f);
        meter.MeterBlock(link, settings, 1, plane.data(), plane.data(), 16);
    }
    MeterSettings settings{};
    MeterLink link;
    MeterConfig config{settings, link};
    PpmMeter meter;
};

TEST_F(MeterConfigTest, PositionsAndTheirLabel) {
    EXPECT_EQ(config.PositionText(), "+10,+10");
    config.SetPositions(0, 100);
    EXPECT_EQ(settings.meterPosV, 0);
    EXPECT_EQ(settings.meterPosH, 100);
    EXPECT_EQ(config.PositionText(), "+100,+100");
    EXPECT_EQ(link.meterChangeFlags, kMeterChangePicture);
    config.SetPositions(100, 0);
    EXPECT_EQ(config.PositionText(), "+0,+0");
    config.SetPositions(150, -3);  // beyond a slider's range: its end
    EXPECT_EQ(config.PositionText(), "+0,+0");
}

TEST_F(MeterConfigTest, ModeAndLayoutAreTakenUpByTheNextAudioBlockAndPicture) {
    meter.SetOverlayEnabled(true);
    Block();
    EXPECT_FLOAT_EQ(meter.ballistics().dbOffset(), 0.0f) << "Normal mode, EBU";
    config.ChooseMode(1);
    EXPECT_EQ(settings.meterMode, 1);
    EXPECT_EQ(link.meterChangeFlags, kMeterChangeMode);
    config.ChooseLayout(1);
    EXPECT_EQ(settings.meterLayout, 1);
    EXPECT_EQ(link.meterChangeFlags, kMeterChangeMode | kMeterChangeLayout);

    Block();
    EXPECT_FLOAT_EQ(meter.ballistics().dbOffset(), 14.0f) << "vMix mode, EBU";
    EXPECT_EQ(link.meterChangeFlags, kMeterChangePicture) << "the meter is placed again";
    meter.MeterTick(MeterTimer::OverlayBars, settings, 1920, 1080);
    EXPECT_EQ(meter.pictures().Acquire()->layout, 1) << "the pictures follow the layout";

    // Choices that are not choices change nothing.
    link.meterChangeFlags = 0;
    config.ChooseMode(2);
    config.ChooseLayout(3);
    config.ChooseLayout(-1);
    EXPECT_EQ(settings.meterMode, 1);
    EXPECT_EQ(settings.meterLayout, 1);
    EXPECT_EQ(link.meterChangeFlags, 0);
}

TEST_F(MeterConfigTest, OutputChoicesAreFlagsWithoutBits) {
    config.SetSeparateOutput(true);
    config.SetOnMainOutput(true);
    EXPECT_EQ(settings.meterSeparateOutput, 1);
    EXPECT_EQ(settings.meterOnMainOutput, 1);
    config.SetSeparateOutput(false);
    EXPECT_EQ(settings.meterSeparateOutput, 0);
    EXPECT_EQ(link.meterChangeFlags, 0);
}

}  // namespace
}  // namespace velmor
