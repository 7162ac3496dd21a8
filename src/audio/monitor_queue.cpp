// Monitor ring and tap arithmetic; see monitor_queue.h.
#include "audio/monitor_queue.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace velmor {

namespace {
constexpr auto kWaitStep = std::chrono::milliseconds(10);
}

MonitorQueue::MonitorQueue(std::chrono::milliseconds stallLimit) : stallLimit_(stallLimit) {}

void MonitorQueue::Attach(IMonitorOutput* output) {
    if (!ring_) ring_ = std::make_unique<decltype(ring_)::element_type>();
    for (auto& buffer : *ring_)
        buffer.fill(0);
    fill_.fill(0);
    index_ = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        free_ = kMonitorBuffers;
        stalled_ = false;
        dropped_ = 0;
    }
    output_ = output;
}

bool MonitorQueue::Detach(std::chrono::milliseconds limit) {
    if (output_ == nullptr) return true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool drained = false;
    for (;;) {
        if (FreeBuffers() >= kMonitorBuffers) {
            drained = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(kWaitStep);
    }
    output_ = nullptr;
    fill_.fill(0);
    index_ = 0;
    return drained;
}

void MonitorQueue::ClearBuffers() {
    if (ring_)
        for (auto& buffer : *ring_)
            buffer.fill(0);
}

bool MonitorQueue::IsOpen() const {
    return output_ != nullptr;
}

bool MonitorQueue::WaitForFree() {
    const auto deadline = std::chrono::steady_clock::now() + stallLimit_;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (free_ > 0) return true;
            if (stalled_) return false;
            if (std::chrono::steady_clock::now() >= deadline) {
                stalled_ = true;
                return false;
            }
        }
        std::this_thread::sleep_for(kWaitStep);
    }
}

void MonitorQueue::Queue(const uint8_t* src, size_t bytes) {
    IMonitorOutput* output = output_;
    if (output == nullptr || src == nullptr) return;
    while (bytes > 0) {
        auto& buffer = (*ring_)[static_cast<size_t>(index_)];
        int& fill = fill_[static_cast<size_t>(index_)];
        const size_t space = static_cast<size_t>(kMonitorBufferBytes - fill);
        if (bytes < space) {
            std::memcpy(buffer.data() + fill, src, bytes);
            fill += static_cast<int>(bytes);
            return;
        }
        std::memcpy(buffer.data() + fill, src, space);
        fill = kMonitorBufferBytes;

        // The buffer is counted as queued before the device sees it: a device that finishes it
        // at once (inside Write) must find the count already lowered.
        bool reserved;
        {
            std::lock_guard<std::mutex> guard(lock_);
            reserved = free_ > 0;  // with every buffer still on a stuck device there is no room
            if (reserved) --free_;
        }
        const bool written = reserved && output->Write(buffer.data(), kMonitorBufferBytes);
        if (!written) {
            std::lock_guard<std::mutex> guard(lock_);
            if (reserved) ++free_;
            dropped_ += kMonitorBufferBytes;
        }
        if (written) WaitForFree();

        index_ = (index_ + 1) % kMonitorBuffers;
        fill_[static_cast<size_t>(index_)] = 0;
        bytes -= space;
        src += space;
    }
}

void MonitorQueue::BufferDone() {
    std::lock_guard<std::mutex> guard(lock_);
    if (free_ < kMonitorBuffers) ++free_;
    stalled_ = false;
}

int MonitorQueue::FreeBuffers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return free_;
}

int MonitorQueue::Index() const {
    return index_;
}

int MonitorQueue::FillCount(int buffer) const {
    if (buffer < 0 || buffer >= kMonitorBuffers) return 0;
    return fill_[static_cast<size_t>(buffer)];
}

uint64_t MonitorQueue::DroppedBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return dropped_;
}

float MonitorFactor(float monitorLevel, float meterScale, int32_t ebuMode) {
    const float k = ebuMode == 1 ? kMonitorKEbu : kMonitorKSmpte;
    return monitorLevel * meterScale * k * 65536.0f;
}

