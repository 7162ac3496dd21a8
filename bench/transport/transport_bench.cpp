// Frames through the built-in transport between a sender and a receiver of this process, on both
// paths between programs of one machine (loopback TCP, and shared memory), against memcpy of the
// same frames: each frame sent and then captured before the next, so the time per frame is also
// the send-to-capture latency. CPU time counts every thread of the process (sender, receiver and
// the transport's I/O thread).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ndi/ndi_library.h"

namespace {

const velmor::NdiLibrary& Ndi() {
    static velmor::NdiLoadResult lib = [] {
        static const std::string dir = "/tmp/velmor-ndi-bench-" + std::to_string(getpid());
        setenv("VELMOR_NDI_DIR", dir.c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        auto r = velmor::LoadNdiLibrary(velmor::NdiChoice::Builtin);
        if (r.ok) r.api.initialize();
        return r;
    }();
    return lib.api;
}

int64_t Now100ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() /
           100;
}

// Whether `p` lies in a frame-slot mapping of this process (the picture was not copied).
bool InSlot(const void* p) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    const auto a = reinterpret_cast<uintptr_t>(p);
    while (std::getline(maps, line)) {
        if (line.find("/memfd:velmor-ndi-slots") == std::string::npos) continue;
        uintptr_t begin = 0, end = 0;
        char dash = 0;
        std::istringstream in(line);
        in >> std::hex >> begin >> dash >> end;
        if (a >= begin && a < end) return true;
    }
    return false;
}

std::vector<uint8_t> Frame(int w, int h) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 2);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = static_cast<uint8_t>(i * 13);
    return f;
}

void BM_Memcpy(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    auto src = Frame(w, h);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * src.size());
}

void BM_Transport(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const int fps = static_cast<int>(state.range(2));
    const bool shared = state.range(3) != 0;
    const auto& ndi = Ndi();
    // Read when the sender and the receiver are made: this pair takes the path asked for.
    setenv("VELMOR_NDI_TCP", shared ? "0" : "1", 1);
    state.SetLabel(shared ? "shared memory" : "TCP");
    const std::string name =
        "bench " + std::to_string(w) + "x" + std::to_string(h) + (shared ? " shared" : " tcp");
    NDIlib_send_create_t sc{name.c_str(), nullptr, false, false};
    auto sender = ndi.send_create(&sc);
    NDIlib_find_instance_t finder = ndi.find_create_v2(nullptr);
    std::string url;
    while (url.empty()) {
        ndi.find_wait_for_sources(finder, 100);
        uint32_t n = 0;
        const NDIlib_source_t* s = ndi.find_get_current_sources(finder, &n);
        for (uint32_t i = 0; i < n; ++i)
            if (std::string(s[i].p_ndi_name).find(name) != std::string::npos)
                url = s[i].p_url_address;
    }
    ndi.find_destroy(finder);
    NDIlib_recv_create_v3_t rc{};
    rc.source_to_connect_to.p_url_address = url.c_str();
    rc.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    rc.bandwidth = NDIlib_recv_bandwidth_highest;
    auto recv = ndi.recv_create_v3(&rc);
    while (ndi.recv_get_no_connections(recv) == 0 || ndi.send_get_no_connections(sender, 10) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    auto pixels = Frame(w, h);
    NDIlib_video_frame_v2_t frame{};
    frame.xres = w;
    frame.yres = h;
    frame.FourCC = NDIlib_FourCC_video_type_UYVY;
    frame.frame_rate_N = fps;
    frame.frame_rate_D = 1;
    frame.frame_format_type = NDIlib_frame_format_type_progressive;
    frame.timecode = NDIlib_send_timecode_synthesize;
    frame.p_data = pixels.data();
    frame.line_stride_in_bytes = w * 2;
    // Until the path asked for carries the frames (the first ones go over TCP while the
    // receiver joins the shared path).
    bool inSlot = false;
    for (int i = 0; i < 200 && inSlot != shared; ++i) {
        ndi.send_send_video_v2(sender, &frame);
        NDIlib_video_frame_v2_t v{};
        NDIlib_frame_type_e type;
        while ((type = ndi.recv_capture_v2(recv, &v, nullptr, nullptr, 100)) ==
               NDIlib_frame_type_status_change) {
        }
        if (type == NDIlib_frame_type_video) {
            inSlot = InSlot(v.p_data);
            ndi.recv_free_video_v2(recv, &v);
        }
    }
    // Nothing left over: each iteration captures the frame it sent.
    for (NDIlib_video_frame_v2_t v{};
         ndi.recv_capture_v2(recv, &v, nullptr, nullptr, 50) == NDIlib_frame_type_video;)
        ndi.recv_free_video_v2(recv, &v);
    double latencySum = 0;
    int64_t frames = 0, lost = 0;
    for (auto _ : state) {
        ndi.send_send_video_v2(sender, &frame);
        NDIlib_video_frame_v2_t v{};
        NDIlib_frame_type_e type;
        do {  // a connection change is reported once, before the first frame
            type = ndi.recv_capture_v2(recv, &v, nullptr, nullptr, 1000);
        } while (type == NDIlib_frame_type_status_change);
        if (type != NDIlib_frame_type_video) {
            ++lost;
            continue;
        }
        latencySum += static_cast<double>(Now100ns() - v.timestamp) / 10.0;
        ++frames;
        ndi.recv_free_video_v2(recv, &v);
    }
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * static_cast<int64_t>(pixels.size()));
    state.counters["latency_us"] = frames ? latencySum / static_cast<double>(frames) : 0;
    state.counters["lost"] = static_cast<double>(lost);
    state.counters["realtime_fps"] = fps;
    state.counters["in_slots"] = inSlot;  // 1: the frames came through shared memory
    ndi.recv_destroy(recv);
    ndi.send_destroy(sender);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Args({1920, 1080})->Args({3840, 2160})->MeasureProcessCPUTime();
BENCHMARK(BM_Transport)
    ->ArgNames({"w", "h", "fps", "shared"})
    ->Args({1920, 1080, 60, 0})
    ->Args({1920, 1080, 60, 1})
    ->Args({3840, 2160, 30, 0})
    ->Args({3840, 2160, 30, 1})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
