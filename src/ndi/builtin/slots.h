// The memory of the same-machine path: a set of frame slots is one memfd, created and sealed
// against shrinking and growing by the sender, mapped read-write by the sender and by the one
// receiver it is passed to. Pages are taken only as slots are first written, so slots a receiver
// never needs cost address space, not memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ndi/builtin/shared_wire.h"
#include "ndi/builtin/unix_socket.h"

namespace velmor::builtin {

// The sender's side of one set; its ledger is guarded by the owner's lock.
class SlotSet {
public:
    // Null with `why` filled in when the memory cannot be had.
    static std::shared_ptr<SlotSet> Create(uint32_t id, uint64_t stride, std::string& why);
    ~SlotSet();
    SlotSet(const SlotSet&) = delete;
    SlotSet& operator=(const SlotSet&) = delete;

    const wire::SlotsView& info() const { return info_; }
    int fd() const { return fd_.get(); }
    uint8_t* slot(uint32_t i) const { return base_ + static_cast<size_t>(i) * info_.stride; }
    uint64_t bytes() const { return static_cast<uint64_t>(info_.count) * info_.stride; }

    wire::SlotLedger ledger;

private:
    SlotSet() = default;
    wire::SlotsView info_;
    UniqueFd fd_;
    uint8_t* base_ = nullptr;
};

// The receiver's mapping of a set the sender passed over, after checking that the descriptor is
// a memfd sealed against shrinking (a shrunk file would fault on access) and large enough.
class SlotMapping {
public:
    static std::shared_ptr<SlotMapping> Map(UniqueFd fd, const wire::SlotsView& info,
                                            std::string& why);
    ~SlotMapping();
    SlotMapping(const SlotMapping&) = delete;
    SlotMapping& operator=(const SlotMapping&) = delete;

    const wire::SlotsView& info() const { return info_; }
    uint8_t* slot(uint32_t i) const { return base_ + static_cast<size_t>(i) * info_.stride; }

private:
    SlotMapping() = default;
    wire::SlotsView info_;
    uint8_t* base_ = nullptr;
    size_t length_ = 0;
};

}  // namespace velmor::builtin
