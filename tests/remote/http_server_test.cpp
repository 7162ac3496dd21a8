// The server over real sockets on loopback, with a fake model and a window thread of the test's
// own: the token, actions carried to the window thread and back, a stalled window, the limits
// that keep hostile clients from stalling or growing it, the events socket and the preview.
#include "remote/http_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "ndi/ndi_types.h"
#include "support/http_client.h"
#include "video/preview_render.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::EventsClient;
using test::Get;
using test::HttpRequest;
using test::Post;

constexpr const char* kToken = "test-token-abcdefghijklmnop";

// The window thread of the test: runs posted tasks in order, unless held.
class FakeWindow {
public:
    FakeWindow() : thread_([this] { Run(); }) {}
    ~FakeWindow() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void Post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
    }
    void Hold(bool held) {
        {
            std::lock_guard lock(mutex_);
            held_ = held;
        }
        wake_.notify_all();
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || (!held_ && !tasks_.empty()); });
            if (stop_) return;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool held_ = false;
    bool stop_ = false;
    std::thread thread_;
};

class FakeModel : public IRemoteModel {
public:
    LiveReadings Readings() const override {
        LiveReadings r;
        r.connected = true;
        r.videoFramesSent = framesSent.load();
        r.peak[0] = 0.5f;
        r.bar[0] = 0.25f;
        return r;
    }
    void Execute(const RemoteCommand& command, std::function<void(ActionReply)> reply) override {
        executed.push_back(command);
        if (command.action == RemoteAction::Grab) {
            laterReply = std::move(reply);  // answered when the test says the file is written
            return;
        }
        reply({command.action == RemoteAction::Connect ? 202 : 200, "done", ""});
    }
    bool PreviewWanted() override {
        ++previewWanted;
        return previewRunning.load();
    }

    std::vector<RemoteCommand> executed;  // window thread
    std::function<void(ActionReply)> laterReply;
    std::atomic<uint64_t> framesSent{5};
    std::atomic<int> previewWanted{0};
    std::atomic<bool> previewRunning{true};
};

// Settings by name as the application gives them: names and values, a change checked by it.
class FakeSettings : public ISettingsAccess {
public:
    nlohmann::json Get() override { return values; }
    SettingsReply Patch(const nlohmann::json& changes) override {
        for (const auto& [name, value] : changes.items())
            if (!values.contains(name)) return {400, "no such setting", name};
        for (const auto& [name, value] : changes.items())
            values[name] = value;
        return {};
    }
    nlohmann::json values = {{"rotation", 0}, {"audio.delayFrames", 0}};
};

class Server : public ::testing::Test {
protected:
    void StartServer(HttpServerOptions o = {}, ISettingsAccess* settings = nullptr) {
        o.token = kToken;
        o.listen.port = 0;
        server_ = std::make_unique<HttpServer>(
            o, model_, [this](std::function<void()> task) { window_.Post(std::move(task)); },
            &preview_, settings);
        std::string error;
        ASSERT_TRUE(server_->Start(error)) << error;
        port_ = server_->port();
        ASSERT_NE(port_, 0);
    }
    void TearDown() override {
        if (server_) server_->Stop();
    }
    // The commands the window thread ran, read on it.
    std::vector<RemoteCommand> Executed() {
        std::promise<std::vector<RemoteCommand>> p;
        window_.Post([&] { p.set_value(model_.executed); });
        return p.get_future().get();
    }
    static std::string Raw(uint16_t port, const std::string& bytes,
                           std::chrono::milliseconds limit = 5s) {
        return test::RawExchange(port, bytes, limit);
    }
    // The server counts a connection gone once its last handler has let go of it.
    bool ConnectionsDropTo(int n) {
        for (int i = 0; i < 100 && server_->Figures().connections != n; ++i)
            std::this_thread::sleep_for(10ms);
        return server_->Figures().connections == n;
    }

    FakeWindow window_;
    FakeModel model_;
    PreviewRenderer preview_;
    std::unique_ptr<HttpServer> server_;
    uint16_t port_ = 0;
};

