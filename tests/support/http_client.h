// A small blocking HTTP and WebSocket client for tests (Boost.Beast), with a time limit on every
// exchange so a test never hangs on a server that does not answer.
#pragma once

#include <array>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmor::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = boost::asio::ip::tcp;

struct HttpResult {
    int status = 0;  // 0: no answer (refused, closed, timed out)
    std::string body;
    std::map<std::string, std::string> headers;
    std::string error;
    std::string Header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// One request on a connection of its own. Asynchronous underneath, so that `limit` bounds the
// whole exchange (Beast's stream timeouts apply to asynchronous operations only).
inline HttpResult HttpRequest(const std::string& host, uint16_t port, const std::string& method,
                              const std::string& target, const std::string& token = {},
                              const std::string& body = {},
                              const std::string& contentType = "application/json",
                              std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    HttpResult result;
    boost::asio::io_context io;
    beast::tcp_stream stream(io);
    stream.expires_after(limit);
    http::request<http::string_body> req(http::string_to_verb(method), target, 11);
    if (req.method() == http::verb::unknown) req.method_string(method);
    req.set(http::field::host, host + ":" + std::to_string(port));
    if (!token.empty()) req.set(http::field::authorization, "Bearer " + token);
    if (!body.empty()) {
        req.set(http::field::content_type, contentType);
        req.body() = body;
    }
    req.prepare_payload();
    req.keep_alive(false);
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    if (method == "HEAD") parser.skip(true);
    auto fail = [&](beast::error_code ec) { result.error = ec.message(); };
    boost::system::error_code addressError;
    const auto address = boost::asio::ip::make_address(host, addressError);
    stream.async_connect(tcp::endpoint(address, port), [&](beast::error_code ec) {
        if (ec) return fail(ec);
        http::async_write(stream, req, [&](beast::error_code wec, size_t) {
            if (wec) return fail(wec);
            http::async_read(stream, buffer, parser, [&](beast::error_code rec, size_t) {
                if (rec) return fail(rec);
                const auto& res = parser.get();
                result.status = static_cast<int>(res.result_int());
                result.body = res.body();
                for (const auto& f : res)
                    result.headers[std::string(f.name_string())] = std::string(f.value());
            });
        });
    });
    io.run();
    return result;
}

// Sends `bytes` on a connection of its own and returns everything that comes back until the
// server closes, `maxBytes` arrived or `limit` passed.
inline std::string RawExchange(uint16_t port, const std::string& bytes,
                               std::chrono::milliseconds limit = std::chrono::seconds(5),
                               size_t maxBytes = 1 << 20) {
    boost::asio::io_context io;
    beast::tcp_stream stream(io);
    stream.expires_after(limit);
    std::string got;
    std::array<char, 4096> chunk{};
    std::function<void()> readMore = [&] {
        stream.async_read_some(boost::asio::buffer(chunk), [&](beast::error_code ec, size_t n) {
            got.append(chunk.data(), n);
            if (!ec && got.size() < maxBytes) readMore();
        });
    };
    stream.async_connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port),
                         [&](beast::error_code ec) {
                             if (ec) return;
                             boost::asio::async_write(stream.socket(), boost::asio::buffer(bytes),
                                                      [](beast::error_code, size_t) {});
                             readMore();
                         });
    io.run();
    return got;
}

inline HttpResult Get(uint16_t port, const std::string& target, const std::string& token = {}) {
    return HttpRequest("127.0.0.1", port, "GET", target, token);
}
inline HttpResult Post(uint16_t port, const std::string& target, const std::string& token,
                       const std::string& body = {}) {
    return HttpRequest("127.0.0.1", port, "POST", target, token, body);
}

// A client of the events WebSocket.
class EventsClient {
public:
    // `protocols` is the Sec-WebSocket-Protocol offered (empty: none); `authorization` a header.
    bool Connect(uint16_t port, const std::string& protocols = {},
                 const std::string& authorization = {}) {
        try {
            ws_ = std::make_unique<websocket::stream<beast::tcp_stream>>(io_);
            beast::get_lowest_layer(*ws_).expires_after(std::chrono::seconds(10));
            beast::get_lowest_layer(*ws_).connect(
                tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port));
            ws_->set_option(websocket::stream_base::decorator([=](websocket::request_type& r) {
                if (!protocols.empty()) r.set(http::field::sec_websocket_protocol, protocols);
                if (!authorization.empty()) r.set(http::field::authorization, authorization);
            }));
            websocket::response_type response;
            ws_->handshake(response, "127.0.0.1:" + std::to_string(port), "/api/v1/events");
            chosenProtocol_ = std::string(response[http::field::sec_websocket_protocol]);
            beast::get_lowest_layer(*ws_).expires_never();
            return true;
        } catch (const std::exception& e) {
            error_ = e.what();
            return false;
        }
    }
    bool Send(const std::string& text) {
        try {
            ws_->text(true);
            ws_->write(boost::asio::buffer(text));
            return true;
        } catch (const std::exception& e) {
            error_ = e.what();
            return false;
        }
    }
    // The next message, or empty when none came within `limit` (a read still under way goes on
    // at the next call) or the socket closed (then closed() and closeCode() tell).
    std::string Read(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        if (closed_) return {};
        if (!reading_) {
            reading_ = true;
            done_ = false;
            ws_->async_read(buffer_, [this](beast::error_code ec, size_t) {
                reading_ = false;
                done_ = true;
                if (ec) {
                    error_ = ec.message();
                    closed_ = true;
                    closeCode_ = ws_->reason().code;
                }
            });
        }
        io_.restart();
        io_.run_for(limit);
        if (!done_ || closed_) return {};
        std::string message = beast::buffers_to_string(buffer_.data());
        buffer_.consume(buffer_.size());
        done_ = false;
        return message;
    }
    bool closed() const { return closed_; }
    // The next message whose text holds `part`.
    std::string ReadUntil(const std::string& part,
                          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const std::string m = Read(std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()));
            if (m.empty()) return {};
            if (m.find(part) != std::string::npos) return m;
        }
        return {};
    }
    // The raw socket, for tests that stop reading.
    tcp::socket& Socket() { return beast::get_lowest_layer(*ws_).socket(); }
    int closeCode() const { return closeCode_; }
    const std::string& error() const { return error_; }
    const std::string& chosenProtocol() const { return chosenProtocol_; }

private:
    boost::asio::io_context io_;
    std::unique_ptr<websocket::stream<beast::tcp_stream>> ws_;
    beast::flat_buffer buffer_;
    bool reading_ = false, done_ = false, closed_ = false;
    std::string error_, chosenProtocol_;
    int closeCode_ = 0;
};

}  // namespace velmor::test
