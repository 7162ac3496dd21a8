// Instance numbering over the bus and lock files; see instance_numbering.h.
#include "platform/instance_numbering.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "ndi/builtin/discovery.h"

namespace velmor {

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void InstanceLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing drops the flock
        fd_ = -1;
    }
}

std::string InstanceLock::Directory() {
    // Beside the built-in transport's announcements: copies that announce into one folder see each
    // other's sources, so they must draw their numbers from one place too, whatever
    // $XDG_RUNTIME_DIR each session has (a desktop and an ssh or service session differ).
    const std::string announcements = discovery::AnnouncementDir();
    if (announcements.empty()) return {};
    const std::string dir = announcements + "/instance-locks";
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // Under /tmp anyone could have made a folder first: use it only when it is ours and private.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 0077) != 0)
        return {};
    return dir;
}

InstanceLock InstanceLock::TryClaim(int index) {
    InstanceLock lock;
    if (index < 0 || index >= kMaxInstances) return lock;
    const std::string dir = Directory();
    if (dir.empty()) return lock;
    const std::string path = dir + "/instance-" + std::to_string(index + 1) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return lock;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return lock;
    }
    lock.fd_ = fd;
    return lock;
}

InstanceProtocol::InstanceProtocol(MessageBus* bus, int64_t processId, QObject* parent)
    : QObject(parent), bus_(bus), processId_(processId) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!instanceProbe_) return;
        const InstanceDecision decision = Decide();
        if (onDecided_) onDecided_(decision);
    });
    if (bus_ != nullptr) bus_->AddListener([this](const BusMessage& m) { OnMessage(m); });
}

void InstanceProtocol::Start(std::function<void(const InstanceDecision&)> onDecided, int delayMs) {
    onDecided_ = std::move(onDecided);
    instanceIndex_ = 0;
    instanceSlots_.fill(0);
    decided_ = false;
    if (bus_ != nullptr) bus_->Post(RegisteredMessage::Instance, 2, processId_);
    instanceProbe_ = 1;
    timer_.start(delayMs);
}

void InstanceProtocol::OnMessage(const BusMessage& m) {
    if (m.message != RegisteredMessage::Instance) return;
    if (m.wParam == 2 && m.lParam != processId_) {
        // A copy that has not decided yet would report its provisional 0 and push every newcomer
        // off number 1; the lock files settle the race instead, so only decided copies answer.
        if (decided_ && bus_ != nullptr) bus_->Post(RegisteredMessage::Instance, 3, instanceIndex_);
    } else if (m.wParam == 3 && m.lParam >= 0 && m.lParam < 32) {
        instanceSlots_[static_cast<size_t>(m.lParam)] = 1;
    }
}

InstanceDecision InstanceProtocol::Decide() {
    instanceProbe_ = 0;
    instanceIndex_ = 0;
    InstanceDecision decision;
    const bool locksAvailable = !InstanceLock::Directory().empty();
    for (int index = 0; index < kMaxInstances; ++index) {
        if (instanceSlots_[static_cast<size_t>(index)]) continue;
        if (!locksAvailable) {
            decision.instanceIndex = index;
            instanceIndex_ = index;
            decided_ = true;
            return decision;
        }
        InstanceLock lock = InstanceLock::TryClaim(index);
        if (lock.held()) {
            lock_ = std::move(lock);
            decision.instanceIndex = index;
            decision.locked = true;
            instanceIndex_ = index;
            decided_ = true;
            return decision;
        }
    }
    // Eight copies hold 1..8. A copy that stays after all runs unnumbered as index 0 and does
    // not answer announcements, so it never makes a newcomer skip a free number.
    decision.allTaken = true;
    return decision;
}

}  // namespace velmor