TEST_F(Server, WithoutTheTokenNothingHappens) {
    StartServer();
    for (const auto& [method, path] :
         std::vector<std::pair<std::string, std::string>>{{"GET", "/api/v1/status"},
                                                          {"POST", "/api/v1/freeze"},
                                                          {"POST", "/api/v1/grab"},
                                                          {"POST", "/api/v1/connect"},
                                                          {"DELETE", "/api/v1/text"},
                                                          {"GET", "/metrics"},
                                                          {"GET", "/api/v1/preview.jpg"}}) {
        const auto r = HttpRequest("127.0.0.1", port_, method, path, "", R"({"on":true})");
        EXPECT_EQ(r.status, 401) << method << " " << path << r.error;
        EXPECT_EQ(r.Header("WWW-Authenticate"), "Bearer realm=\"velmor\"");
    }
    EXPECT_TRUE(Executed().empty());
    EXPECT_EQ(model_.previewWanted, 0);
    EXPECT_EQ(server_->Figures().unauthorised, 7u);
    // The page itself needs none, and says what may run in it.
    const auto page = Get(port_, "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.Header("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
}

TEST_F(Server, ActionsRunOnTheWindowThreadAndAnswer) {
    StartServer();
    const auto freeze = Post(port_, "/api/v1/freeze", kToken, R"({"on":true})");
    EXPECT_EQ(freeze.status, 200) << freeze.error;
    EXPECT_EQ(nlohmann::json::parse(freeze.body)["message"], "done");
    const auto connect = Post(port_, "/api/v1/connect", kToken, R"j({"source":"HOST (A)"})j");
    EXPECT_EQ(connect.status, 202);
    const auto executed = Executed();
    ASSERT_EQ(executed.size(), 2u);
    EXPECT_EQ(executed[0].action, RemoteAction::Freeze);
    EXPECT_TRUE(executed[0].on);
    EXPECT_EQ(executed[1].text, "HOST (A)");
}

TEST_F(Server, SettingsGoThroughTheTableOnceOneIsGiven) {
    FakeSettings settings;
    StartServer({}, &settings);
    const auto get = Get(port_, "/api/v1/settings", kToken);
    ASSERT_EQ(get.status, 200);
    EXPECT_EQ(nlohmann::json::parse(get.body)["rotation"], 0);
    // A change answers with the settings as they now are.
    const auto patch = HttpRequest("127.0.0.1", port_, "PATCH", "/api/v1/settings", kToken,
                                   R"({"rotation":5,"audio.delayFrames":3})");
    EXPECT_EQ(patch.status, 200) << patch.body;
    EXPECT_EQ(nlohmann::json::parse(patch.body)["audio.delayFrames"], 3);
    // A refusal names the field.
    const auto unknown =
        HttpRequest("127.0.0.1", port_, "PATCH", "/api/v1/settings", kToken, R"({"rotatoin":1})");
    EXPECT_EQ(unknown.status, 400);
    EXPECT_EQ(nlohmann::json::parse(unknown.body),
              (nlohmann::json{{"error", "no such setting"}, {"field", "rotatoin"}}));
    EXPECT_EQ(HttpRequest("127.0.0.1", port_, "PATCH", "/api/v1/settings", kToken, "[1]").status,
              400);
    EXPECT_EQ(HttpRequest("127.0.0.1", port_, "PATCH", "/api/v1/settings", "", "{}").status, 401);
    EXPECT_EQ(nlohmann::json::parse(Get(port_, "/api/v1/settings", kToken).body)["rotation"], 5);
}

TEST_F(Server, AGrabAnswersWithItsFileOnceWritten) {
    StartServer();
    std::thread writer([&] {
        std::this_thread::sleep_for(300ms);
        window_.Post([&] { model_.laterReply({200, "frame grab saved", "grabs/g-1.png"}); });
    });
    const auto grab = Post(port_, "/api/v1/grab", kToken);
    writer.join();
    EXPECT_EQ(grab.status, 200);
    EXPECT_EQ(nlohmann::json::parse(grab.body)["file"], "grabs/g-1.png");
}

TEST_F(Server, AStalledWindowNeverStallsTheServer) {
    HttpServerOptions o;
    o.actionTimeout = 400ms;
    o.maxPendingActions = 2;
    StartServer(o);
    window_.Hold(true);
    std::vector<std::thread> clients;
    std::vector<int> answers(3);
    for (int i = 0; i < 2; ++i)
        clients.emplace_back(
            [&, i] { answers[i] = Post(port_, "/api/v1/disconnect", kToken).status; });
    std::this_thread::sleep_for(100ms);
    // Beyond the waiting actions: refused at once. Reading needs no window at all.
    const auto start = std::chrono::steady_clock::now();
    answers[2] = Post(port_, "/api/v1/disconnect", kToken).status;
    EXPECT_EQ(Get(port_, "/api/v1/status", kToken).status, 200);
    EXPECT_EQ(Get(port_, "/metrics", kToken).status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(answers, (std::vector<int>{503, 503, 503}));
    window_.Hold(false);
    // The window thread ran the two late actions; their answers went nowhere.
    EXPECT_EQ(Executed().size(), 2u);
    EXPECT_EQ(Post(port_, "/api/v1/disconnect", kToken).status, 200);
}

TEST_F(Server, OversizedAndMalformedRequestsAreRefusedAndClosed) {
    StartServer();
    // The body is refused from its length alone: it is never sent.
    std::string answer =
        Raw(port_, "POST /api/v1/text HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                       std::string(kToken) +
                       "\r\nContent-Type: application/json\r\nContent-Length: "
                       "70000\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer;
    // A header that never ends within 8 KiB.
    answer =
        Raw(port_, "GET /api/v1/status HTTP/1.1\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 431", 0), 0u) << answer.substr(0, 80);
    answer = Raw(port_, "GARBAGE\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << answer;
    answer = Raw(port_, "GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << answer;
    // A chunked body that grows beyond the limit is cut off as it grows.
    std::string chunked =
        "POST /api/v1/text HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
        "Authorization: Bearer " +
        std::string(kToken) + "\r\n\r\n";
    for (int i = 0; i < 80; ++i)
        chunked += "400\r\n" + std::string(1024, 'x') + "\r\n";
    answer = Raw(port_, chunked);
    EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer.substr(0, 80);
    EXPECT_TRUE(Executed().empty());
    EXPECT_EQ(Get(port_, "/api/v1/status", kToken).status, 200);
}

TEST_F(Server, SlowClientsAreClosedAndOthersServedMeanwhile) {
    HttpServerOptions o;
    o.requestTimeout = 600ms;
    StartServer(o);
    std::vector<std::string> answers(4);
    std::vector<std::thread> lorises;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i)
        lorises.emplace_back(
            [&, i] { answers[i] = Raw(port_, "GET /api/v1/status HTTP/1.1\r\nX-A: b", 5s); });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Get(port_, "/api/v1/status", kToken).status, 200);
    for (auto& t : lorises)
        t.join();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 3s) << "closed by the server, not by the client's own limit";
    for (const std::string& a : answers)
        EXPECT_EQ(a, "") << "a half-sent request is closed without an answer";
    EXPECT_TRUE(ConnectionsDropTo(0));
}

TEST_F(Server, ConnectionsBeyondTheLimitAreRefused) {
    HttpServerOptions o;
    o.maxConnections = 4;
    StartServer(o);
    boost::asio::io_context io;
    std::vector<std::unique_ptr<test::tcp::socket>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(std::make_unique<test::tcp::socket>(io));
        idle.back()->connect(
            test::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port_));
    }
    std::this_thread::sleep_for(100ms);
    const auto refused = Get(port_, "/api/v1/status", kToken);
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(nlohmann::json::parse(refused.body)["error"], "too many connections");
    EXPECT_GE(server_->Figures().refusedConnections, 1u);
    idle.clear();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Get(port_, "/api/v1/status", kToken).status, 200);
}

