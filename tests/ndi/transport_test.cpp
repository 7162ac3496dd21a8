// The built-in transport seen through the NDI C functions, as Velmor and its tools use it:
// discovery, frames both ways, format conversion, tally, metadata, reconnection, slow receivers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ndi_test_support.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Builtin;
using test::Eventually;

constexpr auto kDiscoveryLimit = 1000ms;

struct Finder {
    explicit Finder(const char* groups = nullptr, bool showLocal = true) {
        NDIlib_find_create_t s{showLocal, groups, nullptr};
        handle = Builtin().find_create_v2(&s);
    }
    ~Finder() { Builtin().find_destroy(handle); }
    bool Sees(const std::string& name) const {
        return test::Lists(Builtin(), handle, test::FullName(name));
    }
    NDIlib_find_instance_t handle;
};

struct Sender {
    explicit Sender(const std::string& n, const char* groups = nullptr, bool clock = false)
        : name(n) {
        NDIlib_send_create_t s{name.c_str(), groups, clock, false};
        handle = Builtin().send_create(&s);
    }
    ~Sender() { Builtin().send_destroy(handle); }
    std::string name;
    NDIlib_send_instance_t handle;
};

struct Receiver {
    explicit Receiver(const std::string& sourceName,
                      NDIlib_recv_color_format_e format = NDIlib_recv_color_format_UYVY_BGRA,
                      bool allowFields = true)
        : full(test::FullName(sourceName)) {
        NDIlib_recv_create_v3_t s{};
        s.source_to_connect_to.p_ndi_name = full.c_str();
        s.color_format = format;
        s.bandwidth = NDIlib_recv_bandwidth_highest;
        s.allow_video_fields = allowFields;
        handle = Builtin().recv_create_v3(&s);
    }
    ~Receiver() { Builtin().recv_destroy(handle); }
    bool WaitConnected() const {
        return Eventually(2s, [&] { return Builtin().recv_get_no_connections(handle) > 0; });
    }
    std::string full;
    NDIlib_recv_instance_t handle;
};

// Every test of this process runs the transport's strict asynchronous sends (read once, at the
// first asynchronous send).
[[maybe_unused]] const bool kStrictAsync = setenv("VELMOR_NDI_STRICT_ASYNC", "1", 1) == 0;

// A small picture whose every byte says where it came from.
struct Picture {
    Picture(int w, int h, NDIlib_FourCC_video_type_e fourCC, int stride = 0)
        : bytes(static_cast<size_t>(
                    stride ? stride : w * (fourCC == NDIlib_FourCC_video_type_UYVY ? 2 : 4)) *
                h) {
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i * 7 + 3);
        frame.xres = w;
        frame.yres = h;
        frame.FourCC = fourCC;
        frame.frame_rate_N = 60;
        frame.frame_rate_D = 1;
        frame.picture_aspect_ratio = 16.0f / 9.0f;
        frame.frame_format_type = NDIlib_frame_format_type_progressive;
        frame.timecode = NDIlib_send_timecode_synthesize;
        frame.p_data = bytes.data();
        frame.line_stride_in_bytes = stride;
    }
    std::vector<uint8_t> bytes;
    NDIlib_video_frame_v2_t frame{};
};

NDIlib_frame_type_e CaptureVideo(const Receiver& r, NDIlib_video_frame_v2_t& v,
                                 uint32_t timeoutMs = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        auto t = Builtin().recv_capture_v2(r.handle, &v, nullptr, nullptr, 100);
        if (t == NDIlib_frame_type_video) return t;
    }
    return NDIlib_frame_type_none;
}

