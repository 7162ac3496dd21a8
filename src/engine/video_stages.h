// The stages of the video path, in the order engine/video_path.cpp runs them. Each says what it
// owns, what it reads (from its configuration, from the frame, or through a reference it was made
// with) and what it writes or reports. Every call runs on the video thread; the references given
// at construction are to values made for sharing between threads (atomics, publishers), and the
// comment of each says which.
//
// Defined in picture_stages.cpp (de-interlace to timecode), output_stages.cpp (freeze and grab to
// preview) and return_stages.cpp (release, tally, time display).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/video_outputs.h"
#include "engine/video_stage.h"
#include "relay/freeze_latch.h"
#include "relay/overlay_state.h"
#include "video/blend_rows.h"
#include "video/frame_transforms.h"
#include "video/image_buffer.h"
#include "video/key_split.h"
#include "video/proc_amp.h"
#include "video/timecode_burn_in.h"

namespace velmor {

struct MeterPicture;

// --- The picture (picture_stages.cpp) ---

// An interleaved frame made progressive in the chosen mode.
// Reads: settings.deinterlaceMode. Owns: the row kernels chosen, the unfiltered line that
// "Blend fields" carries from one band to the next.
class DeinterlaceStage : public VideoStage {
public:
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    BandRole Role() const override { return BandRole::Rows; }
    RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) override;
    void End(PathFrame& frame) override;
    // Which lines bands must start on, 0 even or 1 odd (-1 any): a field mode makes the lines of
    // one field from the lines of the other around them, so the line above a band must belong to
    // the field it reads, which the stages after this one have not changed in that band yet.
    int BandStartParity() const;

private:
    int mode_ = 0;
    const DeinterlaceRows* rows_ = nullptr;
    // On whole cache lines: the row kernels load and store it 32 bytes at a time, and loads split
    // across two lines made the band form a third slower.
    struct alignas(64) CacheLine {
        uint8_t bytes[64];
    };
    std::vector<CacheLine> carry_;
};

// The proc amp tables on the output: every UYVY byte, or BGRA alpha.
// Reads: settings.procAmpOnOutput, frame.tables. Owns: the kernel chosen for the format.
class ProcAmpStage : public VideoStage {
public:
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    BandRole Role() const override { return BandRole::Rows; }
    RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) override;

private:
    ProcAmpFrameFn apply_ = nullptr;
    ProcAmpRowsFn rows_ = nullptr;
};

// The image, sequence or text-box overlay: the current picture of the published list blended at
// its place, a sequence stepped on by one picture a frame.
// Reads: settings.overlayOn, frame.overlaySequence, the overlay window's published lists (made
// with: the publisher, lock-free for its one reader). Owns: where the sequence stands. Writes: the
// index of the picture drawn (an atomic the window may read).
class OverlayStage : public VideoStage {
public:
    OverlayStage(SnapshotPublisher<OverlayList>& pictures, std::atomic<int32_t>& currentImage)
        : pictures_(pictures), currentImage_(currentImage) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    BandRole Role() const override { return BandRole::Rows; }
    void Begin(PathFrame& frame) override;
    RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) override;
    void End(PathFrame& frame) override;

private:
    SnapshotPublisher<OverlayList>& pictures_;
    std::atomic<int32_t>& currentImage_;
    OverlayStep step_;
    const OverlayList* list_ = nullptr;  // between Begin and End
    int drawn_ = -1;                     // the picture of list_ this frame gets
    PixelKind kind_ = PixelKind::None;   // of the frames; None: not drawn on, still stepped
    const BlendRowKernels* blend_ = nullptr;
};

// The meter source's picture: two BGRA buffers used in turn, because the sender may read the one
// sent last until the next send; each is cleared before the meter is drawn into it at a new place.
class MeterOutput {
public:
    // For frames of `format` at the output's rate: sized (grown, never shrunk) and described.
    // False when memory runs out (then there is no meter source picture).
    bool Configure(const StreamFormat& format, const OutputFormat& output, VideoOutputs& outputs);
    // The buffer to draw into, cleared first when it holds the meter at an old place.
    uint8_t* DrawTarget(bool placedAgain);
    const NDIlib_video_frame_v2_t& frame() const { return frame_; }
    bool ready() const { return ready_; }
    // After `frame()` was sent: the next meter goes into the other buffer.
    void Sent();

private:
    std::vector<uint8_t> buffers_[2];
    int current_ = 0;
    bool stale_[2] = {false, false};
    size_t bytes_ = 0;
    bool ready_ = false;
    NDIlib_video_frame_v2_t frame_{};
};

