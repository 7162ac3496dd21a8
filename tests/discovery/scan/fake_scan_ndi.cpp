#include "discovery/scan/fake_scan_ndi.h"

namespace velmor::testing {
namespace {

FakeScanNdi* g_fake = nullptr;
uint8_t g_pixels[64];
float g_samples[64];

extern "C" {
NDIlib_find_instance_t FindCreate(const NDIlib_find_create_t* s) {
    std::lock_guard lock(g_fake->mutex);
    FinderSeen seen{s->show_local_sources, std::nullopt, std::nullopt};
    if (s->p_groups) seen.groups = s->p_groups;
    if (s->p_extra_ips) seen.extraIps = s->p_extra_ips;
    g_fake->finders.push_back(seen);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(g_fake->finders.size()));
}
void FindDestroy(NDIlib_find_instance_t) {
    std::lock_guard lock(g_fake->mutex);
    g_fake->findersDestroyed++;
}
const NDIlib_source_t* FindSources(NDIlib_find_instance_t, uint32_t* count) {
    std::lock_guard lock(g_fake->mutex);
    // As the library does: each query frees the array of the one before.
    g_fake->array_.clear();
    g_fake->array_.shrink_to_fit();
    *count = 0;
    if (g_fake->listNothing_) return nullptr;
    for (const auto& s : g_fake->sources_)
        g_fake->array_.push_back({s.name.c_str(), s.address.c_str()});
    *count = static_cast<uint32_t>(g_fake->array_.size());
    static const NDIlib_source_t empty{};
    return g_fake->array_.empty() ? &empty : g_fake->array_.data();
}
NDIlib_recv_instance_t RecvCreate(const NDIlib_recv_create_v3_t* s) {
    std::lock_guard lock(g_fake->mutex);
    ProbeSeen seen;
    seen.source = s->source_to_connect_to.p_ndi_name ? s->source_to_connect_to.p_ndi_name : "";
    seen.address =
        s->source_to_connect_to.p_url_address ? s->source_to_connect_to.p_url_address : "";
    seen.settings = *s;
    seen.nameWasNull = s->p_ndi_recv_name == nullptr;
    seen.thread = std::this_thread::get_id();
    g_fake->probes.push_back(seen);
    g_fake->changed.notify_all();
    const SourceScript* script = nullptr;
    for (const auto& src : g_fake->sources_)
        if (src.name == seen.source) script = &src;
    if (!script || script->failCreate) return nullptr;
    auto* r = new FakeScanNdi::Receiver{*script, g_fake->probes.size() - 1};
    g_fake->receiversLive++;
    g_fake->receiversMostLive = std::max(g_fake->receiversMostLive, g_fake->receiversLive);
    return r;
}
void RecvDestroy(NDIlib_recv_instance_t recv) {
    std::lock_guard lock(g_fake->mutex);
    delete static_cast<FakeScanNdi::Receiver*>(recv);
    g_fake->receiversLive--;
    g_fake->receiversDestroyed++;
    g_fake->changed.notify_all();
}
NDIlib_frame_type_e RecvCapture(NDIlib_recv_instance_t recv, NDIlib_video_frame_v2_t* v,
                                NDIlib_audio_frame_v2_t* a, NDIlib_metadata_frame_t*,
                                uint32_t timeout) {
    auto* r = static_cast<FakeScanNdi::Receiver*>(recv);
    std::unique_lock lock(g_fake->mutex);
    g_fake->probes[r->probe].captures++;
    g_fake->changed.notify_all();
    if (r->script.holdCapture && !g_fake->gateOpen_) {
        g_fake->blockedCaptures++;
        g_fake->changed.notify_all();
        g_fake->changed.wait(lock, [] { return g_fake->gateOpen_; });
        g_fake->blockedCaptures--;
    }
    if (v && r->script.video && !r->videoSent) {
        r->videoSent = true;
        *v = *r->script.video;
        v->p_data = g_pixels;
        return NDIlib_frame_type_video;
    }
    if (a && r->script.audio && !r->audioSent) {
        r->audioSent = true;
        *a = *r->script.audio;
        a->p_data = g_samples;
        return NDIlib_frame_type_audio;
    }
    // Nothing to give: the call lasts its time-out, as the library's does.
    g_fake->changed.wait_for(lock, std::chrono::milliseconds(timeout), [] { return false; });
    return NDIlib_frame_type_none;
}
void FreeVideo(NDIlib_recv_instance_t, const NDIlib_video_frame_v2_t*) {}
void FreeAudio(NDIlib_recv_instance_t, const NDIlib_audio_frame_v2_t*) {}
}

}  // namespace

FakeScanNdi::FakeScanNdi() {
    g_fake = this;
    api_.find_create_v2 = FindCreate;
    api_.find_destroy = FindDestroy;
    api_.find_get_current_sources = FindSources;
    api_.recv_create_v3 = RecvCreate;
    api_.recv_destroy = RecvDestroy;
    api_.recv_capture_v2 = RecvCapture;
    api_.recv_free_video_v2 = FreeVideo;
    api_.recv_free_audio_v2 = FreeAudio;
}

FakeScanNdi::~FakeScanNdi() {
    g_fake = nullptr;
}

void FakeScanNdi::SetSources(std::vector<SourceScript> sources) {
    std::lock_guard lock(mutex);
    sources_ = std::move(sources);
}

void FakeScanNdi::SetListNothing(bool on) {
    std::lock_guard lock(mutex);
    listNothing_ = on;
}

void FakeScanNdi::OpenGate() {
    std::lock_guard lock(mutex);
    gateOpen_ = true;
    changed.notify_all();
}

bool FakeScanNdi::WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, predicate);
}

NDIlib_video_frame_v2_t Video(int w, int h, NDIlib_FourCC_video_type_e fourcc, int n, int d,
                              NDIlib_frame_format_type_e type, float aspect) {
    NDIlib_video_frame_v2_t f{};
    f.xres = w;
    f.yres = h;
    f.FourCC = fourcc;
    f.frame_rate_N = n;
    f.frame_rate_D = d;
    f.picture_aspect_ratio = aspect;
    f.frame_format_type = type;
    return f;
}

NDIlib_audio_frame_v2_t Audio(int channels, int rate) {
    NDIlib_audio_frame_v2_t a{};
    a.no_channels = channels;
    a.sample_rate = rate;
    a.no_samples = 1;
    a.channel_stride_in_bytes = 4;
    return a;
}

SourceScript Answering(const std::string& name) {
    SourceScript s;
    s.name = name;
    s.address = "127.0.0.1:" + std::to_string(5000 + name.size());
    s.video = Video(64, 36, NDIlib_FourCC_video_type_UYVY, 25, 1,
                    NDIlib_frame_format_type_progressive, 64.0f / 36.0f);
    s.audio = Audio(2, 48000);
    return s;
}

}  // namespace velmor::testing