TEST(TransportDiscovery, SourcesAppearAndDisappearWithinASecond) {
    Finder finder;
    const std::string name = test::UniqueName("appear");
    auto sender = std::make_unique<Sender>(name);
    ASSERT_NE(sender->handle, nullptr);
    EXPECT_TRUE(Eventually(kDiscoveryLimit, [&] { return finder.Sees(name); }));

    // The listed address is the sender's stream on loopback.
    uint32_t n = 0;
    const NDIlib_source_t* list = Builtin().find_get_current_sources(finder.handle, &n);
    bool found = false;
    for (uint32_t i = 0; i < n; ++i)
        if (test::FullName(name) == list[i].p_ndi_name)
            found = std::string(list[i].p_url_address).rfind("127.0.0.1:", 0) == 0;
    EXPECT_TRUE(found);

    sender.reset();
    EXPECT_TRUE(Eventually(kDiscoveryLimit, [&] { return !finder.Sees(name); }));
}

TEST(TransportDiscovery, GroupsAndLocalHidingFilterTheList) {
    struct Case {
        const char* senderGroups;
        const char* finderGroups;
        bool showLocal;
        bool listed;
    } cases[] = {
        {nullptr, nullptr, true, true},        // both "public"
        {"Studio A", "studio a", true, true},  // case does not matter
        {"Studio A, Public", " news ,PUBLIC", true, true},
        {"Studio A", nullptr, true, false},  // not in public
        {nullptr, "Studio A", true, false},
        {nullptr, nullptr, false, false},  // local sources hidden
    };
    const std::string control = test::UniqueName("control");
    Sender controlSender(control, "Studio A,public");
    for (const auto& c : cases) {
        const std::string name = test::UniqueName("groups");
        Sender sender(name, c.senderGroups);
        Finder finder(c.finderGroups, c.showLocal);
        // Wait until the finder has scanned (it lists the control source, or for a hidden-local
        // finder, a scan period has passed), then check.
        if (c.showLocal)
            ASSERT_TRUE(Eventually(kDiscoveryLimit, [&] { return finder.Sees(control); }));
        else
            std::this_thread::sleep_for(500ms);
        EXPECT_EQ(Eventually(c.listed ? kDiscoveryLimit : 300ms, [&] { return finder.Sees(name); }),
                  c.listed)
            << (c.senderGroups ? c.senderGroups : "-") << " / "
            << (c.finderGroups ? c.finderGroups : "-") << " local " << c.showLocal;
    }
}

TEST(TransportDiscovery, GettingSourcesNeverBlocksAndWaitReportsChanges) {
    Finder finder;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        test::SourceNames(Builtin(), finder.handle);
    // A blocking call would wait for the network (a scan period, a second or so); a hundred
    // non-blocking ones take microseconds each, even on a busy sanitizer build.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

    Builtin().find_get_current_sources(finder.handle, nullptr);
    const std::string name = test::UniqueName("wait");
    Sender sender(name);
    EXPECT_TRUE(Builtin().find_wait_for_sources(finder.handle, 2000));
    EXPECT_TRUE(finder.Sees(name));
}

TEST(TransportStreams, VideoArrivesIntactWithTimecodeTimestampAndMetadata) {
    const std::string name = test::UniqueName("video");
    Sender sender(name);
    Receiver receiver(name, NDIlib_recv_color_format_fastest);
    ASSERT_TRUE(receiver.WaitConnected());

    Picture pic(64, 8, NDIlib_FourCC_video_type_BGRA, 64 * 4 + 32);  // padded rows
    const char* meta = "<frame n=\"1\"/>";
    pic.frame.p_metadata = meta;
    const int64_t before = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count() /
                           100;
    Builtin().send_send_video_v2(sender.handle, &pic.frame);

    NDIlib_video_frame_v2_t v{};
    ASSERT_EQ(CaptureVideo(receiver, v), NDIlib_frame_type_video);
    EXPECT_EQ(v.xres, 64);
    EXPECT_EQ(v.yres, 8);
    EXPECT_EQ(v.FourCC, NDIlib_FourCC_video_type_BGRA);
    EXPECT_EQ(v.frame_rate_N, 60);
    EXPECT_FLOAT_EQ(v.picture_aspect_ratio, 16.0f / 9.0f);
    EXPECT_EQ(v.line_stride_in_bytes, 64 * 4);
    for (int y = 0; y < 8; ++y)
        ASSERT_EQ(std::memcmp(v.p_data + y * 256, pic.bytes.data() + y * (256 + 32), 256), 0) << y;
    ASSERT_NE(v.p_metadata, nullptr);
    EXPECT_STREQ(v.p_metadata, meta);
    EXPECT_NE(v.timecode, NDIlib_send_timecode_synthesize);  // synthesised by the sender
    EXPECT_GE(v.timecode, before);
    EXPECT_GE(v.timestamp, before);
    Builtin().recv_free_video_v2(receiver.handle, &v);
}

