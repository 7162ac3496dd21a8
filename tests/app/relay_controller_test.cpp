// The controller's start-up: the copy number, the configuration it loads, and the ninth copy.
#include "app/relay_controller.h"

#include <gtest/gtest.h>

#include <chrono>

#include "app/app_fixture.h"
#include "persist/config_file.h"
#include "platform/instance_numbering.h"
#include "relay/capture_apply.h"

namespace velmor {
namespace {

using testing::ControllerTest;
using testing::ShownMessage;

class Startup : public ControllerTest {
protected:
    // A stored file that rotates the picture, with "Load settings on startup" as given.
    void StoreFile(bool loadOnStartup) {
        RelayRecord stored;
        stored.ApplyStartupDefaults();
        stored.rotationMode = 3;
        CaptureSettings(stored);
        stored.settingsRecord.loadOnStartupSetting = loadOnStartup ? 1 : 0;
        testing::RecordingNotifier notifier;
        ASSERT_EQ(SaveConfig(stored, options_.configPath, notifier), 1);
    }
};

TEST_F(Startup, TheNinthCopyAsksAndOnCancelRunsOnUnnumberedWithoutItsConfiguration) {
    StoreFile(true);
    // Eight copies hold the numbers 1 to 8.
    std::vector<InstanceLock> held;
    for (int i = 0; i < kMaxInstances; ++i) {
        held.push_back(InstanceLock::TryClaim(i));
        ASSERT_TRUE(held.back().held());
    }
    side_.answer = MessageAnswer::Cancel;
    controller_ = std::make_unique<RelayController>(options_, side_);
    controller_->onQuit = [this](int code) { quitCode_ = code; };
    ASSERT_TRUE(controller_->Start());
    ASSERT_TRUE(testing::WaitFor([&] { return !side_.shown.empty(); }));
    EXPECT_EQ(side_.shown[0],
              (ShownMessage{"OK to exit?", "Quit NDI Velmor", MessageButtons::OkCancel}));
    EXPECT_EQ(record().instanceIndex, 0);
    EXPECT_EQ(model().caption(Caption::Title), "NDI Velmor - Test version");
    EXPECT_EQ(record().rotationMode, 0) << "no configuration is loaded";
    EXPECT_EQ(quitCode_, -1);
}

TEST_F(Startup, TheNinthCopyEndsOnOk) {
    std::vector<InstanceLock> held;
    for (int i = 0; i < kMaxInstances; ++i)
        held.push_back(InstanceLock::TryClaim(i));
    controller_ = std::make_unique<RelayController>(options_, side_);
    controller_->onQuit = [this](int code) { quitCode_ = code; };
    ASSERT_TRUE(controller_->Start());
    ASSERT_TRUE(testing::WaitFor([&] { return quitCode_ != -1; }));
    EXPECT_EQ(quitCode_, 1);
}

TEST_F(Startup, StoredSettingsApplyOnlyWhenTheFileOrTheCommandLineAsks) {
    StoreFile(false);
    Start();
    EXPECT_EQ(record().rotationMode, 0) << "the file does not ask for its settings";
    EXPECT_EQ(model().caption(Caption::Title),
              "Korvo Velmor NDI® Receiver/Transmitter & Processor - No 1");
    EXPECT_FALSE(model().flag(Flag::MenuLoadOnStartup));
    controller_.reset();

    options_.loadOnStartup = true;  // --load-on-startup
    Start();
    EXPECT_EQ(record().rotationMode, 3);
    EXPECT_EQ(model().button(WindowButton::Rotate).caption, "Rotate -90");
    EXPECT_TRUE(model().flag(Flag::MenuLoadOnStartup));
}

TEST_F(Startup, WithoutASoundServerTheOperatorIsToldOnceAndTheCopyStartsAnyway) {
    ::unsetenv("VELMOR_MONITOR_WAV");
    ::setenv("PULSE_SERVER", ("unix:" + dir_.File("no-sound-server")).c_str(), 1);
    StoreFile(true);
    const auto start = std::chrono::steady_clock::now();
    Start();  // waits for the copy's number only
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(model().caption(Caption::Title),
              "Korvo Velmor NDI® Receiver/Transmitter & Processor - No 1");
    EXPECT_EQ(record().rotationMode, 3) << "the configuration was loaded";
    ASSERT_TRUE(testing::WaitFor([&] { return !side_.told.empty(); }));
    const std::vector<ShownMessage> told = {
        {"Unable to open wave mapper device", "NDI Receiver", MessageButtons::Ok}};
    EXPECT_EQ(side_.told, told);
    // Trying again finds no server either, and says nothing more.
    testing::WaitFor([] { return false; }, 3500);
    EXPECT_EQ(side_.told.size(), 1u);
    EXPECT_TRUE(side_.shown.empty());
    ::unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace velmor
