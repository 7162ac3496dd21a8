#include "remote/http_server.h"

#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>
#include <thread>

#include "engine/thread_priority.h"
#include "platform/preview_jpeg.h"
#include "video/preview_render.h"

namespace velmor {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kMaxEventMessage = 4096;    // what a client may send on the events socket
constexpr int kEventSendBuffer = 16 * 1024;  // the kernel doubles it
// An event client whose write has not finished this long is not reading: it is dropped.
constexpr auto kEventWriteStall = std::chrono::seconds(5);
constexpr int kMaxRefusing = 32;  // connections being answered 503 at once
constexpr uint16_t kCloseUnauthorised = 4401;
constexpr auto kRefuseTimeout = std::chrono::seconds(2);
constexpr auto kEventsIdleTimeout = std::chrono::seconds(20);
// How long a picture request waits for the first new picture of a preview just started.
constexpr auto kFreshPictureWait = std::chrono::milliseconds(1000);

// One thread at nice +10 that encodes the newest preview bitmap when asked; the server's thread
// never encodes.
class PictureEncoder {
public:
    PictureEncoder(PreviewRenderer* renderer, int maxWidth, int quality)
        : renderer_(renderer), maxWidth_(maxWidth), quality_(quality) {}
    ~PictureEncoder() { Stop(); }

    void Start() {
        if (!renderer_ || thread_.joinable()) return;
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    // `done` runs on the encoder's thread with the picture and its sequence number.
    void Encode(std::function<void(std::shared_ptr<const std::string>, uint64_t)> done) {
        {
            std::lock_guard lock(mutex_);
            job_ = std::move(done);
        }
        wake_.notify_all();
    }

private:
    void Run() {
        LowerThreadPriority(10);
        for (;;) {
            std::function<void(std::shared_ptr<const std::string>, uint64_t)> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || job_; });
                if (stop_) return;
                job = std::move(job_);
                job_ = nullptr;
            }
            const PreviewBitmap* bitmap = renderer_->AcquireCopyBitmap();
            auto jpeg = std::make_shared<const std::string>(
                EncodePreviewJpeg(*bitmap, maxWidth_, quality_));
            job(std::move(jpeg), bitmap->sequence);
        }
    }

    PreviewRenderer* renderer_;
    const int maxWidth_, quality_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void(std::shared_ptr<const std::string>, uint64_t)> job_;
    bool stop_ = false;
    std::thread thread_;
};

class EventSession;

// The server's state on its thread, shared by its sessions (which may outlive the server object
// by the moment it takes the io_context to destroy them).
struct ServerState {
    ServerState(asio::io_context& context, HttpServerOptions o, IRemoteModel& m)
        : io(context), options(std::move(o)), model(m) {}

    asio::io_context& io;
    const HttpServerOptions options;
    IRemoteModel& model;
    HttpServer::WindowPoster toWindow;
    std::atomic<bool> stopped{false};  // set by Stop: queued window tasks then do nothing
    ISettingsAccess* settings = nullptr;
    PreviewRenderer* preview = nullptr;
    PictureEncoder* encoder = nullptr;

    std::shared_ptr<const RemoteStatus> status = std::make_shared<RemoteStatus>();
    std::map<std::string, int> perAddress;
    std::set<EventSession*> eventClients;  // authenticated only
    int pendingActions = 0;
    int refusing = 0;
    ServerFigures figures;
    mutable std::mutex figuresMutex;  // the copy Figures() reads from other threads
    ServerFigures published;

    // Actions waiting for the window thread, by number.
    struct PendingAction;
    std::map<uint64_t, std::shared_ptr<PendingAction>> actions;
    uint64_t nextAction = 1;

    // The preview picture.
    std::shared_ptr<const std::string> jpeg;
    uint64_t jpegSequence = 0;
    Clock::time_point jpegAt{};
    bool encoding = false;
    std::vector<std::function<void(std::shared_ptr<const std::string>)>> previewWaiters;
    // After the application was asked to start the preview: requests wait for a picture newer
    // than `staleSequence` until `freshBy` (the tick looks), so nobody gets an old one.
    uint64_t staleSequence = 0;
    Clock::time_point freshBy{};
    bool awaitingFresh = false;

    // What the event clients were sent last.
    int lastFreezeState = -1;
    bool lastConnected = false;
    std::string lastLevels;
    std::shared_ptr<const std::string> settingsEvent;  // the latest settings, as an event
    Clock::time_point lastLevelsAt{}, lastCountersAt{};

