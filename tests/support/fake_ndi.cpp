#include "support/fake_ndi.h"

#include <cstring>
#include <thread>

#include "engine/thread_priority.h"

namespace velmor::testing {
namespace {

FakeNdi* g_fake = nullptr;

void* NewHandle() {
    std::lock_guard lock(g_fake->mutex);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 * g_fake->nextHandle_++));
}

extern "C" {
bool Initialize() {
    return true;
}
void Destroy() {}
const char* Version() {
    return "Fake NDI 1.0";
}
bool SupportedCpu() {
    return true;
}
NDIlib_find_instance_t FindCreate(const NDIlib_find_create_t*) {
    return NewHandle();
}
void FindDestroy(NDIlib_find_instance_t) {}
const NDIlib_source_t* FindSources(NDIlib_find_instance_t, uint32_t* n) {
    *n = 0;
    return nullptr;
}
NDIlib_recv_instance_t RecvCreate(const NDIlib_recv_create_v3_t* s) {
    if (g_fake->failReceiverCreate) return nullptr;
    void* h = NewHandle();
    std::lock_guard lock(g_fake->mutex);
    g_fake->receiversCreated.push_back(*s);
    return h;
}
void RecvDestroy(NDIlib_recv_instance_t) {
    g_fake->receiversDestroyed++;
    g_fake->Notify();
}
NDIlib_frame_type_e RecvCapture(NDIlib_recv_instance_t, NDIlib_video_frame_v2_t* v,
                                NDIlib_audio_frame_v2_t* a, NDIlib_metadata_frame_t* m,
                                uint32_t timeout) {
    return g_fake->Capture(v, a, m, timeout);
}
void FreeVideo(NDIlib_recv_instance_t, const NDIlib_video_frame_v2_t* f) {
    {
        std::lock_guard lock(g_fake->mutex);
        g_fake->held_.erase(f->p_data);
    }
    g_fake->videoFreed++;
    g_fake->Notify();
}
void FreeAudio(NDIlib_recv_instance_t, const NDIlib_audio_frame_v2_t* f) {
    {
        std::lock_guard lock(g_fake->mutex);
        g_fake->held_.erase(f->p_data);
    }
    g_fake->audioFreed++;
    g_fake->Notify();
}
void FreeMetadata(NDIlib_recv_instance_t, const NDIlib_metadata_frame_t* f) {
    {
        std::lock_guard lock(g_fake->mutex);
        g_fake->held_.erase(f->p_data);
    }
    g_fake->metadataFreed++;
    g_fake->Notify();
}
bool RecvSetTally(NDIlib_recv_instance_t, const NDIlib_tally_t* t) {
    std::lock_guard lock(g_fake->mutex);
    g_fake->tallySetOnReceiver.push_back(*t);
    return true;
}
void RecvAddMetadata(NDIlib_recv_instance_t, const NDIlib_metadata_frame_t* m) {
    std::lock_guard lock(g_fake->mutex);
    g_fake->receiverMetadata.emplace_back(m->p_data, m->length);
}
int RecvConnections(NDIlib_recv_instance_t) {
    return 1;
}
NDIlib_send_instance_t SendCreate(const NDIlib_send_create_t* s) {
    void* h = NewHandle();
    std::lock_guard lock(g_fake->mutex);
    g_fake->senders.push_back({h,
                               s->p_ndi_name ? s->p_ndi_name : "",
                               s->p_groups ? s->p_groups : "",
                               s->clock_video,
                               s->clock_audio,
                               {}});
    return h;
}
void SendDestroy(NDIlib_send_instance_t s) {
    std::lock_guard lock(g_fake->mutex);
    g_fake->destroyedSenders.push_back(s);
    g_fake->asyncHeld_.erase(s);
}
void* LendVideo(NDIlib_send_instance_t s, const NDIlib_video_frame_v2_t* like) {
    if (!like || like->xres <= 0 || like->yres <= 0) return nullptr;
    const size_t bytesPerPixel = like->FourCC == NDIlib_FourCC_video_type_UYVY ? 2 : 4;
    std::lock_guard lock(g_fake->mutex);
    auto& buffer = g_fake->lent_[s];
    buffer.assign(static_cast<size_t>(like->xres) * like->yres * bytesPerPixel, 0xCD);
    return buffer.data();
}
void RecordVideo(NDIlib_send_instance_t s, const NDIlib_video_frame_v2_t* f) {
    if (!f) return;
    {
        std::lock_guard lock(g_fake->mutex);
        auto it = g_fake->lent_.find(s);
        if (it != g_fake->lent_.end() && f->p_data == it->second.data())
            g_fake->videoSentFromLent++;
    }
    if (g_fake->onVideoSent) g_fake->onVideoSent(s, *f);
    if (!g_fake->recordVideoData) {
        {
            std::lock_guard lock(g_fake->mutex);
            g_fake->videoSentCount++;
        }
        g_fake->Notify();
        return;
    }
    SentVideo sent{s, *f, {}};
    if (f->p_data)
        sent.data.assign(f->p_data,
                         f->p_data + static_cast<size_t>(f->line_stride_in_bytes) * f->yres);
    sent.frame.p_data = nullptr;
    {
        std::lock_guard lock(g_fake->mutex);
        g_fake->video.push_back(std::move(sent));
        g_fake->videoSentCount++;
    }
    g_fake->Notify();
}
// As the NDI runtime, a sender may read the buffer of its last asynchronous frame until the next
// video call on it: every such call compares that buffer with what it held when it was handed
// over, and counts a buffer that was written to in between.
void ReleaseAsync(NDIlib_send_instance_t s) {
    std::lock_guard lock(g_fake->mutex);
    auto it = g_fake->asyncHeld_.find(s);
    if (it == g_fake->asyncHeld_.end()) return;
    const auto& [pointer, bytes] = it->second;
    if (std::memcmp(pointer, bytes.data(), bytes.size()) != 0) g_fake->asyncBufferRewrites++;
    g_fake->asyncHeld_.erase(it);
}
void SendVideo(NDIlib_send_instance_t s, const NDIlib_video_frame_v2_t* f) {
    ReleaseAsync(s);
    RecordVideo(s, f);
}
void SendVideoAsync(NDIlib_send_instance_t s, const NDIlib_video_frame_v2_t* f) {
    ReleaseAsync(s);
    RecordVideo(s, f);
    if (!f || !f->p_data) return;
    const size_t size = static_cast<size_t>(f->line_stride_in_bytes) * f->yres;
    std::lock_guard lock(g_fake->mutex);
    g_fake->asyncHeld_[s] = {f->p_data, std::vector<uint8_t>(f->p_data, f->p_data + size)};
}
void SendAudio(NDIlib_send_instance_t s, const NDIlib_audio_frame_v2_t* f) {
    SentAudio sent{s, *f, {}};
    if (f->p_data)
        sent.data.assign(f->p_data,
                         f->p_data + static_cast<size_t>(f->no_channels) * f->no_samples);
    sent.frame.p_data = nullptr;
    {
        std::lock_guard lock(g_fake->mutex);
        g_fake->audio.push_back(std::move(sent));
    }
    g_fake->Notify();
}
void SendMetadata(NDIlib_send_instance_t, const NDIlib_metadata_frame_t* m) {
    std::lock_guard lock(g_fake->mutex);
    g_fake->sentMetadata.emplace_back(m->p_data ? m->p_data : "");
}
void SendAddMetadata(NDIlib_send_instance_t s, const NDIlib_metadata_frame_t* m) {
    std::lock_guard lock(g_fake->mutex);
    for (auto& created : g_fake->senders) {
        if (created.handle == s) created.connectionMetadata.emplace_back(m->p_data, m->length);
    }
}
void SendClearMetadata(NDIlib_send_instance_t) {}
bool SendGetTally(NDIlib_send_instance_t, NDIlib_tally_t* t, uint32_t) {
    std::lock_guard lock(g_fake->mutex);
    if (!g_fake->tallyPending_) return false;
    g_fake->tallyPending_ = false;
    *t = g_fake->tally_;
    return true;
}
int SendConnections(NDIlib_send_instance_t, uint32_t) {
    return 0;
}
}  // extern "C"

}  // namespace

