#include "ndi/builtin/shared_link.h"

#include "ndi/builtin/sender_connection.h"

namespace velmor::builtin {

SlotLease::~SlotLease() {
    if (!sent_) link_->Drop(set_, slot_);
}

void SlotLease::MarkSent() {
    if (sent_) return;
    sent_ = true;
    link_->Sent(set_, slot_);
}

bool SharedLink::NewSetLocked(uint64_t stride, Result& failed) {
    // The old set stays until the receiver gives back what it holds of it, but a receiver still
    // holding two formats gets nothing in a third. A frame parked in it is older than this one.
    if (current_) {
        current_->ledger.Discard();
        if (parked_) dropped_.fetch_add(1, std::memory_order_relaxed);
        parked_.reset();
        if (!current_->ledger.Idle()) {
            if (draining_) {
                failed = Result::Dropped;
                return false;
            }
            draining_ = current_;
        }
        current_.reset();
    }
    std::string why;
    auto fresh = SlotSet::Create(nextSet_++, stride, why);
    if (!fresh) {
        if (!noMemoryLogged_)
            Log("no frame slots (" + why + "); a receiver on this machine gets frames inline");
        noMemoryLogged_ = true;
        failed = Result::NoMemory;
        return false;
    }
    current_ = fresh;
    // Queued under the lock, so no reference into the set can overtake it on the way.
    asio::post(Runtime::Get().io(),
               [c = connection_, m = wire::EncodeSharedSlots(fresh->info()), fresh] {
                   if (auto conn = c.lock())
                       conn->Enqueue({m, wire::MessageType::SharedSlots, {}, fresh});
               });
    return true;
}

bool SharedLink::ReserveLocked(size_t bytes, std::shared_ptr<SlotSet>& set,
                               wire::SlotLedger::Pick& pick, Result& failed) {
    if (closed_) {
        failed = Result::Dropped;
        return false;
    }
    const uint64_t stride = wire::SlotStride(bytes);
    if ((!current_ || current_->info().stride != stride) && !NewSetLocked(stride, failed)) {
        if (failed == Result::Dropped) dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const auto taken = current_->ledger.Take();
    if (!taken) {
        // Another frame is being written (a slot lent and not yet sent), or a set of one slot
        // (never made here).
        failed = Result::Dropped;
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (parked_) dropped_.fetch_add(1, std::memory_order_relaxed);  // replaced or superseded
    parked_.reset();
    set = current_;
    pick = *taken;
    return true;
}

SharedLink::Result SharedLink::Commit(const std::shared_ptr<SlotSet>& set,
                                      wire::SlotLedger::Pick pick,
                                      const NDIlib_video_frame_v2_t& frame, int64_t timecode,
                                      int64_t timestamp) {
    auto message =
        wire::EncodeSharedVideo(frame, timecode, timestamp, {set->info().set, pick.slot});
    std::lock_guard lock(mu_);
    if (closed_) return Result::Dropped;
    set->ledger.Written(pick.slot);
    if (!pick.park) {
        QueueLocked(set, pick.slot, std::move(message));
        return Result::Queued;
    }
    parked_ = std::move(message);
    AfterReturnLocked();  // a slot may have come back while this one was written
    return Result::Parked;
}

SharedLink::Result SharedLink::Send(const NDIlib_video_frame_v2_t& frame, size_t bytes,
                                    int64_t timecode, int64_t timestamp) {
    std::lock_guard writing(sendMu_);
    std::shared_ptr<SlotSet> set;
    wire::SlotLedger::Pick pick;
    {
        std::lock_guard lock(mu_);
        Result failed{};
        if (!ReserveLocked(bytes, set, pick, failed)) return failed;
    }
    // The slot is this thread's alone (Writing) until the ledger hears it is written.
    wire::CopyPicture(frame, set->slot(pick.slot));
    return Commit(set, pick, frame, timecode, timestamp);
}

std::optional<SharedLink::Loan> SharedLink::Lend(size_t bytes) {
    std::lock_guard writing(sendMu_);
    std::lock_guard lock(mu_);
    Loan loan;
    Result failed{};
    if (!ReserveLocked(bytes, loan.set, loan.pick, failed)) return std::nullopt;
    loan.data = loan.set->slot(loan.pick.slot);
    loan.bytes = bytes;
    return loan;
}

SharedLink::Result SharedLink::SendLent(const Loan& loan, const NDIlib_video_frame_v2_t& frame,
                                        int64_t timecode, int64_t timestamp) {
    std::lock_guard writing(sendMu_);
    return Commit(loan.set, loan.pick, frame, timecode, timestamp);
}

void SharedLink::Abandon(const Loan& loan) {
    std::lock_guard lock(mu_);
    loan.set->ledger.Abandon(loan.pick.slot);
    AfterReturnLocked();
}

void SharedLink::QueueLocked(const std::shared_ptr<SlotSet>& set, uint32_t slot,
                             wire::Message message) {
    auto lease = std::make_shared<SlotLease>(shared_from_this(), set, slot);
    asio::post(Runtime::Get().io(), [c = connection_, message = std::move(message), lease] {
        if (auto conn = c.lock())
            conn->Enqueue({message, wire::MessageType::SharedVideo, lease, {}});
    });
}

void SharedLink::AfterReturnLocked() {
    if (closed_) return;
    if (current_ && parked_) {
        if (const auto slot = current_->ledger.Unpark()) {
            QueueLocked(current_, *slot, std::move(parked_));
            parked_.reset();
        }
    }
    if (draining_ && draining_->ledger.Idle()) draining_.reset();
}

bool SharedLink::Release(wire::SlotRef ref) {
    std::lock_guard lock(mu_);
    for (auto* set : {&current_, &draining_}) {
        if (*set && (*set)->info().set == ref.set) {
            if (!(*set)->ledger.Release(ref.slot)) return false;
            AfterReturnLocked();
            return true;
        }
    }
    // A set that is gone had nothing out: the release names something never handed over.
    return false;
}

void SharedLink::Close() {
    std::lock_guard lock(mu_);
    closed_ = true;
    current_.reset();
    draining_.reset();
    parked_.reset();
}

void SharedLink::Sent(const std::shared_ptr<SlotSet>& set, uint32_t slot) {
    std::lock_guard lock(mu_);
    set->ledger.Sent(slot);
}

void SharedLink::Drop(const std::shared_ptr<SlotSet>& set, uint32_t slot) {
    std::lock_guard lock(mu_);
    set->ledger.Drop(slot);
    dropped_.fetch_add(1, std::memory_order_relaxed);
    AfterReturnLocked();
}

}  // namespace velmor::builtin
