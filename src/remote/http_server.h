// The HTTP front end's server: the API of http_api.h, the events WebSocket, the preview picture
// and the control page, on a thread of its own.
//
// Threads. The server runs one thread (nice +5) with its sockets, timers and the latest status,
// and a picture encoder (nice +10). The window thread hands it a RemoteStatus at every change
// (PublishStatus, a post that never waits); the server reaches the window thread only by posting
// (`toWindow`) an action, whose reply is posted back. Neither waits for the other, and no engine
// thread ever meets the server: the counters and the meter are atomics it reads, and the preview
// is read from the renderer's second reader side.
//
// Bounds, so that no client can make it grow or stall: a request's header 8 KiB and body 64 KiB
// (refused from Content-Length before the body is read), a whole request within 15 s (slow
// clients are closed), at most 256 connections and 128 from one address (more are answered 503
// and closed), at most 64 event clients each with a backlog of 64 messages or 1 MiB and a write
// that finishes within 5 s (a client that does not read is dropped, never waited for), at most
// 16 actions waiting for the window
// thread (more are answered 503; one the window does not answer within 5 s is answered 503), and
// at most 64 requests waiting for a picture.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "remote/http_api.h"
#include "remote/listen_address.h"
#include "remote/remote_model.h"

namespace velmor {

class PreviewRenderer;

struct HttpServerOptions {
    ListenAddress listen;
    std::string token;
    int maxConnections = 256;
    // A TLS proxy in front makes every client one address: this bounds one address's share
    // without starving the clients of a proxy.
    int maxConnectionsPerAddress = 128;
    int maxEventClients = 64;
    int maxPendingActions = 16;
    int maxPreviewWaiters = 64;
    size_t eventBacklogMessages = 64;
    size_t eventBacklogBytes = 1 << 20;
    std::chrono::milliseconds requestTimeout{15000};  // a whole request, from the previous answer
    std::chrono::milliseconds writeTimeout{10000};
    std::chrono::milliseconds actionTimeout{5000};
    std::chrono::milliseconds grabTimeout{10000};  // a grab waits for its file to be written
    std::chrono::milliseconds eventsAuthTimeout{5000};
    std::chrono::milliseconds levelsPeriod{50};
    std::chrono::milliseconds previewReuse{100};  // a picture this young is sent again
    int previewMaxWidth = 640;
    int previewQuality = 75;
    // Lines for the operator's log, from the server's thread (rare: start, refusals, drops).
    std::function<void(const std::string&)> log;
};

class HttpServer {
public:
    using WindowPoster = std::function<void(std::function<void()>)>;

    // `model` and `settings` (may be null) are used on the window thread through `toWindow`,
    // `model.Readings()` and `PreviewWanted()` on the server's thread; `preview` (may be null) is
    // read on the encoder's. All must outlive the server.
    HttpServer(HttpServerOptions options, IRemoteModel& model, WindowPoster toWindow,
               PreviewRenderer* preview, ISettingsAccess* settings = nullptr);
    // Stops (see Stop).
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and starts the threads. False with `error` when the address cannot be had.
    bool Start(std::string& error);
    // Closes every connection and joins the threads; the window thread's pending replies are
    // then dropped. Never waits for the window thread, so it may run there.
    void Stop();

    // The port listened on (the one chosen when the options said 0); 0 before Start.
    uint16_t port() const;
    // Any thread: what the window shows now. Pushed to the event clients when it differs.
    void PublishStatus(RemoteStatus status);
    // Any thread: the settings document's JSON text (GET /api/v1/settings). Pushed to the event
    // clients as {"type": "settings", "settings": ...} when it differs, and to each new one.
    void PublishSettings(std::string document);
    // Any thread: the server's figures (also in /metrics).
    ServerFigures Figures() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmor
