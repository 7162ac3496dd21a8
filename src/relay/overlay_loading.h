// Loading overlay pictures away from the window thread. The overlay window's editor hands each
// job (a picture to load, the rest of a numbered sequence, a picture to make solid) to a worker as
// an OverlayLoadRun, which holds a copy of everything the worker needs: the worker never touches
// the editor, the window or the relay record's OverlayState, so the window may close while it
// runs. The worker decodes, converts and counts the pictures and reports them through the run;
// the editor takes the reports on the window thread, where it publishes whole lists as before.
//
// Cancelling a run stops its worker at its next step (between two pictures, or between decoding
// and converting one) and takes its wake away: whatever it still reports is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "relay/overlay_state.h"
#include "video/picture_decoder.h"
#include "video/sequence_name.h"

namespace velmor {

struct OverlayLoadJob {
    enum class Kind {
        // Decode `path`, make its UYVA copy and thumbnail; with `detectSequence`, split its name
        // and count the numbered files after it that open.
        Picture,
        // Decode the members after `first`, numbered on from name.firstNumber + 1, until one is
        // missing or unreadable, the memory bound would be passed, or a copy cannot be made.
        Sequence,
        // Copies of `first` (both pictures, the thumbnail as decoded) with every alpha 255.
        Solid,
    };
    Kind kind = Kind::Picture;
    std::string path;
    bool detectSequence = false;
    SequenceName name;
    OverlayNodePtr first;
    int thumbnailWidth = 0, thumbnailHeight = 0;
    std::shared_ptr<IPictureDecoder> decoder;
    OverlayBytes heldBytes;  // the state's count, which the new pictures join
    int64_t memoryLimit = 0;
};

struct OverlayLoadReport {
    enum class Kind {
        Loaded,       // Picture or Solid: `node`; Picture also `name`, `more` and `lastName`
        NotLoaded,    // Picture: `load` says why (unreadable or too large); Solid: no memory
        CopyFailed,   // the UYVA copy could not be made
        Member,       // Sequence: the next member, `node`
        OutOfMemory,  // Sequence: the next member would pass the memory bound
        End,          // Sequence: the next member is missing or unreadable
    };
    Kind kind = Kind::NotLoaded;
    std::shared_ptr<OverlayNode> node;
    PictureLoad load;
    SequenceName name;
    int more = 0;          // numbered files found after the picture
    std::string lastName;  // the last one's file name
};

class OverlayLoadRun {
public:
    explicit OverlayLoadRun(OverlayLoadJob what) : job(std::move(what)) {}
    OverlayLoadRun(const OverlayLoadRun&) = delete;
    OverlayLoadRun& operator=(const OverlayLoadRun&) = delete;

    const OverlayLoadJob job;

    // Window thread, before the worker starts: `wake` is called from the worker (under the run's
    // lock, so that Cancel is final) when a report arrives while none is waiting to be taken. It
    // must return at once.
    void SetWake(std::function<void()> wake);
    // Window thread: the worker stops at its next step; nothing reaches the window any more.
    void Cancel();
    bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }

    // Worker.
    void Report(OverlayLoadReport report);
    // Window thread: the reports so far, oldest first.
    std::vector<OverlayLoadReport> Take();

private:
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::vector<OverlayLoadReport> reports_;
    std::function<void()> wake_;
    bool wakePending_ = false;
};

// Worker thread: does `run.job`, reporting as it goes.
void RunOverlayLoad(OverlayLoadRun& run);

// The file of sequence member `number`: prefix + the number zero-padded to numberDigits +
// extension.
std::string SequenceMemberPath(const SequenceName& name, int number);

}  // namespace velmor
