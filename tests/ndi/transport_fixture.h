// What the transport tests share: senders, receivers and finders as RAII objects, pictures whose
// bytes say where they came from, and waits for what a test needs before it starts.
#pragma once

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "ndi_test_support.h"

namespace velmor::test::transport {

using namespace std::chrono_literals;

constexpr auto kDiscoveryLimit = 1000ms;

struct Finder {
    explicit Finder(const char* groups = nullptr, bool showLocal = true) {
        NDIlib_find_create_t s{showLocal, groups, nullptr};
        handle = Builtin().find_create_v2(&s);
    }
    ~Finder() { Builtin().find_destroy(handle); }
    bool Sees(const std::string& name) const { return Lists(Builtin(), handle, FullName(name)); }
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
        : full(FullName(sourceName)) {
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

inline NDIlib_frame_type_e CaptureVideo(const Receiver& r, NDIlib_video_frame_v2_t& v,
                                        uint32_t timeoutMs = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        auto t = Builtin().recv_capture_v2(r.handle, &v, nullptr, nullptr, 100);
        if (t == NDIlib_frame_type_video) return t;
    }
    return NDIlib_frame_type_none;
}

// Sends `frame` until the receiver captures one: a frame sent before the sender has read the
// receiver's hello goes to nobody. The captured frame is in `v`, for the caller to free.
inline bool SendUntilCaptured(const Sender& s, const Receiver& r,
                              const NDIlib_video_frame_v2_t& frame, NDIlib_video_frame_v2_t& v) {
    return Eventually(3s, [&] {
        Builtin().send_send_video_v2(s.handle, &frame);
        return CaptureVideo(r, v, 200) == NDIlib_frame_type_video;
    });
}

// Sends small frames until the receiver gets one by the path this run tests (in a slot, when it
// is the same-machine path), so that what the test sends next takes that path too. `fourCC` is
// one the receiver takes as it comes.
inline bool WarmUp(const Sender& s, const Receiver& r,
                   NDIlib_FourCC_video_type_e fourCC = NDIlib_FourCC_video_type_UYVY) {
    Picture pic(16, 2, fourCC);
    return Eventually(3s, [&] {
        Builtin().send_send_video_v2(s.handle, &pic.frame);
        bool arrived = false;
        NDIlib_video_frame_v2_t v{};
        NDIlib_frame_type_e t;
        while ((t = Builtin().recv_capture_v2(r.handle, &v, nullptr, nullptr, 50)) ==
                   NDIlib_frame_type_video ||
               t == NDIlib_frame_type_status_change) {
            if (t != NDIlib_frame_type_video) continue;
            arrived = arrived || !SharedPathExpected() || InSlot(v.p_data);
            Builtin().recv_free_video_v2(r.handle, &v);
        }
        return arrived;
    });
}

// A source and one receiver of it, connected, and with frames taking the path this run tests.
struct Pair {
    explicit Pair(const std::string& base,
                  NDIlib_recv_color_format_e format = NDIlib_recv_color_format_UYVY_BGRA)
        : sender(UniqueName(base)), receiver(sender.name, format) {}
    bool Ready() const { return receiver.WaitConnected() && WarmUp(sender, receiver); }
    Sender sender;
    Receiver receiver;
};

// The loopback address a finder lists for a source of this process.
inline std::string UrlOf(const std::string& name) {
    Finder finder;
    std::string url;
    Eventually(kDiscoveryLimit, [&] {
        uint32_t n = 0;
        auto* s = Builtin().find_get_current_sources(finder.handle, &n);
        for (uint32_t i = 0; i < n; ++i)
            if (FullName(name) == s[i].p_ndi_name) url = s[i].p_url_address;
        return !url.empty();
    });
    return url;
}

}  // namespace velmor::test::transport
