// A private X server (Xvfb) for end-to-end tests of the window: it picks a free display itself
// and prints its number.
#pragma once

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/process.h"

namespace velmor::test {

inline constexpr const char* kXvfb = "/usr/bin/Xvfb";

// Starts Xvfb and waits (up to `limit`) for its display number, the line of digits it prints
// once it listens (a warning about another server's socket may come first). `display` becomes
// ":N", or stays empty when the server did not start; the process is returned either way, so its
// output can be shown.
inline std::unique_ptr<Process> StartXvfb(
    std::string& display, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto xvfb = std::make_unique<Process>(
        kXvfb, std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1280x900x24",
                                        "-nolisten", "tcp"});
    display.clear();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (display.empty() && std::chrono::steady_clock::now() < end) {
        std::istringstream lines(xvfb->Output());
        for (std::string line; display.empty() && std::getline(lines, line);) {
            // A whole line: one that is still being written has no line end after it yet.
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos &&
                !lines.eof())
                display = ":" + line;
        }
        if (display.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return xvfb;
}

}  // namespace velmor::test
