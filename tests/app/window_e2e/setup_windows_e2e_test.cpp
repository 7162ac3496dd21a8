// The setup windows end to end: Velmor's main window in this process, offscreen, on the built-in
// transport, relaying velmor-testsrc to velmor-sink (each its own process). What the operator
// does in the proc amp, group settings and PPM Config windows reaches what the sink receives and
// what the picker lists. VELMOR_SCREENSHOTS=<folder> also saves the windows as they are drawn (from
// the X server when the platform is xcb, as scripts/screenshots.sh runs it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "dialogs/group_settings_dialog.h"
#include "dialogs/meter_config_dialog.h"
#include "dialogs/proc_amp_dialog.h"
#include "support/modal_helpers.h"
#include "support/ndi_names.h"
#include "support/qt_widget_helpers.h"
#include "support/temp_dir.h"
#include "tools/process.h"
#include "tools/velmor-testsrc/test_pattern.h"
#include "video/proc_amp.h"
#include "widgets/colour_button.h"

namespace velmor {
namespace {

using test::Process;
using testing::AccessibleName;
using testsrc::TestPattern;
namespace fs = std::filesystem;

constexpr int kW = 320, kH = 180;
constexpr int kLimitMs = 30000;

std::vector<uint8_t> ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first frame number from `from` on whose test picture, through `tables` (none: as sent),
// equals `bytes`; -1 when none within two minutes of frames does.
int MatchingFrame(const TestPattern& pattern, const std::vector<uint8_t>& bytes,
                  const ProcAmpByteTables* tables, int from = 0) {
    std::vector<uint8_t> picture;
    for (int n = from; n < from + 3000; ++n) {
        pattern.Render(n, picture);
        if (tables) {
            ApplyProcAmp(FrameView{picture.data(), kW, kH, kW * 2,
                                   static_cast<uint32_t>(NDIlib_FourCC_video_type_UYVY)},
                         *tables);
        }
        if (picture == bytes) return n;
    }
    return -1;
}

// The control of `window` named `name`.
template <class T = QWidget>
T* Named(QWidget& window, const QString& name) {
    for (T* w : window.findChildren<T*>()) {
        if (AccessibleName(w) == name) return w;
    }
    ADD_FAILURE() << "no control named " << name.toStdString();
    return nullptr;
}

void Click(QWidget& window, const QString& name) {
    if (auto* b = Named<QAbstractButton>(window, name)) QTest::mouseClick(b, Qt::LeftButton);
}

// Saves `window` as drawn: from the X server under xcb, else as Qt renders it.
void Screenshot(QWidget& window, const char* file) {
    const char* folder = std::getenv("VELMOR_SCREENSHOTS");
    if (folder == nullptr) return;
    QTest::qWait(300);  // the newest frames and the repaint they ask for
    QPixmap shot = QGuiApplication::platformName() == "xcb" && window.windowHandle()
                       ? window.windowHandle()->screen()->grabWindow(window.winId())
                       : window.grab();
    EXPECT_TRUE(shot.save(QString::fromUtf8(folder) + "/" + file)) << file;
}

// The discovery folder of every test here: the built-in transport, once loaded into this process,
// keeps the folder it started with. The tests' sources have names of their own.
const testing::TempDir& DiscoveryFolder() {
    static const testing::TempDir folder;
    return folder;
}

class SetupWindows : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_.path() / "run");
        fs::permissions(dir_.path() / "run", fs::perms::owner_all);
        const std::string ndi = DiscoveryFolder().File("ndi");
        ::setenv("VELMOR_NDI_DIR", ndi.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", dir_.File("run").c_str(), 1);
        ::setenv("VELMOR_MONITOR_WAV", dir_.File("monitor.wav").c_str(), 1);
        env_ = {"VELMOR_NDI_DIR=" + ndi, "XDG_RUNTIME_DIR=" + dir_.File("run"),
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_.File("no-bus")};
        // Preset files are saved in the current folder.
        oldCwd_ = fs::current_path();
        fs::current_path(dir_.path());
    }
    void TearDown() override {
        CloseWindow();
        fs::current_path(oldCwd_);
    }

