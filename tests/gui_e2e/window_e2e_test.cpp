// The window operated from outside, as a screen reader or a test robot does it: velmor runs as
// its own process on a private X server (Xvfb) with the accessibility bridge on a private bus;
// this test finds the controls through AT-SPI by their accessible names, presses them through
// the Action interface or clicks and types at their screen positions with xdotool, and watches
// the relayed picture with velmor-sink.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "support/atspi_client.h"
#include "support/ndi_names.h"
#include "support/recording_fakes.h"
#include "support/xvfb.h"
#include "tools/process.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Accessible;
using test::AtspiClient;
using test::AtspiState;
using test::Process;
namespace fs = std::filesystem;

using test::kXvfb;
const char* const kXdotool = "/usr/bin/xdotool";
const char* const kDbusDaemon = "/usr/bin/dbus-daemon";
const char* const kBusLauncher = "/usr/libexec/at-spi-bus-launcher";
const QString kButton = QStringLiteral("push button");

// Polls `done` until it holds or `limit` passes; true when it held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// The first line `process` printed, once it has printed a whole one.
std::string FirstLine(const Process& process, std::chrono::milliseconds limit) {
    std::string line;
    WaitUntil(
        [&] {
            const std::string out = process.Output();
            const size_t end = out.find('\n');
            if (end == std::string::npos) return false;
            line = out.substr(0, end);
            return true;
        },
        limit);
    return line;
}

// The picture checksum of one "frame N: WxH HASH" line of velmor-sink --print-checksums, with
// the number of "stats:" lines (one a second) the sink had printed before it.
struct SinkFrame {
    std::string hash;
    size_t second = 0;
};

std::vector<SinkFrame> SinkFrames(const Process& sink) {
    std::vector<SinkFrame> frames;
    std::istringstream in(sink.Output());
    size_t seconds = 0;
    for (std::string line; std::getline(in, line);) {
        char hash[32] = {};
        long long n = 0;
        if (line.rfind("stats:", 0) == 0)
            ++seconds;
        else if (std::sscanf(line.c_str(), "frame %lld: %*s %31s", &n, hash) == 2)
            frames.push_back({hash, seconds});
    }
    return frames;
}

size_t CountLines(const Process& p, const std::string& start) {
    std::istringstream in(p.Output());
    size_t n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.rfind(start, 0) == 0;
    return n;
}

size_t Distinct(std::vector<SinkFrame>::const_iterator from,
                std::vector<SinkFrame>::const_iterator to) {
    std::set<std::string> hashes;
    for (auto f = from; f != to; ++f)
        hashes.insert(f->hash);
    return hashes.size();
}

// Width and height of a PNG file (its IHDR chunk), or 0 x 0.
std::pair<int, int> PngSize(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char h[24] = {};
    in.read(reinterpret_cast<char*>(h), sizeof h);
    if (!in || h[1] != 'P' || h[2] != 'N' || h[3] != 'G') return {0, 0};
    auto be32 = [&](int at) { return h[at] << 24 | h[at + 1] << 16 | h[at + 2] << 8 | h[at + 3]; };
    return {be32(16), be32(20)};
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder))
        files.push_back(e.path());
    return files;
}

