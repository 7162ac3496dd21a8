// The probe workers of the Sources Found window. A scan hands its workers one ProbeRun: its own
// copy of the source list, the stop flag and the per-worker probe tokens. Worker t probes sources
// t, t + threads, t + 2 x threads, ... one after another with a receiver of its own, and tells the
// window thread what it saw through ProbeReports, which never blocks either side beyond a short
// lock. A worker reads nothing the window thread may replace or free: a stopped or abandoned run
// keeps its state alive through the shared pointer until its last worker has ended.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/scan_cells.h"
#include "ndi/ndi_library.h"

namespace velmor {

inline constexpr int kMaxProbeThreads = 4;

// One worker per six sources, at most four: min(n / 6 + 1, 4).
int ProbeThreadCount(uint32_t sources);

struct ScanSource {
    std::string name;     // UTF-8, as the finder lists it
    std::string address;  // the finder's address text
};

struct ProbeReport {
    enum class Kind {
        Video,         // the source's first video frame: `video`
        Audio,         // its first audio frame: `audio`
        Reported,      // the source is done without (further) cells: only its name and address
        StartTimeout,  // worker `thread` starts probing `source`: start its time-out for `token`
        Finished,      // worker `thread` has ended its part of the scan; it may be joined
    };
    Kind kind = Kind::Reported;
    uint64_t scan = 0;  // the run it belongs to
    int thread = 0;
    int source = 0;
    uint32_t token = 0;
    bool first = false;  // the first report of this source: it counts towards the progress
    VideoCells video;
    std::string audio;
};

// Workers push, the window thread takes. `wake` is called (under the queue's lock, so that
// clearing it is final) when a report arrives in an empty queue; it must return at once.
class ProbeReports {
public:
    void SetWake(std::function<void()> wake);
    void Push(ProbeReport report);
    std::vector<ProbeReport> TakeAll();

private:
    std::mutex mutex_;
    std::vector<ProbeReport> queue_;
    std::function<void()> wake_;
    bool wakePending_ = false;
};

struct ProbeRun {
    static constexpr int kVideoTries = 40;
    static constexpr int kAudioTries = 40;
    static constexpr uint32_t kCaptureTimeoutMs = 80;

    uint64_t scan = 0;
    NdiLibrary ndi;  // a copy: the table is plain function pointers
    std::vector<ScanSource> sources;
    int threads = 1;
    std::shared_ptr<ProbeReports> reports;
    std::atomic<bool> stop{false};
    // Per worker: the token (source index + 1) of the source it may still probe, 0 when its
    // time-out has fired. The time-out clears only the token it was started for.
    std::array<std::atomic<uint32_t>, kMaxProbeThreads> probeActive{};
};

// The worker body. Ends with a Finished report, also when stopped.
void ProbeThread(ProbeRun& run, int t);

}  // namespace velmor
