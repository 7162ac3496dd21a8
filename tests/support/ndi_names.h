// Names of NDI sources on this machine as finders list them.
#pragma once

#include <unistd.h>

#include <cctype>
#include <string>

namespace velmor::testing {

// This machine's name as it starts the full names of its sources: in capitals.
inline std::string HostName() {
    char buf[256] = {};
    gethostname(buf, sizeof buf - 1);
    std::string h = buf[0] ? buf : "localhost";
    for (char& c : h)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return h;
}

// The full name of the source `name` sent from this machine: "HOST (name)".
inline std::string LocalSourceName(const std::string& name) {
    return HostName() + " (" + name + ")";
}

}  // namespace velmor::testing