TEST(TransportStreams, ColourFormatChoosesWhatTheReceiverGets) {
    struct Case {
        NDIlib_FourCC_video_type_e sent;
        NDIlib_recv_color_format_e format;
        NDIlib_FourCC_video_type_e got;
    } cases[] = {
        {NDIlib_FourCC_video_type_UYVY, NDIlib_recv_color_format_UYVY_BGRA,
         NDIlib_FourCC_video_type_UYVY},
        {NDIlib_FourCC_video_type_BGRX, NDIlib_recv_color_format_UYVY_BGRA,
         NDIlib_FourCC_video_type_UYVY},
        {NDIlib_FourCC_video_type_RGBA, NDIlib_recv_color_format_UYVY_BGRA,
         NDIlib_FourCC_video_type_BGRA},
        {NDIlib_FourCC_video_type_UYVY, NDIlib_recv_color_format_BGRX_BGRA,
         NDIlib_FourCC_video_type_BGRX},
        {NDIlib_FourCC_video_type_BGRA, NDIlib_recv_color_format_RGBX_RGBA,
         NDIlib_FourCC_video_type_RGBA},
    };
    for (const auto& c : cases) {
        const std::string name = test::UniqueName("colour");
        Sender sender(name);
        Receiver receiver(name, c.format);
        ASSERT_TRUE(receiver.WaitConnected());
        Picture pic(16, 4, c.sent);
        Builtin().send_send_video_v2(sender.handle, &pic.frame);
        NDIlib_video_frame_v2_t v{};
        ASSERT_EQ(CaptureVideo(receiver, v), NDIlib_frame_type_video);
        EXPECT_EQ(v.FourCC, c.got);
        Builtin().recv_free_video_v2(receiver.handle, &v);
    }
}

TEST(TransportStreams, FieldsArriveProgressiveWhenTheReceiverDoesNotAllowThem) {
    const std::string name = test::UniqueName("fields");
    Sender sender(name);
    Receiver receiver(name, NDIlib_recv_color_format_fastest, /*allowFields=*/false);
    ASSERT_TRUE(receiver.WaitConnected());
    Picture field(8, 4, NDIlib_FourCC_video_type_UYVY);
    field.frame.frame_format_type = NDIlib_frame_format_type_field_0;
    Builtin().send_send_video_v2(sender.handle, &field.frame);
    NDIlib_video_frame_v2_t v{};
    ASSERT_EQ(CaptureVideo(receiver, v), NDIlib_frame_type_video);
    EXPECT_EQ(v.frame_format_type, NDIlib_frame_format_type_progressive);
    EXPECT_EQ(v.yres, 8);  // each field line doubled
    EXPECT_EQ(std::memcmp(v.p_data + 16, field.bytes.data(), 16), 0);
    Builtin().recv_free_video_v2(receiver.handle, &v);
}