namespace {
// One channel into every second slot of `out`. Branch-free so the loop vectorises: NaN plays as
// 0, and values are clamped rather than wrapped (a wrapped overload would play as a full-scale
// crack), then truncated toward zero.
inline int16_t ConvertSample(float x, float factor) {
    float v = factor * x;
    v = v == v ? v : 0.0f;
    v = v < -32768.0f ? -32768.0f : v;
    v = v > 32767.0f ? 32767.0f : v;
    return static_cast<int16_t>(static_cast<int32_t>(v));
}

void ConvertChannel(const float* __restrict in, int samples, float factor,
                    int16_t* __restrict out) {
    // Fixed-length inner blocks: the compiler vectorises loops of a known trip count at -O2.
    constexpr int kBlock = 16;
    int j = 0;
    for (; j + kBlock <= samples; j += kBlock)
        for (int i = 0; i < kBlock; ++i)
            out[2 * (j + i)] = ConvertSample(in[j + i], factor);
    for (; j < samples; ++j)
        out[2 * j] = ConvertSample(in[j], factor);
}

void SilenceChannel(int samples, int16_t* out) {
    for (int j = 0; j < samples; ++j)
        out[2 * j] = 0;
}
}  // namespace

void ConvertMonitorPairs(const float* left, const float* right, int samples, float factor,
                         int16_t* out) {
    if (left != nullptr && right != nullptr) {
        // Both channels in one pass: the interleaved store stays contiguous.
        constexpr int kBlock = 16;
        int j = 0;
        for (; j + kBlock <= samples; j += kBlock)
            for (int i = 0; i < kBlock; ++i) {
                out[2 * (j + i)] = ConvertSample(left[j + i], factor);
                out[2 * (j + i) + 1] = ConvertSample(right[j + i], factor);
            }
        for (; j < samples; ++j) {
            out[2 * j] = ConvertSample(left[j], factor);
            out[2 * j + 1] = ConvertSample(right[j], factor);
        }
        return;
    }
    if (left != nullptr)
        ConvertChannel(left, samples, factor, out);
    else
        SilenceChannel(samples, out);
    if (right != nullptr)
        ConvertChannel(right, samples, factor, out + 1);
    else
        SilenceChannel(samples, out + 1);
}

void MonitorTap(const MonitorTapSettings& settings, const AudioBlockView& block,
                const MonitorMeterFn& meter, MonitorQueue* queue, std::vector<int16_t>& scratch) {
    const int channels = block.channels;
    const int samples = block.samples;
    if (samples <= 0 || block.data == nullptr) return;

    const bool mapOpen = settings.mapDialogOpen != 0;
    const int a = mapOpen ? settings.mapEntry0 : 0;
    const int b = mapOpen ? settings.mapEntry1 : 1;
    const float previewGain = mapOpen ? settings.mapGain : 0.0f;
    // An index equal to the channel count means "absent"; anything else out of range (a stored map
    // from a source with more channels) is treated the same rather than read past the block.
    auto plane = [&](int k) -> float* {
        if (k < 0 || k >= channels) return nullptr;
        return block.data + static_cast<ptrdiff_t>(k) * block.channelStride;
    };
    float* left = plane(a);
    float* right = plane(b);

    float meterScale = settings.ebuMode == 1 ? kMeterScaleEbu : kMeterScaleSmpte;
    if (meter) meterScale = meter(left, right, samples, previewGain);

    const float factor = MonitorFactor(settings.monitorLevel, meterScale, settings.ebuMode);
    scratch.resize(static_cast<size_t>(samples) * 2);
    ConvertMonitorPairs(left, right, samples, factor, scratch.data());
    if (queue != nullptr && queue->IsOpen())
        queue->Queue(reinterpret_cast<const uint8_t*>(scratch.data()),
                     static_cast<size_t>(samples) * 4);
}

}  // namespace velmor
