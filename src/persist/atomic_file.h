// A file written under a temporary name in its own folder and renamed over the target only when
// every byte reached the disk, so a failed write never destroys the previous file.
#pragma once

#include <cstddef>
#include <string>

namespace velmor {

class AtomicFile {
public:
    explicit AtomicFile(std::string path) : path_(std::move(path)) {}
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();  // removes the temporary file unless committed

    bool Open();
    bool Write(const void* data, size_t size);
    // Flushes to disk and renames the temporary file over the target.
    bool Commit();

private:
    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
};

}  // namespace velmor
