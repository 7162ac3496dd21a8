// The stages that change the picture: de-interlace, proc amp, picture overlay, meter, rotation or
// flip, timecode (video_stages.h says what each owns and reads).
#include <algorithm>
#include <cstring>
#include <new>

#include "audio/meter_pictures.h"
#include "audio/meter_settings.h"
#include "engine/video_stages.h"

namespace velmor {

bool DeinterlaceStage::Configure(StageChain& chain) {
    const StreamFormat& f = chain.format;
    mode_ = chain.settings.deinterlaceMode;
    // The de-interlacer refuses a mode below 1; a frame passed the limits has data and sizes.
    if (mode_ <= 0 || f.frameFormatType != NDIlib_frame_format_type_interleaved || f.width <= 0 ||
        f.height <= 0 || f.stride <= 0)
        return false;
    rows_ = &DeinterlaceRowsFor(BestKernelLevel());
    // The carry of "Blend fields" is sized here, so that bands never allocate.
    if (mode_ == 1) carry_.resize((static_cast<size_t>(f.stride) + 63) / 64);
    chain.format.frameFormatType = NDIlib_frame_format_type_progressive;
    return true;
}

void DeinterlaceStage::Run(PathFrame& frame) {
    NDIlib_video_frame_v2_t& f = frame.out;
    Deinterlace(mode_, f.xres, f.yres, f.line_stride_in_bytes, f.p_data, *rows_);
    End(frame);
}

RowSpan DeinterlaceStage::Band(PathFrame&, const FrameView& v, RowSpan rows) {
    // Only "Blend fields" has a carry; the field modes take none.
    uint8_t* carry = carry_.empty() ? nullptr : carry_.front().bytes;
    DeinterlaceBand(mode_, v.width, v.height, v.stride, v.data, rows.first, rows.end, carry,
                    *rows_);
    return rows;
}

void DeinterlaceStage::End(PathFrame& frame) {
    frame.out.frame_format_type = NDIlib_frame_format_type_progressive;
}

int DeinterlaceStage::BandStartParity() const {
    if (mode_ == 2) return 0;  // odd lines from the even ones: the line above a band is even
    if (mode_ == 3) return 1;  // even lines from the odd ones
    return -1;                 // "Blend fields" carries the line above unfiltered
}

bool ProcAmpStage::Configure(StageChain& chain) {
    apply_ = ProcAmpFor(chain.format.fourCC);
    rows_ = ProcAmpRowsFor(chain.format.fourCC);
    return chain.settings.procAmpOnOutput && apply_ && rows_;
}

void ProcAmpStage::Run(PathFrame& frame) {
    apply_(frame.view(), *frame.tables);
}

RowSpan ProcAmpStage::Band(PathFrame& frame, const FrameView& picture, RowSpan rows) {
    rows_(picture, rows.first, rows.end, *frame.tables);
    return rows;
}

// UYVY frames take the UYVA copies of the pictures, BGRA and BGRX frames the BGRA pictures; frames
// of other kinds are not drawn on, but a sequence still steps, so it keeps time with the frames.
bool OverlayStage::Configure(StageChain& chain) {
    kind_ = chain.format.kind();
    blend_ = &BlendRowsFor(BestKernelLevel());
    return chain.settings.overlayOn;
}

void OverlayStage::Run(PathFrame& frame) {
    const OverlayList* list = pictures_.Acquire();
    const int drawn =
        DrawImageOverlay(list, step_, frame.overlaySequence, frame.view(), kind_, *blend_);
    if (drawn >= 0) currentImage_.store(drawn, std::memory_order_relaxed);
    pictures_.Release();
}

// The list is held from the first band to the last, and the sequence steps once a frame.
void OverlayStage::Begin(PathFrame& frame) {
    list_ = pictures_.Acquire();
    drawn_ = StepImageOverlay(list_, step_, frame.overlaySequence);
}

RowSpan OverlayStage::Band(PathFrame&, const FrameView& picture, RowSpan rows) {
    if (drawn_ >= 0) DrawOverlayPicture(*list_, drawn_, picture, kind_, *blend_, rows);
    return rows;
}

void OverlayStage::End(PathFrame&) {
    if (drawn_ >= 0) currentImage_.store(drawn_, std::memory_order_relaxed);
    list_ = nullptr;
    pictures_.Release();
}

bool MeterOutput::Configure(const StreamFormat& format, const OutputFormat& output,
                            VideoOutputs& outputs) {
    const size_t bytes = static_cast<size_t>(std::max(format.width, 0)) *
                         static_cast<size_t>(std::max(format.height, 0)) * 4;
    ready_ = false;
    if (bytes == 0) return false;
    if (buffers_[0].size() < bytes || buffers_[1].size() < bytes) {
        // The sender may still read the buffer it was given last: it lets go before they change.
        outputs.FlushMeter();
        try {
            for (std::vector<uint8_t>& b : buffers_)
                b.assign(bytes, 0);
        } catch (const std::bad_alloc&) {
            for (std::vector<uint8_t>& b : buffers_)
                b = {};
            return false;
        }
        stale_[0] = stale_[1] = false;
    } else if (bytes != bytes_) {
        stale_[0] = stale_[1] = true;  // the meter of another size is still in them
    }
    bytes_ = bytes;
    frame_ = {};
    frame_.xres = format.width;
    frame_.yres = format.height;
    frame_.FourCC = NDIlib_FourCC_video_type_BGRA;
    frame_.frame_rate_N = output.frameRateN;
    frame_.frame_rate_D = output.frameRateD;
    frame_.picture_aspect_ratio = output.aspect;
    frame_.frame_format_type = NDIlib_frame_format_type_progressive;
    frame_.timecode = NDIlib_send_timecode_synthesize;
    frame_.line_stride_in_bytes = format.width * 4;
    frame_.p_data = buffers_[current_].data();
    ready_ = true;
    return true;
}

uint8_t* MeterOutput::DrawTarget(bool placedAgain) {
    // The other buffer still holds the meter at its old place: it is cleared when its turn comes
    // (it may be in the sender's hands now).
    if (placedAgain) stale_[1 - current_] = true;
    uint8_t* buffer = buffers_[current_].data();
    if (placedAgain || stale_[current_]) std::memset(buffer, 0, bytes_);
    stale_[current_] = false;
    return buffer;
}

void MeterOutput::Sent() {
    current_ = 1 - current_;
    frame_.p_data = buffers_[current_].data();
}

// The meter's pictures change with the audio, so whether there is one to draw is decided per
// frame; where and how is configured.
bool MeterStage::Configure(StageChain& chain) {
    const VideoSettings& s = chain.settings;
    const StreamFormat& f = chain.format;
    onFrame_ = OnFrame::None;
    if (s.meterOnFrame && f.HasAlpha()) onFrame_ = OnFrame::Copy;
    if (s.meterOnFrame && f.IsUyvy()) onFrame_ = OnFrame::Blend;
    separate_ = s.meterSeparate && output_.Configure(f, chain.output, outputs_);
    blend_ = &BlendRowsFor(BestKernelLevel());
    uyvaWanted_ = s.meterOn && onFrame_ == OnFrame::Blend;
    return s.meterOn;
}

bool MeterStage::Prepare(PathFrame& frame) {
    framePicture_ = nullptr;
    MeterPictures* meter = frame.meter;
    if (!meter) return false;
    meter->WantUyva(uyvaWanted_);
    const MeterPicture* current = meter->Acquire();
    const ImageBuffer& picture = current->picture;
    const NDIlib_video_frame_v2_t& f = frame.out;
    // A picture made for frames of another size (the meter has not yet sized its pictures again)
    // is not laid on these frames.
    if (picture.empty() || picture.pixelKind != kPixelBGRA || current->frameWidth != f.xres ||
        current->frameHeight != f.yres || picture.width >= f.xres || picture.height >= f.yres)
        return false;

    // A picture sized or laid out differently from the one placed last (a new layout chosen in
    // the configuration window, a new frame size) is placed again even without bit 0: its place
    // depends on its size.
    const bool replace =
        (changeFlags_.load() & kMeterChangePicture) || current->geometry != placedGeometry_;
    if (replace) {
        // The positions are percentages; whatever a file held, the product stays in range.
        const int64_t h = std::clamp(frame.meterPosH, 0, 100);
        const int64_t v = std::clamp(frame.meterPosV, 0, 100);
        meterX_ = static_cast<int>((f.xres - picture.width - 40) * h / 100 + 20);
        meterY_ = static_cast<int>((f.yres - picture.height - 40) * v / 100 + 20);
        placedGeometry_ = current->geometry;
    }
    // Placed by the layout the picture was drawn for, which may still be the old one for a few
    // frames after the layout was chosen. The vertical meter stands at column x, centred down; the
    // others lie at height y, centred across.
    const bool vertical = current->layout == 1;
    drawX_ = vertical ? meterX_ : 0;
    drawY_ = vertical ? 0 : meterY_;
    drawAnchor_ = vertical ? kAnchorCentreDown : kAnchorCentreAcross;
    if (onFrame_ == OnFrame::Copy) {
        framePicture_ = &picture;
    } else if (onFrame_ == OnFrame::Blend) {
        // UYVY frames take the picture in UYVA; the meter makes that copy with the picture, and
        // only a picture made before the copy was asked for is converted here.
        framePicture_ = &current->uyva;
        if (!current->uyvaReady) {
            framePicture_ = nullptr;
            if (scratch_.CopyRGBAdataFrom(picture)) {
                scratch_.ConvertToUYVA();
                framePicture_ = &scratch_;
            }
        }
    }
    if (separate_) {
        const NDIlib_video_frame_v2_t& out = output_.frame();
        picture.DrawOnto(drawX_, drawY_, drawAnchor_, kDrawCopy, output_.DrawTarget(replace),
                         kPixelBGRA, out.xres, out.yres);
    }
    if (replace)
        changeFlags_.fetch_and(static_cast<uint8_t>(~(kMeterChangePicture | kMeterChangeBit7)));
    return framePicture_ != nullptr;
}

void MeterStage::DrawOnFrame(const FrameView& v, RowSpan rows) {
    if (!framePicture_) return;
    const bool copy = onFrame_ == OnFrame::Copy;
    framePicture_->DrawOnto(drawX_, drawY_, drawAnchor_, copy ? kDrawCopy : kDrawBlend, v.data,
                            copy ? kPixelBGRA : kPixelUYVY, v.width, v.height, v.stride, *blend_,
                            rows);
}

void MeterStage::Run(PathFrame& frame) {
    if (Prepare(frame)) DrawOnFrame(frame.view(), {});
}

void MeterStage::Begin(PathFrame& frame) {
    Prepare(frame);
}

RowSpan MeterStage::Band(PathFrame&, const FrameView& picture, RowSpan rows) {
    DrawOnFrame(picture, rows);
    return rows;
}

// The quarter turns write the stage's work picture, and the frame then describes the turned
// picture: sides exchanged, the aspect ratio inverted, packed rows. The bands of a half turn or a
// vertical flip go into the work picture too, the size of the frame with packed rows.
bool GeometryStage::Configure(StageChain& chain) {
    const StreamFormat& f = chain.format;
    const int mode = chain.settings.rotationMode;
    const KernelLevel level = BestKernelLevel();
    turn_ = nullptr;
    inPlace_ = nullptr;
    turnBand_ = nullptr;
    mirrorBand_ = nullptr;
    moveBand_ = nullptr;
    role_ = BandRole::None;
    lendable_ = false;
    if (!f.IsUyvy() && !f.HasAlpha()) return false;
    const bool uyvy = f.IsUyvy();
    const PixelKind kind = uyvy ? kPixelUYVY : kPixelBGRA;
    inPlace_ = InPlaceFor(uyvy, mode, level);
    if (inPlace_) {
        if (mode == 4) {
            mirrorBand_ = MirrorBandFor(uyvy);
            role_ = BandRole::Rows;
        } else if ((moveBand_ = MoveBandFor(uyvy, f.width, mode, level)) != nullptr) {
            // Without room for the moved bands the frame is turned in place, after the bands.
            if (turned_.Reshape(f.width, f.height, kind)) {
                turnedAs_ = f;
                turnedAs_.stride = f.width * (uyvy ? 2 : 4);
                role_ = BandRole::Moves;
                lendable_ = chain.sentPictureLendable;
            } else {
                turned_.Clear();
                moveBand_ = nullptr;
            }
        }
        return true;
    }
    turn_ = QuarterTurnFor(uyvy, mode, level);
    if (!turn_) return false;
    // The work picture is sized here; turning frames of this format never allocates. Without it
    // the frames go out unturned.
    if (!turned_.Reshape(f.height, f.width, kind)) {
        turned_.Clear();
        turn_ = nullptr;
        return false;
    }
    turnBand_ = QuarterTurnBandFor(uyvy, mode, level);
    turnRows_ = QuarterTurnBandRows(uyvy, f.width, f.height, level);
    role_ = BandRole::Ends;
    turnedAs_ = f;
    std::swap(turnedAs_.width, turnedAs_.height);
    if (turnedAs_.aspect != 0.0f) turnedAs_.aspect = 1.0f / turnedAs_.aspect;
    turnedAs_.stride = turnedAs_.width * (uyvy ? 2 : 4);
    chain.format = turnedAs_;
    // A UYVY picture of odd width has a packed layout of its own (its last half macropixel).
    lendable_ = chain.sentPictureLendable && turnBand_ && (!uyvy || turnedAs_.width % 2 == 0);
    return true;
}

void GeometryStage::PickTarget(NDIlib_video_frame_v2_t& f) {
    f.xres = turnedAs_.width;
    f.yres = turnedAs_.height;
    f.picture_aspect_ratio = turnedAs_.aspect;
    f.line_stride_in_bytes = turnedAs_.stride;
    target_ = lendable_ ? outputs_.LendMain(f) : nullptr;
    if (!target_) target_ = turned_.pixels();
    f.p_data = target_;
}

void GeometryStage::Run(PathFrame& frame) {
    NDIlib_video_frame_v2_t& f = frame.out;
    if (inPlace_ && !(lendable_ && moveBand_)) {
        inPlace_(f.xres, f.yres, f.p_data, f.line_stride_in_bytes);
        return;
    }
    const NDIlib_video_frame_v2_t source = f;
    PickTarget(f);
    if (moveBand_) {
        moveBand_(source.xres, source.yres, source.p_data, source.line_stride_in_bytes, target_,
                  turnedAs_.stride, 0, source.yres);
    } else if (target_ != turned_.pixels()) {
        turnBand_(source.xres, source.yres, source.p_data, source.line_stride_in_bytes, target_, 0,
                  source.yres);
    } else if (!turn_(source.xres, source.yres, source.p_data, source.line_stride_in_bytes,
                      turned_)) {
        f = source;
    }
}

void GeometryStage::Begin(PathFrame& frame) {
    if (role_ == BandRole::Moves || role_ == BandRole::Ends) PickTarget(frame.out);
    turnedTo_ = 0;
}

RowSpan GeometryStage::Band(PathFrame&, const FrameView& v, RowSpan rows) {
    switch (role_) {
        case BandRole::Rows:
            mirrorBand_(v.width, v.height, v.data, v.stride, rows.first, rows.end);
            return rows;
        case BandRole::Moves:
            return moveBand_(v.width, v.height, v.data, v.stride, target_, turnedAs_.stride,
                             rows.first, rows.end);
        case BandRole::Ends:
            // Bands are gathered until there are enough rows to turn at full speed.
            if (rows.end >= v.height || rows.end - turnedTo_ >= turnRows_) {
                turnBand_(v.width, v.height, v.data, v.stride, target_, turnedTo_, rows.end);
                turnedTo_ = rows.end;
            }
            return {0, 0};
        case BandRole::None:
            break;
    }
    return {0, 0};
}

bool TimecodeStage::Configure(StageChain& chain) {
    set_ = TimecodeGlyphSetFor(chain.format.fourCC);
    blend_ = &BlendRowsFor(BestKernelLevel());
    return chain.settings.timecodeBurnIn && set_.first >= 0;
}

void TimecodeStage::Run(PathFrame& frame) {
    BurnInTimecode(frame.view(), set_, frame.out.timecode, frame.rate, frame.frameDuration, glyphs_,
                   *blend_);
}

RowSpan TimecodeStage::Band(PathFrame& frame, const FrameView& picture, RowSpan rows) {
    BurnInTimecode(picture, set_, frame.out.timecode, frame.rate, frame.frameDuration, glyphs_,
                   *blend_, rows);
    return rows;
}

}  // namespace velmor
