// The grab sink of the engine: encodes and writes frame grabs on a thread of its own, so the video
// thread only copies the frame and goes on.
//
// One file per request, and never an unbounded queue: the worker holds at most one picture being
// written and one waiting. While one is waiting, Ready() is false and a further request stays
// pending in the relay record (grabRequest) until a later frame finds the worker ready; requests
// made meanwhile fold into that one, as requests made within one frame always did.
//
// The outcome is reported through `onDone` on the worker's thread; the application posts the lamp
// change (green and the blink, or red) to its window thread.
#pragma once

#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/grab_sink.h"

namespace velmor {

class GrabWorker : public IGrabSink {
public:
    using Done = std::function<void(bool ok, const std::string& path)>;
    // `clock` gives the time the file is named after (the local time at writing by default).
    explicit GrabWorker(Done onDone, std::function<std::time_t()> clock = {});
    // Writes what was handed over, then ends.
    ~GrabWorker() override;
    GrabWorker(const GrabWorker&) = delete;
    GrabWorker& operator=(const GrabWorker&) = delete;

    void SetNaming(const GrabNaming& naming, int instanceIndex) override;
    bool Ready() override;
    void Submit(ImageBuffer& picture) override;

    // Waits until nothing is waiting or being written (tests, exit).
    void WaitIdle();

private:
    struct Job {
        ImageBuffer picture;
        GrabNaming naming;
        int instanceIndex = 0;
    };
    void Run();

    Done onDone_;
    std::function<std::time_t()> clock_;
    std::mutex mutex_;
    std::condition_variable changed_;
    GrabNaming naming_;
    int instanceIndex_ = 0;
    Job waiting_;
    bool hasWaiting_ = false;
    bool writing_ = false;
    bool stop_ = false;
    Job current_;              // worker thread only, outside the lock
    ImageBuffer outputImage_;  // worker thread only
    std::thread thread_;
};

}  // namespace velmor