FakeNdi::FakeNdi() {
    g_fake = this;
    api_.initialize = Initialize;
    api_.destroy = Destroy;
    api_.version = Version;
    api_.is_supported_CPU = SupportedCpu;
    api_.find_create_v2 = FindCreate;
    api_.find_destroy = FindDestroy;
    api_.find_get_current_sources = FindSources;
    api_.recv_create_v3 = RecvCreate;
    api_.recv_destroy = RecvDestroy;
    api_.recv_capture_v2 = RecvCapture;
    api_.recv_free_video_v2 = FreeVideo;
    api_.recv_free_audio_v2 = FreeAudio;
    api_.recv_free_metadata = FreeMetadata;
    api_.recv_set_tally = RecvSetTally;
    api_.recv_add_connection_metadata = RecvAddMetadata;
    api_.recv_get_no_connections = RecvConnections;
    api_.send_create = SendCreate;
    api_.send_destroy = SendDestroy;
    api_.send_send_video_v2 = SendVideo;
    api_.send_send_video_async_v2 = SendVideoAsync;
    api_.send_send_audio_v2 = SendAudio;
    api_.send_send_metadata = SendMetadata;
    api_.send_add_connection_metadata = SendAddMetadata;
    api_.send_clear_connection_metadata = SendClearMetadata;
    api_.send_get_tally = SendGetTally;
    api_.send_get_no_connections = SendConnections;
}

