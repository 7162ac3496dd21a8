#include "ndi/builtin/sender_connection.h"

namespace velmor::builtin {
namespace {

bool IsFrame(wire::MessageType t) {
    return t == wire::MessageType::Video || t == wire::MessageType::SharedVideo;
}

}  // namespace

SenderConnection::SenderConnection(asio::ip::tcp::socket s, std::weak_ptr<Sender> owner)
    : socket_(std::move(s)), unix_(socket_.get_executor()), owner_(std::move(owner)) {
    std::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
}

void SenderConnection::Start() {
    Read(socket_, tcpIn_, false);
}

void SenderConnection::Enqueue(Outgoing item) {
    if (!ready()) return;
    const auto type = item.type;
    if (IsFrame(type) && (bandwidth_ == NDIlib_recv_bandwidth_audio_only ||
                          bandwidth_ == NDIlib_recv_bandwidth_metadata_only))
        return;
    if (type == wire::MessageType::Audio && bandwidth_ == NDIlib_recv_bandwidth_metadata_only)
        return;
    if (IsFrame(type) || type == wire::MessageType::Audio) {
        // Behind the front (which is being written), drop the oldest frame of this kind. A
        // dropped slot reference gives its slot back.
        const size_t limit = IsFrame(type) ? kVideoBacklog : kAudioBacklog;
        auto same = [&](const Outgoing& o) {
            return IsFrame(type) ? IsFrame(o.type) : o.type == type;
        };
        size_t count = 0;
        for (size_t i = 1; i < queue_.size(); ++i)
            count += same(queue_[i]);
        if (count >= limit) {
            for (size_t i = 1; i < queue_.size(); ++i) {
                if (same(queue_[i])) {
                    queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
                    break;
                }
            }
        }
    } else if (queue_.size() > kOtherBacklog) {
        // Metadata must not be lost silently: a receiver this far behind starts afresh.
        Close();
        return;
    }
    queue_.push_back(std::move(item));
    if (queue_.size() == 1) WriteNext();
}

void SenderConnection::AttachShared(UnixSocket unixSocket) {
    if (closed_ || link_) return;
    unix_ = std::move(unixSocket);
    link_ = std::make_shared<SharedLink>(weak_from_this());
    // The last message on TCP: the receiver reads the Unix socket from here on, so nothing
    // queued before it is overtaken by what follows.
    Enqueue(wire::EncodeSharedStart(), wire::MessageType::SharedStart);
    if (auto owner = owner_.lock()) owner->OnShared(shared_from_this());
    Read(unix_, unixIn_, true);
}

void SenderConnection::Close() {
    if (closed_) return;
    closed_ = true;
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    unix_.close(ignored);
    queue_.clear();
    if (link_) link_->Close();
    if (auto owner = owner_.lock()) owner->OnConnectionClosed(shared_from_this());
}

void SenderConnection::WriteNext() {
    if (queue_.empty() || closed_) return;
    auto& front = queue_.front();
    if (front.lease) front.lease->MarkSent();  // from here only the receiver frees the slot
    auto done = [self = shared_from_this()](std::error_code ec) {
        if (ec || self->closed_) return self->Close();
        if (self->queue_.front().type == wire::MessageType::SharedStart) self->unixActive_ = true;
        self->queue_.pop_front();
        self->WriteNext();
    };
    auto written = [done](std::error_code ec, size_t) { done(ec); };
    const auto& buffer = asio::buffer(*front.message);
    if (!unixActive_)
        asio::async_write(socket_, buffer, written);
    else if (front.slots)
        AsyncWriteWithFd(unix_, front.message, front.slots->fd(), done);
    else
        asio::async_write(unix_, buffer, written);
}

template <typename Socket>
void SenderConnection::Read(Socket& socket, Inbound& in, bool unixSide) {
    asio::async_read(
        socket, asio::buffer(in.header),
        [self = shared_from_this(), &socket, &in, unixSide](std::error_code ec, size_t) {
            if (ec) return self->Close();
            wire::Header h;
            if (!wire::ParseHeader(in.header, h)) return self->Close();
            // What a receiver may send: on TCP its hello, metadata and tally; on the Unix socket
            // (after its join, read before the socket came here) only the slots it gives back.
            const bool allowed = unixSide ? h.type == wire::MessageType::SharedRelease
                                          : (h.type == wire::MessageType::Hello ||
                                             h.type == wire::MessageType::Metadata ||
                                             h.type == wire::MessageType::Tally);
            if (!allowed) return self->Close();
            in.payload.resize(h.length);
            asio::async_read(socket, asio::buffer(in.payload),
                             [self, &socket, &in, unixSide, h](std::error_code e, size_t) {
                                 if (e) return self->Close();
                                 if (!self->Handle(h, in.payload, unixSide)) return self->Close();
                                 self->Read(socket, in, unixSide);
                             });
        });
}

bool SenderConnection::Handle(const wire::Header& h, const std::vector<uint8_t>& payload,
                              bool unixSide) {
    auto owner = owner_.lock();
    if (!owner || closed_) return false;
    const uint8_t* p = payload.data();
    const size_t n = payload.size();
    if (unixSide) {
        wire::SlotRef ref;
        return link_ && wire::ParseSharedRelease(p, n, ref) && link_->Release(ref);
    }
    switch (h.type) {
        case wire::MessageType::Hello: {
            wire::Hello hello;
            if (!wire::ParseHello(p, n, hello) || ready_) return false;
            bandwidth_ = hello.bandwidth;
            ready_ = true;
            for (auto& m : owner->ConnectionMetadataMessages())
                Enqueue(m, wire::MessageType::Metadata);
            if (auto offer = owner->OfferShared(shared_from_this(), hello))
                Enqueue(offer, wire::MessageType::SharedOffer);
            owner->OnConnectionChange();
            return true;
        }
        case wire::MessageType::Metadata: {
            wire::MetadataView m;
            if (!wire::ParseMetadata(p, n, m)) return false;
            owner->OnUpstreamMetadata(std::string(m.text), m.timecode);
            return true;
        }
        case wire::MessageType::Tally: {
            wire::TallyView t;
            if (!wire::ParseTally(p, n, t)) return false;
            tally.on_program = t.onProgram;
            tally.on_preview = t.onPreview;
            owner->OnConnectionChange();
            return true;
        }
        default:
            return false;
    }
}

template void SenderConnection::Read(asio::ip::tcp::socket&, Inbound&, bool);
template void SenderConnection::Read(UnixSocket&, Inbound&, bool);

}  // namespace velmor::builtin
