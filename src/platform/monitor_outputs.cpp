// Monitor sound devices: libpulse playback and the WAV recorder; see monitor_outputs.h.
#include "platform/monitor_outputs.h"

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velmor {

namespace {

using Clock = std::chrono::steady_clock;

// Waits with the mainloop unlocked until `done` holds or time is up; true when it held.
template <typename Done>
bool WaitUnlocked(pa_threaded_mainloop* loop, Clock::time_point deadline, Done done) {
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        pa_threaded_mainloop_unlock(loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pa_threaded_mainloop_lock(loop);
    }
    return true;
}

}  // namespace

// libpulse's callbacks, on its thread with its lock held.
struct PulseCallbacks {
    static void Context(pa_context*, void* self) {
        static_cast<PulseMonitorOutput*>(self)->ContextChanged();
    }
    static void Stream(pa_stream*, void* self) {
        static_cast<PulseMonitorOutput*>(self)->StreamChanged();
    }
    static void Writable(pa_stream*, size_t, void* self) {
        static_cast<PulseMonitorOutput*>(self)->Pump();
    }
    static void Timer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<PulseMonitorOutput*>(self)->TimerFired();
    }
    static void Wake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(fd, &count, sizeof count);
        static_cast<PulseMonitorOutput*>(self)->Pump();
    }
};

PulseMonitorOutput::PulseMonitorOutput(std::chrono::milliseconds retry,
                                       std::chrono::milliseconds connectLimit)
    : retry_(retry), connectLimit_(connectLimit) {}

PulseMonitorOutput::~PulseMonitorOutput() {
    Close(std::chrono::milliseconds(0));
}

void PulseMonitorOutput::AudioQueued() {
    // An eventfd write never waits; libpulse's thread wakes from its poll and pumps.
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
}

bool PulseMonitorOutput::Start(MonitorQueue& queue, MonitorListener listener) {
    if (loop_ != nullptr) return false;
    queue_ = &queue;
    listener_ = std::move(listener);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr || wakeFd_ < 0) {
        Close(std::chrono::milliseconds(0));
        return false;
    }
    pa_threaded_mainloop_set_name(loop_, "velmor-monitor");
    api_ = pa_threaded_mainloop_get_api(loop_);
    // Before the thread runs, nothing else touches the loop. The first connection is made on the
    // loop's thread at once, so that even reading the client configuration happens there.
    wakeEvent_ = api_->io_new(api_, wakeFd_, PA_IO_EVENT_INPUT, &PulseCallbacks::Wake, this);
    Arm(Timer::Connect, std::chrono::milliseconds(0));
    queue.SetWake(this);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        Close(std::chrono::milliseconds(0));
        return false;
    }
    return true;
}

void PulseMonitorOutput::Arm(Timer what, std::chrono::milliseconds after) {
    timerFor_ = what;
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(after.count()) * PA_USEC_PER_MSEC);
    if (timer_ == nullptr)
        timer_ = api_->time_new(api_, &when, &PulseCallbacks::Timer, this);
    else
        api_->time_restart(timer_, &when);
}

void PulseMonitorOutput::TimerFired() {
    if (closing_) return;
    if (timerFor_ == Timer::Connect) {
        Connect();
    } else if (!playing_) {
        Failed();  // the server kept the connection waiting too long
    }
}

void PulseMonitorOutput::Connect() {
    Disconnect();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Velmor");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
    context_ = pa_context_new_with_proplist(api_, "Velmor", props);
    pa_proplist_free(props);
    if (context_ == nullptr) {
        Failed();
        return;
    }
    pa_context_set_state_callback(context_, &PulseCallbacks::Context, this);
    // No autospawn: starting a sound server is the desktop's business, not ours.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        Failed();
        return;
    }
    Arm(Timer::GiveUp, connectLimit_);
}

void PulseMonitorOutput::ContextChanged() {
    if (context_ == nullptr) return;
    const pa_context_state_t state = pa_context_get_state(context_);
    if (!PA_CONTEXT_IS_GOOD(state)) {
        Failed();
        return;
    }
    if (state != PA_CONTEXT_READY || stream_ != nullptr) return;
    const pa_sample_spec format{PA_SAMPLE_S16LE, kMonitorSampleRate, kMonitorChannels};
    stream_ = pa_stream_new(context_, "Velmor monitor", &format, nullptr);
    if (stream_ == nullptr) {
        Failed();
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseCallbacks::Stream, this);
    pa_stream_set_write_callback(stream_, &PulseCallbacks::Writable, this);
    // The whole latency, the sink's included, is the target; the server asks for 10 ms at a time.
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(kPulseTargetBytes);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(kPulseRequestBytes);
    attr.fragsize = static_cast<uint32_t>(-1);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0)
        Failed();
}

void PulseMonitorOutput::StreamChanged() {
    if (stream_ == nullptr) return;
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (!PA_STREAM_IS_GOOD(state)) {
        Failed();
        return;
    }
    if (state != PA_STREAM_READY || playing_) return;
    // What waited in the ring before there was a device would only play late: start from now.
    queue_->Open();
    playing_.store(true, std::memory_order_release);
    if (timer_ != nullptr) {
        api_->time_free(timer_);
        timer_ = nullptr;
    }
    Report(MonitorEvent::Playing);
    Pump();
}

