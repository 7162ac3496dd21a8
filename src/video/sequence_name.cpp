#include "video/sequence_name.h"

namespace velmor {

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

bool SplitSequenceName(std::string_view path, SequenceName& out) {
    out = SequenceName{};
    if (path.empty()) return false;
    const size_t slash = path.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? "" : path.substr(0, slash + 1);
    std::string_view file = path.substr(folder.size());
    const size_t dot = file.rfind('.');
    if (dot != std::string_view::npos) {
        out.sequenceExtension = std::string(file.substr(dot));
        file = file.substr(0, dot);
    }
    out.sequenceStem = std::string(file);
    out.sequencePrefix = std::string(folder) + out.sequenceStem;
    if (file.empty() || !IsDigit(file.back())) return false;

    size_t n = 1;
    while (n + 1 < 6 && n + 1 <= file.size() && IsDigit(file[file.size() - n - 1]))
        ++n;
    int value = 0;
    for (size_t i = file.size() - n; i < file.size(); ++i)
        value = value * 10 + (file[i] - '0');
    out.numberDigits = static_cast<int>(n);
    out.firstNumber = value;
    out.endsWithNumber = 1;
    out.sequenceStem = std::string(file.substr(0, file.size() - n));
    out.sequencePrefix = std::string(folder) + out.sequenceStem;
    return true;
}

}  // namespace velmor
