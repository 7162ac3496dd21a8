// Feeds arbitrary bytes to the proc amp preset file reader.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "persist/preset_file.h"

namespace {

class NullNotifier : public velmor::INotifier {
public:
    velmor::MessageAnswer Show(const std::string&, const std::string&,
                               velmor::MessageButtons) override {
        return velmor::MessageAnswer::Ok;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("velmor-preset", 0);
    if (fd < 0) return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    // One object for every run: building its tables costs more than the read being fuzzed.
    static velmor::ProcAmpState procAmp;
    procAmp.currentPreset = static_cast<int>(size % 7);  // includes one slot number out of range
    NullNotifier notifier;
    velmor::LoadPresetFile(procAmp, "/proc/self/fd/" + std::to_string(fd), notifier);
    close(fd);
    return 0;
}