TEST(TransportStreams, AudioAndVideoCapturedFromTwoThreadsAtOnce) {
    const std::string name = test::UniqueName("threads");
    Sender sender(name);
    Receiver receiver(name);
    ASSERT_TRUE(receiver.WaitConnected());

    constexpr int kFrames = 30;
    std::atomic<int> videos{0}, audios{0}, metas{0};
    std::atomic<bool> stop{false};
    std::thread videoThread([&] {
        while (!stop) {
            NDIlib_video_frame_v2_t v{};
            NDIlib_metadata_frame_t m{};
            auto t = Builtin().recv_capture_v2(receiver.handle, &v, nullptr, &m, 50);
            if (t == NDIlib_frame_type_video) {
                ++videos;
                Builtin().recv_free_video_v2(receiver.handle, &v);
            } else if (t == NDIlib_frame_type_metadata) {
                ++metas;
                Builtin().recv_free_metadata(receiver.handle, &m);
            }
            ASSERT_NE(t, NDIlib_frame_type_audio);
        }
    });
    std::thread audioThread([&] {
        while (!stop) {
            NDIlib_audio_frame_v2_t a{};
            auto t = Builtin().recv_capture_v2(receiver.handle, nullptr, &a, nullptr, 50);
            if (t == NDIlib_frame_type_audio) {
                // Planar float, channel 1 after channel 0.
                EXPECT_EQ(a.no_channels, 2);
                EXPECT_EQ(a.channel_stride_in_bytes, a.no_samples * 4);
                EXPECT_FLOAT_EQ(a.p_data[a.no_samples], -0.5f);
                ++audios;
                Builtin().recv_free_audio_v2(receiver.handle, &a);
            }
            ASSERT_NE(t, NDIlib_frame_type_video);
        }
    });

    Picture pic(32, 4, NDIlib_FourCC_video_type_UYVY);
    std::vector<float> samples(2 * 800);
    std::fill(samples.begin(), samples.begin() + 800, 0.25f);
    std::fill(samples.begin() + 800, samples.end(), -0.5f);
    NDIlib_audio_frame_v2_t audio{48000,          2,       800,     NDIlib_send_timecode_synthesize,
                                  samples.data(), 800 * 4, nullptr, 0};
    std::string text = "<tick/>";
    NDIlib_metadata_frame_t meta{0, NDIlib_send_timecode_synthesize, text.data()};
    for (int i = 0; i < kFrames; ++i) {
        Builtin().send_send_video_v2(sender.handle, &pic.frame);
        Builtin().send_send_audio_v2(sender.handle, &audio);
        Builtin().send_send_metadata(sender.handle, &meta);
        std::this_thread::sleep_for(2ms);  // a paced source, so nothing is dropped
    }
    EXPECT_TRUE(
        Eventually(3s, [&] { return videos == kFrames && audios == kFrames && metas == kFrames; }))
        << videos << " " << audios << " " << metas;
    stop = true;
    videoThread.join();
    audioThread.join();
}

TEST(TransportStreams, TallyAndMetadataFlowUpstreamAndConnectionMetadataOnConnect) {
    const std::string name = test::UniqueName("tally");
    Sender sender(name);
    std::string senderHello = "<ndi_product long_name=\"test source\"/>";
    NDIlib_metadata_frame_t hello{0, 0, senderHello.data()};
    Builtin().send_add_connection_metadata(sender.handle, &hello);

    Receiver a(name), b(name);
    std::string receiverHello = "<ndi_format_hint/>";
    NDIlib_metadata_frame_t hint{static_cast<int>(receiverHello.size() + 1), 0,
                                 receiverHello.data()};
    Builtin().recv_add_connection_metadata(a.handle, &hint);
    ASSERT_TRUE(a.WaitConnected());
    ASSERT_TRUE(b.WaitConnected());
    EXPECT_EQ(Builtin().send_get_no_connections(sender.handle, 1000), 2);

    // Each receiver gets the sender's connection metadata as a metadata frame.
    for (auto* r : {&a, &b}) {
        NDIlib_metadata_frame_t m{};
        NDIlib_frame_type_e t;
        do {
            t = Builtin().recv_capture_v2(r->handle, nullptr, nullptr, &m, 1000);
        } while (t == NDIlib_frame_type_status_change);
        ASSERT_EQ(t, NDIlib_frame_type_metadata);
        EXPECT_EQ(std::string(m.p_data), senderHello);
        Builtin().recv_free_metadata(r->handle, &m);
    }
    // The receiver's connection metadata reaches the sender.
    NDIlib_metadata_frame_t up{};
    ASSERT_EQ(Builtin().send_capture(sender.handle, &up, 2000), NDIlib_frame_type_metadata);
    EXPECT_EQ(std::string(up.p_data), receiverHello);
    Builtin().send_free_metadata(sender.handle, &up);

    // Tally from either receiver is aggregated.
    NDIlib_tally_t t{};
    EXPECT_FALSE(Builtin().send_get_tally(sender.handle, &t, 0));
    NDIlib_tally_t program{true, false}, preview{false, true}, off{false, false};
    Builtin().recv_set_tally(a.handle, &program);
    Builtin().recv_set_tally(b.handle, &preview);
    EXPECT_TRUE(Eventually(2s, [&] {
        Builtin().send_get_tally(sender.handle, &t, 50);
        return t.on_program && t.on_preview;
    }));
    Builtin().recv_set_tally(a.handle, &off);
    EXPECT_TRUE(Eventually(2s, [&] {
        Builtin().send_get_tally(sender.handle, &t, 50);
        return !t.on_program && t.on_preview;
    }));
}