    void Log(const std::string& line) const {
        if (options.log) options.log(line);
    }
    void PublishFigures() {
        figures.eventClients = static_cast<int>(eventClients.size());
        std::lock_guard lock(figuresMutex);
        published = figures;
    }
    void Broadcast(const std::shared_ptr<const std::string>& message);
};

// --- Events ----------------------------------------------------------------------------------

class EventSession : public std::enable_shared_from_this<EventSession> {
public:
    EventSession(std::shared_ptr<ServerState> state, tcp::socket socket, std::string address)
        : state_(std::move(state)),
          ws_(beast::tcp_stream(std::move(socket))),
          address_(std::move(address)),
          authTimer_(state_->io) {
        ++state_->figures.connections;
        ++state_->perAddress[address_];
        // What the kernel holds for a client that does not read stays small: the backlog limits
        // below then see it at once.
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().set_option(
            asio::socket_base::send_buffer_size(kEventSendBuffer), ignored);
    }
    ~EventSession() {
        state_->eventClients.erase(this);
        --state_->figures.connections;
        if (--state_->perAddress[address_] <= 0) state_->perAddress.erase(address_);
        state_->PublishFigures();
    }

    void Start(http::request<http::string_body> request, bool authenticated, std::string protocol) {
        authenticated_ = authenticated;
        beast::get_lowest_layer(ws_).expires_never();
        websocket::stream_base::timeout t{};
        t.handshake_timeout = std::chrono::seconds(5);
        t.idle_timeout = kEventsIdleTimeout;
        t.keep_alive_pings = true;
        ws_.set_option(t);
        ws_.read_message_max(kMaxEventMessage);
        ws_.set_option(websocket::stream_base::decorator([protocol](websocket::response_type& r) {
            r.set(http::field::server, "Velmor");
            if (!protocol.empty()) r.set(http::field::sec_websocket_protocol, protocol);
        }));
        ws_.text(true);
        ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
            if (ec) return;
            self->Accepted();
        });
    }

    // Queues a message; a client whose backlog is full is dropped.
    void Send(const std::shared_ptr<const std::string>& message) {
        if (closed_ || !authenticated_) return;
        const HttpServerOptions& o = state_->options;
        if (queue_.size() >= o.eventBacklogMessages ||
            queuedBytes_ + message->size() > o.eventBacklogBytes ||
            (writing_ && Clock::now() - writeStarted_ > kEventWriteStall)) {
            ++state_->figures.droppedEventClients;
            state_->Log("HTTP: events client " + address_ + " dropped: it does not keep up");
            Close();
            return;
        }
        queue_.push_back(message);
        queuedBytes_ += message->size();
        if (!writing_) WriteNext();
    }

private:
    void Accepted() {
        if (authenticated_) {
            Join();
        } else {
            authTimer_.expires_after(state_->options.eventsAuthTimeout);
            authTimer_.async_wait([weak = weak_from_this()](beast::error_code ec) {
                auto self = weak.lock();
                if (!ec && self && !self->authenticated_) self->Refuse();
            });
        }
        Read();
    }

    void Join() {
        state_->eventClients.insert(this);
        state_->PublishFigures();
        Send(std::make_shared<const std::string>(
            StatusEvent(*state_->status, state_->model.Readings())));
        if (!state_->lastLevels.empty())
            Send(std::make_shared<const std::string>(state_->lastLevels));
        if (state_->settingsEvent) Send(state_->settingsEvent);
    }

    void Read() {
        ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) {
                self->closed_ = true;
                return;
            }
            const std::string message = beast::buffers_to_string(self->buffer_.data());
            self->buffer_.consume(self->buffer_.size());
            if (!self->authenticated_) {
                if (!EventsAuthMessage(message, self->state_->options.token)) {
                    ++self->state_->figures.unauthorised;
                    self->Refuse();
                    return;
                }
                self->authenticated_ = true;
                self->authTimer_.cancel();
                self->Join();
            }
            // Further messages are not commands: they are read and let go.
            self->Read();
        });
    }

    void Refuse() {
        if (closed_) return;
        closed_ = true;
        authTimer_.cancel();
        ws_.async_close(websocket::close_reason(
                            static_cast<websocket::close_code>(kCloseUnauthorised), "unauthorised"),
                        [self = shared_from_this()](beast::error_code) {});
    }

    void Close() {
        closed_ = true;
        queue_.clear();
        queuedBytes_ = 0;
        authTimer_.cancel();
        state_->eventClients.erase(this);
        state_->PublishFigures();
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

    void WriteNext() {
        if (queue_.empty() || closed_) {
            writing_ = false;
            return;
        }
        writing_ = true;
        writeStarted_ = Clock::now();
        std::shared_ptr<const std::string> message = queue_.front();
        ws_.async_write(asio::buffer(*message),
                        [self = shared_from_this(), message](beast::error_code ec, size_t) {
                            if (self->closed_) return;
                            if (ec) {
                                self->Close();
                                return;
                            }
                            self->queuedBytes_ -= message->size();
                            self->queue_.pop_front();
                            self->WriteNext();
                        });
    }

    std::shared_ptr<ServerState> state_;
    websocket::stream<beast::tcp_stream> ws_;
    beast::flat_buffer buffer_;
    std::string address_;
    asio::steady_timer authTimer_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    size_t queuedBytes_ = 0;
    Clock::time_point writeStarted_{};
    bool writing_ = false;
    bool closed_ = false;
    bool authenticated_ = false;
};

