// The text box overlay: one line of white text on a translucent black band, centred near the
// bottom of the output, as the overlay window's "Text Box" and the remote text-box message make it.
#pragma once

#include <string_view>

#include "relay/overlay_state.h"
#include "video/text_rasteriser.h"

namespace velmor {

// Window thread. Builds the text box for a frame of frameWidth x frameHeight (band frameWidth*7/8
// by frameHeight/6, background alpha 175, anchor 5, frameHeight/12 above the bottom) aside and
// publishes it as the whole overlay list (imageLoaded set, sequenceMode cleared, a sequence still
// loading ended). False (and nothing published) while the frame size is not known or the picture
// cannot be made.
bool PublishTextBox(OverlayState& overlay, std::string_view utf8, int frameWidth, int frameHeight,
                    ITextRasteriser& rasteriser);

}  // namespace velmor
