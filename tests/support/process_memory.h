// Resident and peak resident memory of a process, in MiB (from /proc/PID/status).
#pragma once

#include <sys/types.h>

#include <fstream>
#include <string>

namespace velmor::test {

struct ProcessMemory {
    double rss = 0, peak = 0;
};

inline ProcessMemory MemoryOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    ProcessMemory m;
    std::string key;
    while (in >> key) {
        double kb = 0;
        if (key == "VmRSS:" && in >> kb) m.rss = kb / 1024;
        if (key == "VmHWM:" && in >> kb) m.peak = kb / 1024;
    }
    return m;
}

}  // namespace velmor::test
