// Monitor ring and tap arithmetic; see monitor_queue.h.
#include "audio/monitor_queue.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmor {

namespace {
size_t WholePairs(size_t bytes) {
    return bytes - bytes % kMonitorPairBytes;
}
}  // namespace

MonitorQueue::MonitorQueue(size_t capacityBytes)
    : capacity_(capacityBytes),
      mask_(capacityBytes - 1),
      ring_(std::make_unique<uint8_t[]>(capacityBytes)) {}

size_t MonitorQueue::Queue(const uint8_t* src, size_t bytes) {
    if (src == nullptr) return 0;
    bytes = WholePairs(bytes);
    lastBlock_.store(bytes, std::memory_order_relaxed);
    const uint64_t head = head_.load(std::memory_order_relaxed);
    const uint64_t tail = tail_.load(std::memory_order_acquire);
    const size_t room = WholePairs(capacity_ - static_cast<size_t>(head - tail));
    const size_t n = std::min(bytes, room);
    const size_t at = static_cast<size_t>(head) & mask_;
    const size_t first = std::min(n, capacity_ - at);
    std::memcpy(ring_.get() + at, src, first);
    std::memcpy(ring_.get(), src + first, n - first);
    head_.store(head + n, std::memory_order_release);
    if (n < bytes) dropped_.fetch_add(bytes - n, std::memory_order_relaxed);
    if (IMonitorWake* wake = wake_.load(std::memory_order_acquire); wake != nullptr && n > 0)
        wake->AudioQueued();
    return n;
}

void MonitorQueue::Open() {
    tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
    open_.store(true, std::memory_order_release);
}

std::span<const uint8_t> MonitorQueue::Peek() const {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const size_t queued = static_cast<size_t>(head_.load(std::memory_order_acquire) - tail);
    const size_t at = static_cast<size_t>(tail) & mask_;
    return {ring_.get() + at, std::min(queued, capacity_ - at)};
}

void MonitorQueue::Consume(size_t bytes) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const size_t queued = static_cast<size_t>(head_.load(std::memory_order_acquire) - tail);
    bytes = std::min(bytes, queued);
    tail_.store(tail + bytes, std::memory_order_release);
    taken_.fetch_add(bytes, std::memory_order_relaxed);
}

size_t MonitorQueue::Read(uint8_t* dst, size_t max) {
    size_t copied = 0;
    while (copied < max) {
        const std::span<const uint8_t> piece = Peek();
        const size_t n = std::min(piece.size(), max - copied);
        if (n == 0) break;
        std::memcpy(dst + copied, piece.data(), n);
        Consume(n);
        copied += n;
    }
    return copied;
}

size_t MonitorQueue::TrimLatency() {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const size_t queued = static_cast<size_t>(head_.load(std::memory_order_acquire) - tail);
    const size_t block = lastBlock_.load(std::memory_order_relaxed);
    if (queued <= block + kMonitorSlackBytes) return 0;
    const size_t drop = WholePairs(queued - std::min(block, queued));
    tail_.store(tail + drop, std::memory_order_release);
    trimmed_.fetch_add(drop, std::memory_order_relaxed);
    return drop;
}

size_t MonitorQueue::Queued() const {
    return static_cast<size_t>(head_.load(std::memory_order_acquire) -
                               tail_.load(std::memory_order_acquire));
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
                     static_cast<size_t>(samples) * kMonitorPairBytes);
}

}  // namespace velmor
