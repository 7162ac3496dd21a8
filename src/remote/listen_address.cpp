#include "remote/listen_address.h"

#include <arpa/inet.h>

namespace velmor {

namespace {

bool ParsePort(std::string_view text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool ListenAddress::Loopback() const {
    if (ipv6) {
        in6_addr a{};
        return inet_pton(AF_INET6, host.c_str(), &a) == 1 && IN6_IS_ADDR_LOOPBACK(&a);
    }
    in_addr a{};
    return inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

std::string ListenAddress::PageAddress(uint16_t actualPort) const {
    std::string shown = host;
    if (host == "0.0.0.0") shown = "127.0.0.1";
    if (host == "::") shown = "::1";
    if (ipv6) shown = "[" + shown + "]";
    return "http://" + shown + ":" + std::to_string(actualPort) + "/";
}

bool ParseListenAddress(std::string_view option, ListenAddress& out, std::string& error) {
    ListenAddress a;
    std::string_view portText = option;
    if (!option.empty() && option.front() == '[') {
        const size_t close = option.find(']');
        if (close == std::string_view::npos || close + 1 >= option.size() ||
            option[close + 1] != ':') {
            error = "--http: an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        a.host = std::string(option.substr(1, close - 1));
        a.ipv6 = true;
        portText = option.substr(close + 2);
        in6_addr v6{};
        if (inet_pton(AF_INET6, a.host.c_str(), &v6) != 1) {
            error = "--http: \"" + a.host + "\" is not an IPv6 address";
            return false;
        }
    } else if (const size_t colon = option.rfind(':'); colon != std::string_view::npos) {
        a.host = std::string(option.substr(0, colon));
        portText = option.substr(colon + 1);
        in_addr v4{};
        if (inet_pton(AF_INET, a.host.c_str(), &v4) != 1) {
            error = "--http: \"" + a.host +
                    "\" is not a dotted IPv4 address (IPv6 is written [ADDRESS]:PORT)";
            return false;
        }
    }
    if (!ParsePort(portText, a.port)) {
        error = "--http: \"" + std::string(portText) + "\" is not a port number (0 to 65535)";
        return false;
    }
    out = a;
    return true;
}

}  // namespace velmor
