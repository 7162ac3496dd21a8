// A scripted, recording stand-in for the NDI library, for engine tests: frames queued by the test
// come out of recv_capture_v2; everything sent, created and destroyed is recorded. Thread-safe,
// since the engine's two threads call it at once. One instance at a time (the C function table
// reaches it through a global).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ndi/ndi_library.h"

namespace velmor::testing {

struct SentVideo {
    void* sender;
    NDIlib_video_frame_v2_t frame;  // p_data points into `data`
    std::vector<uint8_t> data;      // stride x height bytes
};

struct SentAudio {
    void* sender;
    NDIlib_audio_frame_v2_t frame;
    std::vector<float> data;  // channels x samples
};

struct CreatedSender {
    void* handle;
    std::string name;
    std::string groups;
    bool clockVideo;
    bool clockAudio;
    std::vector<std::string> connectionMetadata;
};

class FakeNdi {
public:
    FakeNdi();
    ~FakeNdi();
    const NdiLibrary& api() const { return api_; }

    // Script: frames the receiver will deliver, in order per kind.
    void QueueVideo(const NDIlib_video_frame_v2_t& frame, std::vector<uint8_t> data);
    void QueueAudio(const NDIlib_audio_frame_v2_t& frame, std::vector<float> data);
    // Several at once, as a receiver's queue holds them after the application stalled.
    void QueueVideos(
        const std::vector<std::pair<NDIlib_video_frame_v2_t, std::vector<uint8_t>>>& frames);
    void QueueAudios(
        const std::vector<std::pair<NDIlib_audio_frame_v2_t, std::vector<float>>>& blocks);
    void QueueMetadata(const std::string& text);
    // What send_get_tally reports next (once).
    void SetTally(bool program, bool preview);

    // Waits until `predicate` holds (checked on every library call), up to `timeout`.
    bool WaitFor(const std::function<bool()>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Records (lock with `mutex` while reading them from a test thread that runs beside the
    // engine).
    std::mutex mutex;
    std::vector<SentVideo> video;
    std::vector<SentAudio> audio;
    std::vector<std::string> sentMetadata;
    std::vector<CreatedSender> senders;
    std::vector<std::string> receiverMetadata;
    std::vector<NDIlib_recv_create_v3_t> receiversCreated;
    std::vector<NDIlib_tally_t> tallySetOnReceiver;
    std::vector<void*> destroyedSenders;
    std::atomic<int> receiversDestroyed{0};
    std::atomic<int> videoFreed{0}, audioFreed{0}, metadataFreed{0};
    std::atomic<int> videoQueued{0};
    bool failReceiverCreate = false;
    // Asynchronous frames whose buffer was written to before the sender let go of it.
    std::atomic<int> asyncBufferRewrites{0};
    // The nice value of the thread that last captured audio.
    std::atomic<int> audioCaptureNice{0};
    // Called on the sending thread with every video frame sent, before it is recorded. Set it
    // before the engine's threads start.
    std::function<void(void* sender, const NDIlib_video_frame_v2_t& frame)> onVideoSent;
    // Makes send_lend_video lend each sender a buffer (filled with 0xCD each time, so a picture
    // not written whole shows); frames sent from it are counted. Before the engine starts.
    void LendSendMemory();
    std::atomic<int> videoSentFromLent{0};
    std::map<const void*, std::vector<uint8_t>> lent_;
    // Benchmarks turn this off: sent frames are then counted, not copied.
    std::atomic<bool> recordVideoData{true};
    std::atomic<size_t> videoSentCount{0};
    // Blocks until `count` video frames have been sent in all (condition variable, no polling).
    bool WaitForVideoSent(size_t count,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5));

    size_t VideoSentTo(void* sender);
    size_t VideoQueueSize();
    size_t AudioQueueSize();
    void* SenderNamed(const std::string& name);

    // Internals used by the C entry points.
    struct Held {
        std::vector<uint8_t> bytes;
        std::vector<float> floats;
        std::string text;
    };
    NDIlib_frame_type_e Capture(NDIlib_video_frame_v2_t* v, NDIlib_audio_frame_v2_t* a,
                                NDIlib_metadata_frame_t* m, uint32_t timeout);
    void Notify() { changed_.notify_all(); }
    std::condition_variable changed_;
    std::deque<std::pair<NDIlib_video_frame_v2_t, std::vector<uint8_t>>> videoQueue_;
    std::deque<std::pair<NDIlib_audio_frame_v2_t, std::vector<float>>> audioQueue_;
    std::deque<std::string> metaQueue_;
    std::map<const void*, std::unique_ptr<Held>> held_;
    std::map<const void*, std::pair<const uint8_t*, std::vector<uint8_t>>> asyncHeld_;
    bool tallyPending_ = false;
    NDIlib_tally_t tally_{};
    int nextHandle_ = 1;

private:
    NdiLibrary api_;
};

// Frames for scripts.
NDIlib_video_frame_v2_t VideoFormat(
    int w, int h, NDIlib_FourCC_video_type_e fourcc, int n = 25, int d = 1,
    NDIlib_frame_format_type_e type = NDIlib_frame_format_type_progressive);
// A picture whose every byte depends on its position and `seed`.
std::vector<uint8_t> Pattern(const NDIlib_video_frame_v2_t& f, int seed);
NDIlib_audio_frame_v2_t AudioFormat(int channels, int samples, int rate = 48000);
// Channel c, sample j = seed + c * 1000 + j (exact in float).
std::vector<float> Ramp(int channels, int samples, float seed);

}  // namespace velmor::testing
