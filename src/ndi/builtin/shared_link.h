// The sender's half of one receiver's same-machine path: its slot sets, and the copy of every
// frame into a slot, made on the caller's thread so that the I/O thread only passes slot numbers
// on. A receiver that holds all the slots it may loses frames: the newest waits in the spare slot
// (over the one that waited there) until a slot comes back. Nothing here ever waits for it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "ndi/builtin/slots.h"
#include "ndi/ndi_types.h"

namespace velmor::builtin {

class SenderConnection;
class SharedLink;

// One slot taken for one frame. Until its reference goes to the socket, dropping the lease (the
// frame was dropped on the way) frees the slot again; after that only the receiver frees it.
class SlotLease {
public:
    SlotLease(std::shared_ptr<SharedLink> link, std::shared_ptr<SlotSet> set, uint32_t slot)
        : link_(std::move(link)), set_(std::move(set)), slot_(slot) {}
    ~SlotLease();
    SlotLease(const SlotLease&) = delete;
    SlotLease& operator=(const SlotLease&) = delete;
    void MarkSent();  // I/O thread, as the reference is written

private:
    std::shared_ptr<SharedLink> link_;
    std::shared_ptr<SlotSet> set_;
    uint32_t slot_;
    bool sent_ = false;
};

class SharedLink : public std::enable_shared_from_this<SharedLink> {
public:
    explicit SharedLink(std::weak_ptr<SenderConnection> connection)
        : connection_(std::move(connection)) {}

    enum class Result {
        Queued,    // in a slot, its reference queued on the connection
        Parked,    // in the spare slot until the receiver gives one back
        Dropped,   // the receiver still holds two older formats, or the link is closed
        NoMemory,  // no slots to be had: the caller sends this receiver the plain message
    };
    // `bytes` is SendableVideoBytes(frame), already checked to be non-zero.
    Result Send(const NDIlib_video_frame_v2_t& frame, size_t bytes, int64_t timecode,
                int64_t timestamp);

    // A slot lent to the caller, who writes the picture straight into it and then sends it with
    // SendLent, or gives it back with Abandon. While it is out, other sends on this link drop
    // their frames (one frame is written at a time).
    struct Loan {
        std::shared_ptr<SlotSet> set;
        wire::SlotLedger::Pick pick;
        uint8_t* data = nullptr;
        size_t bytes = 0;  // the packed picture it was lent for
    };
    // A slot for a packed picture of `bytes`; nothing when the link is closed, the receiver
    // holds two older formats, or no memory can be had.
    std::optional<Loan> Lend(size_t bytes);
    // `frame` is the picture written into the loan (its p_data is loan.data).
    Result SendLent(const Loan& loan, const NDIlib_video_frame_v2_t& frame, int64_t timecode,
                    int64_t timestamp);
    void Abandon(const Loan& loan);

    // I/O thread: a release from the receiver; false (the peer is broken or hostile) for a slot
    // that is not out with it.
    bool Release(wire::SlotRef ref);
    // Frames this receiver lost: dropped, or parked and then replaced by a newer one.
    // The connection is gone: no more frames; the memory goes with the last lease.
    void Close();

    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    friend class SlotLease;
    void Sent(const std::shared_ptr<SlotSet>& set, uint32_t slot);
    void Drop(const std::shared_ptr<SlotSet>& set, uint32_t slot);
    // A slot may have come back: the parked frame goes out, and a drained set goes away.
    void AfterReturnLocked();
    void QueueLocked(const std::shared_ptr<SlotSet>& set, uint32_t slot, wire::Message message);
    // Takes a slot for a picture of `bytes` (Writing until Commit), making a new set when the
    // size changed; `failed` says why when it returns false.
    bool ReserveLocked(size_t bytes, std::shared_ptr<SlotSet>& set, wire::SlotLedger::Pick& pick,
                       Result& failed);
    // The picture is in the reserved slot: its reference goes out, or it waits in the spare.
    Result Commit(const std::shared_ptr<SlotSet>& set, wire::SlotLedger::Pick pick,
                  const NDIlib_video_frame_v2_t& frame, int64_t timecode, int64_t timestamp);
    bool NewSetLocked(uint64_t stride, Result& failed);

    const std::weak_ptr<SenderConnection> connection_;
    std::mutex sendMu_;  // one frame written at a time; the I/O thread never takes it
    std::mutex mu_;
    std::shared_ptr<SlotSet> current_, draining_;  // draining: an older format still held
    wire::Message parked_;  // the reference of the frame in current_'s parked slot
    uint32_t nextSet_ = 1;
    bool closed_ = false;
    bool noMemoryLogged_ = false;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace velmor::builtin