void ServerState::Broadcast(const std::shared_ptr<const std::string>& message) {
    // Send may drop a client, which leaves the set: walk a copy.
    const std::vector<EventSession*> clients(eventClients.begin(), eventClients.end());
    for (EventSession* c : clients)
        if (eventClients.count(c)) c->Send(message);
}

// --- Requests ---------------------------------------------------------------------------------

struct ServerState::PendingAction {
    std::function<void(ApiResponse)> respond;
    RemoteCommand command;
    std::unique_ptr<asio::steady_timer> timer;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(std::shared_ptr<ServerState> state, tcp::socket socket, std::string address)
        : state_(std::move(state)), stream_(std::move(socket)), address_(std::move(address)) {
        ++state_->figures.connections;
        ++state_->perAddress[address_];
        state_->PublishFigures();
    }
    ~HttpSession() {
        if (!handedOver_) {
            --state_->figures.connections;
            if (--state_->perAddress[address_] <= 0) state_->perAddress.erase(address_);
            state_->PublishFigures();
        }
    }

    void Start() { Read(); }

private:
    void Read() {
        parser_.emplace();
        parser_->header_limit(kMaxRequestHeader);
        parser_->body_limit(kMaxRequestBody);
        stream_.expires_after(state_->options.requestTimeout);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
    }

