// The relay under attack, end to end: a source sending oversized and malformed frames must neither
// stop the relay nor make it grow, and wrong command-line addresses are named.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "ndi/ndi_library.h"
#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "relay_fixture.h"
#include "support/process_memory.h"
#include "support/recording_fakes.h"
#include "tools/tools_fixture.h"

namespace velmor {
namespace {

using test::MemoryOf;
using Memory = test::ProcessMemory;

TEST_F(Relay, WrongCommandLineAddressesAreNamed) {
    auto relay = Run(VELMOR_BIN, {"--headless", "999.1.1.1,127.0.0.1, not-an-ip"});
    ASSERT_TRUE(WaitForOutput(*relay, "not IPv4 addresses")) << relay->Output();
    relay->Kill(SIGINT);
    EXPECT_EQ(relay->Wait(10s), 0) << relay->Output();
    EXPECT_TRUE(
        relay->OutputHas("source: Command Line argument = >999.1.1.1,127.0.0.1, not-an-ip<"))
        << "the caption still shows what was given";
    EXPECT_TRUE(
        relay->OutputHas("[Command Line] Command line: \"999.1.1.1\", \"not-an-ip\" are not "
                         "IPv4 addresses; they are not used for discovery"))
        << relay->Output();
}

// A source in this process, on the real built-in transport, that a relay connects to.
class HostileSource {
public:
    explicit HostileSource(const char* name) : library_(LoadNdiLibrary(NdiChoice::Builtin)) {
        if (!library_.ok || !library_.api.initialize()) return;
        NDIlib_send_create_t settings{name, nullptr, false, false};  // paced by the test
        sender_ = library_.api.send_create(&settings);
    }
    ~HostileSource() {
        if (sender_) library_.api.send_destroy(sender_);
    }
    bool ok() const { return sender_ != nullptr; }
    bool WaitForReceiver() { return library_.api.send_get_no_connections(sender_, 15000) > 0; }

    void Video(int w, int h, int rateN, int rateD, uint8_t value) {
        NDIlib_video_frame_v2_t f{};
        f.xres = w;
        f.yres = h;
        f.FourCC = NDIlib_FourCC_video_type_UYVY;
        f.frame_rate_N = rateN;
        f.frame_rate_D = rateD;
        f.picture_aspect_ratio = 16.0f / 9.0f;
        f.frame_format_type = NDIlib_frame_format_type_progressive;
        f.timecode = NDIlib_send_timecode_synthesize;
        f.line_stride_in_bytes = w * 2;
        picture_.assign(static_cast<size_t>(f.line_stride_in_bytes) * h, value);
        f.p_data = picture_.data();
        library_.api.send_send_video_v2(sender_, &f);
        picture_ = {};
    }
    void Audio(int channels, int samples, int rate) {
        NDIlib_audio_frame_v2_t a{};
        a.sample_rate = rate;
        a.no_channels = channels;
        a.no_samples = samples;
        a.timecode = NDIlib_send_timecode_synthesize;
        a.channel_stride_in_bytes = samples * 4;
        std::vector<float> data(static_cast<size_t>(channels) * samples, 0.25f);
        a.p_data = data.data();
        library_.api.send_send_audio_v2(sender_, &a);
    }

private:
    NdiLoadResult library_;
    NDIlib_send_instance_t sender_ = nullptr;
    std::vector<uint8_t> picture_;
};

TEST_F(Relay, OversizedAndMalformedFramesNeitherStopNorGrowTheRelay) {
    HostileSource source("Hostile");
    ASSERT_TRUE(source.ok());
    auto relay = Run(VELMOR_BIN, {"--headless", "--show-local", "--source", Host() + " (Hostile)"});
    ASSERT_TRUE(source.WaitForReceiver()) << relay->Output();
    // The first audio frame the relay sees is far beyond any real source (64 x 131072 samples:
    // its 16 ring buffers would take 512 MiB).
    source.Audio(64, 131072, 48000);
    auto good = [&] {
        source.Video(320, 180, 25, 1, 0x80);
        source.Audio(2, 1920, 48000);
        std::this_thread::sleep_for(40ms);
    };
    for (int i = 0; i < 50; ++i)
        good();
    ASSERT_TRUE(WaitForOutput(*relay, "signal lamp: magenta")) << relay->Output();
    const Memory before = MemoryOf(relay->pid());

    // Frames the transport carries but no real source sends, each followed by good frames.
    for (int round = 0; round < 2; ++round) {
        source.Video(8192, 8192, 25, 1, 0x10);        // 64 Mpixel
        source.Video(320, 180, 1, 2147483647, 0x20);  // a rate of almost nothing
        source.Audio(2, 100000, 48000);               // two seconds in one frame
        source.Audio(2, 1920, 768000);                // 768 kHz
        source.Audio(64, 131072, 48000);
        for (int i = 0; i < 10; ++i)
            good();
    }
    // The relay still relays: a sink that starts now gets its frames.
    auto sink =
        Run(VELMOR_SINK, {"--source", "Korvo Velmor 1", "--frames", "25", "--seconds", "20"});
    for (int i = 0; i < 250 && !sink->OutputHas("total: "); ++i)
        good();
    ASSERT_EQ(sink->Wait(10s), 0) << sink->Output() << relay->Output();
    const Memory after = MemoryOf(relay->pid());

    EXPECT_TRUE(relay->OutputHas("video: Video frames skipped: picture size 8192 x 8192"))
        << relay->Output();
    EXPECT_TRUE(relay->OutputHas("audio: Audio frames skipped: 131072 samples")) << relay->Output();
    EXPECT_TRUE(relay->OutputHas("video: 320 x 180, 25.00p YUV"));
    // What the relay holds stays what a 320 x 180 relay holds; only the transport's own receive
    // buffer for the 64 Mpixel frame (128 MiB) passes through.
    std::printf("relay memory: %.0f MiB resident before, %.0f after, %.0f peak\n", before.rss,
                after.rss, after.peak);
    // (A sanitized relay keeps freed memory in quarantine: its figures say nothing here.)
    if (!test::kSanitized) {
        EXPECT_LT(after.rss, before.rss + 64) << "MiB resident";
        EXPECT_LT(after.peak, before.rss + 400) << "MiB peak";
    }
    relay->Kill(SIGINT);
    EXPECT_EQ(relay->Wait(10s), 0) << relay->Output();
}

}  // namespace
}  // namespace velmor
