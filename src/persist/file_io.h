// Small file helpers shared by the writers and readers of Velmor's files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

namespace velmor {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Reads a file's bytes held in memory front to back, as fread would.
struct ByteReader {
    const unsigned char* data;
    size_t size;
    size_t offset = 0;
    // Copies the next `n` bytes to `out`; false (and nothing consumed) when fewer are left.
    bool Read(void* out, size_t n) {
        if (size - offset < n) return false;
        std::memcpy(out, data + offset, n);
        offset += n;
        return true;
    }
};

// Writes all `size` bytes to `fd`, retrying after signals and short writes. False on any error.
bool WriteFully(int fd, const void* data, size_t size);

}  // namespace velmor
