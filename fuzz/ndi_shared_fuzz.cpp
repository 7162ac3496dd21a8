// Feeds bytes to the same-machine path's parsers as both ends read them from their sockets
// (offer and start on TCP; slots, slot references and releases on the Unix socket), message
// after message, and checks the slot bookkeeping of both ends on every one: nothing the peer
// says makes the receiver accept a slot outside the set it announced, a slot twice, or a picture
// larger than a slot, or makes the sender take back a slot it never handed out.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "message_stream.h"
#include "ndi/builtin/shared_wire.h"

using namespace velmor::wire;

namespace {

// A sender with frames out: before each release it hands out one more, as the stream goes.
void HandOutOne(SlotLedger& ledger) {
    const auto pick = ledger.Take();
    if (!pick) return;
    ledger.Written(pick->slot);
    if (pick->park) {
        const auto out = ledger.Unpark();
        if (!out) return;
        ledger.Sent(*out);
    } else {
        ledger.Sent(pick->slot);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SlotBook book;
    SlotLedger ledger(kMinSlots + static_cast<uint32_t>(size % (kMaxSlots - kMinSlots + 1)));
    ForEachMessage(data, size, [&](const Header& h, const uint8_t* p, size_t n) {
        switch (h.type) {
            case MessageType::SharedOffer: {
                SharedOfferView offer;
                if (ParseSharedOffer(p, n, offer) &&
                    (offer.socketName.empty() ||
                     offer.socketName.find('/') != std::string_view::npos ||
                     offer.socketName == ".."))
                    __builtin_trap();  // the receiver would leave its own folder
                break;
            }
            case MessageType::SharedStart:
                ParseSharedStart(p, n);
                break;
            case MessageType::SharedJoin: {
                Token token;
                ParseSharedJoin(p, n, token);
                break;
            }
            case MessageType::SharedSlots: {
                SlotsView s;
                if (!ParseSharedSlots(p, n, s)) break;
                if (s.count < 1 || s.count > kMaxSlots || s.stride == 0 || s.stride % kSlotAlign ||
                    uint64_t(s.count) * s.stride > kMaxSetBytes)
                    __builtin_trap();  // the receiver would map what it must not
                if (book.OnSlots(s) && book.liveSets() > kMaxLiveSets) __builtin_trap();
                break;
            }
            case MessageType::SharedVideo: {
                SharedVideoView v;
                if (!ParseSharedVideo(p, n, v)) break;
                if (v.video.data || v.video.dataSize == 0 ||
                    v.video.dataSize != PictureBytes(v.video.fourCC, v.video.xres, v.video.yres))
                    __builtin_trap();
                if (!book.OnVideo(v)) break;
                const SlotsView* cur = book.current();
                if (!cur || v.ref.set != cur->set || v.ref.slot >= cur->count ||
                    v.video.dataSize > cur->stride)
                    __builtin_trap();                   // a picture outside its slot
                if (book.OnVideo(v)) __builtin_trap();  // the same slot handed out twice
                // Some frames are freed at once, so that older sets drain away.
                if ((v.video.timecode & 1) && !book.OnRelease(v.ref)) __builtin_trap();
                break;
            }
            case MessageType::SharedRelease: {
                SlotRef r;
                if (!ParseSharedRelease(p, n, r)) break;
                HandOutOne(ledger);
                const bool wasOut =
                    r.slot < ledger.count() && ledger.state(r.slot) == SlotLedger::Out;
                if (ledger.Release(r.slot) != wasOut) __builtin_trap();
                if (ledger.withReceiver() + 1 > ledger.count()) __builtin_trap();
                book.OnRelease(r);
                break;
            }
            case MessageType::Video: {
                VideoView v;
                ParseVideo(p, n, v);
                break;
            }
            case MessageType::Audio: {
                AudioView a;
                ParseAudio(p, n, a);
                break;
            }
            case MessageType::Metadata: {
                MetadataView m;
                ParseMetadata(p, n, m);
                break;
            }
            default:
                break;
        }
    });
    return 0;
}
