// Feeds arbitrary bytes to the proc amp preset reader, from memory.
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
    // One object for every run: building its tables costs more than the read being fuzzed.
    static velmor::ProcAmpState procAmp;
    procAmp.currentPreset = static_cast<int>(size % 7);  // includes one slot number out of range
    NullNotifier notifier;
    velmor::LoadPresetBytes(procAmp, data, size, notifier);
    return 0;
}