void PulseMonitorOutput::Failed() {
    const bool wasPlaying = playing_.exchange(false, std::memory_order_acq_rel);
    queue_->Close();
    // The context and stream are taken down on the next timer, outside their own callbacks.
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
    }
    if (context_ != nullptr) pa_context_set_state_callback(context_, nullptr, nullptr);
    if (wasPlaying)
        Report(MonitorEvent::Lost);
    else if (!reported_)
        Report(MonitorEvent::Unavailable);
    if (!closing_) Arm(Timer::Connect, retry_);
}

void PulseMonitorOutput::Report(MonitorEvent event) {
    reported_ = true;
    if (listener_) listener_(event);
}

void PulseMonitorOutput::Disconnect() {
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseMonitorOutput::Pump() {
    if (!playing_ || stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    queue_->TrimLatency();
    for (;;) {
        const size_t writable = pa_stream_writable_size(stream_);
        if (writable == static_cast<size_t>(-1) || writable == 0) return;
        const std::span<const uint8_t> piece = queue_->Peek();
        size_t n = std::min(writable, piece.size());
        n -= n % kMonitorPairBytes;
        if (n == 0) return;
        // A null free function makes the library copy the data.
        if (pa_stream_write(stream_, piece.data(), n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            Failed();
            return;
        }
        queue_->Consume(n);
    }
}

void PulseMonitorOutput::Close(std::chrono::milliseconds limit) {
    if (queue_ != nullptr) queue_->SetWake(nullptr);
    if (loop_ != nullptr) {
        const auto deadline = Clock::now() + limit;
        pa_threaded_mainloop_lock(loop_);
        closing_ = true;
        if (timer_ != nullptr) {
            api_->time_free(timer_);
            timer_ = nullptr;
        }
        if (playing_) {
            // What the ring still holds goes to the server as it asks, then the server plays it
            // out; a server that has stopped answering costs at most `limit`.
            WaitUnlocked(loop_, deadline,
                         [&] { return !playing_ || queue_->Queued() < kMonitorPairBytes; });
            if (playing_ && stream_ != nullptr) {
                bool drained = false;
                pa_operation* op = pa_stream_drain(
                    stream_, [](pa_stream*, int, void* flag) { *static_cast<bool*>(flag) = true; },
                    &drained);
                WaitUnlocked(loop_, deadline, [&] { return drained || !playing_; });
                if (op != nullptr) {
                    pa_operation_cancel(op);  // harmless when it has finished
                    pa_operation_unref(op);
                }
            }
        }
        playing_ = false;
        if (queue_ != nullptr) queue_->Close();
        Disconnect();
        if (wakeEvent_ != nullptr) {
            api_->io_free(wakeEvent_);
            wakeEvent_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        api_ = nullptr;
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
    wakeFd_ = -1;
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
// A WAV file cannot describe more than 4 GiB of data; recording stops there.
constexpr uint64_t kWavDataLimit = 0xFFFFFFFFull - 36;
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
    stop_ = false;
    queue.Open();
    thread_ = std::thread([this] { Run(); });
    return true;
}

size_t WavMonitorOutput::WriteQueued() {
    size_t written = 0;
    for (;;) {
        const std::span<const uint8_t> piece = queue_->Peek();
        if (piece.empty()) return written;
        const size_t room = static_cast<size_t>(kWavDataLimit - dataBytes_);
        const size_t n = std::min(piece.size(), room);
        if (n > 0 && std::fwrite(piece.data(), 1, n, file_) == n) dataBytes_ += n;
        // Past the limit, or when the disk refuses, the audio is let go unrecorded.
        queue_->Consume(piece.size());
        written += piece.size();
    }
}

void WavMonitorOutput::Run() {
    // The file is written in the ring's stead of a speaker: every 5 ms what has been queued.
    while (!stop_.load(std::memory_order_acquire)) {
        if (WriteQueued() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    WriteQueued();
}

void WavMonitorOutput::Close() {
    if (file_ == nullptr) return;
    queue_->Close();
    stop_ = true;
    if (thread_.joinable()) thread_.join();
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

void MonitorDevice::Open(MonitorQueue& queue, MonitorListener listener) {
    if (queue_ != nullptr) return;
    queue_ = &queue;
    const char* wavPath = std::getenv(kMonitorWavVariable);
    if (wavPath != nullptr && wavPath[0] != '\0') {
        auto wav = std::make_unique<WavMonitorOutput>();
        const bool ok = wav->Open(wavPath, queue);
        if (ok) wav_ = std::move(wav);
        if (listener) listener(ok ? MonitorEvent::Playing : MonitorEvent::Unavailable);
        return;
    }
    auto pulse = std::make_unique<PulseMonitorOutput>(retry_);
    if (pulse->Start(queue, listener))
        pulse_ = std::move(pulse);
    else if (listener)
        listener(MonitorEvent::Unavailable);
}

void MonitorDevice::Close(std::chrono::milliseconds limit) {
    if (pulse_) pulse_->Close(limit);
    if (wav_) wav_->Close();
    pulse_.reset();
    wav_.reset();
    queue_ = nullptr;
}

bool MonitorDevice::IsPlaying() const {
    return (pulse_ && pulse_->Playing()) || (wav_ != nullptr);
}

}  // namespace velmor