    // A copy of Velmor with its window, seeking `source` of this machine when it is not empty.
    void OpenWindow(const std::string& source) {
        RelayOptions options;
        options.ndiChoice = NdiChoice::Builtin;
        options.configPath = dir_.File("last.vlm");
        options.busAddress = "unix:path=" + dir_.File("no-bus");
        options.showLocal = true;
        if (!source.empty()) options.seekSource = testing::LocalSourceName(source);
        window_ = std::make_unique<MainWindow>(options);
        window_->controller().onQuit = [](int) {};
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_TRUE(window_->controller().Start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return record().instanceProbe == 0; }, kLimitMs));
    }
    // Ends the copy as its exit does once disconnected.
    void CloseWindow() {
        if (!window_) return;
        bool done = false;
        window_->controller().ExitWhenDisconnected([&] { done = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kLimitMs));
        window_.reset();
    }
    bool Relaying() {
        return QTest::qWaitFor(
            [&] { return record().videoThreadAlive != 0 && record().outputWidth == kW; }, kLimitMs);
    }
    RelayRecord& record() { return window_->controller().record(); }

    std::unique_ptr<Process> Source(const std::string& name, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--name", name,       "--size", "320x180",   "--rate",
                                         "25/1",   "--format", "uyvy",   "--seconds", "120"};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<Process>(VELMOR_TESTSRC, args, env_);
    }
    // The first `frames` frames velmor-sink receives from this copy's output, as sent. The
    // window's events go on meanwhile (the relay's window calls need them).
    std::vector<std::vector<uint8_t>> Receive(const std::string& folder, int frames) {
        Process sink(VELMOR_SINK,
                     {"--source", "Korvo Velmor 1", "--frames", std::to_string(frames), "--seconds",
                      "25", "--save-frames", std::to_string(frames), "--save-dir",
                      dir_.File(folder), "--color-format", "100"},
                     env_);
        EXPECT_TRUE(QTest::qWaitFor([&] { return sink.OutputHas("total:"); }, kLimitMs))
            << sink.Output();
        EXPECT_EQ(sink.Wait(std::chrono::seconds(5)), 0) << sink.Output();
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir_.File(folder), ec))
            files.push_back(e.path());
        std::sort(files.begin(), files.end());
        std::vector<std::vector<uint8_t>> pictures;
        for (const fs::path& f : files)
            pictures.push_back(ReadFile(f));
        return pictures;
    }
    // Every picture is a frame of the test source through `tables` (none: untouched).
    void ExpectFramesOfTheSource(const std::vector<std::vector<uint8_t>>& pictures,
                                 const ProcAmpByteTables* tables) {
        ASSERT_FALSE(pictures.empty());
        const TestPattern pattern(kW, kH, false);
        int from = 0;
        for (const auto& picture : pictures) {
            const int n = MatchingFrame(pattern, picture, tables, from);
            EXPECT_GE(n, 0) << "a picture that is not the source's frame as expected";
            if (n >= 0) from = n;
        }
    }

    testing::TempDir dir_;
    std::vector<std::string> env_;
    fs::path oldCwd_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(SetupWindows, ProcAmpChangesTheOutputAndItsPresetFileDoesTheSameInASecondCopy) {
    auto source = Source("PA Cam");
    OpenWindow("PA Cam");
    ASSERT_TRUE(Relaying());

    // The design's gain -50 table: slope 2224, 16 stays, 100 becomes 198.
    ProcAmpSettings gainMinus50;
    gainMinus50.gain = -50;
    ProcAmpTables expected;
    FullRebuild(expected, gainMinus50);
    ASSERT_EQ(expected.lumaTable[16], 16);
    ASSERT_EQ(expected.lumaTable[100], 198);
    ASSERT_EQ(expected.lumaTable[255], 255);

    auto* procAmpButton = Named<CColButton>(*window_, "Proc Amp");
    ASSERT_NE(procAmpButton, nullptr);
    testing::WhileModal<ProcAmpDialog>(
        [&] { QTest::mouseClick(procAmpButton, Qt::LeftButton); },
        [&](ProcAmpDialog& d) {
            Click(d, "Apply to o/p");
            auto* gain = Named<QSlider>(d, "Gain");
            gain->setFocus();
            for (int i = 0; i < 100; ++i)
                QTest::keyClick(gain, Qt::Key_Up);  // up to the top: -50
            EXPECT_EQ(record().procAmp.settings.gain, -50);
            ExpectFramesOfTheSource(Receive("gain", 3), &expected);

            // Temp Bypass held: the source goes through untouched.
            auto* bypass = Named<CColButton>(d, "Temp Bypass");
            QTest::mousePress(bypass, Qt::LeftButton);
            ExpectFramesOfTheSource(Receive("bypass", 3), nullptr);
            QTest::mouseRelease(bypass, Qt::LeftButton);

            // The monitor with its waveform over the source, as the operator sees it.
            Click(d, "Monitor");
            Click(d, "WFM");
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return window_->controller().procAmpPreview().AcquireBitmap()->waveform; },
                kLimitMs));
            Screenshot(d, "procamp.png");

            auto* name = Named<QLineEdit>(d, "Preset Name");
            name->setFocus();
            QTest::keyClicks(name, "E2E Lift");
            const testing::BoxShown saved =
                testing::AnswerBox([&] { Click(d, "Save"); }, QMessageBox::Ok);
            EXPECT_EQ(saved.title, "Save File");
            EXPECT_EQ(saved.text, "E2ELift.pap\n\nPreset file saved");
            Click(d, "OK");
        });
    EXPECT_EQ(procAmpButton->state(), 1) << "applied to the output";
    EXPECT_EQ(record().procAmp.monitorPreview, 0);
    ASSERT_TRUE(fs::exists(dir_.path() / "E2ELift.pap"));
    CloseWindow();

    // A second copy, with nothing of the first but the preset file.
    fs::remove(dir_.path() / "last.vlm");
    OpenWindow("PA Cam");
    ASSERT_TRUE(Relaying());
    EXPECT_EQ(record().procAmp.settings.gain, 50);
    testing::WhileModal<ProcAmpDialog>(
        [&] { QTest::mouseClick(Named<CColButton>(*window_, "Proc Amp"), Qt::LeftButton); },
        [&](ProcAmpDialog& d) {
            d.pickFile = [&] { return QString::fromStdString(dir_.File("E2ELift.pap")); };
            Click(d, "Load");
            EXPECT_EQ(Named<QSlider>(d, "Gain")->value(), -50);
            Click(d, "Apply to o/p");
            ExpectFramesOfTheSource(Receive("loaded", 3), &expected);
            Click(d, "OK");
        });
}

