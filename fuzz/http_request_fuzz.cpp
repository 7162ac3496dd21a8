// Feeds arbitrary bytes to the HTTP front end's readers as a client could send them: a stream of
// requests through Beast's parser with the server's limits, each through the API's decision
// (the path, the token, the JSON body of every action, the WebSocket token), and the same bytes
// as the events socket's first message and as an --http address. Whatever the bytes, no action
// is decided without the token.
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

#include "remote/http_api.h"
#include "remote/listen_address.h"

namespace {

namespace http = boost::beast::http;
constexpr std::string_view kToken = "fuzz-token-0123456789";

void Decide(const http::request<http::string_body>& req) {
    velmor::ApiRequest r;
    r.method = std::string_view(req.method_string().data(), req.method_string().size());
    r.target = std::string_view(req.target().data(), req.target().size());
    const auto field = [&](http::field f) {
        const auto it = req.find(f);
        return it == req.end() ? std::string_view()
                               : std::string_view(it->value().data(), it->value().size());
    };
    r.authorization = field(http::field::authorization);
    r.contentType = field(http::field::content_type);
    r.protocols = field(http::field::sec_websocket_protocol);
    r.body = req.body();
    r.websocketUpgrade = boost::beast::websocket::is_upgrade(req);
    static const velmor::RemoteStatus status;
    velmor::ApiContext c;
    c.token = kToken;
    c.status = &status;
    const velmor::ApiDecision d = velmor::DecideRequest(r, c);
    const bool tokenSent = r.authorization.find(kToken) != std::string_view::npos;
    if ((d.route == velmor::ApiRoute::Action || d.route == velmor::ApiRoute::Preview) && !tokenSent)
        __builtin_trap();
    if (d.route == velmor::ApiRoute::Events && d.authenticated && !tokenSent &&
        r.protocols.find(kToken) == std::string_view::npos)
        __builtin_trap();
    if (d.route == velmor::ApiRoute::Respond && d.response.body.size() > 1 << 20) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    boost::asio::const_buffer rest(data, size);
    // Requests one after the other, as on a kept-alive connection.
    for (int n = 0; n < 8 && rest.size() > 0; ++n) {
        http::request_parser<http::string_body> parser;
        parser.header_limit(velmor::kMaxRequestHeader);
        parser.body_limit(velmor::kMaxRequestBody);
        boost::beast::error_code ec;
        size_t used = 0;
        while (!parser.is_done() && rest.size() > 0) {
            const size_t step = parser.put(rest, ec);
            if (ec == http::error::need_more) break;
            if (ec) break;
            rest += step;
            used += step;
        }
        if (ec == http::error::need_more && rest.size() > 0) {
            // The rest ends the message as a closed connection would.
            parser.put_eof(ec);
        }
        if (!ec && parser.is_done()) Decide(parser.get());
        if (ec || used == 0) break;
    }
    velmor::EventsAuthMessage(bytes, kToken);
    bool named = false;
    std::string chosen;
    velmor::ProtocolsCarryToken(bytes, kToken, named, chosen);
    if (size <= 64) {
        velmor::ListenAddress address;
        std::string error;
        velmor::ParseListenAddress(bytes, address, error);
    }
    return 0;
}
