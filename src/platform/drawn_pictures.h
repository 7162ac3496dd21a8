// Every picture Velmor shows or burns in is drawn here at start-up: the timecode glyphs, the status
// lamps, the monitor level speakers and the preview's idle picture.
#pragma once

#include <QImage>

#include "engine/window_bridge.h"  // Lamp
#include "video/image_buffer.h"

namespace velmor {

inline constexpr int kGlyphDigitWidth = 56;
inline constexpr int kGlyphColonWidth = 24;
inline constexpr int kGlyphHeight = 72;
inline constexpr int kTimecodeGlyphs = 11;

// Fills glyphs[0..9] with the digits 0-9 (56 x 72) and glyphs[10] with the colon (24 x 72) as
// opaque BGRA pictures, white on black; PrepareDigitImages (video/timecode_burn_in.h) then derives
// the UYVA copies. `count` must be at least 11. False when a picture cannot be made.
bool DrawTimecodeGlyphs(ImageBuffer* glyphs, int count);

// A round status lamp, `size` pixels square, transparent around the disc.
QImage LampPicture(Lamp lamp, int size = 16);
// The lamp's colour in words ("grey", "red", "green", "amber", "blue", "magenta"), for logs and
// screen readers.
const char* LampColourName(Lamp lamp);

// The monitor level picture: 2 Full, 1 Dim, 0 Mute (24 pixels high, so that the click rows
// 0-8, 9-16 and 17+ fall on its top, middle and bottom thirds).
QImage SpeakerPicture(int level);

// The preview's picture while no source is shown, 480 x 270.
QImage IdlePicture();

}  // namespace velmor
