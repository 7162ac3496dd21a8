// A receiver's end of the same-machine path: it asks for it in its hello, follows the sender's
// offer to the Unix socket in its own announcement folder, maps the slot sets passed to it, and
// gives a slot back when the frame in it is freed or dropped. Whatever the sender says about
// slots is checked by the receiver's SlotBook before a byte of a slot is touched; a sender that
// breaks the rules loses the connection, and a path that cannot be set up leaves the receiver on
// TCP with a line in the log.
#include <sys/un.h>

#include "ndi/builtin/slots.h"
#include "ndi/builtin/transport.h"

namespace velmor::builtin {

Receiver::SharedFrame::~SharedFrame() {
    if (auto r = receiver.lock()) {
        asio::post(Runtime::Get().io(),
                   [r, gen = generation, slot = ref] { r->ReleaseSlot(gen, slot); });
    }
}

bool Receiver::AsksShared() const {
    return !forceTcp_ && !preferTcp_ && !BootId().empty() &&
           bandwidth_ != NDIlib_recv_bandwidth_audio_only &&
           bandwidth_ != NDIlib_recv_bandwidth_metadata_only;
}

bool Receiver::OnOffer(const uint8_t* p, size_t n) {
    wire::SharedOfferView offer;
    // An offer nobody asked for, or a second one, is not what a sender of ours does.
    if (!askedShared_ || offered_ || !wire::ParseSharedOffer(p, n, offer)) return false;
    offered_ = true;
    const std::string path =
        Runtime::Get().options().announcementDir + "/" + std::string(offer.socketName);
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        LogShared("socket path " + path + " is too long");
        return true;
    }
    const uint64_t gen = generation_;
    unix_.async_connect(
        asio::local::stream_protocol::endpoint(path),
        [self = shared_from_this(), gen, token = offer.token, path](std::error_code ec) {
            if (gen != self->generation_ || self->stopping_) return;
            if (!ec && !PeerIsThisUser(self->unix_.native_handle()))
                ec = asio::error::access_denied;
            if (ec) {
                self->LogShared("cannot join " + path + ": " + ec.message());
                std::error_code ignored;
                self->unix_.close(ignored);
                return;
            }
            self->joined_ = true;
            self->Write(wire::EncodeSharedJoin(token), Channel::Unix);
        });
    return true;
}

bool Receiver::OnSharedStart(const uint8_t* p, size_t n) {
    if (!joined_ || sharedStarted_ || !wire::ParseSharedStart(p, n)) return false;
    sharedStarted_ = true;
    ReadHeader(Channel::Unix);
    return true;
}

bool Receiver::OnSlots(const uint8_t* p, size_t n) {
    wire::SlotsView slots;
    if (!wire::ParseSharedSlots(p, n, slots) || fds_.size() != 1 || !book_.OnSlots(slots))
        return false;
    UniqueFd fd = std::move(fds_.front());
    fds_.clear();
    std::string why;
    auto mapping = SlotMapping::Map(std::move(fd), slots, why);
    if (!mapping) {
        // The sender now sends video only through slots: start again, on TCP alone.
        LogShared(why);
        preferTcp_ = true;
        return false;
    }
    mapping_ = std::move(mapping);
    return true;
}

bool Receiver::OnSharedVideo(const std::shared_ptr<wire::Bytes>& payload) {
    wire::SharedVideoView v;
    if (!wire::ParseSharedVideo(payload->data(), payload->size(), v) || !book_.OnVideo(v))
        return false;
    if (!mapping_ || mapping_->info().set != v.ref.set) return false;
    Item item;
    item.type = wire::MessageType::Video;
    item.payload = payload;  // the frame's metadata is read from it
    item.video = v.video;
    item.video.data = mapping_->slot(v.ref.slot);
    item.shared = std::make_shared<SharedFrame>();
    item.shared->mapping = mapping_;
    item.shared->ref = v.ref;
    item.shared->receiver = weak_from_this();
    item.shared->generation = generation_;
    Deliver(std::move(item));
    return true;
}

void Receiver::ReleaseSlot(uint64_t gen, wire::SlotRef ref) {
    if (gen != generation_ || !sharedStarted_ || !book_.OnRelease(ref)) return;
    Write(wire::EncodeSharedRelease(ref), Channel::Unix);
}

void Receiver::ResetShared() {
    std::error_code ignored;
    unix_.close(ignored);
    writes_[static_cast<int>(Channel::Unix)].clear();
    fds_.clear();
    book_ = wire::SlotBook();
    mapping_.reset();
    offered_ = joined_ = sharedStarted_ = false;
}

void Receiver::LogShared(const std::string& why) {
    if (why == loggedShared_) return;
    loggedShared_ = why;
    Log("receiver of \"" + (sourceName_.empty() ? sourceUrl_ : sourceName_) +
        "\": no shared memory (" + why + "); frames come over TCP");
}

}  // namespace velmor::builtin
