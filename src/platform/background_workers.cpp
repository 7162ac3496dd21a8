#include "platform/background_workers.h"

#include <atomic>
#include <memory>
#include <thread>

namespace velmor {

void BackgroundWorkers::Run(std::function<void()> work) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([work = std::move(work), finished]() mutable {
        work();
        work = nullptr;  // what the work held goes on this thread, before it counts as ended
        finished->store(true, std::memory_order_release);
    });
    park_.Adopt(std::move(worker), std::move(finished));
}

}  // namespace velmor
