// Shared helpers of the NDI tests: the built-in transport loaded through the same loader the
// program uses, unique source names, and frames with a recognisable picture.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ndi/builtin/discovery.h"
#include "ndi/ndi_library.h"

namespace velmor::test {

// Loaded once per test process; announcements go into a folder of this process only, so runs of
// the suite beside each other (or beside a real Velmor) never see each other's sources.
inline const NdiLibrary& Builtin() {
    static NdiLoadResult loaded = [] {
        const std::string dir = "/tmp/velmor-ndi-test-" + std::to_string(getpid());
        setenv("VELMOR_NDI_DIR", dir.c_str(), 1);
        static std::string removeAtExit = dir;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(removeAtExit, ec);
        });
        auto r = LoadNdiLibrary(NdiChoice::Builtin);
        if (r.ok) r.api.initialize();
        return r;
    }();
    return loaded.api;
}

inline std::string UniqueName(const std::string& base) {
    static int serial = 0;
    return base + " " + std::to_string(getpid()) + "-" + std::to_string(++serial);
}

inline std::string FullName(const std::string& name) {
    return discovery::FullSourceName(name);
}

// Polls `done` until it holds or `limit` passes; returns whether it held.
inline bool Eventually(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

inline std::vector<std::string> SourceNames(const NdiLibrary& ndi, NDIlib_find_instance_t f) {
    uint32_t n = 0;
    const NDIlib_source_t* s = ndi.find_get_current_sources(f, &n);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < n; ++i)
        names.emplace_back(s[i].p_ndi_name);
    return names;
}

inline bool Lists(const NdiLibrary& ndi, NDIlib_find_instance_t f, const std::string& full) {
    for (const auto& n : SourceNames(ndi, f))
        if (n == full) return true;
    return false;
}

// The suite runs twice: as it comes (same-machine path between the sender and receivers of this
// process) and with VELMOR_NDI_TCP=1 (see CMakeLists.txt).
inline bool SharedPathExpected() {
    const char* v = std::getenv("VELMOR_NDI_TCP");
    return !(v && std::string(v) == "1");
}

// The frame-slot mappings of a process (memfds named "velmor-ndi-slots"), from its memory map.
struct SlotMapping {
    uintptr_t begin = 0, end = 0;
};
inline std::vector<SlotMapping> SlotMappings(pid_t pid = 0) {
    std::ifstream maps(pid ? "/proc/" + std::to_string(pid) + "/maps" : "/proc/self/maps");
    std::vector<SlotMapping> out;
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("/memfd:velmor-ndi-slots") == std::string::npos) continue;
        SlotMapping m;
        char dash = 0;
        std::istringstream in(line);
        in >> std::hex >> m.begin >> dash >> m.end;
        out.push_back(m);
    }
    return out;
}
inline uint64_t SlotBytes(pid_t pid = 0) {
    uint64_t n = 0;
    for (const auto& m : SlotMappings(pid))
        n += m.end - m.begin;
    return n;
}
// Whether a captured picture lies in a slot (was handed over without a copy).
inline bool InSlot(const void* p) {
    const auto a = reinterpret_cast<uintptr_t>(p);
    for (const auto& m : SlotMappings())
        if (a >= m.begin && a < m.end) return true;
    return false;
}

}  // namespace velmor::test
