#include "remote/access_token.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velmor {

namespace {

constexpr size_t kTokenBytes = 32;
constexpr size_t kMinTokenLength = 16;
constexpr size_t kMaxTokenLength = 1024;
constexpr size_t kMaxTokenFile = 4096;

std::string Base64Url(const unsigned char* data, size_t n) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < n; ++i) {
        bits = bits << 8 | data[i];
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += kDigits[(bits >> count) & 63];
        }
    }
    if (count > 0) out += kDigits[(bits << (6 - count)) & 63];
    return out;
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::string MakeAccessToken() {
    unsigned char bytes[kTokenBytes];
    size_t have = 0;
    while (have < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + have, sizeof bytes - have, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        have += static_cast<size_t>(n);
    }
    return Base64Url(bytes, sizeof bytes);
}

bool ReadAccessToken(const std::string& path, std::string& token, std::string& error,
                     std::string& warning) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = Errno("cannot open the token file " + path);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "the token file " + path + " is not a regular file";
        return false;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        warning = "the token file " + path + " may be read by other users (chmod 600 it)";
    std::string text(kMaxTokenFile + 1, '\0');
    size_t have = 0;
    while (have < text.size()) {
        const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    if (have > kMaxTokenFile) {
        error = "the token file " + path + " is larger than 4 KiB";
        return false;
    }
    text.resize(have);
    text = text.substr(0, text.find('\n'));
    const size_t first = text.find_first_not_of(" \t\r");
    const size_t last = text.find_last_not_of(" \t\r");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    if (text.size() < kMinTokenLength || text.size() > kMaxTokenLength) {
        error = "the token in " + path + " must be 16 to 1024 characters long";
        return false;
    }
    for (const char c : text) {
        if (c < 0x21 || c > 0x7e) {
            error = "the token in " + path + " may hold only visible ASCII characters";
            return false;
        }
    }
    token = text;
    return true;
}

std::string WriteAccessToken(const std::string& token, int copy, std::string& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/') {
        error = "XDG_RUNTIME_DIR is not set";
        return {};
    }
    const std::string folder = std::string(runtime) + "/velmor";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = Errno("cannot make " + folder);
        return {};
    }
    // A folder of another user, or one others may enter, is not a place for the token.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = folder + " is not a folder of this user's alone (mode 0700)";
        return {};
    }
    const std::string path = folder + "/http-token-" + std::to_string(copy);
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = Errno("cannot write " + temporary);
        return {};
    }
    const std::string line = token + "\n";
    const bool written =
        ::fchmod(fd, 0600) == 0 &&
        ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
        ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = Errno("cannot write " + path);
        ::unlink(temporary.c_str());
        return {};
    }
    return path;
}

bool SameSecret(std::string_view a, std::string_view b) {
    // Every byte of the longer text is visited whatever the contents; a length difference makes
    // the result false without an early return.
    const size_t n = a.size() > b.size() ? a.size() : b.size();
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned>(x ^ y);
    }
    return diff == 0;
}

bool BearerMatches(std::string_view authorization, std::string_view token) {
    constexpr std::string_view kScheme = "bearer";
    if (authorization.size() <= kScheme.size() || token.empty()) return false;
    for (size_t i = 0; i < kScheme.size(); ++i) {
        const char c = authorization[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != kScheme[i]) return false;
    }
    size_t i = kScheme.size();
    if (authorization[i] != ' ') return false;
    while (i < authorization.size() && authorization[i] == ' ')
        ++i;
    std::string_view given = authorization.substr(i);
    while (!given.empty() && (given.back() == ' ' || given.back() == '\t'))
        given.remove_suffix(1);
    return SameSecret(given, token);
}

}  // namespace velmor