    void OnRead(beast::error_code ec) {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            ec == asio::error::operation_aborted || ec == asio::error::connection_reset ||
            ec == asio::error::eof) {
            Close();
            return;
        }
        if (ec) {
            // What was sent cannot be read further: answer and close.
            int status = 400;
            std::string message = "malformed HTTP request";
            if (ec == http::error::body_limit) {
                status = 413;
                message = "request bodies are limited to 64 KiB";
            } else if (ec == http::error::header_limit) {
                status = 431;
                message = "request headers are limited to 8 KiB";
            }
            closeAfter_ = true;
            Send(ErrorResponse(status, message), false);
            return;
        }
        Handle();
    }

    void Handle() {
        const http::request<http::string_body>& req = parser_->get();
        keepAlive_ = req.keep_alive();
        head_ = req.method() == http::verb::head;
        ++state_->figures.requests;
        ApiRequest request;
        request.method = std::string_view(req.method_string().data(), req.method_string().size());
        request.target = std::string_view(req.target().data(), req.target().size());
        const auto field = [&](http::field f) {
            const auto it = req.find(f);
            return it == req.end() ? std::string_view()
                                   : std::string_view(it->value().data(), it->value().size());
        };
        request.authorization = field(http::field::authorization);
        request.contentType = field(http::field::content_type);
        request.protocols = field(http::field::sec_websocket_protocol);
        request.body = req.body();
        request.websocketUpgrade = websocket::is_upgrade(req);

        ApiContext context;
        context.token = state_->options.token;
        context.status = state_->status.get();
        context.readings = state_->model.Readings();
        context.figures = state_->figures;
        context.settingsAvailable = state_->settings != nullptr;
        ApiDecision d = DecideRequest(request, context);
        if (d.response.status == 401) ++state_->figures.unauthorised;
        state_->PublishFigures();

        switch (d.route) {
            case ApiRoute::Respond:
                Send(std::move(d.response), true);
                return;
            case ApiRoute::Events:
                StartEvents(d.authenticated, request.protocols);
                return;
            case ApiRoute::Preview:
                Preview();
                return;
            case ApiRoute::Action:
            case ApiRoute::SettingsGet:
            case ApiRoute::SettingsPatch:
                OnWindowThread(std::move(d));
                return;
        }
    }

    // Actions and settings run on the window thread; the answer comes back by post.
    void OnWindowThread(ApiDecision d) {
        ServerState& s = *state_;
        if (s.pendingActions >= s.options.maxPendingActions) {
            Send(ErrorResponse(503, "too many actions are waiting for Velmor; try again"), true);
            return;
        }
        ++s.pendingActions;
        const uint64_t id = s.nextAction++;
        auto pending = std::make_shared<ServerState::PendingAction>();
        pending->command = d.command;
        pending->respond = [self = shared_from_this()](ApiResponse r) {
            self->Send(std::move(r), true);
        };
        pending->timer = std::make_unique<asio::steady_timer>(s.io);
        pending->timer->expires_after(d.route == ApiRoute::Action &&
                                              d.command.action == RemoteAction::Grab
                                          ? s.options.grabTimeout
                                          : s.options.actionTimeout);
        std::weak_ptr<ServerState> weak = state_;
        pending->timer->async_wait([weak, id](beast::error_code ec) {
            auto st = weak.lock();
            if (ec || !st) return;
            Finish(*st, id,
                   ErrorResponse(503,
                                 "Velmor did not answer in time; the action may still "
                                 "happen"));
        });
        s.actions[id] = pending;

        auto post = [weak, id](ApiResponse response) {
            if (auto st = weak.lock())
                asio::post(st->io, [weak, id, response = std::move(response)]() mutable {
                    if (auto st2 = weak.lock()) Finish(*st2, id, std::move(response));
                });
        };
        IRemoteModel* model = &s.model;
        ISettingsAccess* settings = s.settings;
        s.toWindow([weak, d = std::move(d), post, model, settings] {
            const auto st = weak.lock();
            if (!st || st->stopped) return;
            switch (d.route) {
                case ApiRoute::SettingsGet: {
                    ApiResponse r;
                    r.body = settings->Get().dump(-1, ' ', false,
                                                  nlohmann::json::error_handler_t::replace);
                    post(std::move(r));
                    return;
                }
                case ApiRoute::SettingsPatch: {
                    // Changed: the answer is the settings as they now are.
                    const SettingsReply reply = settings->Patch(*d.changes);
                    if (reply.status != 200) {
                        post(SettingsErrorResponse(reply));
                        return;
                    }
                    ApiResponse r;
                    r.body = settings->Get().dump(-1, ' ', false,
                                                  nlohmann::json::error_handler_t::replace);
                    post(std::move(r));
                    return;
                }
                default:
                    model->Execute(d.command, [post, command = d.command](ActionReply reply) {
                        post(ActionResponse(command, reply));
                    });
                    return;
            }
        });
    }

    static void Finish(ServerState& s, uint64_t id, ApiResponse response) {
        const auto it = s.actions.find(id);
        if (it == s.actions.end()) return;  // answered already (or timed out)
        auto pending = it->second;
        s.actions.erase(it);
        --s.pendingActions;
        pending->timer->cancel();
        pending->respond(std::move(response));
    }

    void Preview() {
        ServerState& s = *state_;
        const bool running = s.model.PreviewWanted();
        if (!s.preview) {
            Send(ErrorResponse(503, "this copy has no preview"), true);
            return;
        }
        const uint64_t latest = s.preview->LatestSequence();
        if (!running && !s.awaitingFresh) {
            s.awaitingFresh = true;
            s.staleSequence = latest;
            s.freshBy = Clock::now() + kFreshPictureWait;
        }
        if (s.awaitingFresh) {
            AwaitPicture();
            return;
        }
        if (s.jpeg && !s.jpeg->empty() &&
            (s.jpegSequence == latest || Clock::now() - s.jpegAt < s.options.previewReuse)) {
            SendPicture(s.jpeg);
            return;
        }
        if (latest == 0 && !s.jpeg) {
            ApiResponse r = ErrorResponse(503, "no picture yet");
            r.headers.push_back({"Retry-After", "1"});
            Send(std::move(r), true);
            return;
        }
        if (AwaitPicture() && !s.encoding) StartEncoding(state_);
    }

    // Joins the requests waiting for the next picture; false when too many wait already.
    bool AwaitPicture() {
        ServerState& s = *state_;
        if (static_cast<int>(s.previewWaiters.size()) >= s.options.maxPreviewWaiters) {
            Send(ErrorResponse(503, "too many picture requests at once"), true);
            return false;
        }
        s.previewWaiters.push_back(
            [self = shared_from_this()](std::shared_ptr<const std::string> jpeg) {
                self->SendPicture(std::move(jpeg));
            });
        return true;
    }

