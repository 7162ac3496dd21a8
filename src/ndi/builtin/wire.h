// The built-in transport's stream format between a sender and each of its receivers: a 12-byte
// header (magic, type, payload length) and a payload per message. Everything read from a socket
// goes through the Parse* functions here, which check every size, count and FourCC before any of
// it is used; a false result means the peer is broken or hostile and its connection is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ndi/ndi_types.h"

namespace velmor::wire {

inline constexpr uint32_t kMagic = 0x574E4456;  // "VDNW" in the byte order it goes on the wire
inline constexpr uint32_t kVersion = 2;         // 2: the hello may ask for the shared-memory path
inline constexpr size_t kHeaderSize = 12;

inline constexpr int kMaxPictureSide = 8192;
inline constexpr int kMaxChannels = 64;
inline constexpr int kMaxSamples = 1 << 17;
inline constexpr int kMaxSampleRate = 768000;
inline constexpr size_t kMaxMetadata = 1 << 20;  // bytes of XML text in one message
inline constexpr size_t kMaxName = 1024;

enum class MessageType : uint32_t {
    Hello = 1,     // receiver -> sender, first message of a connection
    Video = 2,     // sender -> receiver
    Audio = 3,     // sender -> receiver
    Metadata = 4,  // both ways
    Tally = 5,     // receiver -> sender
    // The same-machine path (shared_wire.h): offered and started on the TCP connection, then
    // carried on a Unix-domain socket beside it.
    SharedOffer = 6,     // sender -> receiver (TCP): where to join, with a one-time token
    SharedStart = 7,     // sender -> receiver (TCP): everything after it comes on the Unix socket
    SharedJoin = 8,      // receiver -> sender (Unix): the token
    SharedSlots = 9,     // sender -> receiver (Unix): a new set of frame slots, its memfd attached
    SharedVideo = 10,    // sender -> receiver (Unix): a video frame's header and its slot
    SharedRelease = 11,  // receiver -> sender (Unix): a slot the receiver is done with
};
inline constexpr uint32_t kLastMessageType = 11;

struct Header {
    MessageType type{};
    uint32_t length = 0;  // payload bytes after the header
};

struct Hello {
    uint32_t version = kVersion;
    int32_t colorFormat = NDIlib_recv_color_format_UYVY_BGRA;
    int32_t bandwidth = NDIlib_recv_bandwidth_highest;
    bool allowFields = true;
    std::string name;
    // Version 2: the receiver would take frames through shared memory, and the boot id of its
    // machine, so that a sender offers it only to a receiver on its own machine.
    bool shared = false;
    std::string bootId;
};
inline constexpr size_t kMaxBootId = 64;

// Views into a received payload; the pointers stay valid while the payload buffer lives.
struct VideoView {
    int xres = 0, yres = 0;
    uint32_t fourCC = 0;
    int frameRateN = 0, frameRateD = 0;
    float aspect = 0;
    int formatType = 0;
    int64_t timecode = 0, timestamp = 0;
    std::string_view metadata;  // empty when the frame has none
    const uint8_t* data = nullptr;
    size_t dataSize = 0;  // packed picture: stride = BytesPerRow(fourCC, xres)
};

struct AudioView {
    int sampleRate = 0, channels = 0, samples = 0;
    int64_t timecode = 0, timestamp = 0;
    std::string_view metadata;
    const uint8_t* data = nullptr;  // planar floats, channel c at c * samples * 4 bytes
};

struct MetadataView {
    int64_t timecode = 0;
    std::string_view text;
};

struct TallyView {
    bool onProgram = false, onPreview = false;
};

// FourCCs the transport carries. Rows are packed; UYVA is a UYVY plane then an 8-bit alpha plane.
bool IsSupportedFourCC(uint32_t fourCC);
bool HasAlpha(uint32_t fourCC);
size_t BytesPerRow(uint32_t fourCC, int xres);  // of the main plane
// Bytes of a packed picture, or 0 when the size, shape or FourCC is not allowed.
size_t PictureBytes(uint32_t fourCC, int xres, int yres);
// The largest payload any message type may announce; a header above it closes the connection.
size_t MaxPayload(MessageType type);

bool ParseHeader(const uint8_t* bytes, Header& out);  // reads exactly kHeaderSize bytes

// Video and audio messages are large, so a reader first takes only their fixed fields
// (PrefixSize bytes, 0 for other types) and checks with PrefixAgrees that the picture or sample
// block they describe is allowed and accounts for exactly the announced length; only then is
// room for the whole payload made.
size_t PrefixSize(const Header& header);
bool PrefixAgrees(const Header& header, const uint8_t* prefix);
bool ParseHello(const uint8_t* p, size_t n, Hello& out);
bool ParseVideo(const uint8_t* p, size_t n, VideoView& out);
bool ParseAudio(const uint8_t* p, size_t n, AudioView& out);
bool ParseMetadata(const uint8_t* p, size_t n, MetadataView& out);
bool ParseTally(const uint8_t* p, size_t n, TallyView& out);

// Byte buffers for frames: a picture is written or read into them right away, so they skip the
// zero fill a plain vector would spend a pass of memory on.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using Bytes = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

// The packed picture bytes of a frame the transport can carry (PictureBytes of its size and FourCC,
// with a rate, field type, stride and data that are usable), or 0 for a frame it drops.
size_t SendableVideoBytes(const NDIlib_video_frame_v2_t& frame);
// Copies the frame's picture, rows packed (and for UYVA the alpha plane after the UYVY plane), to
// `to`, which has room for SendableVideoBytes(frame).
void CopyPicture(const NDIlib_video_frame_v2_t& frame, uint8_t* to);

// Whole messages, header included, ready to be written to any number of sockets.
using Message = std::shared_ptr<const Bytes>;
Message EncodeHello(const Hello& hello);
// Null when the frame is not one the transport can carry (size, FourCC, stride, missing data).
Message EncodeVideo(const NDIlib_video_frame_v2_t& frame, int64_t timecode, int64_t timestamp);
Message EncodeAudio(const NDIlib_audio_frame_v2_t& frame, int64_t timecode, int64_t timestamp);
Message EncodeMetadata(std::string_view text, int64_t timecode);
Message EncodeTally(bool onProgram, bool onPreview);

// The text of a metadata frame as an application handed it over: never past `length` (when
// positive) nor past the first NUL; at most kMaxMetadata bytes.
std::string_view MetadataText(const NDIlib_metadata_frame_t& frame);

}  // namespace velmor::wire