// The meter on the frame (copied onto BGRA, blended onto UYVY) and into the meter source's picture.
// Reads: settings.meterOn, meterOnFrame, meterSeparate; frame.meter (the newest finished meter
// picture, lock-free), frame.meterPosH and meterPosV; bit 0 of the meter's change bits (made with:
// an atomic the window and the audio thread set; this stage clears it once the meter is placed
// again). Owns: the meter source's picture (MeterOutput, sent by the send stage), the UYVA scratch
// picture, the placement kept between frames.
class MeterStage : public VideoStage {
public:
    MeterStage(std::atomic<uint8_t>& changeFlags, VideoOutputs& outputs)
        : changeFlags_(changeFlags), outputs_(outputs) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    BandRole Role() const override { return BandRole::Rows; }
    void Begin(PathFrame& frame) override;
    RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) override;
    MeterOutput& output() { return output_; }

private:
    // Chooses and places the meter picture for this frame and draws the meter source's picture;
    // false when no meter goes on this frame.
    bool Prepare(PathFrame& frame);
    void DrawOnFrame(const FrameView& picture, RowSpan rows);

    std::atomic<uint8_t>& changeFlags_;
    VideoOutputs& outputs_;
    enum class OnFrame { None, Copy, Blend } onFrame_ = OnFrame::None;
    bool separate_ = false;
    bool uyvaWanted_ = false;
    const BlendRowKernels* blend_ = nullptr;
    MeterOutput output_;
    ImageBuffer scratch_;            // the meter picture in UYVA when the meter has none ready
    int meterX_ = 20, meterY_ = 20;  // placement of the meter picture, kept between frames
    uint32_t placedGeometry_ = 0;    // MeterPicture::geometry of the picture placed last
    // What Prepare chose for the frame: the picture drawn on it (null: none), where and how.
    const ImageBuffer* framePicture_ = nullptr;
    int drawX_ = 0, drawY_ = 0, drawAnchor_ = 0;
};

// Rotation or flip: flips in place, quarter turns into the stage's work picture, which the frame
// then describes. In bands the mirror stays in place, the quarter turn takes each band into the
// work picture, and the half turn and the vertical flip move each band's rows into it too (their
// rows land where the stages after them can go on with them).
// The moved picture is built straight in the memory the main output's sender lends, when it lends
// some and nothing reads the picture after the send (chain.sentPictureLendable): it then goes out
// without another copy.
// Reads: settings.rotationMode. Owns: the kernels, the work picture. Lends through outputs.
class GeometryStage : public VideoStage {
public:
    explicit GeometryStage(VideoOutputs& outputs) : outputs_(outputs) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    BandRole Role() const override { return role_; }
    void Begin(PathFrame& frame) override;
    RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) override;

private:
    // Where this frame's moved picture goes: memory the main output's sender lends, else the
    // work picture. The frame then describes it.
    void PickTarget(NDIlib_video_frame_v2_t& f);

    VideoOutputs& outputs_;
    bool lendable_ = false;     // the moved picture may be built in lent memory
    uint8_t* target_ = nullptr;  // this frame's moved picture

    QuarterTurnFn turn_ = nullptr;
    InPlaceFn inPlace_ = nullptr;
    QuarterTurnBandFn turnBand_ = nullptr;
    int turnRows_ = 0;  // source rows the quarter turn takes at a time in bands
    int turnedTo_ = 0;  // the source rows above this one are turned
    MirrorBandFn mirrorBand_ = nullptr;
    MoveBandFn moveBand_ = nullptr;
    BandRole role_ = BandRole::None;
    ImageBuffer turned_;     // the quarter turn's picture, or the moved bands'
    StreamFormat turnedAs_;  // what the quarter turn or the moved bands produce
};

// The frame's timecode burnt in. Reads: settings.timecodeBurnIn, frame.rate and frameDuration, the
// timecode glyphs (made with: drawn once at start-up, read only). Owns: the glyph set chosen.
class TimecodeStage : public VideoStage {
public:
    explicit TimecodeStage(const ImageBuffer (&glyphs)[kDigitImageCount]) : glyphs_(glyphs) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    BandRole Role() const override { return BandRole::Rows; }
    RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) override;

private:
    const ImageBuffer (&glyphs_)[kDigitImageCount];
    TimecodeGlyphSet set_;
    const BlendRowKernels* blend_ = nullptr;
};

// --- The outputs (output_stages.cpp) ---