void FakeNdi::LendSendMemory() {
    api_.send_lend_video = LendVideo;
}

FakeNdi::~FakeNdi() {
    g_fake = nullptr;
}

void FakeNdi::QueueVideo(const NDIlib_video_frame_v2_t& frame, std::vector<uint8_t> data) {
    {
        std::lock_guard lock(mutex);
        videoQueue_.emplace_back(frame, std::move(data));
    }
    videoQueued++;
    Notify();
}

void FakeNdi::QueueAudio(const NDIlib_audio_frame_v2_t& frame, std::vector<float> data) {
    {
        std::lock_guard lock(mutex);
        audioQueue_.emplace_back(frame, std::move(data));
    }
    Notify();
}

void FakeNdi::QueueVideos(
    const std::vector<std::pair<NDIlib_video_frame_v2_t, std::vector<uint8_t>>>& frames) {
    {
        std::lock_guard lock(mutex);
        for (const auto& [frame, data] : frames)
            videoQueue_.emplace_back(frame, data);
    }
    videoQueued += static_cast<int>(frames.size());
    Notify();
}

void FakeNdi::QueueAudios(
    const std::vector<std::pair<NDIlib_audio_frame_v2_t, std::vector<float>>>& blocks) {
    {
        std::lock_guard lock(mutex);
        for (const auto& [frame, data] : blocks)
            audioQueue_.emplace_back(frame, data);
    }
    Notify();
}

void FakeNdi::QueueMetadata(const std::string& text) {
    {
        std::lock_guard lock(mutex);
        metaQueue_.push_back(text);
    }
    Notify();
}

void FakeNdi::SetTally(bool program, bool preview) {
    std::lock_guard lock(mutex);
    tally_ = {program, preview};
    tallyPending_ = true;
}