TEST_F(Server, EventsCarryStatusChangesAndLevels) {
    StartServer();
    RemoteStatus status;
    status.copy = 4;
    status.title = "first";
    server_->PublishStatus(status);

    EventsClient byMessage;
    ASSERT_TRUE(byMessage.Connect(port_, "velmor-events")) << byMessage.error();
    EXPECT_EQ(byMessage.chosenProtocol(), "velmor-events");
    ASSERT_TRUE(byMessage.Send(std::string("{\"token\":\"") + kToken + "\"}"));
    std::string first = byMessage.ReadUntil("\"type\":\"status\"");
    ASSERT_FALSE(first.empty()) << byMessage.error();
    EXPECT_EQ(nlohmann::json::parse(first)["status"]["title"], "first");

    EventsClient byProtocol;
    ASSERT_TRUE(byProtocol.Connect(port_, std::string("velmor-token.") + kToken));
    EXPECT_NE(byProtocol.chosenProtocol().find("velmor-token."), std::string::npos)
        << "only the token was offered, so it is the answer";
    EXPECT_FALSE(byProtocol.ReadUntil("\"type\":\"status\"").empty());

    status.title = "second";
    server_->PublishStatus(status);
    const std::string changed = byMessage.ReadUntil("second");
    ASSERT_FALSE(changed.empty());
    const std::string levels = byMessage.ReadUntil("\"type\":\"levels\"");
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(nlohmann::json::parse(levels)["peakDbfs"][0], -6.0);
    EXPECT_FALSE(byMessage.ReadUntil("\"type\":\"counters\"", 3s).empty());
    EXPECT_EQ(server_->Figures().eventClients, 2);

    // The settings: pushed when they change, and to a client that joins later.
    server_->PublishSettings(R"({"values":{"rotation":1}})");
    const std::string settings = byMessage.ReadUntil("\"type\":\"settings\"");
    ASSERT_FALSE(settings.empty());
    EXPECT_EQ(nlohmann::json::parse(settings)["settings"]["values"]["rotation"], 1);
    EventsClient late;
    ASSERT_TRUE(late.Connect(port_, std::string("velmor-token.") + kToken));
    EXPECT_FALSE(late.ReadUntil("\"rotation\":1").empty());
}