TEST(TransportStreams, AnAudioOnlyReceiverGetsNoVideo) {
    const std::string name = test::UniqueName("bandwidth");
    Sender sender(name);
    const std::string full = test::FullName(name);
    NDIlib_recv_create_v3_t s{};
    s.source_to_connect_to.p_ndi_name = full.c_str();
    s.bandwidth = NDIlib_recv_bandwidth_audio_only;
    auto r = Builtin().recv_create_v3(&s);
    ASSERT_TRUE(Eventually(2s, [&] { return Builtin().recv_get_no_connections(r) > 0; }));
    Picture pic(16, 2, NDIlib_FourCC_video_type_UYVY);
    std::vector<float> samples(160, 0.5f);
    NDIlib_audio_frame_v2_t audio{48000, 1, 160, 0, samples.data(), 0, nullptr, 0};
    // Frames go out only once the sender has read the receiver's hello, so keep sending video and
    // audio until audio arrives; no video may arrive at any point.
    NDIlib_video_frame_v2_t v{};
    NDIlib_audio_frame_v2_t a{};
    NDIlib_frame_type_e t = NDIlib_frame_type_none;
    const auto give_up = std::chrono::steady_clock::now() + 3s;
    while (t != NDIlib_frame_type_audio && std::chrono::steady_clock::now() < give_up) {
        Builtin().send_send_video_v2(sender.handle, &pic.frame);
        Builtin().send_send_audio_v2(sender.handle, &audio);
        do {
            t = Builtin().recv_capture_v2(r, &v, &a, nullptr, 50);
        } while (t == NDIlib_frame_type_status_change);
        ASSERT_NE(t, NDIlib_frame_type_video);
    }
    ASSERT_EQ(t, NDIlib_frame_type_audio);
    Builtin().recv_free_audio_v2(r, &a);
    Builtin().send_send_video_v2(sender.handle, &pic.frame);
    do {
        t = Builtin().recv_capture_v2(r, &v, nullptr, nullptr, 200);
    } while (t == NDIlib_frame_type_status_change || t == NDIlib_frame_type_audio);
    EXPECT_EQ(t, NDIlib_frame_type_none);
    Builtin().recv_destroy(r);
}

TEST(TransportStreams, ReceiverReconnectsWhenTheSenderComesBack) {
    const std::string name = test::UniqueName("restart");
    auto sender = std::make_unique<Sender>(name);
    Receiver receiver(name);
    ASSERT_TRUE(receiver.WaitConnected());
    sender.reset();
    EXPECT_TRUE(
        Eventually(2s, [&] { return Builtin().recv_get_no_connections(receiver.handle) == 0; }));
    sender = std::make_unique<Sender>(name);  // a new port
    ASSERT_TRUE(receiver.WaitConnected());
    Picture pic(16, 2, NDIlib_FourCC_video_type_UYVY);
    Builtin().send_send_video_v2(sender->handle, &pic.frame);
    NDIlib_video_frame_v2_t v{};
    ASSERT_EQ(CaptureVideo(receiver, v), NDIlib_frame_type_video);
    Builtin().recv_free_video_v2(receiver.handle, &v);
}

