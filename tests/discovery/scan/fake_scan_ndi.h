// A scripted NDI stand-in for the source scanner: a finder whose list the test sets, and probing
// receivers that answer as each listed source's script says (a first video and audio frame,
// nothing at all, a failing receiver, or a capture that stays inside the library until the test
// opens the gate). Records every receiver with the thread that made it. Thread-safe; one
// instance at a time (the C function table reaches it through a global).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ndi/ndi_library.h"

namespace velmor::testing {

struct SourceScript {
    std::string name;
    std::string address;
    std::optional<NDIlib_video_frame_v2_t> video;  // sent once, on the first capture asking
    std::optional<NDIlib_audio_frame_v2_t> audio;
    bool failCreate = false;
    bool holdCapture = false;  // captures block (past their time-out) until OpenGate()
};

struct ProbeSeen {
    std::string source;
    std::string address;
    NDIlib_recv_create_v3_t settings;  // pointers are not kept valid
    bool nameWasNull = false;
    std::thread::id thread;
    int captures = 0;
};

struct FinderSeen {
    bool showLocal;
    std::optional<std::string> groups;  // nullopt: none passed
    std::optional<std::string> extraIps;
};

class FakeScanNdi {
public:
    FakeScanNdi();
    ~FakeScanNdi();
    const NdiLibrary& api() const { return api_; }

    // What the finder lists from its next query on. `listNothing`: queries return no list.
    void SetSources(std::vector<SourceScript> sources);
    void SetListNothing(bool on);
    void OpenGate();

    // Waits until `predicate` holds (checked whenever a receiver call happens), up to `limit`.
    bool WaitFor(const std::function<bool()>& predicate,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Records; lock `mutex` to read them while workers run.
    mutable std::mutex mutex;
    std::vector<FinderSeen> finders;
    int findersDestroyed = 0;
    std::vector<ProbeSeen> probes;  // in creation order
    int receiversLive = 0;
    int receiversMostLive = 0;
    int receiversDestroyed = 0;
    int blockedCaptures = 0;  // captures waiting at the gate now

    // Internals of the C entry points.
    struct Receiver {
        SourceScript script;
        size_t probe;
        bool videoSent = false, audioSent = false;
    };
    std::condition_variable changed;
    std::vector<SourceScript> sources_;
    std::vector<NDIlib_source_t> array_;
    bool listNothing_ = false;
    bool gateOpen_ = false;

private:
    NdiLibrary api_;
};

// Frames for scripts.
NDIlib_video_frame_v2_t Video(int w, int h, NDIlib_FourCC_video_type_e fourcc, int n, int d,
                              NDIlib_frame_format_type_e type, float aspect);
NDIlib_audio_frame_v2_t Audio(int channels, int rate);
// A source that answers at once with a small progressive UYVY picture and stereo audio.
SourceScript Answering(const std::string& name);

}  // namespace velmor::testing