TEST_F(Server, AWrongOrMissingEventsTokenIsRefused) {
    HttpServerOptions o;
    o.eventsAuthTimeout = 300ms;
    StartServer(o);
    EventsClient wrong;
    ASSERT_TRUE(wrong.Connect(port_));
    ASSERT_TRUE(wrong.Send(R"({"token":"nope"})"));
    EXPECT_EQ(wrong.Read(), "");
    EXPECT_EQ(wrong.closeCode(), 4401);

    EventsClient silent;
    ASSERT_TRUE(silent.Connect(port_));
    EXPECT_EQ(silent.Read(3s), "") << "nothing is sent before the token";
    EXPECT_EQ(silent.closeCode(), 4401);

    EventsClient byProtocol;
    EXPECT_FALSE(byProtocol.Connect(port_, "velmor-token.nope")) << "refused before the upgrade";
}

TEST_F(Server, AnEventsClientThatDoesNotReadIsDropped) {
    HttpServerOptions o;
    o.levelsPeriod = 5ms;
    o.eventBacklogMessages = 16;
    StartServer(o);
    EventsClient stuck, reader;
    ASSERT_TRUE(stuck.Connect(port_, "", std::string("Bearer ") + kToken));
    ASSERT_TRUE(reader.Connect(port_, "", std::string("Bearer ") + kToken));
    // The stuck client's socket buffers are made small, so its backlog fills quickly.
    const int small = 4096;
    setsockopt(stuck.Socket().native_handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    RemoteStatus status;
    for (int i = 0; i < 400 && server_->Figures().droppedEventClients == 0; ++i) {
        status.title = std::string(2000, 'a' + static_cast<char>(i % 26));
        server_->PublishStatus(status);
        model_.framesSent += 1;
        // The reader keeps up, and is never waited for nor dropped.
        while (!reader.Read(20ms).empty()) {
        }
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(server_->Figures().droppedEventClients, 1u);
    EXPECT_EQ(server_->Figures().eventClients, 1);
    status.title = "still here";
    server_->PublishStatus(status);
    EXPECT_FALSE(reader.ReadUntil("still here").empty());
}

// A UYVY frame of one grey level.
std::vector<uint8_t> Frame(int w, int h, uint8_t y) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (size_t i = 0; i < f.size(); i += 2) {
        f[i] = 128;
        f[i + 1] = y;
    }
    return f;
}

// Width and height from a JPEG's start-of-frame segment.
std::pair<int, int> JpegSize(const std::string& j) {
    for (size_t i = 2; i + 9 < j.size(); ++i) {
        const auto b = [&](size_t k) { return static_cast<uint8_t>(j[k]); };
        if (b(i) == 0xFF && (b(i + 1) == 0xC0 || b(i + 1) == 0xC2))
            return {b(i + 7) << 8 | b(i + 8), b(i + 5) << 8 | b(i + 6)};
    }
    return {0, 0};
}

TEST_F(Server, ThePreviewIsAJpegAtMost640Wide) {
    StartServer();
    EXPECT_EQ(Get(port_, "/api/v1/preview.jpg", kToken).status, 503) << "no picture yet";
    EXPECT_GE(model_.previewWanted, 1) << "asking for it asks the application to render it";
    const auto frame = Frame(1920, 1080, 180);
    ASSERT_GT(preview_.Render(frame.data(), 1920, 1080, 3840, NDIlib_FourCC_video_type_UYVY,
                              16.0f / 9.0f),
              0);
    const auto r = Get(port_, "/api/v1/preview.jpg", kToken);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "image/jpeg");
    EXPECT_EQ(JpegSize(r.body), (std::pair<int, int>{640, 360}));
    // Twenty clients at once are served one encoded picture.
    std::vector<std::thread> clients;
    std::atomic<int> ok{0};
    for (int i = 0; i < 20; ++i)
        clients.emplace_back(
            [&] { ok += Get(port_, "/api/v1/preview.jpg", kToken).status == 200; });
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(ok, 20);
}

