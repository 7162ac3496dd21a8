// Small file helpers shared by the writers and readers of Velmor's files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

namespace velmor {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Writes all `size` bytes to `fd`, retrying after signals and short writes. False on any error.
bool WriteFully(int fd, const void* data, size_t size);

}  // namespace velmor
