#include "ndi/builtin/unix_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace velmor::builtin {

UniqueFd& UniqueFd::operator=(UniqueFd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) close(fd_);
        fd_ = o.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) close(fd_);
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

namespace {

std::error_code LastError() {
    return std::error_code(errno, asio::error::get_system_category());
}

// Both operations post their completion, so a peer that keeps the socket busy never makes a
// chain of completions run inside one another.
void Complete(UnixSocket& socket, std::function<void(std::error_code)>& done, std::error_code ec) {
    asio::post(socket.get_executor(), [d = std::move(done), ec] { d(ec); });
}

// The socket would block: go on with `op` once it is ready (or end it on an error).
template <typename Op>
void Resume(const std::shared_ptr<Op>& op, asio::socket_base::wait_type wait) {
    op->socket.async_wait(wait, [op](std::error_code ec) {
        if (ec) return Complete(op->socket, op->done, ec);
        op->Step();
    });
}

struct FdWrite : std::enable_shared_from_this<FdWrite> {
    FdWrite(UnixSocket& s, wire::Message m, int f, std::function<void(std::error_code)> d)
        : socket(s), message(std::move(m)), fd(f), done(std::move(d)) {}
    void Step() {
        while (sent < message->size()) {
            iovec iov{const_cast<uint8_t*>(message->data()) + sent, message->size() - sent};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            OneFdControl control;
            if (sent == 0 && fd >= 0) AttachFd(msg, control, fd);
            const ssize_t n = sendmsg(socket.native_handle(), &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return Resume(shared_from_this(), asio::socket_base::wait_write);
            if (n < 0) return Complete(socket, done, LastError());
            sent += static_cast<size_t>(n);
        }
        Complete(socket, done, {});
    }
    UnixSocket& socket;
    wire::Message message;
    int fd;
    std::function<void(std::error_code)> done;
    size_t sent = 0;
};

struct FdRead : std::enable_shared_from_this<FdRead> {
    FdRead(UnixSocket& s, uint8_t* p, size_t n, std::vector<UniqueFd>& f,
           std::function<void(std::error_code)> d)
        : socket(s), data(p), size(n), fds(f), done(std::move(d)) {}
    void Step() {
        while (have < size) {
            iovec iov{data + have, size - have};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxPendingFds)];
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n =
                recvmsg(socket.native_handle(), &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return Resume(shared_from_this(), asio::socket_base::wait_read);
            if (n < 0) return Complete(socket, done, LastError());
            // Every descriptor received is owned at once, so a failure below closes it.
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
                const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (size_t i = 0; i < count; ++i) {
                    int fd = -1;
                    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                    fds.emplace_back(fd);
                }
            }
            if ((msg.msg_flags & MSG_CTRUNC) || fds.size() > kMaxPendingFds)
                return Complete(socket, done, asio::error::invalid_argument);
            if (n == 0) return Complete(socket, done, asio::error::eof);
            have += static_cast<size_t>(n);
        }
        Complete(socket, done, {});
    }
    UnixSocket& socket;
    uint8_t* data;
    size_t size;
    std::vector<UniqueFd>& fds;
    std::function<void(std::error_code)> done;
    size_t have = 0;
};

}  // namespace

void AsyncWriteWithFd(UnixSocket& socket, wire::Message message, int fd,
                      std::function<void(std::error_code)> done) {
    std::make_shared<FdWrite>(socket, std::move(message), fd, std::move(done))->Step();
}

void AsyncReadWithFds(UnixSocket& socket, uint8_t* data, size_t size, std::vector<UniqueFd>& fds,
                      std::function<void(std::error_code)> done) {
    std::make_shared<FdRead>(socket, data, size, fds, std::move(done))->Step();
}

bool PeerIsThisUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return false;
    return cred.uid == geteuid();
}

}  // namespace velmor::builtin