TEST_F(Server, APreviewJustStartedIsWaitedForNotSentOld) {
    StartServer();
    const auto old = Frame(640, 360, 40);
    ASSERT_GT(preview_.Render(old.data(), 640, 360, 1280, NDIlib_FourCC_video_type_UYVY, 0.0f), 0);
    ASSERT_EQ(Get(port_, "/api/v1/preview.jpg", kToken).status, 200);
    // The application stopped rendering (no client for a while); a request starts it again and
    // gets the first new picture, not the old one.
    model_.previewRunning = false;
    std::thread renderer([&] {
        std::this_thread::sleep_for(300ms);
        const auto fresh = Frame(320, 180, 200);
        preview_.Render(fresh.data(), 320, 180, 640, NDIlib_FourCC_video_type_UYVY, 0.0f);
    });
    const auto start = std::chrono::steady_clock::now();
    const auto r = Get(port_, "/api/v1/preview.jpg", kToken);
    renderer.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(JpegSize(r.body), (std::pair<int, int>{320, 180}));
    // No new picture at all: the newest there is, after a second.
    const auto late = Get(port_, "/api/v1/preview.jpg", kToken);
    EXPECT_EQ(late.status, 200);
}

TEST_F(Server, StoppingWithAnActionOnTheWindowThreadDropsItsAnswer) {
    StartServer();
    window_.Hold(true);
    std::thread client([&] { Post(port_, "/api/v1/grab", kToken); });
    std::this_thread::sleep_for(200ms);
    server_->Stop();
    client.join();
    window_.Hold(false);
    // The queued task finds the server gone and does nothing.
    EXPECT_TRUE(Executed().empty());
}

}  // namespace
}  // namespace velmor
