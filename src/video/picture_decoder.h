// The platform service that decodes picture files (BMP, GIF, JPEG, PNG, TIFF) into BGRA pictures
// for the overlay and makes their thumbnails; Qt implements it in platform/.
#pragma once

#include <string>

#include "video/image_buffer.h"

namespace velmor {

// Larger pictures are refused before they are decoded: one such picture already takes 512 MiB
// in its two overlay copies.
inline constexpr int kMaxOverlayPictureSide = 8192;

struct PictureLoad {
    enum Result { Loaded, Unreadable, TooLarge };
    Result result = Unreadable;
    int width = 0, height = 0;  // the file's picture size when it was read (TooLarge too)
    bool ok() const { return result == Loaded; }
};

// Both operations run on the overlay window's loading workers, possibly on two workers at once:
// an implementation keeps no state between calls (or guards it).
class IPictureDecoder {
public:
    virtual ~IPictureDecoder() = default;
    // Decodes `path` into `picture` (kind BGRA, the file's alpha, alpha 0 for a file without
    // alpha; `name`, `path` and the decoded size set). On failure the pixels stay as they were.
    virtual PictureLoad Load(ImageBuffer& picture, const std::string& path) = 0;
    // The w x h thumbnail of a loaded picture: scaled to the full width when its aspect is at
    // least 16:9, else to the full height, centred, transparent around (BGRA, premultiplied
    // alpha; a picture decoded without alpha is shown opaque). False (and `thumbnail` left as it
    // was) when none can be made; the window then shows none.
    virtual bool MakeThumbnail(const ImageBuffer& /*picture*/, int /*w*/, int /*h*/,
                               ImageBuffer& /*thumbnail*/) {
        return false;
    }
};

}  // namespace velmor