// Per test: a private X server, a private session bus (velmor-ctl reaches the window over it),
// a private accessibility bus, and the discovery, runtime and working folders, so nothing on
// this machine sees these processes nor they anything else. Everything started is killed in
// TearDown, also when a step failed.
class WindowFromOutside : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // QtDBus wants an application object; it lives until the process ends.
        static int argc = 1;
        static char name[] = "velmor_gui_e2e_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }

    void SetUp() override {
        if (!fs::exists(kXvfb))
            GTEST_SKIP() << kXvfb << " is missing: the window's end-to-end test needs a real X "
                         << "server (Debian package xvfb, installed by scripts/setup.sh)";
        for (const char* tool : {kXdotool, kDbusDaemon, kBusLauncher})
            ASSERT_TRUE(fs::exists(tool)) << tool << " is missing: scripts/setup.sh installs it";
        dir_ = fs::temp_directory_path() / ("velmor-gui-e2e-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        for (const char* sub : {"run", "work", "ndi"})
            fs::create_directories(dir_ / sub);
        fs::permissions(dir_ / "run", fs::perms::owner_all);
        setenv("VELMOR_NDI_DIR", (dir_ / "ndi").c_str(), 1);

        // The X server picks a free display itself and prints its number.
        xvfb_ = test::StartXvfb(display_);
        ASSERT_FALSE(display_.empty()) << "Xvfb did not start:\n" << xvfb_->Output();

        // The session bus (velmor's own messages, velmor-ctl) and, announced on it as
        // org.a11y.Bus, the accessibility bus, as a desktop session has them.
        sessionBus_ = std::make_unique<Process>(
            kDbusDaemon, std::vector<std::string>{"--session", "--nofork", "--print-address=1"});
        session_ = FirstLine(*sessionBus_, 10s);
        ASSERT_FALSE(session_.empty()) << "no dbus-daemon:\n" << sessionBus_->Output();
        env_ = {"VELMOR_NDI_DIR=" + (dir_ / "ndi").string(),
                "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                "DBUS_SESSION_BUS_ADDRESS=" + session_, "DISPLAY=" + display_,
                "QT_QPA_PLATFORM=xcb",
                // The bridge's switch when no screen reader has asked for it; a bus address
                // inherited from a desktop would take velmor away from the private bus.
                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "AT_SPI_BUS_ADDRESS=",
                // The local monitor into a file: no sound server here.
                "VELMOR_MONITOR_WAV=" + (dir_ / "monitor.wav").string()};
        // Qt 6.4 ignores AT_SPI_BUS_ADDRESS in practice (its bridge starts listening only after
        // the connection made from that variable was announced), so velmor finds the bus the
        // way desktop programs do, through org.a11y.Bus.
        launcher_ = Run(kBusLauncher, {"--launch-immediately"});
        const std::string a11y = AtspiClient::BusAddress(session_, 20s);
        ASSERT_FALSE(a11y.empty()) << "at-spi-bus-launcher did not start:\n" << launcher_->Output();
        a11y_ = std::make_unique<AtspiClient>(a11y);
        ASSERT_TRUE(a11y_->connected()) << a11y_->lastError().toStdString();
    }

    void TearDown() override {
        for (auto* p : {&sink_, &velmor_, &source_})
            p->reset();
        // The registry daemon the accessibility bus started on first use, then the launcher,
        // which takes its bus with it, then the session bus and the display.
        if (a11y_) {
            if (const long long registry = a11y_->RegistryPid(); registry > 0)
                kill(static_cast<pid_t>(registry), SIGTERM);
            a11y_.reset();
        }
        if (launcher_) {
            launcher_->Kill(SIGTERM);
            launcher_->Wait(10s);
            launcher_.reset();
        }
        sessionBus_.reset();
        xvfb_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::unique_ptr<Process> Run(const char* program, const std::vector<std::string>& args,
                                 const std::string& cwd = {}) {
        return std::make_unique<Process>(program, args, env_, cwd);
    }

    // Runs xdotool on the test's display; true when it succeeded.
    bool Xdotool(const std::vector<std::string>& args) {
        auto x = Run(kXdotool, args);
        const int code = x->Wait(10s);
        if (code != 0) ADD_FAILURE() << "xdotool failed (" << code << "):\n" << x->Output();
        return code == 0;
    }

    bool ClickAt(QPoint p) {
        return Xdotool(
            {"mousemove", "--sync", std::to_string(p.x()), std::to_string(p.y()), "click", "1"});
    }

    std::string Log() const {
        std::string log;
        if (source_) log += "\n--- velmor-testsrc:\n" + source_->Output();
        if (velmor_) log += "\n--- velmor:\n" + velmor_->Output();
        return log;
    }

    fs::path dir_;
    std::string display_, session_;
    std::vector<std::string> env_;
    std::unique_ptr<Process> xvfb_, sessionBus_, launcher_, source_, velmor_, sink_;
    std::unique_ptr<AtspiClient> a11y_;
};

TEST_F(WindowFromOutside, OperatedThroughItsAccessibilityRelaysFreezesTurnsGrabsAndSavesOnExit) {
    const std::string config = (dir_ / "velmor.vlm").string();
    const fs::path work = dir_ / "work";
    source_ = Run(VELMOR_TESTSRC,
                  {"--name", "Cam", "--size", "320x180", "--rate", "25/1", "--seconds", "120"});
    velmor_ = Run(VELMOR_BIN, {"--config", config}, work.string());

    AtspiClient& a11y = *a11y_;
    std::optional<Accessible> app;
    ASSERT_TRUE(WaitUntil([&] { return (app = a11y.FindApplication("velmor")).has_value(); }, 30s))
        << "velmor never appeared on the accessibility bus" << Log();
    auto control = [&](const QString& role, const QString& name) {
        auto found = a11y.WaitFor(*app, role, name, 20s);
        if (!found)
            ADD_FAILURE() << "no " << role.toStdString() << " \"" << name.toStdString()
                          << "\" in the window" << Log();
        return found;
    };
    auto press = [&](const std::optional<Accessible>& a) {
        return a && a11y.DoAction(*a, "Press");
    };
    auto nameBecomes = [&](const Accessible& a, const QString& name) {
        return WaitUntil([&] { return a11y.Name(a) == name; }, 20s);
    };

    // The window is ready once its title carries the copy's number.
    ASSERT_TRUE(control("frame", "Korvo Velmor NDI® Receiver/Transmitter & Processor - No 1"));

    // Local sources are hidden at first: the operator unticks "Exclude local".
    const auto excludeLocal = control("check box", "Exclude local");
    ASSERT_TRUE(excludeLocal);
    if (a11y.HasState(*excludeLocal, AtspiState::Checked)) {
        ASSERT_TRUE(a11y.DoAction(*excludeLocal, "Toggle")) << a11y.lastError().toStdString();
        ASSERT_TRUE(
            WaitUntil([&] { return !a11y.HasState(*excludeLocal, AtspiState::Checked); }, 10s));
    }

    // The picker: the window's only combo box (beside "Exclude local"). Its list offers the test
    // source; the operator opens it and clicks the source's line.
    const QString camName = QString::fromStdString(velmor::testing::LocalSourceName("Cam"));
    const auto picker = a11y.Find(
        *app, [](AtspiClient& c, const Accessible& a) { return c.RoleName(a) == "combo box"; });
    ASSERT_TRUE(picker) << "no combo box" << Log();
    ASSERT_TRUE(a11y.WaitFor(*picker, "list item", camName, 30s))
        << "the picker never listed " << camName.toStdString() << "\n"
        << a11y.Describe(*app) << Log();
    ASSERT_TRUE(ClickAt(a11y.Extents(*picker).center()));
    std::optional<Accessible> camItem;
    ASSERT_TRUE(WaitUntil(
        [&] {
            camItem = a11y.Find(*picker, "list item", camName);
            return camItem && a11y.HasState(*camItem, AtspiState::Showing) &&
                   !a11y.Extents(*camItem).isEmpty();
        },
        10s))
        << "the picker's list did not open" << Log();
    ASSERT_TRUE(ClickAt(a11y.Extents(*camItem).center()));

    // Frames reach a receiver of "Korvo Velmor 1", each a new picture.
    sink_ = Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--find-timeout", "30", "--seconds",
                              "110", "--print-checksums"});
    ASSERT_TRUE(WaitUntil([&] { return SinkFrames(*sink_).size() >= 10; }, 30s))
        << sink_->Output() << Log();
    EXPECT_TRUE(sink_->OutputHas("format: 320x180")) << sink_->Output();
    {
        const auto live = SinkFrames(*sink_);
        EXPECT_GE(Distinct(live.end() - 10, live.end()), 9u) << "the source's picture moves";
    }

    // "Freeze": the caption becomes "Restart", and no new picture goes out until it is pressed.
    const auto freeze = control(kButton, "Freeze");
    ASSERT_TRUE(press(freeze)) << a11y.lastError().toStdString();
    ASSERT_TRUE(nameBecomes(*freeze, "Restart")) << Log();
    const size_t frozenAt = CountLines(*sink_, "stats:");
    // Frames still in flight when the freeze was asked for arrive within the sink's next second;
    // in the two whole seconds after it (50 pictures if the freeze did not hold) only the held
    // picture may come, if anything.
    ASSERT_TRUE(WaitUntil([&] { return CountLines(*sink_, "stats:") >= frozenAt + 3; }, 20s));
    const auto frozen = SinkFrames(*sink_);
    ASSERT_FALSE(frozen.empty());
    const std::string heldHash = frozen.back().hash;
    EXPECT_EQ(std::count_if(
                  frozen.begin(), frozen.end(),
                  [&](const SinkFrame& f) { return f.second > frozenAt && f.hash != heldHash; }),
              0)
        << "new pictures while frozen\n"
        << sink_->Output();
    ASSERT_TRUE(press(freeze));
    ASSERT_TRUE(nameBecomes(*freeze, "Freeze"));
    ASSERT_TRUE(WaitUntil([&] { return SinkFrames(*sink_).size() >= frozen.size() + 10; }, 20s))
        << "no pictures after Restart\n"
        << sink_->Output() << Log();
    {
        const auto after = SinkFrames(*sink_);
        const auto from = after.begin() + static_cast<long>(frozen.size());
        EXPECT_GE(Distinct(from, after.end()), 9u);
        EXPECT_TRUE(std::none_of(from, after.end(),
                                 [&](const SinkFrame& f) { return f.hash == heldHash; }));
    }

    // "Rotate 0" clicked in its right part steps to "Rotate 90": the output turns.
    const auto rotate = control(kButton, "Rotate 0");
    ASSERT_TRUE(rotate);
    const QRect r = a11y.Extents(*rotate);
    ASSERT_GT(r.width(), 40) << "the Rotate button is too narrow for its two parts";
    ASSERT_TRUE(ClickAt({r.right() - 8, r.center().y()}));
    ASSERT_TRUE(nameBecomes(*rotate, "Rotate 90")) << a11y.Name(*rotate).toStdString();
    ASSERT_TRUE(WaitUntil([&] { return sink_->OutputHas("format: 180x320"); }, 20s))
        << sink_->Output();

    // F12 pressed and released in the window: one grab file in the working folder, of the
    // turned picture.
    std::string windowId;
    {
        auto search =
            Run(kXdotool, {"search", "--sync", "--onlyvisible", "--name", "Receiver/Transmitter"});
        ASSERT_EQ(search->Wait(20s), 0) << search->Output();
        windowId = FirstLine(*search, 1s);
    }
    ASSERT_TRUE(Xdotool({"windowfocus", "--sync", windowId}));
    ASSERT_TRUE(Xdotool({"key", "F12"}));
    ASSERT_TRUE(WaitUntil([&] { return velmor_->OutputHas("frame grab saved"); }, 20s)) << Log();
    {
        const auto grabs = FilesIn(work);
        ASSERT_EQ(grabs.size(), 1u);
        EXPECT_EQ(PngSize(grabs[0]), std::make_pair(180, 320)) << grabs[0];
    }

    // velmor-ctl over the session bus acts on this window.
    auto ctl = Run(VELMOR_CTL, {"--copy", "1", "freeze", "on"});
    ASSERT_EQ(ctl->Wait(20s), 0) << ctl->Output();
    EXPECT_TRUE(nameBecomes(*freeze, "Restart")) << Log();
    ASSERT_TRUE(press(freeze));
    ASSERT_TRUE(nameBecomes(*freeze, "Freeze"));

    // Settings to keep: SMPTE reference, audio delay on, and "Save settings on exit" from the
    // Velmor menu, opened and clicked like a person does.
    const auto ebu = control(kButton, "EBU o/p");
    ASSERT_TRUE(press(ebu));
    ASSERT_TRUE(nameBecomes(*ebu, "SMPTE o/p"));
    ASSERT_TRUE(press(control(kButton, "Audio Delay")));
    const auto menu = control("menu item", "Velmor");
    ASSERT_TRUE(menu);
    ASSERT_TRUE(ClickAt(a11y.Extents(*menu).center()));
    std::optional<Accessible> saveItem;
    ASSERT_TRUE(WaitUntil(
        [&] {
            saveItem = a11y.Find(*menu, "", "Save settings on exit");
            return saveItem && a11y.HasState(*saveItem, AtspiState::Showing) &&
                   !a11y.Extents(*saveItem).isEmpty();
        },
        10s))
        << "the Velmor menu did not open" << Log();
    ASSERT_FALSE(a11y.HasState(*saveItem, AtspiState::Checked));
    ASSERT_TRUE(ClickAt(a11y.Extents(*saveItem).center()));
    ASSERT_TRUE(WaitUntil([&] { return a11y.HasState(*saveItem, AtspiState::Checked); }, 10s));

    // "Disconnect", then "Exit" answered with OK: the process ends with 0.
    ASSERT_TRUE(press(control(kButton, "Disconnect")));
    ASSERT_TRUE(control("label", "No video")) << "the video caption never said No video";
    ASSERT_TRUE(press(control(kButton, "Exit")));
    const auto question = control("", "Quit NDI Velmor");
    ASSERT_TRUE(question);
    EXPECT_TRUE(a11y.Find(*question, "label", "OK to exit?")) << Log();
    ASSERT_TRUE(press(a11y.Find(*question, kButton, "OK"))) << a11y.Describe(*question);
    ASSERT_EQ(velmor_->Wait(30s), 0) << Log();
    EXPECT_EQ(FilesIn(work).size(), 1u) << "one F12, one grab";

    // The saved configuration loads back with what was set in the window.
    RelayRecord reloaded;
    velmor::testing::RecordingNotifier notifier;
    ASSERT_EQ(LoadConfig(reloaded, config, notifier), 1) << Log();
    const SettingsRecord& s = reloaded.settingsRecord;
    EXPECT_EQ(s.rotationSetting, 1);
    EXPECT_EQ(s.ebuSetting, 0);
    EXPECT_EQ(s.delayOnSetting, 1);
    EXPECT_EQ(s.excludeLocalSetting, 0);
    EXPECT_EQ(s.saveOnExitSetting, 1);
}

