// The engine in this process, with the real built-in transport: velmor-testsrc publishes in its
// own process, the engine relays, and the test receives the relay's output itself. Shows on real
// frames what the engine tests show with the scripted stand-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/engine.h"
#include "ndi/ndi_library.h"
#include "support/recording_bridge.h"
#include "support/recording_fakes.h"
#include "tools/process.h"
#include "tools/velmor-testsrc/test_pattern.h"
#include "video/frame_transforms.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Process;

// Counts receiver destructions on the way to the real library.
std::atomic<int> g_destroyed{0};
NDIlib_recv_destroy_fn g_realDestroy = nullptr;
extern "C" void CountingDestroy(NDIlib_recv_instance_t r) {
    g_destroyed++;
    g_realDestroy(r);
}

// Counts the memory the senders lend on the way to the real library.
std::atomic<int> g_lent{0};
VelmorNDI_send_lend_video_fn g_realLend = nullptr;
extern "C" void* CountingLend(NDIlib_send_instance_t s, const NDIlib_video_frame_v2_t* like) {
    void* memory = g_realLend(s, like);
    if (memory) g_lent++;
    return memory;
}

class EngineOverTransport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = "/tmp/velmor-engine-transport-" + std::to_string(getpid());
        setenv("VELMOR_NDI_DIR", dir_.c_str(), 1);
        // Asynchronous sends read the caller's buffer only at the next call, as the runtime may.
        setenv("VELMOR_NDI_STRICT_ASYNC", "1", 1);
        library_ = new NdiLoadResult(LoadNdiLibrary(NdiChoice::Builtin));
        ASSERT_TRUE(library_->ok) << library_->error;
        ASSERT_TRUE(library_->api.initialize());
        g_realDestroy = library_->api.recv_destroy;
        g_realLend = library_->api.send_lend_video;
        ASSERT_NE(g_realLend, nullptr) << "the built-in transport lends send memory";
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void SetUp() override {
        api_ = library_->api;
        api_.recv_destroy = CountingDestroy;
        api_.send_lend_video = CountingLend;
        record_.ApplyStartupDefaults();
        engine_ = std::make_unique<Engine>(record_, api_, bridge_, notifier_);
    }
    void TearDown() override {
        engine_->StopAndWait();
        engine_->CloseOutputs();
    }

    // Finds the source whose name ends with `name` ("(name)") with a finder of this process.
    bool Find(const std::string& name, NDIlib_source_t& found, std::string& fullName,
              std::string& address) {
        NDIlib_find_create_t settings{true, nullptr, nullptr};
        NDIlib_find_instance_t finder = api_.find_create_v2(&settings);
        const auto end = std::chrono::steady_clock::now() + 10s;
        bool ok = false;
        while (!ok && std::chrono::steady_clock::now() < end) {
            uint32_t n = 0;
            const NDIlib_source_t* list = api_.find_get_current_sources(finder, &n);
            for (uint32_t i = 0; list && i < n; ++i) {
                const std::string s = list[i].p_ndi_name;
                if (s.ends_with(name)) {
                    fullName = s;
                    address = list[i].p_url_address ? list[i].p_url_address : "";
                    ok = true;
                }
            }
            if (!ok) std::this_thread::sleep_for(50ms);
        }
        api_.find_destroy(finder);
        found = {fullName.c_str(), address.c_str()};
        return ok;
    }

    // A receiver of this process on the relay's main output.
    NDIlib_recv_instance_t ReceiveOutput() {
        NDIlib_source_t source;
        if (!Find("(Korvo Velmor 1)", source, outName_, outAddress_)) return nullptr;
        NDIlib_recv_create_v3_t settings{};
        settings.source_to_connect_to = source;
        settings.color_format = NDIlib_recv_color_format_UYVY_BGRA;
        settings.bandwidth = NDIlib_recv_bandwidth_highest;
        settings.allow_video_fields = true;
        return library_->api.recv_create_v3(&settings);
    }

    // Video frames that arrive at `recv` within `time`.
    int CountVideo(NDIlib_recv_instance_t recv, std::chrono::milliseconds time) {
        int frames = 0;
        const auto end = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < end) {
            NDIlib_video_frame_v2_t v{};
            if (api_.recv_capture_v2(recv, &v, nullptr, nullptr, 50) == NDIlib_frame_type_video) {
                ++frames;
                api_.recv_free_video_v2(recv, &v);
            }
        }
        return frames;
    }

    static inline std::string dir_;
    static inline NdiLoadResult* library_ = nullptr;
    NdiLibrary api_;
    testing::RecordingBridge bridge_;
    testing::RecordingNotifier notifier_;
    RelayRecord record_;
    std::unique_ptr<Engine> engine_;
    std::string inName_, inAddress_, outName_, outAddress_;
};

