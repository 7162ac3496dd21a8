// A receiver in a process of its own, for tests that kill one mid-stream: it connects to the
// named source, captures video frames and keeps the first N of them without freeing them, says
// so on standard output, and then keeps capturing (and freeing) until it is killed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ndi/ndi_library.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ndi_peer <full source name> <frames to hold>\n");
        return 2;
    }
    auto lib = velmor::LoadNdiLibrary(velmor::NdiChoice::Builtin);
    if (!lib.ok || !lib.api.initialize()) return 1;
    const auto& ndi = lib.api;
    NDIlib_recv_create_v3_t s{};
    s.source_to_connect_to.p_ndi_name = argv[1];
    s.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    s.bandwidth = NDIlib_recv_bandwidth_highest;
    s.allow_video_fields = true;
    auto recv = ndi.recv_create_v3(&s);
    const int hold = std::atoi(argv[2]);
    int held = 0;
    while (true) {
        NDIlib_video_frame_v2_t v{};
        if (ndi.recv_capture_v2(recv, &v, nullptr, nullptr, 100) != NDIlib_frame_type_video)
            continue;
        if (held < hold) {
            if (++held == hold) {
                std::printf("holding %d\n", held);
                std::fflush(stdout);
            }
        } else {
            ndi.recv_free_video_v2(recv, &v);
        }
    }
}