public:
    static void StartEncoding(const std::shared_ptr<ServerState>& state);

private:
    void SendPicture(std::shared_ptr<const std::string> jpeg) {
        if (!jpeg || jpeg->empty()) {
            ApiResponse r = ErrorResponse(503, "no picture yet");
            r.headers.push_back({"Retry-After", "1"});
            Send(std::move(r), true);
            return;
        }
        ApiResponse r;
        r.contentType = "image/jpeg";
        r.body = *jpeg;
        Send(std::move(r), true);
    }

    void StartEvents(bool authenticated, std::string_view protocols) {
        ServerState& s = *state_;
        if (static_cast<int>(s.eventClients.size()) >= s.options.maxEventClients) {
            closeAfter_ = true;
            Send(ErrorResponse(503, "too many event clients"), true);
            return;
        }
        bool named = false;
        std::string chosen;
        ProtocolsCarryToken(protocols, s.options.token, named, chosen);
        // The connection is the events session's from here: its counts go with it.
        handedOver_ = true;
        --s.figures.connections;
        if (--s.perAddress[address_] <= 0) s.perAddress.erase(address_);
        auto events = std::make_shared<EventSession>(state_, stream_.release_socket(), address_);
        events->Start(parser_->release(), authenticated, chosen);
    }

    void Send(ApiResponse r, bool keepReading) {
        auto res = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(r.status), parser_ ? parser_->get().version() : 11);
        res->set(http::field::server, "Velmor");
        res->set(http::field::content_type, r.contentType);
        res->set(http::field::cache_control, "no-store");
        res->set("X-Content-Type-Options", "nosniff");
        res->set("Referrer-Policy", "no-referrer");
        if (r.contentType.rfind("text/html", 0) == 0) {
            res->set("Content-Security-Policy",
                     "default-src 'self'; img-src 'self' blob:; connect-src 'self' ws: wss:; "
                     "frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
            res->set("X-Frame-Options", "DENY");
        }
        for (const auto& [name, value] : r.headers)
            res->set(name, value);
        res->body() = std::move(r.body);
        res->keep_alive(keepAlive_ && !closeAfter_ && keepReading);
        res->prepare_payload();
        if (head_) res->body().clear();  // the length stays in the header
        stream_.expires_after(state_->options.writeTimeout);
        http::async_write(stream_, *res,
                          [self = shared_from_this(), res](beast::error_code ec, size_t) {
                              if (ec) {
                                  self->Close();
                              } else if (self->closeAfter_) {
                                  self->Linger();
                              } else if (!res->keep_alive()) {
                                  self->Close();
                              } else {
                                  self->Read();
                              }
                          });
    }

    // After an answer to a request that was not read to its end (too large, malformed): the rest
    // the client sends is read and let go for a moment, so the answer is not lost to a reset.
    void Linger() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(std::chrono::seconds(2));
        LingerRead(0);
    }
    void LingerRead(size_t total) {
        if (total > kMaxRequestBody * 16) {
            stream_.close();
            return;
        }
        stream_.async_read_some(asio::buffer(scratch_),
                                [self = shared_from_this(), total](beast::error_code ec, size_t n) {
                                    if (ec) {
                                        self->stream_.close();
                                        return;
                                    }
                                    self->LingerRead(total + n);
                                });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.close();
    }

    std::shared_ptr<ServerState> state_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_{kMaxRequestHeader + kMaxRequestBody + 1024};
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string address_;
    bool keepAlive_ = true;
    bool head_ = false;
    bool closeAfter_ = false;
    bool handedOver_ = false;
    std::array<char, 4096> scratch_{};
};

