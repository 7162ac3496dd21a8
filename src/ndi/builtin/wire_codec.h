// The little-endian reader and writer behind every message of the built-in transport's stream
// format, shared by the files that encode and parse its messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "ndi/builtin/wire.h"

namespace velmor::wire {

// Little-endian reader that refuses to run past its end; once it fails it stays failed.
class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool ok() const { return ok_; }
    size_t left() const { return ok_ ? n_ - pos_ : 0; }
    const uint8_t* here() const { return p_ + pos_; }

    template <typename T>
    T get() {
        T v{};
        if (!ok_ || n_ - pos_ < sizeof(T)) {
            ok_ = false;
            return v;
        }
        std::memcpy(&v, p_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return v;
    }
    std::string_view text(size_t maxLen) {
        const uint32_t len = get<uint32_t>();
        if (!ok_ || len > maxLen || len > n_ - pos_) {
            ok_ = false;
            return {};
        }
        std::string_view s(reinterpret_cast<const char*>(p_ + pos_), len);
        pos_ += len;
        return s;
    }
    const uint8_t* bytes(size_t len) {
        if (!ok_ || len > n_ - pos_) {
            ok_ = false;
            return nullptr;
        }
        const uint8_t* b = p_ + pos_;
        pos_ += len;
        return b;
    }

private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Writes one message into a buffer of exactly the size the encoder computed; a mismatch is a bug
// in this file and yields no message rather than a short or overlong one.
class Writer {
public:
    Writer(MessageType type, size_t payload)
        : buf_(std::make_shared<Bytes>(kHeaderSize + payload)) {
        put<uint32_t>(kMagic);
        put<uint32_t>(static_cast<uint32_t>(type));
        put<uint32_t>(static_cast<uint32_t>(payload));
    }
    template <typename T>
    void put(T v) {
        bytes(reinterpret_cast<const uint8_t*>(&v), sizeof(T));
    }
    void text(std::string_view s) {
        put<uint32_t>(static_cast<uint32_t>(s.size()));
        bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    void bytes(const uint8_t* p, size_t n) {
        if (uint8_t* to = reserve(n); to && n) std::memcpy(to, p, n);
    }
    // Room for `n` bytes the caller fills in itself; null (and the message fails) past the end.
    uint8_t* reserve(size_t n) {
        if (n > buf_->size() - pos_) {
            ok_ = false;
            return nullptr;
        }
        uint8_t* at = buf_->data() + pos_;
        pos_ += n;
        return at;
    }
    Message finish() { return ok_ && pos_ == buf_->size() ? buf_ : nullptr; }

private:
    std::shared_ptr<Bytes> buf_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// The fixed fields of a video message and the metadata text after them.
inline constexpr size_t kVideoFixed = 4 * 7 + 8 * 2;
void PutVideoFields(Writer& w, const NDIlib_video_frame_v2_t& f, int64_t timecode,
                    int64_t timestamp, std::string_view meta);
// Reads and checks them; sets dataSize to the picture they describe (false when none is allowed).
bool ReadVideoFields(Reader& r, VideoView& v);

// Metadata handed to us by the application through a plain C string.
std::string_view CText(const char* s);

}  // namespace velmor::wire
