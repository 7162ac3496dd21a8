#include "ndi/builtin/shared_wire.h"

#include <algorithm>

#include "ndi/builtin/wire_codec.h"

namespace velmor::wire {

uint64_t SlotStride(size_t pictureBytes) {
    return (static_cast<uint64_t>(pictureBytes) + kSlotAlign - 1) / kSlotAlign * kSlotAlign;
}

uint32_t SlotsFor(uint64_t stride) {
    if (stride == 0) return kMaxSlots;
    const uint64_t fit = kSlotBudget / stride;
    return static_cast<uint32_t>(std::clamp<uint64_t>(fit, kMinSlots, kMaxSlots));
}

Message EncodeSharedOffer(const Token& token, std::string_view socketName) {
    socketName = socketName.substr(0, kMaxSocketName);
    Writer w(MessageType::SharedOffer, kTokenSize + 4 + socketName.size());
    w.bytes(token.data(), token.size());
    w.text(socketName);
    return w.finish();
}

Message EncodeSharedStart() {
    return Writer(MessageType::SharedStart, 0).finish();
}

Message EncodeSharedJoin(const Token& token) {
    Writer w(MessageType::SharedJoin, kTokenSize);
    w.bytes(token.data(), token.size());
    return w.finish();
}

Message EncodeSharedSlots(const SlotsView& s) {
    Writer w(MessageType::SharedSlots, 16);
    w.put<uint32_t>(s.set);
    w.put<uint32_t>(s.count);
    w.put<uint64_t>(s.stride);
    return w.finish();
}

Message EncodeSharedVideo(const NDIlib_video_frame_v2_t& f, int64_t timecode, int64_t timestamp,
                          SlotRef ref) {
    if (SendableVideoBytes(f) == 0) return nullptr;
    const std::string_view meta = CText(f.p_metadata);
    Writer w(MessageType::SharedVideo, 8 + kVideoFixed + 4 + meta.size());
    w.put<uint32_t>(ref.set);
    w.put<uint32_t>(ref.slot);
    PutVideoFields(w, f, timecode, timestamp, meta);
    return w.finish();
}

Message EncodeSharedRelease(SlotRef ref) {
    Writer w(MessageType::SharedRelease, 8);
    w.put<uint32_t>(ref.set);
    w.put<uint32_t>(ref.slot);
    return w.finish();
}

bool ParseSharedOffer(const uint8_t* p, size_t n, SharedOfferView& out) {
    Reader r(p, n);
    const uint8_t* token = r.bytes(kTokenSize);
    out.socketName = r.text(kMaxSocketName);
    if (!r.ok() || r.left() != 0) return false;
    std::copy(token, token + kTokenSize, out.token.begin());
    // Only a name inside the folder the receiver trusts: no separator, no way up, no NUL.
    const std::string_view name = out.socketName;
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool ParseSharedStart(const uint8_t*, size_t n) {
    return n == 0;
}

bool ParseSharedJoin(const uint8_t* p, size_t n, Token& out) {
    if (n != kTokenSize) return false;
    std::copy(p, p + kTokenSize, out.begin());
    return true;
}

bool ParseSharedSlots(const uint8_t* p, size_t n, SlotsView& out) {
    Reader r(p, n);
    out.set = r.get<uint32_t>();
    out.count = r.get<uint32_t>();
    out.stride = r.get<uint64_t>();
    if (!r.ok() || r.left() != 0) return false;
    if (out.count < 1 || out.count > kMaxSlots) return false;
    if (out.stride < kSlotAlign || out.stride % kSlotAlign != 0) return false;
    return out.stride <= kMaxSetBytes / out.count;
}

bool ParseSharedVideo(const uint8_t* p, size_t n, SharedVideoView& out) {
    Reader r(p, n);
    out.ref.set = r.get<uint32_t>();
    out.ref.slot = r.get<uint32_t>();
    if (!ReadVideoFields(r, out.video)) return false;
    out.video.data = nullptr;
    return r.ok() && r.left() == 0;
}

bool ParseSharedRelease(const uint8_t* p, size_t n, SlotRef& out) {
    Reader r(p, n);
    out.set = r.get<uint32_t>();
    out.slot = r.get<uint32_t>();
    return r.ok() && r.left() == 0;
}

std::optional<uint32_t> SlotLedger::Find(State want) const {
    for (uint32_t i = 0; i < state_.size(); ++i)
        if (state_[i] == want) return i;
    return std::nullopt;
}

uint32_t SlotLedger::withReceiver() const {
    return static_cast<uint32_t>(std::count_if(state_.begin(), state_.end(),
                                               [](State s) { return s == Pending || s == Out; }));
}

std::optional<SlotLedger::Pick> SlotLedger::Take() {
    if (state_.size() < 2 || Find(Writing)) return std::nullopt;
    const auto parked = Find(Parked);
    if (withReceiver() + 1 < count()) {
        if (parked) state_[*parked] = Free;  // this frame is newer
        const auto slot = Find(Free);
        if (!slot) return std::nullopt;  // cannot happen: count - 1 slots are not with it
        state_[*slot] = Writing;
        parking_ = false;
        return Pick{*slot, false};
    }
    const auto spare = parked ? parked : Find(Free);
    if (!spare) return std::nullopt;
    state_[*spare] = Writing;
    parking_ = true;
    return Pick{*spare, true};
}

void SlotLedger::Written(uint32_t slot) {
    if (slot < state_.size() && state_[slot] == Writing) state_[slot] = parking_ ? Parked : Pending;
}

std::optional<uint32_t> SlotLedger::Unpark() {
    const auto parked = Find(Parked);
    if (!parked || withReceiver() + 1 >= count()) return std::nullopt;
    state_[*parked] = Pending;
    return parked;
}

void SlotLedger::Sent(uint32_t slot) {
    if (slot < state_.size() && state_[slot] == Pending) state_[slot] = Out;
}

void SlotLedger::Drop(uint32_t slot) {
    if (slot < state_.size() && state_[slot] == Pending) state_[slot] = Free;
}

void SlotLedger::Abandon(uint32_t slot) {
    if (slot < state_.size() && state_[slot] == Writing) state_[slot] = Free;
}

bool SlotLedger::Release(uint32_t slot) {
    if (slot >= state_.size() || state_[slot] != Out) return false;
    state_[slot] = Free;
    return true;
}

void SlotLedger::Discard() {
    if (const auto parked = Find(Parked)) state_[*parked] = Free;
}

bool SlotLedger::Idle() const {
    return std::all_of(state_.begin(), state_.end(),
                       [](State s) { return s == Free || s == Parked; });
}

bool SlotBook::OnSlots(const SlotsView& slots) {
    if (!sets_.empty() && slots.set <= sets_.back().info.set) return false;
    sets_.push_back({slots, 0});
    Prune();
    return sets_.size() <= kMaxLiveSets;
}

bool SlotBook::OnVideo(const SharedVideoView& frame) {
    if (sets_.empty()) return false;
    Set& cur = sets_.back();
    if (frame.ref.set != cur.info.set || frame.ref.slot >= cur.info.count) return false;
    if (frame.video.dataSize == 0 || frame.video.dataSize > cur.info.stride) return false;
    const uint32_t bit = uint32_t(1) << frame.ref.slot;
    if (cur.held & bit) return false;
    cur.held |= bit;
    return true;
}

bool SlotBook::OnRelease(SlotRef ref) {
    for (auto& s : sets_) {
        if (s.info.set != ref.set) continue;
        const uint32_t bit = ref.slot < kMaxSlots ? uint32_t(1) << ref.slot : 0;
        if (!(s.held & bit)) return false;
        s.held &= ~bit;
        Prune();
        return true;
    }
    return false;
}

void SlotBook::Prune() {
    // Older sets go once nothing of theirs is held; the current one stays.
    for (size_t i = 0; i + 1 < sets_.size();) {
        if (sets_[i].held == 0)
            sets_.erase(sets_.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
}

}  // namespace velmor::wire
