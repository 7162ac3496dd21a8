// The fixture of the end-to-end tests: velmor-testsrc, `velmor --headless` and velmor-sink, each
// its own process, over the built-in transport on this machine, in folders of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "support/ndi_names.h"
#include "support/recording_fakes.h"
#include "tools/process.h"

namespace velmor {

using namespace std::chrono_literals;
using test::Process;

inline std::string Host() {
    return testing::HostName();
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each test gets its own discovery folder (with the instance locks), runtime folder and working
// folder, so copies of other tests or of a person on this machine never meet these.
class Relay : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("velmor-e2e-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "run");
        std::filesystem::permissions(dir_ / "run", std::filesystem::perms::owner_all);
        env_ = {"VELMOR_NDI_DIR=" + (dir_ / "ndi").string(),
                "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "no-bus").string(),
                // Asynchronous sends read the caller's buffer only at the next call.
                "VELMOR_NDI_STRICT_ASYNC=1"};
        setenv("VELMOR_NDI_DIR", (dir_ / "ndi").c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::unique_ptr<Process> Run(const char* program, std::vector<std::string> args,
                                 int niceValue = 0) {
        return std::make_unique<Process>(program, args, env_, std::string(), niceValue);
    }
    std::vector<std::filesystem::path> Saved(const std::string& folder) {
        std::vector<std::filesystem::path> files;
        for (const auto& e : std::filesystem::directory_iterator(dir_ / folder))
            files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    // A private session bus for this test only; the children started after it use it. Null when
    // dbus-daemon does not start.
    std::unique_ptr<Process> StartPrivateBus();
    // A configuration that is applied at start-up and sends grabs as PNG files, named without date
    // and time, to "grabs" in the test's folder (made here). Returns the file's path.
    std::string SaveGrabConfig(const std::string& file);

    std::filesystem::path dir_;
    std::vector<std::string> env_;
};

// Waits until `process` has printed `text`.
inline bool WaitForOutput(const Process& process, const std::string& text,
                          std::chrono::milliseconds limit = 15s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (process.OutputHas(text)) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

inline std::unique_ptr<Process> Relay::StartPrivateBus() {
    auto bus = Run("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!WaitForOutput(*bus, "unix:", 5s)) return nullptr;
    std::string address = bus->Output();
    address = address.substr(0, address.find('\n'));
    env_.push_back("DBUS_SESSION_BUS_ADDRESS=" + address);
    return bus;
}

inline std::string Relay::SaveGrabConfig(const std::string& file) {
    RelayRecord stored;
    stored.ApplyStartupDefaults();
    stored.excludeLocal = 0;
    stored.grabSetup.addDate = 0;
    stored.grabSetup.addTime = 0;
    stored.grabSetup.grabFolder = (dir_ / "grabs").string();
    CaptureSettings(stored);
    stored.settingsRecord.loadOnStartupSetting = 1;
    velmor::testing::RecordingNotifier notifier;
    const std::string config = (dir_ / file).string();
    EXPECT_EQ(SaveConfig(stored, config, notifier), 1);
    std::filesystem::create_directories(dir_ / "grabs");
    return config;
}

}  // namespace velmor
