#include "persist/atomic_file.h"

#include "persist/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace velmor {

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

bool AtomicFile::Open() {
    // The temporary name is short and in the target's folder (rename stays on one file system),
    // so a target name near the file-name limit still gets one.
    const size_t slash = path_.rfind('/');
    std::string pattern =
        (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) +
        ".velmor-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    // mkstemp makes the file private; a settings file gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    fd_ = fd;
    tempPath_ = name.data();
    return true;
}

bool WriteFully(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFile::Write(const void* data, size_t size) {
    return fd_ >= 0 && WriteFully(fd_, data, size);
}

bool AtomicFile::Commit() {
    if (fd_ < 0) return false;
    const bool synced = ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!synced || !closed) return false;
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return false;
    tempPath_.clear();
    return true;
}

}  // namespace velmor
