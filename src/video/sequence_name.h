// Splitting an image file path into the parts that name the members of a numbered sequence.
#pragma once

#include <string>
#include <string_view>

namespace velmor {

struct SequenceName {
    std::string sequencePrefix;     // folder + stem: prefix + "%0*d" number + extension
    std::string sequenceStem;       // file name without the number and the extension
    std::string sequenceExtension;  // with its dot, or empty
    int endsWithNumber = 0;
    int firstNumber = 0;
    int numberDigits = 0;  // 1..5: at most the last five digits form the number
};

// `/` separates folders. Returns false (with the plain parts filled in) for an empty path or a
// file name that does not end with a digit.
bool SplitSequenceName(std::string_view path, SequenceName& out);

}  // namespace velmor