NDIlib_frame_type_e FakeNdi::Capture(NDIlib_video_frame_v2_t* v, NDIlib_audio_frame_v2_t* a,
                                     NDIlib_metadata_frame_t* m, uint32_t timeout) {
    if (a) audioCaptureNice = ThreadNiceValue();
    std::unique_lock lock(mutex);
    const auto ready = [&] {
        return (v && !videoQueue_.empty()) || (a && !audioQueue_.empty()) ||
               (m && !metaQueue_.empty());
    };
    // Short waits keep tests quick; the engine loops on "nothing" anyway.
    changed_.wait_for(lock, std::chrono::milliseconds(std::min<uint32_t>(timeout, 10)), ready);
    if (m && !metaQueue_.empty()) {
        auto h = std::make_unique<Held>();
        h->text = std::move(metaQueue_.front());
        metaQueue_.pop_front();
        NDIlib_metadata_frame_t frame{};
        frame.length = static_cast<int>(h->text.size() + 1);
        frame.p_data = h->text.data();
        held_[frame.p_data] = std::move(h);
        *m = frame;
        return NDIlib_frame_type_metadata;
    }
    if (v && !videoQueue_.empty()) {
        auto [frame, data] = std::move(videoQueue_.front());
        videoQueue_.pop_front();
        auto h = std::make_unique<Held>();
        h->bytes = std::move(data);
        frame.p_data = h->bytes.data();
        held_[frame.p_data] = std::move(h);
        *v = frame;
        return NDIlib_frame_type_video;
    }
    if (a && !audioQueue_.empty()) {
        auto [frame, data] = std::move(audioQueue_.front());
        audioQueue_.pop_front();
        auto h = std::make_unique<Held>();
        h->floats = std::move(data);
        frame.p_data = h->floats.data();
        held_[frame.p_data] = std::move(h);
        *a = frame;
        return NDIlib_frame_type_audio;
    }
    return NDIlib_frame_type_none;
}

bool FakeNdi::WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return predicate();
}

bool FakeNdi::WaitForVideoSent(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed_.wait_for(lock, timeout, [&] { return videoSentCount.load() >= count; });
}

size_t FakeNdi::VideoSentTo(void* sender) {
    std::lock_guard lock(mutex);
    size_t n = 0;
    for (const auto& v : video)
        n += v.sender == sender;
    return n;
}

size_t FakeNdi::VideoQueueSize() {
    std::lock_guard lock(mutex);
    return videoQueue_.size();
}

size_t FakeNdi::AudioQueueSize() {
    std::lock_guard lock(mutex);
    return audioQueue_.size();
}

void* FakeNdi::SenderNamed(const std::string& name) {
    std::lock_guard lock(mutex);
    for (const auto& s : senders) {
        if (s.name == name) return s.handle;
    }
    return nullptr;
}

NDIlib_video_frame_v2_t VideoFormat(int w, int h, NDIlib_FourCC_video_type_e fourcc, int n, int d,
                                    NDIlib_frame_format_type_e type) {
    NDIlib_video_frame_v2_t f{};
    f.xres = w;
    f.yres = h;
    f.FourCC = fourcc;
    f.frame_rate_N = n;
    f.frame_rate_D = d;
    f.picture_aspect_ratio = 16.0f / 9.0f;
    f.frame_format_type = type;
    f.line_stride_in_bytes = w * (fourcc == NDIlib_FourCC_video_type_UYVY ? 2 : 4);
    return f;
}

std::vector<uint8_t> Pattern(const NDIlib_video_frame_v2_t& f, int seed) {
    std::vector<uint8_t> data(static_cast<size_t>(f.line_stride_in_bytes) * f.yres);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + seed * 13 + (i >> 9));
    return data;
}

NDIlib_audio_frame_v2_t AudioFormat(int channels, int samples, int rate) {
    NDIlib_audio_frame_v2_t f{};
    f.sample_rate = rate;
    f.no_channels = channels;
    f.no_samples = samples;
    f.channel_stride_in_bytes = samples * 4;
    return f;
}

std::vector<float> Ramp(int channels, int samples, float seed) {
    std::vector<float> data(static_cast<size_t>(channels) * samples);
    for (int c = 0; c < channels; ++c) {
        for (int j = 0; j < samples; ++j)
            data[static_cast<size_t>(c) * samples + j] = seed + c * 1000.0f + j;
    }
    return data;
}

}  // namespace velmor::testing