TEST_F(WindowFromOutside, WithoutASoundServerTheCopyStillStartsAndRelays) {
    // No sound server at all: PULSE_SERVER names a socket nobody listens on (and Velmor never
    // starts a server itself), and the monitor does not record to a file either.
    env_.erase(
        std::remove_if(env_.begin(), env_.end(),
                       [](const std::string& e) { return e.rfind("VELMOR_MONITOR_WAV=", 0) == 0; }),
        env_.end());
    env_.push_back("PULSE_SERVER=unix:" + (dir_ / "no-pulse-here").string());
    // A configuration applied at start-up that turns the picture a quarter.
    const std::string config = (dir_ / "velmor.vlm").string();
    {
        RelayRecord stored;
        stored.ApplyStartupDefaults();
        stored.rotationMode = 1;
        CaptureSettings(stored);
        stored.settingsRecord.loadOnStartupSetting = 1;
        velmor::testing::RecordingNotifier notifier;
        ASSERT_EQ(SaveConfig(stored, config, notifier), 1);
    }
    source_ = Run(VELMOR_TESTSRC,
                  {"--name", "Quiet", "--size", "320x180", "--rate", "25/1", "--seconds", "120"});
    velmor_ = Run(
        VELMOR_BIN,
        {"--config", config, "--show-local", "--source", velmor::testing::LocalSourceName("Quiet")},
        (dir_ / "work").string());

    AtspiClient& a11y = *a11y_;
    std::optional<Accessible> app;
    ASSERT_TRUE(WaitUntil([&] { return (app = a11y.FindApplication("velmor")).has_value(); }, 30s))
        << "velmor never appeared on the accessibility bus" << Log();
    // The operator is told, and nothing waits for the answer: the copy takes its number and
    // title, loads its configuration and relays while the message is still open.
    const auto message = a11y.WaitFor(*app, "", "NDI Receiver", 20s);
    ASSERT_TRUE(message) << "no message about the sound device" << Log();
    EXPECT_TRUE(a11y.Find(*message, "label", "Unable to open wave mapper device"))
        << a11y.Describe(*message);
    EXPECT_TRUE(velmor_->OutputHas("[NDI Receiver] Unable to open wave mapper device")) << Log();
    EXPECT_TRUE(a11y.WaitFor(*app, "frame",
                             "Korvo Velmor NDI® Receiver/Transmitter & Processor - No 1", 20s))
        << "no copy number in the title" << Log();
    EXPECT_TRUE(a11y.WaitFor(*app, kButton, "Rotate 90", 20s))
        << "the stored configuration was not applied" << Log();
    // The outputs announce themselves in the product's group, as the configuration says.
    sink_ = Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--groups", "Korvo Velmor",
                              "--find-timeout", "30", "--frames", "10", "--seconds", "60"});
    EXPECT_EQ(sink_->Wait(60s), 0) << "the copy does not relay\n" << sink_->Output() << Log();
    EXPECT_TRUE(sink_->OutputHas("format: 180x320")) << sink_->Output();
    ASSERT_TRUE(a11y.WaitFor(*app, "", "NDI Receiver", 1s)) << "the message closed by itself";

    // OK closes the message; the copy exits as usual (nothing waits for a sound server).
    const auto ok = a11y.Find(*message, kButton, "OK");
    ASSERT_TRUE(ok && a11y.DoAction(*ok, "Press")) << a11y.Describe(*message);
    const auto disconnect = a11y.WaitFor(*app, kButton, "Disconnect", 20s);
    ASSERT_TRUE(disconnect && a11y.DoAction(*disconnect, "Press"));
    ASSERT_TRUE(a11y.WaitFor(*app, "label", "No video", 20s)) << Log();
    const auto exitButton = a11y.WaitFor(*app, kButton, "Exit", 20s);
    ASSERT_TRUE(exitButton && a11y.DoAction(*exitButton, "Press"));
    const auto question = a11y.WaitFor(*app, "", "Quit NDI Velmor", 20s);
    ASSERT_TRUE(question) << Log();
    const auto yes = a11y.Find(*question, kButton, "OK");
    ASSERT_TRUE(yes && a11y.DoAction(*yes, "Press")) << a11y.Describe(*question);
    EXPECT_EQ(velmor_->Wait(30s), 0) << Log();
}

}  // namespace
}  // namespace velmor
