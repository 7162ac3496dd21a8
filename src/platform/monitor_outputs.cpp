// Monitor sound devices: libpulse playback and the WAV recorder; see monitor_outputs.h.
#include "platform/monitor_outputs.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace velmor {

namespace {

using Clock = std::chrono::steady_clock;

// Waits with the mainloop unlocked until `ready` holds (true) or `failed` holds or time is up.
template <typename Ready, typename Failed>
bool WaitLocked(pa_threaded_mainloop* loop, Clock::time_point deadline, Ready ready,
                Failed failed) {
    while (!ready()) {
        if (failed() || Clock::now() >= deadline) return false;
        pa_threaded_mainloop_unlock(loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pa_threaded_mainloop_lock(loop);
    }
    return true;
}

}  // namespace

PulseMonitorOutput::~PulseMonitorOutput() {
    Close(std::chrono::milliseconds(0));
}

void PulseMonitorOutput::OnContextState(pa_context* context, void* self) {
    auto* out = static_cast<PulseMonitorOutput*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) out->ReturnPending();
}

void PulseMonitorOutput::OnStreamState(pa_stream* stream, void* self) {
    auto* out = static_cast<PulseMonitorOutput*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) out->ReturnPending();
}

void PulseMonitorOutput::OnWritable(pa_stream*, size_t, void* self) {
    static_cast<PulseMonitorOutput*>(self)->Pump();
}

void PulseMonitorOutput::ReturnPending() {
    // Nobody will play these any more; hand them back so the ring does not wait for them.
    for (size_t i = 0; i < pending_.size(); ++i)
        if (queue_ != nullptr) queue_->BufferDone();
    pending_.clear();
    frontOffset_ = 0;
}

void PulseMonitorOutput::Pump() {
    if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    while (!pending_.empty()) {
        // The server may ask for less than a whole buffer (its start threshold can even exceed
        // one buffer), so hand over what it asks for and finish the buffer on a later call.
        const size_t writable = pa_stream_writable_size(stream_);
        if (writable == static_cast<size_t>(-1) || writable == 0) return;
        const auto& buffer = pending_.front();
        const size_t n = std::min(writable, buffer.size() - frontOffset_);
        // A null free function makes the library copy the data.
        if (pa_stream_write(stream_, buffer.data() + frontOffset_, n, nullptr, 0,
                            PA_SEEK_RELATIVE) < 0) {
            ReturnPending();
            return;
        }
        frontOffset_ += n;
        if (frontOffset_ < buffer.size()) return;
        pending_.pop_front();
        frontOffset_ = 0;
        if (queue_ != nullptr) queue_->BufferDone();
    }
}

bool PulseMonitorOutput::Open(MonitorQueue& queue, std::chrono::milliseconds timeout) {
    if (loop_ != nullptr) return false;
    queue_ = &queue;
    const auto deadline = Clock::now() + timeout;
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return false;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Velmor");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Velmor", props);
    pa_proplist_free(props);
    if (context_ == nullptr) {
        Close(std::chrono::milliseconds(0));
        return false;
    }
    pa_context_set_state_callback(context_, &OnContextState, this);
    // No autospawn: starting a sound server is the desktop's business, not ours.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        Close(std::chrono::milliseconds(0));
        return false;
    }

    pa_threaded_mainloop_lock(loop_);
    bool ok = WaitLocked(
        loop_, deadline, [&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
        [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); });
    if (ok) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, kMonitorSampleRate, kMonitorChannels};
        stream_ = pa_stream_new(context_, "Velmor monitor", &sampleFormat, nullptr);
        ok = stream_ != nullptr;
    }
    if (ok) {
        pa_stream_set_state_callback(stream_, &OnStreamState, this);
        pa_stream_set_write_callback(stream_, &OnWritable, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = 2 * kMonitorBufferBytes;
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        ok = pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_NOFLAGS, nullptr,
                                        nullptr) == 0;
    }
    if (ok)
        ok = WaitLocked(
            loop_, deadline, [&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
            [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); });
    pa_threaded_mainloop_unlock(loop_);
    if (!ok) Close(std::chrono::milliseconds(0));
    return ok;
}

