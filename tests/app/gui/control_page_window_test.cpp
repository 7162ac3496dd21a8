// The window with its control page (--http): the menu shows the page's address and copies its
// link, and an action taken over HTTP shows in the window at once.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenuBar>
#include <future>

#include "support/http_client.h"
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
    // And the window's own click is seen by the page.
    QTest::mouseClick(freeze, Qt::LeftButton);
    const auto status = Request("GET", "/api/v1/status");
    EXPECT_NE(status.body.find("\"freeze\":{\"caption\":\"Freeze\""), std::string::npos)
        << status.body;
    EXPECT_NE(status.body.find("\"frozen\":false"), std::string::npos);
}

}  // namespace
}  // namespace velmor