TEST_F(SetupWindows, ADetectionGroupChosenInTheWindowDecidesWhatThePickerLists) {
    auto inGroup = Source("Studio Cam", {"--groups", "Studio A"});
    auto publicOnly = Source("Public Cam");
    OpenWindow("");
    const std::string studio = testing::LocalSourceName("Studio Cam");
    const std::string pub = testing::LocalSourceName("Public Cam");
    auto listed = [&](const std::string& name) {
        const auto& items = window_->controller().model().pickerItems();
        return std::find(items.begin(), items.end(), name) != items.end();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed(pub); }, kLimitMs))
        << ::testing::PrintToString(window_->controller().model().pickerItems());
    EXPECT_FALSE(listed(studio));

    testing::WhileModal<GroupSettingsDialog>(
        [&] { QTest::mouseClick(Named<QPushButton>(*window_, "Groups"), Qt::LeftButton); },
        [&](GroupSettingsDialog& d) {
            QLineEdit* extra = nullptr;
            for (QGroupBox* box : d.findChildren<QGroupBox*>()) {
                if (box->title() == "Source detection") extra = box->findChild<QLineEdit*>();
            }
            ASSERT_NE(extra, nullptr);
            extra->setFocus();
            QTest::keyClicks(extra, "Studio A");
            QTest::keyClick(extra, Qt::Key_Tab);
            Screenshot(d, "group-settings.png");
            Click(d, "OK");
        });
    EXPECT_STREQ(record().groupSetup.receiveGroups, "Studio A");
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed(studio) && !listed(pub); }, kLimitMs));
}

TEST_F(SetupWindows, PpmConfigWithBothOutputsOffSwitchesTheOverlayOff) {
    OpenWindow("");
    RelayRecord& r = record();
    r.meterSettings.meterOnMainOutput = 1;
    auto* ppm = Named<CColButton>(*window_, "PPM overlay");
    ASSERT_NE(ppm, nullptr);
    QTest::mouseClick(ppm, Qt::LeftButton);
    ASSERT_EQ(r.ppmOverlayOn, 1);
    testing::WhileModal<MeterConfigDialog>(
        [&] { QTest::mouseClick(ppm, Qt::RightButton); },
        [&](MeterConfigDialog& d) {
            EXPECT_NE(Named(d, "+10,+10"), nullptr);
            Screenshot(d, "ppm-config.png");
            auto* onMain = Named<QCheckBox>(d, "Meter overlay on main Velmor o/p");
            QTest::mouseClick(onMain, Qt::LeftButton, {}, QPoint(6, onMain->height() / 2));
            Click(d, "OK");
        });
    EXPECT_EQ(r.meterSettings.meterOnMainOutput, 0);
    EXPECT_EQ(r.ppmOverlayOn, 0);
    EXPECT_EQ(ppm->state(), 0);
}

}  // namespace
}  // namespace velmor