bool PulseMonitorOutput::Write(const uint8_t* data, size_t bytes) {
    if (loop_ == nullptr || stream_ == nullptr) return false;
    pa_threaded_mainloop_lock(loop_);
    const bool ready = pa_stream_get_state(stream_) == PA_STREAM_READY;
    if (ready) {
        pending_.emplace_back(data, data + bytes);
        Pump();
    }
    pa_threaded_mainloop_unlock(loop_);
    return ready;
}

void PulseMonitorOutput::Close(std::chrono::milliseconds limit) {
    if (loop_ == nullptr) return;
    const auto deadline = Clock::now() + limit;
    pa_threaded_mainloop_lock(loop_);
    if (stream_ != nullptr) {
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
            WaitLocked(
                loop_, deadline, [&] { return pending_.empty(); }, [] { return false; });
            bool drained = false;
            pa_operation* op = pa_stream_drain(
                stream_, [](pa_stream*, int, void* flag) { *static_cast<bool*>(flag) = true; },
                &drained);
            WaitLocked(
                loop_, deadline, [&] { return drained; }, [] { return false; });
            if (op != nullptr) {
                pa_operation_cancel(op);  // harmless when it has finished
                pa_operation_unref(op);
            }
        }
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    ReturnPending();
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

// --- WAV recorder ---

namespace {
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void WavHeader(uint8_t* h, uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);  // PCM
    Put16(h + 22, kMonitorChannels);
    Put32(h + 24, kMonitorSampleRate);
    Put32(h + 28, kMonitorSampleRate * 4);
    Put16(h + 32, 4);
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}
}  // namespace

WavMonitorOutput::~WavMonitorOutput() {
    Close();
}

bool WavMonitorOutput::Open(const std::string& path, MonitorQueue& queue) {
    if (file_ != nullptr) return false;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return false;
    uint8_t header[44];
    WavHeader(header, 0);
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    queue_ = &queue;
    dataBytes_ = 0;
    return true;
}

bool WavMonitorOutput::Write(const uint8_t* data, size_t bytes) {
    if (file_ == nullptr) return false;
    // A WAV file cannot describe more than 4 GiB of data; stop recording there.
    if (dataBytes_ + bytes > 0xFFFFFFFFull - 36) return false;
    if (std::fwrite(data, 1, bytes, file_) != bytes) return false;
    dataBytes_ += bytes;
    if (queue_ != nullptr) queue_->BufferDone();
    return true;
}

void WavMonitorOutput::Close() {
    if (file_ == nullptr) return;
    uint8_t header[44];
    WavHeader(header, static_cast<uint32_t>(dataBytes_));
    if (std::fseek(file_, 0, SEEK_SET) == 0) std::fwrite(header, 1, sizeof header, file_);
    std::fclose(file_);
    file_ = nullptr;
}

// --- set-up and tear-down ---

MonitorDevice::~MonitorDevice() {
    Close(std::chrono::milliseconds(0));
}

bool MonitorDevice::Open(MonitorQueue& queue) {
    if (queue_ != nullptr) return true;
    const char* wavPath = std::getenv(kMonitorWavVariable);
    if (wavPath != nullptr && wavPath[0] != '\0') {
        auto wav = std::make_unique<WavMonitorOutput>();
        if (!wav->Open(wavPath, queue)) return false;
        queue.Attach(wav.get());
        wav_ = std::move(wav);
    } else {
        auto pulse = std::make_unique<PulseMonitorOutput>();
        if (!pulse->Open(queue)) return false;
        queue.Attach(pulse.get());
        pulse_ = std::move(pulse);
    }
    queue_ = &queue;
    return true;
}

void MonitorDevice::Close(std::chrono::milliseconds limit) {
    if (queue_ == nullptr) return;
    const auto start = Clock::now();
    queue_->Detach(limit);  // buffers still with the device when time runs out are abandoned
    const auto left = std::max(
        std::chrono::milliseconds(0),
        limit - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
    if (pulse_) pulse_->Close(left);
    if (wav_) wav_->Close();
    pulse_.reset();
    wav_.reset();
    queue_ = nullptr;
}

}  // namespace velmor