TEST(TransportStreams, AStalledReceiverNeitherBlocksTheSenderNorGrowsWithoutLimit) {
    const std::string name = test::UniqueName("stall");
    Sender sender(name);
    Receiver stalled(name), live(name);
    ASSERT_TRUE(stalled.WaitConnected());
    ASSERT_TRUE(live.WaitConnected());

    Picture pic(640, 360, NDIlib_FourCC_video_type_UYVY);
    constexpr int kFrames = 200;
    int got = 0;
    for (int i = 0; i < kFrames; ++i) {
        pic.frame.timecode = i;
        Builtin().send_send_video_async_v2(sender.handle, &pic.frame);
        NDIlib_video_frame_v2_t v{};
        while (Builtin().recv_capture_v2(live.handle, &v, nullptr, nullptr, 0) ==
               NDIlib_frame_type_video) {
            ++got;
            Builtin().recv_free_video_v2(live.handle, &v);
        }
    }
    Builtin().send_send_video_async_v2(sender.handle, nullptr);  // waits for nothing: copied
    std::this_thread::sleep_for(300ms);
    // What the stalled receiver gets now is its bounded queue (16 frames) plus what was still on
    // the way: the sender's backlog for it (6 and the one being written) and whatever the
    // loopback socket buffers hold, which the kernel sizes. The rest of the 200 was dropped,
    // oldest first, on the way.
    auto drain = [&](NDIlib_recv_instance_t r, uint32_t timeoutMs, int64_t& last) {
        int n = 0;
        NDIlib_video_frame_v2_t v{};
        NDIlib_frame_type_e t;
        while ((t = Builtin().recv_capture_v2(r, &v, nullptr, nullptr, timeoutMs)) ==
                   NDIlib_frame_type_video ||
               t == NDIlib_frame_type_status_change) {
            if (t != NDIlib_frame_type_video) continue;
            ++n;
            last = v.timecode;
            Builtin().recv_free_video_v2(r, &v);
        }
        return n;
    };
    int64_t last = -1;
    const int queued = drain(stalled.handle, 0, last);
    const int total = queued + drain(stalled.handle, 200, last);
    EXPECT_GT(queued, 0);
    EXPECT_LT(total, kFrames / 2);
    EXPECT_EQ(last, kFrames - 1);
    // The live receiver was served throughout and got the newest frame.
    EXPECT_GT(got, 0);
    int64_t liveLast = -1;
    drain(live.handle, 100, liveLast);
    EXPECT_EQ(liveLast, kFrames - 1);
}

TEST(TransportStreams, ClockedVideoPacesTheCaller) {
    const std::string name = test::UniqueName("clock");
    Sender sender(name, nullptr, /*clock=*/true);
    Picture pic(16, 2, NDIlib_FourCC_video_type_UYVY);
    pic.frame.frame_rate_N = 50;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 11; ++i)
        Builtin().send_send_video_v2(sender.handle, &pic.frame);
    // Ten frame periods of 20 ms: well above what an unpaced loop takes.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 180ms);
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// A plain TCP socket on loopback, for playing a broken peer.
int ConnectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t PortOf(const std::string& url) {
    return static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
}

