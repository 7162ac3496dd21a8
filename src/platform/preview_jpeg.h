// The preview picture as a JPEG file's bytes, for the HTTP front end: the renderer's bitmap
// scaled to its picture aspect ratio and to at most `maxWidth` pixels across. Reentrant: runs on
// any thread (the front end's encoder), never the window's.
#pragma once

#include <string>

#include "video/preview_render.h"

namespace velmor {

// Empty for a bitmap without pixels (before the first frame).
std::string EncodePreviewJpeg(const PreviewBitmap& bitmap, int maxWidth, int quality);

}  // namespace velmor
