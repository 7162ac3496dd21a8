// The window tests' fixture: a started copy of Velmor with its main window, offscreen, on the
// built-in transport, with every folder it touches belonging to the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/main_window.h"
#include "support/modal_helpers.h"
#include "support/temp_dir.h"
#include "widgets/colour_button.h"

namespace velmor::testing {

// The built-in transport takes its announcement folder once per process, when it first starts:
// one folder serves every test of this process, and the test sources are started in it.
inline const std::string& NdiDir() {
    static const std::string dir = "/tmp/velmor-window-ndi-" + std::to_string(::getpid());
    // Registered after `dir` is made, so it runs before `dir` goes.
    [[maybe_unused]] static const bool removedAtExit = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        return true;
    }();
    return dir;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_.path() / "run");
        std::filesystem::permissions(dir_.path() / "run", std::filesystem::perms::owner_all);
        ::setenv("VELMOR_NDI_DIR", NdiDir().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", dir_.File("run").c_str(), 1);
        ::setenv("VELMOR_MONITOR_WAV", dir_.File("monitor.wav").c_str(), 1);
        RelayOptions options;
        options.ndiChoice = NdiChoice::Builtin;
        options.configPath = dir_.File("last.vlm");
        options.busAddress = "unix:path=" + dir_.File("no-bus");
        if (remote_) options.http = "127.0.0.1:0";
        window_ = std::make_unique<MainWindow>(options, remote_ ? &*remote_ : nullptr);
        window_->controller().onQuit = [this](int code) { quitCode_ = code; };
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_TRUE(window_->controller().Start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return record().instanceProbe == 0; }));
    }
    void TearDown() override { window_.reset(); }
    RelayRecord& record() { return window_->controller().record(); }

    // The main window's control whose accessible name is `name`.
    template <typename T = QWidget>
    T* Named(const QString& name) {
        return FindNamed<T>(*window_, name);
    }
    CColButton* MainButton(const QString& caption) { return Named<CColButton>(caption); }

    TempDir dir_;
    std::optional<RemoteSettings> remote_;  // set before SetUp: the window with --http
    std::unique_ptr<MainWindow> window_;
    int quitCode_ = -1;
};

}  // namespace velmor::testing