// A requested freeze copies the frame (the last one sent until it is released); a requested grab
// copies the frame and hands the copy to the grab writer; one grab of a held picture.
// Reads and advances: the freeze latch and the grab request (made with: atomics the window sets;
// every change of the freeze a compare-and-swap). Owns: the grab picture. Reports through outputs.
class FreezeGrabStage : public VideoStage {
public:
    FreezeGrabStage(FreezeLatch& freeze, std::atomic<int32_t>& grabRequest, VideoOutputs& outputs)
        : freeze_(freeze), grabRequest_(grabRequest), outputs_(outputs) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    // While a freeze is held (before the stages run): the one grab of the held picture.
    void GrabHeldPicture();

private:
    void CopyToGrabPicture(const PathFrame& frame);

    FreezeLatch& freeze_;
    std::atomic<int32_t>& grabRequest_;
    VideoOutputs& outputs_;
    ImageBuffer picture_;
    bool packedUyvy_ = false;  // the grab is a UYVY picture, else 4 bytes a pixel
};

// Key+fill split: the key output's UYVY luma carries the frame's alpha; a frame without alpha
// switches the split off (through outputs). Reads: settings.keySplit, the output's rate. Owns: the
// key output's buffer and descriptor, handed on in frame.key.
class KeySplitStage : public VideoStage {
public:
    explicit KeySplitStage(VideoOutputs& outputs) : outputs_(outputs) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    // Reads the picture and writes the key's rows of the same band.
    BandRole Role() const override { return BandRole::Rows; }
    void Begin(PathFrame& frame) override;
    RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) override;

private:
    VideoOutputs& outputs_;
    enum class Action { SwitchOff, MakeKey, NoRoom } action_ = Action::NoRoom;
    KeyRowFn row_ = nullptr;
    std::vector<uint8_t> buffer_;
    NDIlib_video_frame_v2_t key_{};
};

// Send: on AirSend when it is the output, otherwise on NDI (nothing in comms-return mode): the main
// output, the key output with the fill stripped of its alpha, and the meter source.
// Reads: settings.airSend, commsReturn, meterSend; frame.key; the meter stage's MeterOutput
// (made with). Sends through outputs.
class SendStage : public VideoStage {
public:
    SendStage(VideoOutputs& outputs, MeterOutput& meter) : outputs_(outputs), meter_(meter) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    VideoOutputs& outputs_;
    MeterOutput& meter_;
    enum class Output { AirSendYCbCr, AirSendBGRA, AirSendNothing, Ndi } output_ = Output::Ndi;
    bool key_ = false;
    bool sendMeter_ = false;
};

// The preview: the proc amp window's monitor while it is open (with the tables on the preview
// alone when they are not applied to the output), otherwise the main preview when it is on.
// Reads: settings.monitorPreview, procAmpOnPreview, previewOn; frame.tables. Shows through outputs.
class PreviewStage : public VideoStage {
public:
    explicit PreviewStage(VideoOutputs& outputs) : outputs_(outputs) {}
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    VideoOutputs& outputs_;
    PreviewTarget target_ = PreviewTarget::Main;
    ProcAmpFrameFn procAmp_ = nullptr;  // the tables on the preview only
};

// --- Back to the receiver (return_stages.cpp) ---

// The received frame back to the receiver, as it came.
class ReleaseStage : public VideoStage {
public:
    explicit ReleaseStage(VideoOutputs& outputs) : outputs_(outputs) {}
    bool Configure(StageChain&) override { return true; }
    void Run(PathFrame& frame) override;

private:
    VideoOutputs& outputs_;
};

// The tally the output's receivers report goes upstream, and a change shows on the preview.
// Owns: the tally seen last.
class TallyStage : public VideoStage {
public:
    explicit TallyStage(VideoOutputs& outputs) : outputs_(outputs) {}
    bool Configure(StageChain&) override { return true; }
    void Run(PathFrame& frame) override;
    void Reset() { last_ = {}; }

private:
    VideoOutputs& outputs_;
    NDIlib_tally_t last_{};
};

// The time display, once a second of the frame's timecode. Reads: settings.previewOn. Owns: the
// second shown last.
class TimeDisplayStage : public VideoStage {
public:
    explicit TimeDisplayStage(VideoOutputs& outputs) : outputs_(outputs) {}
    bool Configure(StageChain& chain) override { return chain.settings.previewOn; }
    void Run(PathFrame& frame) override;
    void Reset() { lastSecond_ = 0; }

private:
    VideoOutputs& outputs_;
    int lastSecond_ = 0;
};

}  // namespace velmor
