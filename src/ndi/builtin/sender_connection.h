// One receiver of a built-in transport sender: its TCP connection and, once the receiver joined
// the same-machine path, the Unix socket beside it. Every message to the receiver goes through
// one bounded queue, written in order; once the SharedStart marker is written on TCP, the rest
// goes on the Unix socket. I/O thread only, except where a comment says otherwise.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "ndi/builtin/shared_link.h"
#include "ndi/builtin/transport.h"
#include "ndi/builtin/unix_socket.h"

namespace velmor::builtin {

class SenderConnection : public std::enable_shared_from_this<SenderConnection> {
public:
    SenderConnection(asio::ip::tcp::socket s, std::weak_ptr<Sender> owner);

    void Start();

    // Frames a connection may hold back before its oldest queued frame of that kind is dropped.
    // Audio frames are small, so more of them wait; metadata is never dropped.
    static constexpr size_t kVideoBacklog = 6;
    static constexpr size_t kAudioBacklog = 64;
    static constexpr size_t kOtherBacklog = 512;

    // Frames go only to receivers that have said hello: their bandwidth is known by then, and
    // the connection metadata is the first thing they get.
    bool ready() const { return ready_ && !closed_; }
    // The receiver joined the same-machine path: its video goes through `link()`.
    const std::shared_ptr<SharedLink>& link() const { return link_; }

    struct Outgoing {
        wire::Message message;
        wire::MessageType type{};
        std::shared_ptr<SlotLease> lease;  // the slot a SharedVideo reference names
        std::shared_ptr<SlotSet> slots;    // the set whose memfd goes with a SharedSlots message
    };
    void Enqueue(Outgoing item);
    void Enqueue(const wire::Message& m, wire::MessageType type) { Enqueue({m, type, {}, {}}); }

    // The receiver came back on the Unix socket with this connection's token.
    void AttachShared(UnixSocket unixSocket);
    void Close();

    NDIlib_tally_t tally{};

private:
    // What one socket is reading: a header, then its payload.
    struct Inbound {
        uint8_t header[wire::kHeaderSize] = {};
        std::vector<uint8_t> payload;
    };
    void WriteNext();
    template <typename Socket>
    void Read(Socket& socket, Inbound& in, bool unixSide);
    bool Handle(const wire::Header& h, const std::vector<uint8_t>& payload, bool unixSide);

    asio::ip::tcp::socket socket_;
    UnixSocket unix_;
    std::weak_ptr<Sender> owner_;
    std::shared_ptr<SharedLink> link_;
    std::deque<Outgoing> queue_;
    Inbound tcpIn_, unixIn_;
    int32_t bandwidth_ = NDIlib_recv_bandwidth_highest;
    bool ready_ = false;
    bool closed_ = false;
    bool unixActive_ = false;  // the SharedStart marker is written; the queue goes on unix_
};

}  // namespace velmor::builtin
