#include "ndi/builtin/slots.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmor::builtin {
namespace {

constexpr unsigned kSizeSeals = F_SEAL_SHRINK | F_SEAL_GROW;

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::shared_ptr<SlotSet> SlotSet::Create(uint32_t id, uint64_t stride, std::string& why) {
    auto set = std::shared_ptr<SlotSet>(new SlotSet());
    set->info_ = {id, wire::SlotsFor(stride), stride};
    set->ledger = wire::SlotLedger(set->info_.count);
    const uint64_t bytes = set->bytes();
    set->fd_ = UniqueFd(memfd_create("velmor-ndi-slots", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (set->fd_.get() < 0) {
        why = Errno("memfd_create");
        return nullptr;
    }
    if (ftruncate(set->fd_.get(), static_cast<off_t>(bytes)) != 0) {
        why = Errno("ftruncate");
        return nullptr;
    }
    // Sealed before the receiver sees it: neither side can change the size under the other.
    if (fcntl(set->fd_.get(), F_ADD_SEALS, kSizeSeals | F_SEAL_SEAL) != 0) {
        why = Errno("sealing the memfd");
        return nullptr;
    }
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, set->fd_.get(), 0);
    if (p == MAP_FAILED) {
        why = Errno("mmap");
        return nullptr;
    }
    set->base_ = static_cast<uint8_t*>(p);
    madvise(p, bytes, MADV_HUGEPAGE);  // where shared memory may use huge pages; else a no-op
    return set;
}

SlotSet::~SlotSet() {
    if (base_) munmap(base_, bytes());
}

std::shared_ptr<SlotMapping> SlotMapping::Map(UniqueFd fd, const wire::SlotsView& info,
                                              std::string& why) {
    const int seals = fcntl(fd.get(), F_GET_SEALS);
    if (seals < 0) {
        why = "the slot descriptor is not a memfd";
        return nullptr;
    }
    if ((static_cast<unsigned>(seals) & F_SEAL_SHRINK) == 0) {
        why = "the slot memfd is not sealed against shrinking";
        return nullptr;
    }
    struct stat st {};
    const uint64_t bytes = static_cast<uint64_t>(info.count) * info.stride;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) < bytes) {
        why = "the slot memfd is smaller than its slots";
        return nullptr;
    }
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (p == MAP_FAILED) {
        why = Errno("mmap of the slots");
        return nullptr;
    }
    auto m = std::shared_ptr<SlotMapping>(new SlotMapping());
    m->info_ = info;
    m->base_ = static_cast<uint8_t*>(p);
    m->length_ = bytes;
    return m;  // the mapping keeps the memory; the descriptor closes here
}

SlotMapping::~SlotMapping() {
    if (base_) munmap(base_, length_);
}

}  // namespace velmor::builtin
