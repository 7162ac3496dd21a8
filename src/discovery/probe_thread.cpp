#include "discovery/probe_thread.h"

#include <algorithm>

namespace velmor {

int ProbeThreadCount(uint32_t sources) {
    return static_cast<int>(std::min<uint32_t>(sources / 6 + 1, kMaxProbeThreads));
}

void ProbeReports::SetWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
    wakePending_ = false;
}

void ProbeReports::Push(ProbeReport report) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(report));
    if (!wakePending_ && wake_) {
        wakePending_ = true;
        wake_();
    }
}

std::vector<ProbeReport> ProbeReports::TakeAll() {
    std::vector<ProbeReport> taken;
    std::lock_guard lock(mutex_);
    taken.swap(queue_);
    wakePending_ = false;
    return taken;
}

void ProbeThread(ProbeRun& run, int t) {
    const NdiLibrary& ndi = run.ndi;
    const int count = static_cast<int>(run.sources.size());
    const int step = std::max(run.threads, 1);
    auto push = [&](ProbeReport::Kind kind, int source, ProbeReport report = {}) {
        report.kind = kind;
        report.scan = run.scan;
        report.thread = t;
        report.source = source;
        run.reports->Push(std::move(report));
    };
    auto stopped = [&] { return run.stop.load(std::memory_order_acquire); };

    for (int i = t; i < count && !stopped(); i += step) {
        const ScanSource& source = run.sources[static_cast<size_t>(i)];
        NDIlib_recv_create_v3_t settings{};
        settings.source_to_connect_to.p_ndi_name = source.name.c_str();
        settings.source_to_connect_to.p_url_address = source.address.c_str();
        settings.color_format = NDIlib_recv_color_format_UYVY_BGRA;
        settings.bandwidth = NDIlib_recv_bandwidth_highest;
        settings.allow_video_fields = true;
        settings.p_ndi_recv_name = nullptr;
        NDIlib_recv_instance_t recv = ndi.recv_create_v3(&settings);
        if (!recv) {
            // Nothing more is probed by this worker, but its sources are still reported (name
            // and address only), so that the scan completes.
            for (int j = i; j < count && !stopped(); j += step) {
                ProbeReport r;
                r.first = true;
                push(ProbeReport::Kind::Reported, j, r);
            }
            break;
        }
        const uint32_t token = static_cast<uint32_t>(i) + 1;
        run.probeActive[static_cast<size_t>(t)].store(token, std::memory_order_release);
        {
            ProbeReport r;
            r.token = token;
            push(ProbeReport::Kind::StartTimeout, i, r);
        }
        int videoTries = ProbeRun::kVideoTries;
        int audioTries = ProbeRun::kAudioTries;
        bool reported = false;
        while ((videoTries > 0 || audioTries > 0) &&
               run.probeActive[static_cast<size_t>(t)].load(std::memory_order_acquire) == token &&
               !stopped()) {
            const bool wantVideo = videoTries > 0;
            const bool wantAudio = audioTries > 0;
            if (wantVideo) --videoTries;
            if (wantAudio) --audioTries;
            NDIlib_video_frame_v2_t video{};
            NDIlib_audio_frame_v2_t audio{};
            const NDIlib_frame_type_e type = ndi.recv_capture_v2(
                recv, wantVideo ? &video : nullptr, wantAudio ? &audio : nullptr, nullptr,
                ProbeRun::kCaptureTimeoutMs);
            ProbeReport r;
            r.first = !reported;
            ProbeReport::Kind kind;
            if (type == NDIlib_frame_type_video && wantVideo) {
                r.video = VideoCellsOf(video);
                ndi.recv_free_video_v2(recv, &video);
                videoTries = 0;
                kind = ProbeReport::Kind::Video;
            } else if (type == NDIlib_frame_type_audio && wantAudio) {
                r.audio = AudioCell(audio);
                ndi.recv_free_audio_v2(recv, &audio);
                audioTries = 0;
                kind = ProbeReport::Kind::Audio;
            } else {
                continue;  // nothing, or what was not asked for
            }
            reported = true;
            push(kind, i, std::move(r));
        }
        if (!reported && !stopped()) {
            ProbeReport r;
            r.first = true;
            push(ProbeReport::Kind::Reported, i, r);
        }
        ndi.recv_destroy(recv);
    }
    push(ProbeReport::Kind::Finished, -1);
}

}  // namespace velmor
