// The control page in a real browser (Debian's headless Chromium through chromedriver) against
// the real program: the page loads with the token from its link, shows the preview and the meter
// moving, its settings controls change the relay's settings and follow changes made elsewhere,
// and a click on Freeze freezes the NDI output velmor-sink sees.
//
// With VELMOR_SCREENSHOT_DIR set, the browser's own screenshots of the page are saved there
// (scripts/remote_screenshots.sh makes the README's pictures this way).
#include <gtest/gtest.h>

#include <cstdlib>

#include "remote_fixture.h"
#include "support/ndi_names.h"
#include "support/webdriver.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Browser;
using test::Get;
using velmor::testing::LocalSourceName;

class RemoteBrowser : public Relay {
protected:
    void Shoot(Browser& browser, const char* name) {
        const char* folder = std::getenv("VELMOR_SCREENSHOT_DIR");
        if (!folder || !*folder) return;
        // Let the meter and the preview take their next steps before the picture.
        std::this_thread::sleep_for(600ms);
        const std::filesystem::path file = std::filesystem::path(folder) / name;
        EXPECT_TRUE(browser.SaveScreenshot(file)) << file;
    }
};

TEST_F(RemoteBrowser, ThePageShowsTheRelayAndItsFreezeButtonFreezesTheOutput) {
    if (!test::BrowserAvailable()) GTEST_SKIP() << "chromium and chromedriver are not installed";
    // The tones swell and fall, so the meter has something to show.
    auto src = Run(VELMOR_TESTSRC, {"--name", "Browser Cam", "--size", "640x360", "--rate", "25/1",
                                    "--seconds", "120", "--tone-swell"});
    HttpRelay relay;
    ASSERT_TRUE(StartHttpRelay(
        *this, {"--show-local", "--source", LocalSourceName("Browser Cam")}, relay,
        [this](const char* p, std::vector<std::string> a) { return Run(p, std::move(a)); }))
        << (relay.process ? relay.process->Output() : "");
    const std::string log = (dir_ / "delay.log").string();
    auto sink =
        Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--seconds", "110", "--delay-log", log});
    ASSERT_TRUE(Eventually([&] { return SinkFrames(log) > 25; }, 20s)) << relay.process->Output();

    Browser browser((dir_ / "profile").string(), 1280, 1000);
    ASSERT_TRUE(browser.ok()) << browser.error();
    const std::string page = "http://127.0.0.1:" + std::to_string(relay.port) + "/";

    // Without a token the page asks for one.
    browser.Open(page);
    ASSERT_TRUE(Eventually(
        [&] {
            return browser.Run("return !document.getElementById('token-form').hidden;") == true;
        },
        10s));
    Shoot(browser, "control-page-token.png");

    // The link with the token: the page takes it, drops it from the address and connects.
    browser.Open(page + "#token=" + relay.token);
    ASSERT_TRUE(Eventually(
        [&] { return browser.Run("return !document.getElementById('control').hidden;") == true; },
        10s))
        << browser.Run("return document.body.innerText;");
    EXPECT_EQ(browser.Run("return location.hash;"), "");
    EXPECT_EQ(browser.Run("return localStorage.getItem('velmor-token');"), relay.token);
    EXPECT_EQ(
        browser.Run("return document.getElementById('lamp-signal').getAttribute('aria-label');"),
        "Signal lamp: magenta");
    // The source list holds the source, chosen.
    EXPECT_TRUE(Eventually(
        [&] {
            return browser.Run("return document.getElementById('source-list').value;") ==
                   LocalSourceName("Browser Cam");
        },
        5s));

    // The preview shows pictures, and they change.
    const std::string previewSrc = "return document.getElementById('preview').currentSrc;";
    ASSERT_TRUE(Eventually(
        [&] {
            return browser.Run(
                       "const p = document.getElementById('preview');"
                       "return p.complete && p.naturalWidth;") == 640;
        },
        10s));
    const nlohmann::json firstPicture = browser.Run(previewSrc);
    EXPECT_TRUE(Eventually([&] { return browser.Run(previewSrc) != firstPicture; }, 5s));

    // The meter moves: its level (the accessible value, dBFS) leaves silence and changes.
    const std::string level =
        "return Number(document.getElementById('meter-left').getAttribute('aria-valuenow'));";
    ASSERT_TRUE(Eventually([&] { return browser.Run(level).get<int>() > -60; }, 10s));
    const int firstLevel = browser.Run(level).get<int>();
    const std::string height = "return document.querySelector('#meter-left span').style.height;";
    const nlohmann::json firstHeight = browser.Run(height);
    EXPECT_TRUE(Eventually(
        [&] {
            return browser.Run(level).get<int>() != firstLevel ||
                   browser.Run(height) != firstHeight;
        },
        5s))
        << "the meter stands still: "
        << browser.Run(
               "return [meter.peak, meter.shown, meter.target, document.hidden, "
               "document.getElementById('meter-text').textContent];");

    // The settings: the controls show the relay's, and what the operator does with them reaches
    // the relay.
    auto settings = [&] {
        return nlohmann::json::parse(
            Get(relay.port, "/api/v1/settings", relay.token).body)["values"];
    };
    auto shown = [&](const std::string& script) { return browser.Run("return " + script + ";"); };
    ASSERT_TRUE(Eventually(
        [&] { return shown("!document.getElementById('procamp-panel').hidden") == true; }, 10s));
    EXPECT_EQ(shown("document.getElementById('set-rotation').selectedOptions[0].textContent"),
              "Rotate 0");
    ASSERT_TRUE(browser.Click("#set-rotation option[value='2']"));
    EXPECT_TRUE(Eventually([&] { return settings()["rotation"] == 2; }, 5s));
    ASSERT_TRUE(browser.Click("#set-rotation option[value='0']"));
    EXPECT_TRUE(Eventually([&] { return settings()["rotation"] == 0; }, 5s));
    // A slider moved with the keyboard: the gain ten steps down, its text the window's label.
    std::string tenLeft;
    for (int i = 0; i < 10; ++i)
        tenLeft += Browser::kArrowLeft;
    ASSERT_TRUE(browser.SendKeys("#set-procAmp-gain", tenLeft));
    EXPECT_TRUE(Eventually([&] { return settings()["procAmp.gain"] == 40; }, 5s));
    EXPECT_TRUE(Eventually(
        [&] {
            return shown(
                       "document.getElementById('set-procAmp-gain').getAttribute("
                       "'aria-valuetext')") == "111.7%";
        },
        5s));
    ASSERT_TRUE(browser.Click("#set-apply"));
    EXPECT_TRUE(Eventually([&] { return settings()["procAmp.applyToOutput"] == 1; }, 5s));
    // The audio map has a row for each of the source's two outputs; "Mute" mutes one.
    EXPECT_EQ(shown("document.querySelectorAll('#audio-map-rows select').length"), 2);
    ASSERT_TRUE(browser.Click("#map-1 option[value='2']"));
    EXPECT_TRUE(Eventually([&] { return settings()["audio.channelMap"][1] == 2; }, 5s));
    ASSERT_TRUE(browser.Click("#map-1 option[value='1']"));
    EXPECT_TRUE(Eventually([&] { return settings()["audio.channelMap"][1] == 1; }, 5s));
    // A change made elsewhere (the window, another client) shows on the page.
    ASSERT_EQ(test::HttpRequest("127.0.0.1", relay.port, "PATCH", "/api/v1/settings", relay.token,
                                R"({"monitorLevel": 1, "audio.delayFrames": 3})")
                  .status,
              200);
    EXPECT_TRUE(Eventually(
        [&] {
            return shown("document.getElementById('set-level').value") == "1" &&
                   shown("document.getElementById('set-delay').value") == "3";
        },
        5s));
    // A change the relay refuses says why, and the control goes back to the relay's value: the
    // PPM overlay needs a meter output, which this copy has not set up.
    ASSERT_TRUE(browser.Click("#set-ppm-overlay"));
    EXPECT_TRUE(Eventually(
        [&] {
            const nlohmann::json text = shown("document.getElementById('message').textContent");
            return text.is_string() && text.get<std::string>().find(
                                           "ppmOverlay: the PPM overlay needs a meter "
                                           "output") == 0;
        },
        5s))
        << shown("document.getElementById('message').textContent");
    EXPECT_TRUE(Eventually(
        [&] { return shown("document.getElementById('set-ppm-overlay').checked") == false; }, 5s));
    EXPECT_EQ(settings()["ppmOverlay"], 0);

    // The whole page in the picture, as a wide screen shows it.
    browser.Resize(1280, browser.Run("return document.documentElement.scrollHeight;").get<int>() +
                             (1000 - browser.Run("return window.innerHeight;").get<int>()));
    std::this_thread::sleep_for(300ms);
    Shoot(browser, "control-page.png");

    // Freeze by a click: the sink gets no new frames; the button shows the window's caption.
    ASSERT_TRUE(browser.Click("#freeze"));
    ASSERT_TRUE(Eventually([&] { return Status(relay)["freeze"] == "held"; }, 5s));
    EXPECT_TRUE(Eventually(
        [&] {
            return browser.Run("return document.getElementById('freeze').textContent;") ==
                   "Restart";
        },
        5s));
    EXPECT_EQ(browser.Run("return document.getElementById('freeze').getAttribute('aria-pressed');"),
              "true");
    std::this_thread::sleep_for(200ms);
    const size_t frozenAt = SinkFrames(log);
    std::this_thread::sleep_for(1500ms);
    EXPECT_LE(SinkFrames(log), frozenAt + 1) << "the output moved while frozen";
    Shoot(browser, "control-page-frozen.png");

    // A second click releases it.
    ASSERT_TRUE(browser.Click("#freeze"));
    EXPECT_TRUE(Eventually([&] { return SinkFrames(log) > frozenAt + 10; }, 5s));
    EXPECT_TRUE(Eventually(
        [&] {
            return browser.Run("return document.getElementById('freeze').textContent;") == "Freeze";
        },
        5s));

    // On a phone's width every control stays in reach and labelled (the window as tall as the
    // page, so the screenshot holds all of it).
    browser.Resize(390, 844);
    std::this_thread::sleep_for(300ms);
    browser.Resize(390, browser.Run("return document.documentElement.scrollHeight;").get<int>() +
                            (844 - browser.Run("return window.innerHeight;").get<int>()));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(browser.Run("return document.documentElement.scrollWidth <= window.innerWidth;"),
              true)
        << "the page scrolls sideways on a phone";
    const nlohmann::json unlabelled = browser.Run(
        "return Array.from(document.querySelectorAll('#control button, #control select, "
        "#control input, [role=meter]')).filter(e => !e.hidden && e.offsetParent !== null)"
        ".filter(e => !(e.getAttribute('aria-label') || e.labels && e.labels.length || "
        "e.textContent.trim())).map(e => e.id);");
    EXPECT_EQ(unlabelled, nlohmann::json::array()) << "controls without an accessible name";
    Shoot(browser, "control-page-phone.png");
}

}  // namespace
}  // namespace velmor
