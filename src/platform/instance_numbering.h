// Which copy number (1 to 8) this process takes among the copies running on the machine.
//
// Copies announce themselves on the message bus and running copies reply with their index; 100 ms
// after the announcement the copy decides. Replies alone let two copies started in the same instant
// take the same number, so each number is also claimed with an exclusive lock on its own file in
// one folder per user that does not depend on the session's environment (beside the built-in
// transport's announcements): a copy takes the lowest number that no reply reported and whose lock
// it gets. The system drops the lock when the process ends, however it ends. Without a bus the
// locks alone decide.
#pragma once

#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/message_bus.h"

namespace velmor {

inline constexpr int kMaxInstances = 8;

// One lock file per copy number. Holding an InstanceLock keeps the number claimed.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;

    // Directory for the lock files: "instance-locks" in the built-in transport's announcement
    // folder (/run/user/<uid>/velmor-ndi, else /tmp/velmor-ndi-<uid>; $VELMOR_NDI_DIR overrides;
    // one per network namespace). Empty when it cannot be made private to this user.
    static std::string Directory();
    // Tries to claim index (0-based) without waiting.
    static InstanceLock TryClaim(int index);

    bool held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

struct InstanceDecision {
    bool allTaken = false;  // eight copies run already: ask whether to exit
    int instanceIndex = 0;  // 0..7, shown as index + 1
    bool locked = false;    // the number's lock is held (false only when locks are unavailable)
};

class InstanceProtocol : public QObject {
    Q_OBJECT
public:
    // bus may be null or unconnected: the locks then decide alone.
    InstanceProtocol(MessageBus* bus, int64_t processId, QObject* parent = nullptr);

    // Announces this copy and decides `delayMs` later on the window thread's event loop.
    void Start(std::function<void(const InstanceDecision&)> onDecided, int delayMs = 100);

    // The decision from the replies seen so far and the locks; takes the lock it decides on.
    InstanceDecision Decide();

    bool decided() const { return decided_; }
    int instanceIndex() const { return instanceIndex_; }
    const std::array<int32_t, 32>& instanceSlots() const { return instanceSlots_; }

private:
    void OnMessage(const BusMessage& message);

    MessageBus* bus_;
    int64_t processId_;
    int instanceIndex_ = 0;
    int32_t instanceProbe_ = 0;
    bool decided_ = false;
    std::array<int32_t, 32> instanceSlots_{};
    InstanceLock lock_;
    QTimer timer_;
    std::function<void(const InstanceDecision&)> onDecided_;
};

}  // namespace velmor
