// Frame grabs at 1080p60 must not stall the output. Its own executable, run alone (RUN_SERIAL):
// the chain needs most of the machine's two processors.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <regex>

#include "relay_fixture.h"
#include "tools/tools_fixture.h"

namespace velmor {
namespace {

// The sink's largest gaps between output frames: as they arrived, and between their send times.
struct Gaps {
    double arrival = -1, send = -1;
};
Gaps LargestGaps(const Process& sink) {
    std::smatch m;
    const std::string out = sink.Output();
    static const std::regex re("largest gap ([0-9.]+) ms \\(([0-9.]+) ms between send times\\)");
    if (!std::regex_search(out, m, re)) return {};
    return {std::stod(m[1]), std::stod(m[2])};
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A complete PNG of the given size: signature, IHDR with the size, IEND at the very end.
bool CompletePng(const std::vector<uint8_t>& png, uint32_t width, uint32_t height) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 8 + 25 + 12 || std::memcmp(png.data(), kSignature, 8) != 0) return false;
    auto be32 = [&](size_t at) {
        return uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 | uint32_t{png[at + 2]} << 8 |
               png[at + 3];
    };
    return std::memcmp(&png[12], "IHDR", 4) == 0 && be32(16) == width && be32(20) == height &&
           std::memcmp(&png[png.size() - 8], "IEND", 4) == 0;
}

TEST_F(Relay, GrabsAt1080p60DoNotStallTheOutput) {
    if (test::kSanitized) GTEST_SKIP() << "a sanitized relay cannot keep 1080p60";
    auto bus = StartPrivateBus();
    ASSERT_TRUE(bus) << "no dbus-daemon";
    const std::string config = SaveGrabConfig("grab.vlm");

    // The chain runs ahead of the machine's other work (this test shares its processors), so what
    // it measures is the relay, not a neighbour's build; the grab worker inside the relay still
    // competes with its own video thread.
    constexpr int kAhead = -10;
    auto src =
        Run(VELMOR_TESTSRC,
            {"--name", "Fast", "--size", "1920x1080", "--rate", "60/1", "--seconds", "60"}, kAhead);
    auto relay =
        Run(VELMOR_BIN, {"--headless", "--config", config, "--source", Host() + " (Fast)"}, kAhead);
    ASSERT_TRUE(WaitForOutput(*relay, "signal lamp: magenta")) << relay->Output();

    // Other sessions share this machine's two processors and can take them for tens of
    // milliseconds at any moment, whatever the relay does. So each attempt watches the output for
    // as long without grabs and then during a burst of ten grabs: one burst must show every gap
    // under two frame periods. A relay that encodes on its video thread (over 100 ms for each
    // 1080p PNG) misses in every burst, while its quiet windows are clean. When not even one quiet
    // window is, the machine cannot carry 1080p60 now, and nothing can be judged.
    constexpr int kGrabs = 10, kAttempts = 5;
    constexpr double kPeriodMs = 1000.0 / 60;
    const auto png = dir_ / "grabs" / "VelmorGrab-1.png";
    int saved = 0;
    bool smooth = false, quietSeen = false;
    auto watch = [&](const std::function<void()>& during) {
        auto sink = Run(
            VELMOR_SINK,
            {"--source", "Korvo Velmor 1", "--groups", "Korvo Velmor", "--seconds", "60"}, kAhead);
        EXPECT_TRUE(WaitForOutput(*sink, "stats: ")) << sink->Output();
        const auto start = std::chrono::steady_clock::now();
        during();
        // The measurement covers what happened during() and ends with it (at least 2 s).
        std::this_thread::sleep_until(start + 2s);
        sink->Kill(SIGINT);
        EXPECT_EQ(sink->Wait(30s), 0) << sink->Output();
        return LargestGaps(*sink);
    };
    for (int attempt = 1; attempt <= kAttempts && !smooth; ++attempt) {
        const auto burstStart = std::chrono::steady_clock::now();
        const Gaps burst = watch([&] {
            // Each grab complete on disk before the next is asked for.
            for (int i = 1; i <= kGrabs; ++i) {
                auto grab = Run(VELMOR_CTL, {"--copy", "1", "grab"});
                ASSERT_EQ(grab->Wait(10s), 0) << grab->Output();
                ++saved;
                const auto end = std::chrono::steady_clock::now() + 15s;
                while (Count(relay->Output(), "frame grab saved") < saved &&
                       std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(20ms);
                ASSERT_EQ(Count(relay->Output(), "frame grab saved"), saved) << relay->Output();
                EXPECT_TRUE(CompletePng(ReadFile(png), 1920, 1080)) << "grab " << saved;
            }
        });
        ASSERT_EQ(saved, attempt * kGrabs);
        const auto burstLength = std::chrono::steady_clock::now() - burstStart;
        const Gaps quiet = watch([&] { std::this_thread::sleep_for(burstLength); });
        ASSERT_GE(burst.arrival, 0);
        ASSERT_GE(quiet.arrival, 0);
        std::printf(
            "attempt %d: largest gap between output frames %.1f ms during the grabs (%.1f ms "
            "between send times), %.1f ms without\n",
            attempt, burst.arrival, burst.send, quiet.arrival);
        smooth = burst.arrival < 2 * kPeriodMs;
        quietSeen = quietSeen || quiet.arrival < 2 * kPeriodMs;
    }
    if (!smooth && !quietSeen) GTEST_SKIP() << "no quiet window: the machine is too busy to judge";
    EXPECT_TRUE(smooth) << "every burst of grabs had a gap of two frame periods or more, while "
                           "the output without grabs had none";
    EXPECT_EQ(Count(relay->Output(), "frame grab failed"), 0);
    relay->Kill(SIGINT);
    EXPECT_EQ(relay->Wait(10s), 0);
    bus->Kill(SIGKILL);
}

}  // namespace
}  // namespace velmor
