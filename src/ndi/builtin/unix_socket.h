// Unix-domain stream sockets of the same-machine path: descriptors travelling with the bytes
// (SCM_RIGHTS), which Asio's reads and writes cannot carry, and who is at the other end.
#pragma once

#include "ndi/builtin/asio_setup.h"

#include <sys/socket.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ndi/builtin/wire.h"

namespace velmor::builtin {

using UnixSocket = asio::local::stream_protocol::socket;

// An owned file descriptor, closed when dropped.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();
    int get() const { return fd_; }
    int release();

private:
    int fd_ = -1;
};

// Descriptors a reader keeps between the bytes they came with and the message that claims them;
// more than this is a protocol error.
inline constexpr size_t kMaxPendingFds = 2;

// Writes all of `message` with `fd` attached to its first byte. `socket` must outlive the call
// of `done`, which is posted, never made from inside this function.
void AsyncWriteWithFd(UnixSocket& socket, wire::Message message, int fd,
                      std::function<void(std::error_code)> done);

// Reads exactly `size` bytes into `data`; descriptors that arrive with them are appended to
// `fds`. A control message cut short or more than kMaxPendingFds descriptors fail the read with
// asio::error::invalid_argument. `socket`, `data` and `fds` must outlive the call of `done`.
void AsyncReadWithFds(UnixSocket& socket, uint8_t* data, size_t size, std::vector<UniqueFd>& fds,
                      std::function<void(std::error_code)> done);

// Room for one descriptor in a message's control data.
struct OneFdControl {
    alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(int))] = {};
};

// Attaches `fd` to `msg` (SCM_RIGHTS), its control data held in `control`.
inline void AttachFd(msghdr& msg, OneFdControl& control, int fd) {
    msg.msg_control = control.bytes;
    msg.msg_controllen = sizeof control.bytes;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
}

// Whether the process at the other end of a connected Unix socket runs as this user.
bool PeerIsThisUser(int fd);

}  // namespace velmor::builtin
