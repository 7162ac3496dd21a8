#include "ndi/builtin/wire.h"

#include <string.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "ndi/builtin/shared_wire.h"
#include "ndi/builtin/wire_codec.h"

namespace velmor::wire {
namespace {

constexpr size_t kAudioFixed = 4 * 3 + 8 * 2;

}  // namespace

std::string_view CText(const char* s) {
    if (!s) return {};
    return std::string_view(s, strnlen(s, kMaxMetadata));
}

bool IsSupportedFourCC(uint32_t f) {
    switch (f) {
        case NDIlib_FourCC_video_type_UYVY:
        case NDIlib_FourCC_video_type_UYVA:
        case NDIlib_FourCC_video_type_BGRA:
        case NDIlib_FourCC_video_type_BGRX:
        case NDIlib_FourCC_video_type_RGBA:
        case NDIlib_FourCC_video_type_RGBX:
            return true;
        default:
            return false;
    }
}

bool HasAlpha(uint32_t f) {
    return f == NDIlib_FourCC_video_type_UYVA || f == NDIlib_FourCC_video_type_BGRA ||
           f == NDIlib_FourCC_video_type_RGBA;
}

size_t BytesPerRow(uint32_t f, int xres) {
    const bool yuv = f == NDIlib_FourCC_video_type_UYVY || f == NDIlib_FourCC_video_type_UYVA;
    return static_cast<size_t>(xres) * (yuv ? 2 : 4);
}

size_t PictureBytes(uint32_t f, int xres, int yres) {
    if (!IsSupportedFourCC(f) || xres < 1 || yres < 1 || xres > kMaxPictureSide ||
        yres > kMaxPictureSide)
        return 0;
    const bool yuv = f == NDIlib_FourCC_video_type_UYVY || f == NDIlib_FourCC_video_type_UYVA;
    if (yuv && (xres % 2) != 0) return 0;  // a UYVY pair never splits
    size_t bytes = BytesPerRow(f, xres) * static_cast<size_t>(yres);
    if (f == NDIlib_FourCC_video_type_UYVA) bytes += static_cast<size_t>(xres) * yres;
    return bytes;
}

size_t MaxPayload(MessageType type) {
    switch (type) {
        case MessageType::Hello:
            return 16 + 4 + kMaxName;
        case MessageType::Video:
            return kVideoFixed + 4 + kMaxMetadata +
                   static_cast<size_t>(kMaxPictureSide) * kMaxPictureSide * 4;
        case MessageType::Audio:
            return kAudioFixed + 4 + kMaxMetadata +
                   static_cast<size_t>(kMaxChannels) * kMaxSamples * 4;
        case MessageType::Metadata:
            return 8 + 4 + kMaxMetadata;
        case MessageType::Tally:
            return 2;
        case MessageType::SharedOffer:
            return kTokenSize + 4 + kMaxSocketName;
        case MessageType::SharedStart:
            return 0;
        case MessageType::SharedJoin:
            return kTokenSize;
        case MessageType::SharedSlots:
            return 4 + 4 + 8;
        case MessageType::SharedVideo:
            return 4 + 4 + kVideoFixed + 4 + kMaxMetadata;
        case MessageType::SharedRelease:
            return 4 + 4;
    }
    return 0;
}

bool ParseHeader(const uint8_t* bytes, Header& out) {
    Reader r(bytes, kHeaderSize);
    if (r.get<uint32_t>() != kMagic) return false;
    const uint32_t type = r.get<uint32_t>();
    const uint32_t length = r.get<uint32_t>();
    if (type < 1 || type > kLastMessageType) return false;
    out.type = static_cast<MessageType>(type);
    out.length = length;
    return length <= MaxPayload(out.type);
}

size_t PrefixSize(const Header& h) {
    switch (h.type) {
        case MessageType::Video:
            return kVideoFixed + 4;
        case MessageType::Audio:
            return kAudioFixed + 4;
        default:
            return 0;
    }
}

bool PrefixAgrees(const Header& h, const uint8_t* prefix) {
    const size_t n = PrefixSize(h);
    if (n == 0) return true;
    if (h.length < n) return false;
    Reader r(prefix, n);
    size_t body = 0;
    if (h.type == MessageType::Video) {
        const int32_t xres = r.get<int32_t>();
        const int32_t yres = r.get<int32_t>();
        const uint32_t fourCC = r.get<uint32_t>();
        r.bytes(kVideoFixed - 12);
        body = PictureBytes(fourCC, xres, yres);
        if (body == 0) return false;
    } else {
        r.get<int32_t>();
        const int32_t channels = r.get<int32_t>();
        const int32_t samples = r.get<int32_t>();
        r.bytes(kAudioFixed - 12);
        if (channels < 1 || channels > kMaxChannels || samples < 1 || samples > kMaxSamples)
            return false;
        body = static_cast<size_t>(channels) * static_cast<size_t>(samples) * 4;
    }
    const uint32_t metadata = r.get<uint32_t>();
    return r.ok() && metadata <= kMaxMetadata && h.length == n + metadata + body;
}

bool ParseHello(const uint8_t* p, size_t n, Hello& out) {
    Reader r(p, n);
    out.version = r.get<uint32_t>();
    out.colorFormat = r.get<int32_t>();
    out.bandwidth = r.get<int32_t>();
    const uint8_t fields = r.get<uint8_t>();
    out.allowFields = fields != 0;
    out.name = std::string(r.text(kMaxName));
    uint8_t shared = 0;
    if (out.version >= 2) {
        shared = r.get<uint8_t>();
        out.shared = shared != 0;
        out.bootId = std::string(r.text(kMaxBootId));
    }
    // A later version may say more after what this one knows.
    const bool complete = r.left() == 0 || out.version > kVersion;
    return r.ok() && complete && out.version >= 1 && fields <= 1 && shared <= 1;
}

bool ReadVideoFields(Reader& r, VideoView& v) {
    v.xres = r.get<int32_t>();
    v.yres = r.get<int32_t>();
    v.fourCC = r.get<uint32_t>();
    v.frameRateN = r.get<int32_t>();
    v.frameRateD = r.get<int32_t>();
    v.aspect = r.get<float>();
    v.formatType = r.get<int32_t>();
    v.timecode = r.get<int64_t>();
    v.timestamp = r.get<int64_t>();
    v.metadata = r.text(kMaxMetadata);
    if (!r.ok()) return false;
    if (v.frameRateN <= 0 || v.frameRateD <= 0) return false;
    if (v.formatType < NDIlib_frame_format_type_interleaved ||
        v.formatType > NDIlib_frame_format_type_field_1)
        return false;
    if (!(v.aspect >= 0.0f && v.aspect <= 100.0f)) return false;  // also refuses NaN
    v.dataSize = PictureBytes(v.fourCC, v.xres, v.yres);
    return v.dataSize != 0;
}

bool ParseVideo(const uint8_t* p, size_t n, VideoView& v) {
    Reader r(p, n);
    if (!ReadVideoFields(r, v) || r.left() != v.dataSize) return false;
    v.data = r.bytes(v.dataSize);
    return r.ok();
}

bool ParseAudio(const uint8_t* p, size_t n, AudioView& a) {
    Reader r(p, n);
    a.sampleRate = r.get<int32_t>();
    a.channels = r.get<int32_t>();
    a.samples = r.get<int32_t>();
    a.timecode = r.get<int64_t>();
    a.timestamp = r.get<int64_t>();
    a.metadata = r.text(kMaxMetadata);
    if (!r.ok()) return false;
    if (a.sampleRate < 1 || a.sampleRate > kMaxSampleRate || a.channels < 1 ||
        a.channels > kMaxChannels || a.samples < 1 || a.samples > kMaxSamples)
        return false;
    const size_t bytes = static_cast<size_t>(a.channels) * static_cast<size_t>(a.samples) * 4;
    if (r.left() != bytes) return false;
    a.data = r.bytes(bytes);
    return r.ok();
}

bool ParseMetadata(const uint8_t* p, size_t n, MetadataView& m) {
    Reader r(p, n);
    m.timecode = r.get<int64_t>();
    m.text = r.text(kMaxMetadata);
    // An embedded NUL would make the text shorter than its length for a C reader; refuse it.
    return r.ok() && r.left() == 0 && m.text.find('\0') == std::string_view::npos;
}

bool ParseTally(const uint8_t* p, size_t n, TallyView& t) {
    Reader r(p, n);
    const uint8_t program = r.get<uint8_t>();
    const uint8_t preview = r.get<uint8_t>();
    t.onProgram = program != 0;
    t.onPreview = preview != 0;
    return r.ok() && r.left() == 0 && program <= 1 && preview <= 1;
}

Message EncodeHello(const Hello& h) {
    const std::string_view name = std::string_view(h.name).substr(0, kMaxName);
    const std::string_view boot = std::string_view(h.bootId).substr(0, kMaxBootId);
    const bool v2 = h.version >= 2;
    Writer w(MessageType::Hello, 17 + name.size() + (v2 ? 5 + boot.size() : 0));
    w.put<uint32_t>(h.version);
    w.put<int32_t>(h.colorFormat);
    w.put<int32_t>(h.bandwidth);
    w.put<uint8_t>(h.allowFields ? 1 : 0);
    w.text(name);
    if (v2) {
        w.put<uint8_t>(h.shared ? 1 : 0);
        w.text(boot);
    }
    return w.finish();
}

size_t SendableVideoBytes(const NDIlib_video_frame_v2_t& f) {
    const uint32_t fourCC = static_cast<uint32_t>(f.FourCC);
    const size_t bytes = PictureBytes(fourCC, f.xres, f.yres);
    if (bytes == 0 || !f.p_data || f.frame_rate_N <= 0 || f.frame_rate_D <= 0) return 0;
    if (f.frame_format_type < NDIlib_frame_format_type_interleaved ||
        f.frame_format_type > NDIlib_frame_format_type_field_1)
        return 0;
    if (f.line_stride_in_bytes > 0 &&
        static_cast<size_t>(f.line_stride_in_bytes) < BytesPerRow(fourCC, f.xres))
        return 0;
    return bytes;
}

void CopyPicture(const NDIlib_video_frame_v2_t& f, uint8_t* to) {
    const uint32_t fourCC = static_cast<uint32_t>(f.FourCC);
    const size_t row = BytesPerRow(fourCC, f.xres);
    const size_t stride =
        f.line_stride_in_bytes > 0 ? static_cast<size_t>(f.line_stride_in_bytes) : row;
    if (stride == row) {
        std::memcpy(to, f.p_data, row * f.yres);
    } else {
        for (int y = 0; y < f.yres; ++y)
            std::memcpy(to + row * y, f.p_data + stride * y, row);
    }
    if (fourCC == NDIlib_FourCC_video_type_UYVA) {
        // The alpha plane follows the UYVY plane, one byte per pixel.
        std::memcpy(to + row * f.yres, f.p_data + stride * f.yres,
                    static_cast<size_t>(f.xres) * f.yres);
    }
}

void PutVideoFields(Writer& w, const NDIlib_video_frame_v2_t& f, int64_t timecode,
                    int64_t timestamp, std::string_view meta) {
    const float aspect = (f.picture_aspect_ratio >= 0.0f && f.picture_aspect_ratio <= 100.0f)
                             ? f.picture_aspect_ratio
                             : 0.0f;
    w.put<int32_t>(f.xres);
    w.put<int32_t>(f.yres);
    w.put<uint32_t>(static_cast<uint32_t>(f.FourCC));
    w.put<int32_t>(f.frame_rate_N);
    w.put<int32_t>(f.frame_rate_D);
    w.put<float>(aspect);
    w.put<int32_t>(f.frame_format_type);
    w.put<int64_t>(timecode);
    w.put<int64_t>(timestamp);
    w.text(meta);
}

Message EncodeVideo(const NDIlib_video_frame_v2_t& f, int64_t timecode, int64_t timestamp) {
    const size_t bytes = SendableVideoBytes(f);
    if (bytes == 0) return nullptr;
    const std::string_view meta = CText(f.p_metadata);
    Writer w(MessageType::Video, kVideoFixed + 4 + meta.size() + bytes);
    PutVideoFields(w, f, timecode, timestamp, meta);
    if (uint8_t* to = w.reserve(bytes)) CopyPicture(f, to);
    return w.finish();
}

Message EncodeAudio(const NDIlib_audio_frame_v2_t& f, int64_t timecode, int64_t timestamp) {
    if (!f.p_data || f.sample_rate < 1 || f.sample_rate > kMaxSampleRate || f.no_channels < 1 ||
        f.no_channels > kMaxChannels || f.no_samples < 1 || f.no_samples > kMaxSamples)
        return nullptr;
    const size_t plane = static_cast<size_t>(f.no_samples) * 4;
    const size_t stride =
        f.channel_stride_in_bytes > 0 ? static_cast<size_t>(f.channel_stride_in_bytes) : plane;
    if (stride < plane) return nullptr;
    const std::string_view meta = CText(f.p_metadata);
    Writer w(MessageType::Audio, kAudioFixed + 4 + meta.size() + plane * f.no_channels);
    w.put<int32_t>(f.sample_rate);
    w.put<int32_t>(f.no_channels);
    w.put<int32_t>(f.no_samples);
    w.put<int64_t>(timecode);
    w.put<int64_t>(timestamp);
    w.text(meta);
    const auto* base = reinterpret_cast<const uint8_t*>(f.p_data);
    for (int c = 0; c < f.no_channels; ++c)
        w.bytes(base + stride * c, plane);
    return w.finish();
}

Message EncodeMetadata(std::string_view text, int64_t timecode) {
    text = text.substr(0, std::min(text.size(), kMaxMetadata));
    text = text.substr(0, text.find('\0'));
    Writer w(MessageType::Metadata, 12 + text.size());
    w.put<int64_t>(timecode);
    w.text(text);
    return w.finish();
}

Message EncodeTally(bool onProgram, bool onPreview) {
    Writer w(MessageType::Tally, 2);
    w.put<uint8_t>(onProgram ? 1 : 0);
    w.put<uint8_t>(onPreview ? 1 : 0);
    return w.finish();
}

std::string_view MetadataText(const NDIlib_metadata_frame_t& f) {
    if (!f.p_data) return {};
    size_t limit = kMaxMetadata;
    if (f.length > 0) limit = std::min(limit, static_cast<size_t>(f.length));
    return std::string_view(f.p_data, strnlen(f.p_data, limit));
}

}  // namespace velmor::wire
