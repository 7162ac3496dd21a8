// A sender's end of the same-machine path: the Unix socket beside its announcement file, the
// offer made to receivers of this machine, and their joins. Only this user's processes reach the
// socket (the folder is the user's alone, the socket file 0600, and every peer's uid is checked);
// a join must bring the token of a live offer within two seconds, or it is hung up on.
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>

#include "ndi/builtin/sender_connection.h"
#include "ndi/builtin/transport.h"

namespace velmor::builtin {
namespace {

using namespace std::chrono_literals;

constexpr int kMaxPendingJoins = 16;
constexpr size_t kMaxOffers = 64;
constexpr auto kJoinTimeout = 2s;

struct PendingJoin {
    explicit PendingJoin(UnixSocket s) : socket(std::move(s)), timer(socket.get_executor()) {}
    UnixSocket socket;
    asio::steady_timer timer;
    uint8_t bytes[wire::kHeaderSize + wire::kTokenSize] = {};
};

}  // namespace

void Sender::ListenShared(const std::string& base) {
    const std::string path = base + ".sock";
    auto refuse = [&](const std::string& why) {
        Log("\"" + name_ + "\": no shared-memory path (" + why +
            "); receivers on this machine get frames over TCP");
        std::error_code ignored;
        sharedAcceptor_.close(ignored);
    };
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        return refuse("socket path " + path + " is too long");
    std::error_code ec;
    std::filesystem::remove(path, ec);  // left by an earlier process of the same pid
    sharedAcceptor_.open(asio::local::stream_protocol(), ec);
    if (!ec) sharedAcceptor_.bind(asio::local::stream_protocol::endpoint(path), ec);
    if (!ec && chmod(path.c_str(), 0600) != 0) ec = {errno, std::system_category()};
    if (!ec) sharedAcceptor_.listen(64, ec);
    if (ec) return refuse(path + ": " + ec.message());
    socketFile_ = path;
    socketName_ = std::filesystem::path(path).filename().string();
}

void Sender::AcceptShared() {
    if (!sharedAcceptor_.is_open()) return;
    sharedAcceptor_.async_accept([self = shared_from_this()](std::error_code ec, UnixSocket s) {
        if (ec == asio::error::operation_aborted || !self->sharedAcceptor_.is_open()) return;
        if (!ec && self->pendingJoins_ < kMaxPendingJoins) {
            if (PeerIsThisUser(s.native_handle()))
                self->Join(std::make_shared<UnixSocket>(std::move(s)));
            else
                Log("\"" + self->name_ + "\": refused a shared-memory peer of another user");
        }
        self->AcceptShared();
    });
}

void Sender::Join(std::shared_ptr<UnixSocket> socket) {
    auto j = std::make_shared<PendingJoin>(std::move(*socket));
    ++pendingJoins_;
    j->timer.expires_after(kJoinTimeout);
    j->timer.async_wait([j](std::error_code ec) {
        std::error_code ignored;
        if (!ec) j->socket.close(ignored);
    });
    asio::async_read(j->socket, asio::buffer(j->bytes),
                     [self = shared_from_this(), j](std::error_code ec, size_t) {
                         --self->pendingJoins_;
                         j->timer.cancel();
                         wire::Header h;
                         wire::Token token;
                         if (ec || !wire::ParseHeader(j->bytes, h) ||
                             h.type != wire::MessageType::SharedJoin ||
                             h.length != wire::kTokenSize ||
                             !wire::ParseSharedJoin(j->bytes + wire::kHeaderSize, h.length, token))
                             return;  // hung up as `j` goes
                         auto it = self->offers_.find(token);
                         if (it == self->offers_.end()) return;
                         auto c = it->second.lock();
                         self->offers_.erase(it);  // a token serves once
                         if (c && c->ready() && !c->link()) c->AttachShared(std::move(j->socket));
                     });
}

wire::Message Sender::OfferShared(const std::shared_ptr<SenderConnection>& c,
                                  const wire::Hello& hello) {
    // Receivers on other machines (another boot id), receivers that want no video and senders
    // without a socket (forced to TCP, or it could not be made: said so then) stay on TCP.
    if (!hello.shared || hello.bootId.empty() || hello.bootId != BootId()) return nullptr;
    if (hello.bandwidth == NDIlib_recv_bandwidth_audio_only ||
        hello.bandwidth == NDIlib_recv_bandwidth_metadata_only)
        return nullptr;
    if (!sharedAcceptor_.is_open() || offers_.size() >= kMaxOffers) return nullptr;
    const wire::Token token = RandomToken();
    offers_[token] = c;
    return wire::EncodeSharedOffer(token, socketName_);
}

void Sender::OnShared(const std::shared_ptr<SenderConnection>& c) {
    std::lock_guard lock(linksMu_);
    links_.push_back(c->link());
    --plainConnections_;
}

}  // namespace velmor::builtin
