// The fixture of the tool tests: tool processes share one announcement folder of the test
// process, and sanitizer builds get smaller pictures through the same paths.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "process.h"

namespace velmor::test {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Children share one announcement folder of this test process, so nothing else on the machine
// sees their sources, nor they anyone else's.
class Tools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = "/tmp/velmor-ndi-tools-" + std::to_string(getpid());
        setenv("VELMOR_NDI_DIR", dir_.c_str(), 1);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    static std::string Name(const std::string& base) {
        static int serial = 0;
        return base + "-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    }
    static long long Total(const Process& p, const char* what) {
        std::smatch m;
        const std::string out = p.Output();
        const std::regex re(std::string("total: .*?(\\d+) ") + what);
        return std::regex_search(out, m, re) ? std::stoll(m[1]) : -1;
    }
    static inline std::string dir_;
};

}  // namespace velmor::test
