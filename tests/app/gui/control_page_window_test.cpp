// The window with its control page (--http): the menu shows the page's address and copies its
// link, and an action or a setting changed over HTTP shows in the window at once.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenuBar>
#include <QSlider>
#include <future>

#include "dialogs/proc_amp_dialog.h"
#include "support/http_client.h"
#include "support/modal_helpers.h"
#include "widgets/colour_button.h"
#include "window_fixture.h"

namespace velmor {
namespace {

constexpr const char* kToken = "window-test-token-0123456789";

class WindowWithControlPage : public testing::WindowTest {
protected:
    WindowWithControlPage() {
        RemoteSettings settings;
        settings.token = kToken;
        remote_ = settings;
    }
    void TearDown() override {
        record().videoThreadRun = 0;
        WindowTest::TearDown();
    }
    QAction* MenuAction(const QString& startsWith) {
        for (QAction* menu : window_->menuBar()->actions())
            for (QAction* a : menu->menu()->actions())
                if (a->text().startsWith(startsWith)) return a;
        return nullptr;
    }
    // An HTTP request made from another thread while this one keeps the window's events going.
    test::HttpResult Request(const std::string& method, const std::string& path,
                             const std::string& body = {}) {
        const uint16_t port =
            static_cast<uint16_t>(QString::fromStdString(window_->remote()->PageAddress())
                                      .section(':', 2)
                                      .chopped(1)
                                      .toInt());
        auto answer = std::async(std::launch::async, [=] {
            return test::HttpRequest("127.0.0.1", port, method, path, kToken, body);
        });
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            10000));
        return answer.get();
    }
};

TEST_F(WindowWithControlPage, TheMenuShowsThePageAndAFreezeOverHttpShowsAtOnce) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->remote()->running(); }));
    const std::string address = window_->remote()->PageAddress();
    EXPECT_EQ(address.rfind("http://127.0.0.1:", 0), 0u) << address;
    QAction* shown = MenuAction("Control page: ");
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text().toStdString(), "Control page: " + address);
    QAction* copy = MenuAction("Copy control page link");
    ASSERT_NE(copy, nullptr);
    ASSERT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), address + "#token=" + kToken);

    // Refused as the window refuses it: no video.
    auto* freeze = MainButton("Freeze");
    ASSERT_NE(freeze, nullptr);
    const auto refused = Request("POST", "/api/v1/freeze", R"({"on":true})");
    EXPECT_EQ(refused.status, 409) << refused.body;
    EXPECT_EQ(freeze->text(), "Freeze");

    // With video the freeze shows on the window's button by the time the answer arrives.
    record().videoThreadRun = 1;
    const auto frozen = Request("POST", "/api/v1/freeze", R"({"on":true})");
    EXPECT_EQ(frozen.status, 200) << frozen.body;
    EXPECT_EQ(freeze->text(), "Restart");
    EXPECT_EQ(freeze->state(), 1);
    EXPECT_FALSE(record().freezeState.live());
    // And the window's own click is seen by the page (the window hands the server its status
    // by a post, which a request already on its way may pass).
    QTest::mouseClick(freeze, Qt::LeftButton);
    std::string status;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        status = Request("GET", "/api/v1/status").body;
        return status.find("\"freeze\":{\"caption\":\"Freeze\"") != std::string::npos;
    })) << status;
    EXPECT_NE(status.find("\"frozen\":false"), std::string::npos);
}

TEST_F(WindowWithControlPage, SettingsChangedOverHttpMoveTheOpenWindowsControls) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->remote()->running(); }));
    // The main window's Rotate button.
    auto rotated = Request("PATCH", "/api/v1/settings", R"({"rotation": 1})");
    ASSERT_EQ(rotated.status, 200) << rotated.body;
    EXPECT_EQ(nlohmann::json::parse(rotated.body)["texts"]["rotation"], "Rotate 90");
    ASSERT_NE(MainButton("Rotate 90"), nullptr);

    // The proc amp window, open: its sliders and labels move with a change over HTTP, and a
    // refused change leaves them where they are.
    testing::RunModal<ProcAmpDialog>(MainButton("Proc Amp"), [&](ProcAmpDialog& d) {
        auto* gain = testing::FindNamed<QSlider>(d, "Gain");
        auto* u = testing::FindNamed<QSlider>(d, "U Level Shift");
        auto* v = testing::FindNamed<QSlider>(d, "V Level Shift");
        ASSERT_TRUE(gain && u && v);
        EXPECT_EQ(gain->value(), 50);
        const auto changed =
            Request("PATCH", "/api/v1/settings",
                    R"({"procAmp.gain": 20, "procAmp.uvLinking": 2, "procAmp.uLevelShift": 30,
                        "procAmp.applyToOutput": 1})");
        ASSERT_EQ(changed.status, 200) << changed.body;
        EXPECT_EQ(gain->value(), 20);
        EXPECT_EQ(u->value(), 30);
        EXPECT_EQ(v->value(), 70);
        EXPECT_NE(testing::FindNamed<QPushButton>(d, "135.2%"), nullptr) << "the gain's label";
        EXPECT_EQ(testing::FindNamed<CColButton>(d, "Apply to o/p")->state(), 1);
        const auto refused =
            Request("PATCH", "/api/v1/settings", R"({"procAmp.gain": -10, "procAmp.gamma": 101})");
        EXPECT_EQ(refused.status, 400);
        EXPECT_EQ(gain->value(), 20);
        d.accept();
    });
    EXPECT_EQ(record().procAmp.settings.gain, 20);
    EXPECT_EQ(MainButton("Proc Amp")->state(), 1);
}

}  // namespace
}  // namespace velmor
