// Feeds arbitrary bytes as a file path (dropped files, sequence members) to SplitSequenceName.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "video/sequence_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    velmor::SequenceName n;
    const bool numbered = velmor::SplitSequenceName(path, n);
    // The parts always put the path back together: prefix, the number's digits, extension.
    const size_t parts =
        n.sequencePrefix.size() + static_cast<size_t>(n.numberDigits) + n.sequenceExtension.size();
    if (!path.empty() && parts != path.size()) __builtin_trap();
    if (numbered &&
        (n.numberDigits < 1 || n.numberDigits > 5 || n.firstNumber < 0 || n.firstNumber > 99999)) {
        __builtin_trap();
    }
    if (path.substr(0, n.sequencePrefix.size()) != n.sequencePrefix) __builtin_trap();
    return 0;
}