// A connection beyond the limits: answered 503 and closed, quickly.
void Refuse(const std::shared_ptr<ServerState>& state, tcp::socket socket) {
    if (state->refusing >= kMaxRefusing) return;  // the socket closes as it goes
    ++state->refusing;
    struct Refusal {
        explicit Refusal(tcp::socket s) : stream(std::move(s)) {}
        beast::tcp_stream stream;
        http::response<http::string_body> res;
    };
    auto r = std::make_shared<Refusal>(std::move(socket));
    r->res.result(http::status::service_unavailable);
    r->res.set(http::field::content_type, "application/json; charset=utf-8");
    r->res.set(http::field::retry_after, "5");
    r->res.body() = R"({"error":"too many connections"})";
    r->res.keep_alive(false);
    r->res.prepare_payload();
    r->stream.expires_after(kRefuseTimeout);
    http::async_write(r->stream, r->res, [r, state](beast::error_code, size_t) {
        --state->refusing;
        beast::error_code ignored;
        r->stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        r->stream.close();
    });
}

}  // namespace

struct HttpServer::Impl {
    Impl(HttpServerOptions options, IRemoteModel& model)
        : state(std::make_shared<ServerState>(io, std::move(options), model)) {}

    void Accept();
    void Tick();

    asio::io_context io{1};  // first: destroyed last, with the sessions it still holds
    std::shared_ptr<ServerState> state;
    tcp::acceptor acceptor{io};
    asio::steady_timer tick{io};
    asio::steady_timer acceptPause{io};
    std::unique_ptr<PictureEncoder> picture;
    std::thread thread;
    uint16_t port = 0;
};

void HttpSession::StartEncoding(const std::shared_ptr<ServerState>& state) {
    ServerState& s = *state;
    if (!s.encoder) return;
    s.encoding = true;
    std::weak_ptr<ServerState> weak = state;
    asio::io_context& io = s.io;
    s.encoder->Encode([weak, &io](std::shared_ptr<const std::string> jpeg, uint64_t sequence) {
        asio::post(io, [weak, jpeg = std::move(jpeg), sequence]() mutable {
            auto st = weak.lock();
            if (!st) return;
            st->encoding = false;
            if (jpeg && !jpeg->empty()) {
                st->jpeg = jpeg;
                st->jpegSequence = sequence;
                st->jpegAt = Clock::now();
            }
            auto waiters = std::move(st->previewWaiters);
            st->previewWaiters.clear();
            for (auto& w : waiters)
                w(st->jpeg ? st->jpeg : jpeg);
        });
    });
}

void HttpServer::Impl::Accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (ec) {
            // Out of descriptors or the like: try again a little later instead of spinning.
            acceptPause.expires_after(std::chrono::milliseconds(100));
            acceptPause.async_wait([this](beast::error_code e) {
                if (!e) Accept();
            });
            return;
        }
        ServerState& s = *state;
        beast::error_code ignored;
        const auto endpoint = socket.remote_endpoint(ignored);
        const std::string address = ignored ? std::string("?") : endpoint.address().to_string();
        socket.set_option(tcp::no_delay(true), ignored);
        const auto found = s.perAddress.find(address);
        const int fromAddress = found == s.perAddress.end() ? 0 : found->second;
        if (s.figures.connections >= s.options.maxConnections ||
            fromAddress >= s.options.maxConnectionsPerAddress) {
            if (s.figures.refusedConnections++ % 1000 == 0)
                s.Log("HTTP: too many connections; refusing " + address);
            s.PublishFigures();
            Refuse(state, std::move(socket));
        } else {
            std::make_shared<HttpSession>(state, std::move(socket), address)->Start();
        }
        Accept();
    });
}

void HttpServer::Impl::Tick() {
    tick.expires_after(state->options.levelsPeriod);
    tick.async_wait([this](beast::error_code ec) {
        if (ec) return;
        ServerState& s = *state;
        if (s.awaitingFresh && s.preview &&
            (s.preview->LatestSequence() != s.staleSequence || Clock::now() >= s.freshBy)) {
            // A new picture came (or none will soon): the waiting requests get the newest.
            s.awaitingFresh = false;
            if (!s.previewWaiters.empty() && !s.encoding) HttpSession::StartEncoding(state);
        }
        if (!s.eventClients.empty()) {
            const LiveReadings r = s.model.Readings();
            const auto now = Clock::now();
            // The freeze's held state and the end of a connection come from the engine
            // directly, not from a change the window shows.
            if (r.freezeState != s.lastFreezeState || r.connected != s.lastConnected) {
                s.lastFreezeState = r.freezeState;
                s.lastConnected = r.connected;
                s.Broadcast(std::make_shared<const std::string>(StatusEvent(*s.status, r)));
            }
            std::string levels = LevelsEvent(r);
            if (levels != s.lastLevels || now - s.lastLevelsAt >= std::chrono::seconds(1)) {
                s.lastLevels = levels;
                s.lastLevelsAt = now;
                s.Broadcast(std::make_shared<const std::string>(std::move(levels)));
            }
            if (now - s.lastCountersAt >= std::chrono::seconds(1)) {
                s.lastCountersAt = now;
                s.Broadcast(std::make_shared<const std::string>(CountersEvent(r)));
            }
        }
        Tick();
    });
}

