// The fixture of the windows' end-to-end tests: Velmor's main window in the test process,
// offscreen, on the built-in transport, with velmor-testsrc feeding it and velmor-sink receiving
// its output, each in its own process. Every folder the copy touches belongs to the test.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "support/ndi_names.h"
#include "support/qt_widget_helpers.h"
#include "support/temp_dir.h"
#include "tools/process.h"
#include "widgets/colour_button.h"

namespace velmor::testing {

// The built-in transport, once loaded into this process, keeps the discovery folder it started
// with: one for every test here. The tests' sources have names of their own.
inline const TempDir& DiscoveryFolder() {
    static const TempDir folder;
    return folder;
}

class WindowE2E : public ::testing::Test {
protected:
    static constexpr int kLimitMs = 30000;

    void SetUp() override {
        std::filesystem::create_directories(dir_.path() / "run");
        std::filesystem::permissions(dir_.path() / "run", std::filesystem::perms::owner_all);
        const std::string ndi = DiscoveryFolder().File("ndi");
        ::setenv("VELMOR_NDI_DIR", ndi.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", dir_.File("run").c_str(), 1);
        ::setenv("VELMOR_MONITOR_WAV", dir_.File("monitor.wav").c_str(), 1);
        env_ = {"VELMOR_NDI_DIR=" + ndi, "XDG_RUNTIME_DIR=" + dir_.File("run"),
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_.File("no-bus")};
    }
    void TearDown() override { CloseWindow(); }

    // A copy of Velmor with its window, seeking `source` of this machine when it is not empty.
    void OpenWindow(const std::string& source) {
        RelayOptions options;
        options.ndiChoice = NdiChoice::Builtin;
        options.configPath = dir_.File("last.vlm");
        options.busAddress = "unix:path=" + dir_.File("no-bus");
        options.showLocal = true;
        if (!source.empty()) options.seekSource = LocalSourceName(source);
        window_ = std::make_unique<MainWindow>(options);
        window_->controller().onQuit = [](int) {};
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_TRUE(window_->controller().Start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return record().instanceProbe == 0; }, kLimitMs));
    }
    // Ends the copy as its exit does once disconnected: its outputs close, so the next test's
    // copy, number 1 again, is the only one listed.
    void CloseWindow() {
        if (!window_) return;
        bool done = false;
        window_->controller().ExitWhenDisconnected([&] { done = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kLimitMs));
        window_.reset();
    }
    RelayRecord& record() { return window_->controller().record(); }
    // The main window's colour button captioned `caption`.
    CColButton* MainButton(const QString& caption) {
        for (auto* b : window_->findChildren<CColButton*>()) {
            if (AccessibleName(b) == caption) return b;
        }
        ADD_FAILURE() << "no button " << caption.toStdString();
        return nullptr;
    }

    // velmor-testsrc as `name`, 320 x 180 at 25p in `format`.
    std::unique_ptr<test::Process> Source(const std::string& name,
                                          const std::string& format = "uyvy",
                                          std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--name", name,       "--size", "320x180",   "--rate",
                                         "25/1",   "--format", format,   "--seconds", "120"};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<test::Process>(VELMOR_TESTSRC, args, env_);
    }
    // Runs velmor-sink on this copy's output with `args`, saving into `folder`; the window's
    // events go on meanwhile (the relay's window calls need them).
    void Receive(const std::string& folder, std::vector<std::string> args) {
        args.insert(args.begin(), {"--source", "Korvo Velmor 1", "--save-dir", dir_.File(folder),
                                   "--seconds", "25"});
        test::Process sink(VELMOR_SINK, args, env_);
        EXPECT_TRUE(QTest::qWaitFor([&] { return sink.OutputHas("total:"); }, kLimitMs))
            << sink.Output();
        EXPECT_EQ(sink.Wait(std::chrono::seconds(5)), 0) << sink.Output();
    }
    // The frames velmor-sink saved in `folder` (frame_<n>_...), in the order received.
    std::vector<std::vector<uint8_t>> SavedFrames(const std::string& folder) {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path() / folder, ec)) {
            if (e.path().filename().string().rfind("frame_", 0) == 0) files.push_back(e.path());
        }
        std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
            return std::stoi(a.filename().string().substr(6)) <
                   std::stoi(b.filename().string().substr(6));
        });
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& f : files)
            frames.push_back(ReadBytes(f.string()));
        return frames;
    }
    // The first `frames` frames of this copy's output, as sent.
    std::vector<std::vector<uint8_t>> ReceiveFrames(const std::string& folder, int frames) {
        Receive(folder, {"--frames", std::to_string(frames), "--save-frames",
                         std::to_string(frames), "--color-format", "100"});
        return SavedFrames(folder);
    }

    TempDir dir_;
    std::vector<std::string> env_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace velmor::testing
