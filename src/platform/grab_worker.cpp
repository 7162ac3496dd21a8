// The grab worker; see grab_worker.h.
#include "platform/grab_worker.h"

#include <utility>

#include "engine/thread_priority.h"
#include "platform/grab_writer.h"

namespace velmor {
namespace {

constexpr int kGrabNiceSteps = 19;

}  // namespace

GrabWorker::GrabWorker(Done onDone, std::function<std::time_t()> clock)
    : onDone_(std::move(onDone)), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return std::time(nullptr); };
    thread_ = std::thread([this] { Run(); });
}

GrabWorker::~GrabWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void GrabWorker::SetNaming(const GrabNaming& naming, int instanceIndex) {
    std::lock_guard lock(mutex_);
    naming_ = naming;
    instanceIndex_ = instanceIndex;
}

bool GrabWorker::Ready() {
    std::lock_guard lock(mutex_);
    return !hasWaiting_;
}

void GrabWorker::Submit(ImageBuffer& picture) {
    {
        std::lock_guard lock(mutex_);
        if (hasWaiting_) return;  // only after Ready(); never queue a second one
        // The waiting slot's buffer (a picture written earlier) goes back to the caller.
        std::swap(waiting_.picture, picture);
        waiting_.naming = naming_;
        waiting_.instanceIndex = instanceIndex_;
        hasWaiting_ = true;
    }
    changed_.notify_all();
}

void GrabWorker::WaitIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !hasWaiting_ && !writing_; });
}

void GrabWorker::Run() {
    // Encoding is background work: the video and audio threads come first.
    LowerThreadPriority(kGrabNiceSteps);
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return hasWaiting_ || stop_; });
        if (!hasWaiting_) return;  // stopping with nothing left to write
        std::swap(current_.picture, waiting_.picture);
        current_.naming = waiting_.naming;
        current_.instanceIndex = waiting_.instanceIndex;
        hasWaiting_ = false;
        writing_ = true;
        lock.unlock();
        changed_.notify_all();  // Ready() again

        std::string path;
        const bool ok = WriteGrabFile(current_.naming, current_.instanceIndex, current_.picture,
                                      outputImage_, clock_(), &path);
        if (onDone_) onDone_(ok, path);

        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

}  // namespace velmor