TEST_F(EngineOverTransport, FreezeFormatAndOneReceiverDestruction) {
    record_.settingsRecord.deinterlaceSetting = 1;
    Process src(VELMOR_TESTSRC, {"--name", "Field", "--size", "320x180", "--rate", "25/1",
                                 "--interlaced", "--seconds", "30"});
    NDIlib_source_t source;
    ASSERT_TRUE(Find("(Field)", source, inName_, inAddress_));
    const int destroyedBefore = g_destroyed;
    ASSERT_TRUE(engine_->ConnectTo(source));

    // An interleaved 25 fps source: the stored de-interlace mode and EBU.
    EXPECT_EQ(record_.deinterlaceMode, 1);
    EXPECT_EQ(record_.ebuMode, 1);
    EXPECT_TRUE(bridge_.Saw("video 320x180 25.00 fields UYVY"));

    NDIlib_recv_instance_t out = ReceiveOutput();
    ASSERT_NE(out, nullptr);
    EXPECT_GT(CountVideo(out, 1000ms), 15) << "frames flow before the freeze";
    engine_->Freeze();
    std::this_thread::sleep_for(300ms);
    CountVideo(out, 200ms);  // what was on the way
    EXPECT_EQ(CountVideo(out, 1000ms), 0) << "nothing is sent while the freeze is held";
    engine_->Freeze();
    EXPECT_GT(CountVideo(out, 1000ms), 15) << "frames flow again after the release";
    api_.recv_destroy(out);

    engine_->Disconnect();
    engine_->StopAndWait();
    EXPECT_EQ(g_destroyed - destroyedBefore, 2) << "the relay's receiver once, and the test's own";
}

TEST_F(EngineOverTransport, MonoMixWithGainOnRealAudio) {
    Process src(VELMOR_TESTSRC,
                {"--name", "Voices", "--size", "160x90", "--rate", "25/1", "--seconds", "30"});
    NDIlib_source_t source;
    ASSERT_TRUE(Find("(Voices)", source, inName_, inAddress_));
    record_.mapActive = 2;
    record_.monoMix = 1;
    record_.audioGain = 2.0;
    ASSERT_TRUE(engine_->ConnectTo(source));
    NDIlib_recv_instance_t out = ReceiveOutput();
    ASSERT_NE(out, nullptr);
    int blocks = 0;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (blocks < 5 && std::chrono::steady_clock::now() < end) {
        NDIlib_audio_frame_v2_t a{};
        if (api_.recv_capture_v2(out, nullptr, &a, nullptr, 100) != NDIlib_frame_type_audio)
            continue;
        ASSERT_EQ(a.no_channels, 2);
        const float* left = a.p_data;
        const float* right = reinterpret_cast<const float*>(
            reinterpret_cast<const uint8_t*>(a.p_data) + a.channel_stride_in_bytes);
        float peak = 0;
        for (int j = 0; j < a.no_samples; ++j) {
            ASSERT_EQ(left[j], right[j]) << "both outputs carry the mix";
            peak = std::max(peak, std::abs(left[j]));
        }
        // Two tones of 0.25 mixed at half and doubled: never above 0.5, and not silent.
        EXPECT_LE(peak, 0.5001f);
        EXPECT_GT(peak, 0.05f);
        api_.recv_free_audio_v2(out, &a);
        ++blocks;
    }
    EXPECT_EQ(blocks, 5);
    api_.recv_destroy(out);
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// "Rotate 90": the relay turns each picture straight into the slot of its receiver on this
// machine when nothing reads the picture after it is sent, and into a picture of its own when the
// preview does. Either way every frame that arrives is exactly a source picture, turned.
TEST_F(EngineOverTransport, TurnedPicturesAreBuiltInTheReceiversSlotUnlessThePreviewReadsThem) {
    const testsrc::TestPattern pattern(320, 180, false);
    const QuarterTurnFn turn = QuarterTurnFor(true, 1, KernelLevel::Reference);
    ASSERT_NE(turn, nullptr);
    // The turned pictures of the source's first frames, to find each arriving frame among.
    std::vector<std::vector<uint8_t>> turned;
    std::vector<uint8_t> picture;
    ImageBuffer work;
    for (int n = 0; n < 400; ++n) {
        pattern.Render(n, picture);
        ASSERT_TRUE(turn(320, 180, picture.data(), 0, work));
        turned.emplace_back(work.pixels(), work.pixels() + 180 * 320 * 2);
    }
    Process src(VELMOR_TESTSRC, {"--name", "Upright", "--size", "320x180", "--rate", "25/1",
                                 "--seconds", "30"});
    NDIlib_source_t source;
    ASSERT_TRUE(Find("(Upright)", source, inName_, inAddress_));
    record_.rotationMode = 1;
    for (const bool preview : {false, true}) {
        SCOPED_TRACE(preview ? "preview on" : "preview off");
        record_.previewOn = preview ? 1 : 0;
        ASSERT_TRUE(engine_->ConnectTo(source));
        NDIlib_recv_instance_t out = ReceiveOutput();
        ASSERT_NE(out, nullptr);
        // Frames that left before this receiver's slots were set up took the other way.
        CountVideo(out, 600ms);
        const int lentBefore = g_lent;
        int frames = 0;
        const auto end = std::chrono::steady_clock::now() + 1500ms;
        while (std::chrono::steady_clock::now() < end) {
            NDIlib_video_frame_v2_t v{};
            if (api_.recv_capture_v2(out, &v, nullptr, nullptr, 50) != NDIlib_frame_type_video)
                continue;
            ++frames;
            EXPECT_EQ(v.xres, 180);
            EXPECT_EQ(v.yres, 320);
            const std::vector<uint8_t> got(v.p_data, v.p_data + 180 * 320 * 2);
            EXPECT_NE(std::find(turned.begin(), turned.end(), got), turned.end())
                << "frame " << frames << " is not a turned source picture";
            api_.recv_free_video_v2(out, &v);
        }
        EXPECT_GT(frames, 20);
        if (preview)
            EXPECT_EQ(g_lent - lentBefore, 0);
        else
            EXPECT_GE(g_lent - lentBefore, frames);
        api_.recv_destroy(out);
        engine_->Disconnect();
        engine_->StopAndWait();
    }
}

}  // namespace
}  // namespace velmor
