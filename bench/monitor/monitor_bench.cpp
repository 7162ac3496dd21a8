// The monitor tap per audio block beside memcpy of the block's two float planes, for blocks of
// 1024 samples and of 1920 samples (one 25 fps frame of 48 kHz audio): what the audio thread
// spends on the local monitor (conversion, queueing into the ring, waking the device's thread).
#include <benchmark/benchmark.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/monitor_queue.h"

namespace velmor {
namespace {

// The device's side of the ring, wide awake: it takes everything at once after each block.
void TakeAll(MonitorQueue& queue) {
    for (auto piece = queue.Peek(); !piece.empty(); piece = queue.Peek()) {
        benchmark::DoNotOptimize(piece.data());
        queue.Consume(piece.size());
    }
}

std::vector<float> Planes(int samples) {
    std::vector<float> v(static_cast<size_t>(samples) * 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = std::sin(static_cast<float>(i) * 0.01f);
    return v;
}

void BM_memcpy(benchmark::State& st) {
    const int samples = static_cast<int>(st.range(0));
    auto in = Planes(samples);
    const size_t bytes = in.size() * sizeof(float);
    // Source and destination in one block, placed so that their distance is not close to a
    // multiple of 4 KiB: glibc's copy slows down more than tenfold there, which would make the
    // baseline (not the code under test) the thing measured.
    std::vector<float> block(in.size() * 2 + 1024);
    float* src = block.data();
    float* dst = block.data() + in.size() + 528;  // 2112 bytes past the source's end
    std::memcpy(src, in.data(), bytes);
    for (auto _ : st) {
        std::memcpy(dst, src, bytes);
        benchmark::DoNotOptimize(dst);
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(bytes));
}

void BM_ConvertMonitorPairs(benchmark::State& st) {
    const int samples = static_cast<int>(st.range(0));
    auto in = Planes(samples);
    std::vector<int16_t> out(in.size());
    const float factor = MonitorFactor(1.0f, kMeterScaleEbu, 1);
    for (auto _ : st) {
        ConvertMonitorPairs(in.data(), in.data() + samples, samples, factor, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) *
                         static_cast<int64_t>(in.size() * sizeof(float)));
}

void BM_MonitorTap(benchmark::State& st) {
    const int samples = static_cast<int>(st.range(0));
    auto in = Planes(samples);
    MonitorQueue queue;
    queue.Open();
    std::vector<int16_t> scratch;
    const MonitorTapSettings settings;
    for (auto _ : st) {
        MonitorTap(settings, {in.data(), 2, samples, samples}, nullptr, &queue, scratch);
        benchmark::ClobberMemory();
        TakeAll(queue);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) *
                         static_cast<int64_t>(in.size() * sizeof(float)));
}

// The same with the wake the sound server's thread gets from each block: one eventfd write.
class EventfdWake : public IMonitorWake {
public:
    EventfdWake() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~EventfdWake() override { close(fd_); }
    void AudioQueued() override {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = write(fd_, &one, sizeof one);
    }
    void Drain() {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t ignored = read(fd_, &count, sizeof count);
    }

private:
    int fd_;
};

void BM_MonitorTapWithWake(benchmark::State& st) {
    const int samples = static_cast<int>(st.range(0));
    auto in = Planes(samples);
    MonitorQueue queue;
    EventfdWake wake;
    queue.SetWake(&wake);
    queue.Open();
    std::vector<int16_t> scratch;
    const MonitorTapSettings settings;
    for (auto _ : st) {
        MonitorTap(settings, {in.data(), 2, samples, samples}, nullptr, &queue, scratch);
        benchmark::ClobberMemory();
        TakeAll(queue);
    }
    wake.Drain();
    queue.SetWake(nullptr);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) *
                         static_cast<int64_t>(in.size() * sizeof(float)));
}

BENCHMARK(BM_memcpy)->Arg(1024)->Arg(1920);
BENCHMARK(BM_ConvertMonitorPairs)->Arg(1024)->Arg(1920);
BENCHMARK(BM_MonitorTap)->Arg(1024)->Arg(1920);
BENCHMARK(BM_MonitorTapWithWake)->Arg(1024)->Arg(1920);

}  // namespace
}  // namespace velmor

BENCHMARK_MAIN();
