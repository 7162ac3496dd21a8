// The stages of the video path, in the order engine/video_path.cpp runs them. Each is described
// where it is defined: picture_stages.cpp (de-interlace to timecode), output_stages.cpp (freeze
// and grab to preview), return_stages.cpp (release, tally, time display).
#pragma once

#include <cstdint>

#include "engine/engine_context.h"
#include "engine/video_stage.h"
#include "video/blend_rows.h"
#include "video/frame_transforms.h"
#include "video/key_split.h"
#include "video/proc_amp.h"
#include "video/timecode_burn_in.h"

namespace velmor {

// A stage of this engine: every stage works on the engine's record, library and window.
class EngineStage : public VideoStage {
public:
    explicit EngineStage(EngineContext& c) : c_(c) {}

protected:
    EngineContext& c_;
};

// --- The picture (picture_stages.cpp) ---

class DeinterlaceStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    int mode_ = 0;
    const DeinterlaceRows* rows_ = nullptr;
};

class ProcAmpStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    ProcAmpFrameFn apply_ = nullptr;
};

class OverlayStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    int kind_ = 0;  // DrawOnto kind of the frames, 0 for kinds not drawn on
    const BlendRowKernels* blend_ = nullptr;
};

class MeterStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    void DrawOnFrame(PathFrame& frame, const MeterPicture& current, int x, int y, int anchor);

    enum class OnFrame { None, Copy, Blend } onFrame_ = OnFrame::None;
    bool separate_ = false;
    const BlendRowKernels* blend_ = nullptr;
    int meterX_ = 20, meterY_ = 20;  // placement of the meter picture, kept between frames
    uint32_t placedGeometry_ = 0;    // MeterPicture::geometry of the picture placed last
};

class GeometryStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    QuarterTurnFn turn_ = nullptr;
    InPlaceFn inPlace_ = nullptr;
    StreamFormat turned_;  // what a quarter turn produces
};

class TimecodeStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    TimecodeGlyphSet glyphs_;
    const BlendRowKernels* blend_ = nullptr;
};

// --- The outputs (output_stages.cpp) ---

class FreezeGrabStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;
    // While a freeze is held (before the stages run): the one grab of the held picture.
    void GrabHeldPicture();

private:
    void CopyToGrabImage(const PathFrame& frame);
    bool GrabReady();
    void DeliverGrab();

    bool packedUyvy_ = false;  // the grab is a UYVY picture, else 4 bytes a pixel
};

class KeySplitStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    enum class Action { SwitchOff, MakeKey, NoRoom } action_ = Action::NoRoom;
    KeyRowFn row_ = nullptr;
};

class SendStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    void SendMeterFrame(NDIlib_send_instance_t ppm);
    // One frame out on the main output: the counters and the delay behind the source.
    void Counted(const NDIlib_video_frame_v2_t& frame);

    enum class Output { AirSendYCbCr, AirSendBGRA, AirSendNothing, Ndi } output_ = Output::Ndi;
    bool key_ = false;
    bool meter_ = false;
};

class PreviewStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override;
    void Run(PathFrame& frame) override;

private:
    PreviewTarget target_ = PreviewTarget::Main;
    ProcAmpFrameFn procAmp_ = nullptr;  // the tables on the preview only
};

// --- Back to the receiver (return_stages.cpp) ---

class ReleaseStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain&) override { return true; }
    void Run(PathFrame& frame) override;
};

class TallyStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain&) override { return true; }
    void Run(PathFrame& frame) override;
    void Reset() { last_ = {}; }

private:
    NDIlib_tally_t last_{};
};

class TimeDisplayStage : public EngineStage {
public:
    using EngineStage::EngineStage;
    bool Configure(StageChain& chain) override { return chain.settings.previewOn; }
    void Run(PathFrame& frame) override;
    void Reset() { lastSecond_ = 0; }

private:
    int lastSecond_ = 0;
};

}  // namespace velmor
