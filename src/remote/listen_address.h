// The address the HTTP front end listens on, as --http gives it: "PORT", "ADDRESS:PORT" (dotted
// IPv4) or "[ADDRESS]:PORT" (IPv6). Without an address it is 127.0.0.1, this machine only. Port 0
// takes any free port (the address logged at start-up says which).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmor {

struct ListenAddress {
    std::string host = "127.0.0.1";  // numeric, without brackets
    uint16_t port = 0;
    bool ipv6 = false;

    // Only this machine can reach it (127.0.0.0/8 or ::1).
    bool Loopback() const;
    // "http://HOST:PORT/" with the port given, for links (IPv6 in brackets; the all-interfaces
    // address as 127.0.0.1, which this machine's browser can open).
    std::string PageAddress(uint16_t actualPort) const;
};

// False with `error` naming what is wrong.
bool ParseListenAddress(std::string_view option, ListenAddress& out, std::string& error);

}  // namespace velmor
