// The same-machine path of the built-in transport: its messages and the bookkeeping of frame slots
// on both sides, free of any system call so that tests and fuzz targets drive them directly.
//
// A receiver on the sender's machine asks for it in its hello. The sender answers on the TCP
// connection with the name of a Unix-domain socket in the announcement folder and a one-time token;
// the receiver joins there with the token. The sender then marks the end of the TCP downstream
// (SharedStart) and sends everything else on the Unix socket, in order: metadata and audio in their
// usual form, video as a slot number and the frame's header, the picture itself in a memfd-backed
// set of slots whose descriptor travelled once beside a SharedSlots message. The receiver hands the
// slot's picture to the application and sends the slot back when the application frees the frame.
// Tally, upstream metadata and the hello stay on the TCP connection.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "ndi/builtin/wire.h"

namespace velmor::wire {

inline constexpr size_t kTokenSize = 16;
inline constexpr size_t kMaxSocketName = 255;
using Token = std::array<uint8_t, kTokenSize>;

// Slots per receiver follow the picture size: as many as fit in kSlotBudget, at least kMinSlots and
// at most kMaxSlots. Slots start on page boundaries; a set is one memfd of count * stride bytes.
inline constexpr uint32_t kMinSlots = 4;
inline constexpr uint32_t kMaxSlots = 16;
inline constexpr uint64_t kSlotBudget = uint64_t(64) << 20;
inline constexpr uint64_t kSlotAlign = 4096;
inline constexpr uint64_t kMaxSetBytes = uint64_t(1) << 30;
// Sets a receiver may have alive at once: the current one and older ones it still holds slots of.
// The sender keeps at most two (it drops frames rather than start a third); the rest is slack for
// releases that cross a new set on the way.
inline constexpr size_t kMaxLiveSets = 4;

uint64_t SlotStride(size_t pictureBytes);  // rounded up to kSlotAlign
uint32_t SlotsFor(uint64_t stride);

struct SharedOfferView {
    Token token{};
    std::string_view socketName;  // a plain file name in the announcement folder
};

struct SlotsView {
    uint32_t set = 0;  // grows with every new set of one connection
    uint32_t count = 0;
    uint64_t stride = 0;
};

struct SlotRef {
    uint32_t set = 0, slot = 0;
};

struct SharedVideoView {
    SlotRef ref;
    VideoView video;  // data is null: the picture is in the slot
};

Message EncodeSharedOffer(const Token& token, std::string_view socketName);
Message EncodeSharedStart();
Message EncodeSharedJoin(const Token& token);
Message EncodeSharedSlots(const SlotsView& slots);
// Null for a frame SendableVideoBytes refuses.
Message EncodeSharedVideo(const NDIlib_video_frame_v2_t& frame, int64_t timecode, int64_t timestamp,
                          SlotRef ref);
Message EncodeSharedRelease(SlotRef ref);

bool ParseSharedOffer(const uint8_t* p, size_t n, SharedOfferView& out);
bool ParseSharedStart(const uint8_t* p, size_t n);
bool ParseSharedJoin(const uint8_t* p, size_t n, Token& out);
// Also refuses counts, strides and set sizes outside the limits above.
bool ParseSharedSlots(const uint8_t* p, size_t n, SlotsView& out);
bool ParseSharedVideo(const uint8_t* p, size_t n, SharedVideoView& out);
bool ParseSharedRelease(const uint8_t* p, size_t n, SlotRef& out);

// The sender's account of one set of one receiver. The receiver has at most count - 1 slots
// (Pending: its reference queued, Out: written to it); the last one is where the newest frame
// waits (Parked) while the receiver holds all the others, so that a frame is never lost because
// the slots came back a moment later, and a burst still ends with its last frame delivered. A
// frame is written only into a slot nobody else has (Writing, one writer at a time); only an Out
// slot may be released.
class SlotLedger {
public:
    enum State : uint8_t { Free, Writing, Parked, Pending, Out };
    struct Pick {
        uint32_t slot = 0;
        bool park = false;
    };
    explicit SlotLedger(uint32_t count = 0) : state_(count, Free) {}
    uint32_t count() const { return static_cast<uint32_t>(state_.size()); }
    // Where the next frame goes: a free slot to send it in (an older parked frame gives its slot
    // up then), or the spare slot to park it in, over a frame parked there before. Nothing while
    // another frame is being written, or for a set of fewer than two slots.
    std::optional<Pick> Take();
    void Written(uint32_t slot);       // Writing -> Pending, or Parked when picked to park
    std::optional<uint32_t> Unpark();  // Parked -> Pending, once the receiver has room
    void Sent(uint32_t slot);          // Pending -> Out
    void Drop(uint32_t slot);          // Pending -> Free (dropped before it was written)
    void Abandon(uint32_t slot);       // Writing -> Free (a lent slot given back unsent)
    bool Release(uint32_t slot);       // Out -> Free; false for any other slot or state
    void Discard();                    // a parked frame superseded by another format
    bool Idle() const;                 // nothing Writing, Pending or Out
    uint32_t withReceiver() const;     // Pending and Out
    State state(uint32_t slot) const { return state_.at(slot); }

private:
    std::optional<uint32_t> Find(State s) const;
    std::vector<State> state_;
    bool parking_ = false;  // the slot being written was picked to park
};

// The receiver's check of everything the sender says about slots: a frame must name a slot of
// the current set that the receiver does not hold already, with a picture that fits it.
class SlotBook {
public:
    bool OnSlots(const SlotsView& slots);  // false: ids not growing, or too many sets alive
    bool OnVideo(const SharedVideoView& frame);
    // The application is done with a slot; false when it was not held (a bug of ours).
    bool OnRelease(SlotRef ref);
    const SlotsView* current() const { return sets_.empty() ? nullptr : &sets_.back().info; }
    size_t liveSets() const { return sets_.size(); }

private:
    struct Set {
        SlotsView info;
        uint32_t held = 0;  // bit per slot
    };
    void Prune();
    std::vector<Set> sets_;  // the last one is current
};

}  // namespace velmor::wire