TEST(TransportStreams, StrictAsynchronousSendsReadTheBufferOnlyAtTheNextCall) {
    // This test process runs the transport in its strict mode (set before it was loaded), so a
    // caller that rewrites an asynchronous frame's buffer too early sends what it wrote.
    const std::string name = test::UniqueName("strict");
    Sender sender(name);
    Receiver receiver(name, NDIlib_recv_color_format_fastest);
    ASSERT_TRUE(receiver.WaitConnected());
    Picture first(16, 4, NDIlib_FourCC_video_type_BGRA);
    Picture second(16, 4, NDIlib_FourCC_video_type_BGRA);
    std::fill(first.bytes.begin(), first.bytes.end(), 0x11);
    std::fill(second.bytes.begin(), second.bytes.end(), 0x33);

    Builtin().send_send_video_async_v2(sender.handle, &first.frame);
    NDIlib_video_frame_v2_t v{};
    EXPECT_EQ(CaptureVideo(receiver, v, 300), NDIlib_frame_type_none) << "not read yet";
    std::fill(first.bytes.begin(), first.bytes.end(), 0x22);  // reused before the next call
    Builtin().send_send_video_async_v2(sender.handle, &second.frame);
    ASSERT_EQ(CaptureVideo(receiver, v), NDIlib_frame_type_video);
    EXPECT_EQ(v.p_data[0], 0x22) << "the first frame carries what its buffer held at the next call";
    Builtin().recv_free_video_v2(receiver.handle, &v);
    Builtin().send_send_video_async_v2(sender.handle, nullptr);  // the flush sends the second
    ASSERT_EQ(CaptureVideo(receiver, v), NDIlib_frame_type_video);
    EXPECT_EQ(v.p_data[0], 0x33);
    Builtin().recv_free_video_v2(receiver.handle, &v);
}

TEST(TransportHostile, GarbageFromOneReceiverClosesOnlyItsConnection) {
    const std::string name = test::UniqueName("hostile");
    Sender sender(name);
    Receiver good(name);
    ASSERT_TRUE(good.WaitConnected());
    Finder finder;
    std::string url;
    ASSERT_TRUE(Eventually(kDiscoveryLimit, [&] {
        uint32_t n = 0;
        auto* s = Builtin().find_get_current_sources(finder.handle, &n);
        for (uint32_t i = 0; i < n; ++i)
            if (test::FullName(name) == s[i].p_ndi_name) url = s[i].p_url_address;
        return !url.empty();
    }));
    // A header announcing a 4 GiB tally, then a bad magic: each closes its own connection.
    for (std::vector<uint8_t> bytes :
         {std::vector<uint8_t>{'V', 'D', 'N', 'W', 5, 0, 0, 0, 0xff, 0xff, 0xff, 0xff},
          std::vector<uint8_t>(64, 0x41)}) {
        int fd = ConnectTo(PortOf(url));
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        char c;
        EXPECT_EQ(read(fd, &c, 1), 0) << "the sender hangs up";
        close(fd);
    }
    EXPECT_TRUE(
        Eventually(1s, [&] { return Builtin().send_get_no_connections(sender.handle, 0) == 1; }));
    Picture pic(16, 2, NDIlib_FourCC_video_type_UYVY);
    Builtin().send_send_video_v2(sender.handle, &pic.frame);
    NDIlib_video_frame_v2_t v{};
    ASSERT_EQ(CaptureVideo(good, v), NDIlib_frame_type_video);
    Builtin().recv_free_video_v2(good.handle, &v);
}

TEST(TransportHostile, AMalformedStreamMakesTheReceiverHangUpAndRetry) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string url = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));

    NDIlib_recv_create_v3_t s{};
    s.source_to_connect_to.p_url_address = url.c_str();
    s.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    s.allow_video_fields = true;
    auto r = Builtin().recv_create_v3(&s);
    ASSERT_NE(r, nullptr);
    // A video message longer than any picture may be, then an unknown message type: each is
    // refused on its header, before anything is allocated for it.
    const std::vector<std::vector<uint8_t>> streams = {
        {'V', 'D', 'N', 'W', 2, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f},
        {'V', 'D', 'N', 'W', 9, 0, 0, 0, 1, 0, 0, 0, 0},
    };
    for (const auto& bytes : streams) {
        int fd = accept(listener, nullptr, nullptr);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        char buf[256];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) {
        }  // the receiver's hello, then its hang-up (a reset when our bytes were left unread)
        EXPECT_LE(n, 0);
        close(fd);
    }
    // It keeps trying: a third connection arrives.
    int fd = accept(listener, nullptr, nullptr);
    EXPECT_GE(fd, 0);
    close(fd);
    Builtin().recv_destroy(r);
    close(listener);
}

}  // namespace
}  // namespace velmor
