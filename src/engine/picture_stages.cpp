// The stages that change the picture: de-interlace, proc amp, picture overlay, meter, rotation or
// flip, timecode.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/video_stages.h"

namespace velmor {

namespace {

// The DrawOnto kind of frames of `layout`; 0 for layouts pictures are not drawn onto.
int DrawKind(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::Uyvy:
            return kPixelUYVY;
        case PixelLayout::Bgra:
        case PixelLayout::Bgrx:
            return kPixelBGRA;
        case PixelLayout::Other:
            break;
    }
    return 0;
}

}  // namespace

// De-interlace: an interleaved frame becomes progressive in the chosen mode.
bool DeinterlaceStage::Configure(StageChain& chain) {
    const StreamFormat& f = chain.format;
    mode_ = chain.settings.deinterlaceMode;
    // The de-interlacer refuses a mode below 1; a frame passed the limits has data and sizes.
    if (mode_ <= 0 || f.frameFormatType != NDIlib_frame_format_type_interleaved || f.width <= 0 ||
        f.height <= 0 || f.stride <= 0)
        return false;
    rows_ = &DeinterlaceRowsFor(BestKernelLevel());
    chain.format.frameFormatType = NDIlib_frame_format_type_progressive;
    return true;
}

void DeinterlaceStage::Run(PathFrame& frame) {
    NDIlib_video_frame_v2_t& f = frame.out;
    Deinterlace(mode_, f.xres, f.yres, f.line_stride_in_bytes, f.p_data, *rows_);
    f.frame_format_type = NDIlib_frame_format_type_progressive;
}

// Proc amp on the output: the tables on every UYVY byte, or on BGRA alpha.
bool ProcAmpStage::Configure(StageChain& chain) {
    apply_ = ProcAmpFor(chain.format.fourCC);
    return chain.settings.procAmpOnOutput && apply_;
}

void ProcAmpStage::Run(PathFrame& frame) {
    apply_(frame.view(), *frame.tables);
}

// The image, sequence or text-box overlay (relay/overlay_state.h): the current picture of the list
// blended at its place, its UYVA copy onto UYVY frames, its BGRA picture onto BGRA and BGRX ones,
// and a sequence stepped on by one picture. Frames of other kinds are not drawn on, but a sequence
// still steps, so it keeps time with the frames.
bool OverlayStage::Configure(StageChain& chain) {
    kind_ = DrawKind(chain.format.layout());
    blend_ = &BlendRowsFor(BestKernelLevel());
    return chain.settings.overlayOn;
}

void OverlayStage::Run(PathFrame& frame) {
    DrawImageOverlay(c_.r.overlaySetup, frame.view(), kind_, *blend_);
}

// The meter overlay and the meter source's picture. The meter's own pictures change with the
// audio, so whether there is one to draw is decided per frame; where and how is configured.
bool MeterStage::Configure(StageChain& chain) {
    const VideoSettings& s = chain.settings;
    const PixelLayout layout = chain.format.layout();
    onFrame_ = OnFrame::None;
    if (s.meterOnFrame && layout == PixelLayout::Bgra) onFrame_ = OnFrame::Copy;
    if (s.meterOnFrame && layout == PixelLayout::Uyvy) onFrame_ = OnFrame::Blend;
    separate_ = s.meterSeparate;
    blend_ = &BlendRowsFor(BestKernelLevel());
    if (PpmMeter* meter = c_.r.ppmMeter.get())
        meter->uyvaWanted.store(s.meterOn && onFrame_ == OnFrame::Blend, std::memory_order_relaxed);
    return s.meterOn;
}

void MeterStage::DrawOnFrame(PathFrame& frame, const MeterPicture& current, int x, int y,
                             int anchor) {
    const NDIlib_video_frame_v2_t& f = frame.out;
    if (onFrame_ == OnFrame::Copy) {
        current.picture.DrawOnto(x, y, anchor, kDrawCopy, f.p_data, kPixelBGRA, f.xres, f.yres,
                                 f.line_stride_in_bytes);
        return;
    }
    // UYVY frames take the picture in UYVA; the meter makes that copy with the picture, and only
    // a picture made before the copy was asked for is converted here.
    const ImageBuffer* uyva = &current.uyva;
    if (!current.uyvaReady) {
        ImageBuffer& scratch = c_.r.meterScratch;
        if (!scratch.CopyRGBAdataFrom(current.picture)) return;
        scratch.ConvertToUYVA();
        uyva = &scratch;
    }
    uyva->DrawOnto(x, y, anchor, kDrawBlend, f.p_data, kPixelUYVY, f.xres, f.yres,
                   f.line_stride_in_bytes, *blend_);
}

