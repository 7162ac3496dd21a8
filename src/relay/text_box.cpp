#include "relay/text_box.h"

namespace velmor {

bool PublishTextBox(OverlayState& overlay, std::string_view utf8, int frameWidth, int frameHeight,
                    ITextRasteriser& rasteriser) {
    if (frameWidth <= 0 || frameHeight <= 0) return false;
    const std::shared_ptr<OverlayNode> node = MakeOverlayNode(overlay);
    if (!node->bgra.FillColour(frameWidth * 7 / 8, frameHeight / 6, 0, 0, 0, 255) ||
        !node->bgra.RenderText(utf8, 175, rasteriser) || !node->uyva.CopyRGBAdataFrom(node->bgra)) {
        return false;
    }
    node->uyva.ConvertToUYVA();
    CountOverlayNode(overlay, *node);
    // The box replaces the whole list, a sequence still loading included.
    overlay.sequenceLoading = 0;
    overlay.loadingNodes.clear();
    overlay.sequenceCount = 1;
    overlay.sequenceMode = 0;
    overlay.imageLoaded = 1;
    overlay.placement.overlayAnchor = kAnchorBottomCentre;
    overlay.placement.overlayY = frameHeight / 12;
    PublishPictures(overlay, {node});
    return true;
}

}  // namespace velmor
