// A started controller of one copy, on the real built-in transport, with a window side that
// records what it is asked and answers as the test says. Every environment the copy touches
// (discovery folder, instance locks, bus, monitor, configuration) is a folder of the test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_commands.h"
#include "app/relay_controller.h"
#include "platform/platform_test_support.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"

namespace velmor::testing {

class FakeSide : public IWindowSide {
public:
    std::vector<ShownMessage> shown;
    std::vector<ShownMessage> told;  // messages that wait for no answer
    std::vector<std::string> logs, urls;
    MessageAnswer answer = MessageAnswer::Ok;
    int groupRuns = 0, aboutRuns = 0, grabSettingsRuns = 0;
    bool groupAnswer = false;
    std::function<void()> groupEdits;   // what the operator does in the group window
    std::function<bool()> audioMap;     // the Audio Map window: edits the mapper, answers OK
    std::function<void()> procAmp;      // the proc amp window, open
    std::function<void()> meterConfig;  // the PPM Config window, open
    std::function<void(int, int)> overlaySetup;  // the Overlay window, given the output size

    void Log(const std::string& line) override { logs.push_back(line); }
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons buttons) override {
        shown.push_back({text, caption, buttons});
        return answer;
    }
    void Tell(const std::string& text, const std::string& caption) override {
        told.push_back({text, caption, MessageButtons::Ok});
    }
    bool RunGroupSettings() override {
        ++groupRuns;
        if (groupEdits) groupEdits();
        return groupAnswer;
    }
    void RunProcAmp() override {
        if (procAmp) procAmp();
    }
    void RunMeterConfig() override {
        if (meterConfig) meterConfig();
    }
    void RunAbout() override { ++aboutRuns; }
    bool RunGrabSettings() override {
        ++grabSettingsRuns;
        return true;
    }
    bool RunAudioMap() override { return audioMap ? audioMap() : false; }
    void RunOverlaySetup(int w, int h) override {
        if (overlaySetup) overlaySetup(w, h);
    }
    void OpenUrl(const std::string& url) override { urls.push_back(url); }
};

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        std::filesystem::create_directories(dir_.path() / "run");
        std::filesystem::permissions(dir_.path() / "run", std::filesystem::perms::owner_all);
        ::setenv("VELMOR_NDI_DIR", dir_.File("ndi").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", dir_.File("run").c_str(), 1);
        ::setenv("VELMOR_MONITOR_WAV", dir_.File("monitor.wav").c_str(), 1);
        options_.ndiChoice = NdiChoice::Builtin;
        options_.configPath = dir_.File("last.vlm");
        options_.busAddress = "unix:path=" + dir_.File("no-bus");
    }
    void TearDown() override {
        commands_.reset();
        controller_.reset();
    }
    // Starts the copy and waits for its number (100 ms after the announcement).
    void Start() {
        controller_ = std::make_unique<RelayController>(options_, side_);
        controller_->onQuit = [this](int code) { quitCode_ = code; };
        ASSERT_TRUE(controller_->Start());
        ASSERT_TRUE(WaitFor([&] { return controller_->record().instanceProbe == 0; }));
        commands_ = std::make_unique<MainCommands>(*controller_);
        side_.shown.clear();
    }
    RelayRecord& record() { return controller_->record(); }
    MainWindowModel& model() { return controller_->model(); }
    MainCommands& commands() { return *commands_; }

    TempDir dir_;
    RelayOptions options_;
    FakeSide side_;
    std::unique_ptr<RelayController> controller_;
    std::unique_ptr<MainCommands> commands_;
    int quitCode_ = -1;
};

}  // namespace velmor::testing