HttpServer::HttpServer(HttpServerOptions options, IRemoteModel& model, WindowPoster toWindow,
                       PreviewRenderer* preview, ISettingsAccess* settings)
    : impl_(std::make_unique<Impl>(std::move(options), model)) {
    ServerState& s = *impl_->state;
    s.toWindow = std::move(toWindow);
    s.preview = preview;
    s.settings = settings;
    impl_->picture = std::make_unique<PictureEncoder>(preview, s.options.previewMaxWidth,
                                                      s.options.previewQuality);
    s.encoder = impl_->picture.get();
}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(std::string& error) {
    Impl& i = *impl_;
    if (i.thread.joinable()) return true;
    const ListenAddress& listen = i.state->options.listen;
    beast::error_code ec;
    const auto address = asio::ip::make_address(listen.host, ec);
    if (ec) {
        error = "\"" + listen.host + "\" is not an address";
        return false;
    }
    const tcp::endpoint endpoint(address, listen.port);
    i.acceptor.open(endpoint.protocol(), ec);
    if (!ec) i.acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec && address.is_v6()) i.acceptor.set_option(asio::ip::v6_only(true), ec);
    if (!ec) i.acceptor.bind(endpoint, ec);
    if (!ec) i.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + listen.host + ":" + std::to_string(listen.port) + ": " +
                ec.message();
        beast::error_code ignored;
        i.acceptor.close(ignored);
        return false;
    }
    i.port = i.acceptor.local_endpoint().port();
    try {
        i.picture->Start();
        i.Accept();
        i.Tick();
        i.thread = std::thread([&i] {
            LowerThreadPriority(5);
            i.io.run();
        });
    } catch (const std::system_error& e) {
        // No thread to be had: nothing runs, nothing is left listening.
        i.picture->Stop();
        beast::error_code ignored;
        i.acceptor.close(ignored);
        error = std::string("cannot start the server's threads: ") + e.what();
        return false;
    }
    return true;
}

void HttpServer::Stop() {
    Impl& i = *impl_;
    if (!i.thread.joinable()) return;
    i.state->stopped = true;
    i.io.stop();
    i.thread.join();
    i.picture->Stop();
    // Nothing runs on the io_context any more: what waits for the window thread or the encoder
    // is let go here, while the io_context that owns its timers is still whole.
    i.state->actions.clear();
    i.state->previewWaiters.clear();
    beast::error_code ignored;
    i.acceptor.close(ignored);
}

uint16_t HttpServer::port() const {
    return impl_->port;
}

void HttpServer::PublishStatus(RemoteStatus status) {
    auto next = std::make_shared<const RemoteStatus>(std::move(status));
    std::weak_ptr<ServerState> weak = impl_->state;
    asio::post(impl_->io, [weak, next] {
        auto s = weak.lock();
        if (!s) return;
        const bool changed = !(*next == *s->status);
        s->status = next;
        if (!changed || s->eventClients.empty()) return;
        const LiveReadings r = s->model.Readings();
        s->lastFreezeState = r.freezeState;
        s->lastConnected = r.connected;
        s->Broadcast(std::make_shared<const std::string>(StatusEvent(*next, r)));
    });
}

void HttpServer::PublishSettings(std::string document) {
    auto event = std::make_shared<const std::string>(SettingsEvent(document));
    std::weak_ptr<ServerState> weak = impl_->state;
    asio::post(impl_->io, [weak, event] {
        auto s = weak.lock();
        if (!s) return;
        if (s->settingsEvent && *s->settingsEvent == *event) return;
        s->settingsEvent = event;
        s->Broadcast(event);
    });
}

ServerFigures HttpServer::Figures() const {
    std::lock_guard lock(impl_->state->figuresMutex);
    return impl_->state->published;
}

}  // namespace velmor