void MeterStage::Run(PathFrame& frame) {
    RelayRecord& r = c_.r;
    PpmMeter* meter = r.ppmMeter.get();
    // While the meter sizes its pictures again, the old picture is not laid on the new frame.
    if (!meter || meter->meterGeometryDirty.load(std::memory_order_acquire)) return;
    const MeterPicture* current = meter->AcquireOverlayPicture();
    const ImageBuffer& picture = current->picture;
    const NDIlib_video_frame_v2_t& f = frame.out;
    if (picture.empty() || picture.pixelKind != kPixelBGRA || picture.width >= f.xres ||
        picture.height >= f.yres)
        return;

    const MeterSettings& ms = r.meterSettings;
    std::atomic<uint8_t>& flags = r.meterLink.meterChangeFlags;
    // A picture sized or laid out differently from the one placed last (a new layout chosen in
    // the configuration window, a new frame size) is placed again even without bit 0: its place
    // depends on its size.
    const bool replace =
        (flags.load() & kMeterChangePicture) || current->geometry != placedGeometry_;
    if (replace) {
        // The positions are percentages; whatever a file held, the product stays in range.
        const int64_t h = std::clamp(LoadMeterSetting(ms.meterPosH), 0, 100);
        const int64_t v = std::clamp(LoadMeterSetting(ms.meterPosV), 0, 100);
        meterX_ = static_cast<int>((f.xres - picture.width - 40) * h / 100 + 20);
        meterY_ = static_cast<int>((f.yres - picture.height - 40) * v / 100 + 20);
        placedGeometry_ = current->geometry;
    }
    // Placed by the layout the picture was drawn for, which may still be the old one for a few
    // frames after the layout was chosen. The vertical meter stands at column x, centred down; the
    // others lie at height y, centred across.
    const bool vertical = current->layout == 1;
    const int x = vertical ? meterX_ : 0, y = vertical ? 0 : meterY_;
    const int anchor = vertical ? kAnchorCentreDown : kAnchorCentreAcross;
    if (onFrame_ != OnFrame::None) DrawOnFrame(frame, *current, x, y, anchor);
    const NDIlib_video_frame_v2_t& ppm = r.ppmFrame;
    const size_t ppmBytes = static_cast<size_t>(ppm.xres) * ppm.yres * 4;
    if (separate_ && ppmBytes <= r.ppmBuffer.size()) {
        // The other buffer still holds the meter at its old place: it is cleared when its turn
        // comes (it may be in the sender's hands now).
        if (replace) r.ppmSpareStale = true;
        if (replace || r.ppmStale) std::memset(r.ppmBuffer.data(), 0, ppmBytes);
        r.ppmStale = false;
        picture.DrawOnto(x, y, anchor, kDrawCopy, r.ppmBuffer.data(), kPixelBGRA, ppm.xres,
                         ppm.yres);
    }
    if (replace) flags.fetch_and(static_cast<uint8_t>(~(kMeterChangePicture | kMeterChangeBit7)));
}

// Rotation or flip. The quarter turns write the work picture, and the frame then describes the
// turned picture: sides exchanged, the aspect ratio inverted, packed rows.
bool GeometryStage::Configure(StageChain& chain) {
    const StreamFormat& f = chain.format;
    const PixelLayout layout = f.layout();
    const int mode = chain.settings.rotationMode;
    turn_ = nullptr;
    inPlace_ = nullptr;
    if (layout != PixelLayout::Uyvy && layout != PixelLayout::Bgra) return false;
    const bool uyvy = layout == PixelLayout::Uyvy;
    inPlace_ = InPlaceFor(uyvy, mode, BestKernelLevel());
    if (inPlace_) return true;
    turn_ = QuarterTurnFor(uyvy, mode, BestKernelLevel());
    if (!turn_) return false;
    // The work picture is sized here; turning frames of this format never allocates. Without it
    // the frames go out unturned.
    ImageBuffer& turned = c_.r.rotateImage;
    if (!turned.Reshape(f.height, f.width, uyvy ? kPixelUYVY : kPixelBGRA)) {
        turned.Clear();
        turn_ = nullptr;
        return false;
    }
    turned_ = f;
    std::swap(turned_.width, turned_.height);
    if (turned_.aspect != 0.0f) turned_.aspect = 1.0f / turned_.aspect;
    turned_.stride = turned_.width * (uyvy ? 2 : 4);
    chain.format = turned_;
    return true;
}

void GeometryStage::Run(PathFrame& frame) {
    NDIlib_video_frame_v2_t& f = frame.out;
    if (inPlace_) {
        inPlace_(f.xres, f.yres, f.p_data, f.line_stride_in_bytes);
        return;
    }
    ImageBuffer& turned = c_.r.rotateImage;
    if (!turn_(f.xres, f.yres, f.p_data, f.line_stride_in_bytes, turned)) return;
    f.xres = turned_.width;
    f.yres = turned_.height;
    f.picture_aspect_ratio = turned_.aspect;
    f.line_stride_in_bytes = turned_.stride;
    f.p_data = turned.pixels();
}

// The frame's timecode burnt in, in the glyphs of its layout.
bool TimecodeStage::Configure(StageChain& chain) {
    glyphs_ = TimecodeGlyphSetFor(chain.format.fourCC);
    blend_ = &BlendRowsFor(BestKernelLevel());
    return chain.settings.timecodeBurnIn && glyphs_.first >= 0;
}

void TimecodeStage::Run(PathFrame& frame) {
    BurnInTimecode(frame.view(), glyphs_, frame.out.timecode, frame.rate, c_.r.frameDuration,
                   c_.r.digitImages, *blend_);
}

}  // namespace velmor
