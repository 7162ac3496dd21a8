#include "relay/text_box.h"

namespace velmor {

bool PublishTextBox(OverlayState& overlay, std::string_view utf8, int frameWidth, int frameHeight,
                    ITextRasteriser& rasteriser) {
    if (frameWidth <= 0 || frameHeight <= 0) return false;
    OverlayPicture& picture = overlay.pictures.Back();
    if (!picture.bgra.FillColour(frameWidth * 7 / 8, frameHeight / 6, 0, 0, 0, 255) ||
        !picture.bgra.RenderText(utf8, 175, rasteriser) || !picture.uyva.CopyRGBAdataFrom(picture.bgra)) {
        return false;
    }
    picture.uyva.ConvertToUYVA();
    picture.overlayAnchor = kAnchorBottomCentre;
    picture.overlayX = 0;
    picture.overlayY = frameHeight / 12;
    overlay.sequenceMode = 0;
    overlay.pictures.Publish();
    return true;
}

}  // namespace velmor
