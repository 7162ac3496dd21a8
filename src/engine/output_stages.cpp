// The stages that take the finished picture out: the freeze copy and grabs, the key+fill split,
// the send on NDI or AirSend, and the preview (video_stages.h says what each owns and reads).
#include <algorithm>
#include <cstring>
#include <new>

#include "engine/video_stages.h"

namespace velmor {

bool FreezeGrabStage::Configure(StageChain& chain) {
    packedUyvy_ = chain.format.IsUyvy();
    return true;
}

void FreezeGrabStage::CopyToGrabPicture(const PathFrame& frame) {
    const NDIlib_video_frame_v2_t& f = frame.out;
    const int bpp = packedUyvy_ ? 2 : 4;
    ImageBuffer& g = picture_;
    if (!f.p_data || f.line_stride_in_bytes < f.xres * bpp ||
        !g.Reshape(f.xres, f.yres, packedUyvy_ ? kPixelUYVY : kPixelBGRA)) {
        g.Clear();
        return;
    }
    const size_t row = static_cast<size_t>(f.xres) * bpp;
    for (int y = 0; y < f.yres; ++y) {
        std::memcpy(g.pixels() + row * y,
                    f.p_data + static_cast<size_t>(f.line_stride_in_bytes) * y, row);
    }
}

void FreezeGrabStage::GrabHeldPicture() {
    if (!grabRequest_) return;
    if (freeze_.heldGrabDone()) {
        // One grab per held picture: later requests during the hold are done with.
        grabRequest_ = 0;
        return;
    }
    // While the grab writer is busy the request waits for a later frame.
    if (!outputs_.GrabReady()) return;
    // A freeze released meanwhile leaves the request for the live frames.
    if (!freeze_.MarkHeldGrab()) return;
    grabRequest_ = 0;
    outputs_.DeliverGrab(picture_);
}

void FreezeGrabStage::Run(PathFrame& frame) {
    if (freeze_.state() == FreezeState::Requested) {
        CopyToGrabPicture(frame);
        // Released while the copy was made: this frame went out live and nothing is held.
        if (freeze_.Hold()) GrabHeldPicture();
    }
    if (grabRequest_ && freeze_.live() && outputs_.GrabReady()) {
        grabRequest_ = 0;
        CopyToGrabPicture(frame);
        outputs_.DeliverGrab(picture_);
    }
}

// The key frame is described here, for the picture as it now stands (turned or not), at the
// output's rate; per frame it only takes the frame's timecode, by which a keyer pairs the two. Its
// rows are packed, whatever padding the source's rows carry.
bool KeySplitStage::Configure(StageChain& chain) {
    if (!chain.settings.keySplit) return false;
    const StreamFormat& f = chain.format;
    const size_t bytes =
        static_cast<size_t>(std::max(f.width, 0)) * 2 * static_cast<size_t>(std::max(f.height, 0));
    key_ = {};
    key_.xres = f.width;
    key_.yres = f.height;
    key_.FourCC = NDIlib_FourCC_video_type_UYVY;
    key_.frame_rate_N = chain.output.frameRateN;
    key_.frame_rate_D = chain.output.frameRateD;
    key_.picture_aspect_ratio = f.aspect;
    key_.frame_format_type = static_cast<NDIlib_frame_format_type_e>(chain.output.frameFormatType);
    key_.line_stride_in_bytes = f.width * 2;
    if (!f.HasAlpha()) {
        action_ = Action::SwitchOff;
        return true;
    }
    action_ = Action::NoRoom;
    if (buffer_.size() < bytes) {
        // Chroma 0x80 throughout; only the luma is written per frame.
        try {
            buffer_.assign(bytes, 0x80);
        } catch (const std::bad_alloc&) {
            buffer_ = {};
            return true;
        }
    }
    key_.p_data = buffer_.data();
    action_ = Action::MakeKey;
    row_ = KeyRowFor(BestKernelLevel());
    chain.keyMade = true;
    return true;
}

void KeySplitStage::Begin(PathFrame& frame) {
    key_.timecode = frame.out.timecode;
    if (action_ == Action::SwitchOff) outputs_.SwitchKeySplitOff();
    if (action_ == Action::MakeKey) frame.key = &key_;
}

RowSpan KeySplitStage::Band(PathFrame&, const FrameView& v, RowSpan rows) {
    if (action_ == Action::MakeKey) {
        const int first = std::max(rows.first, 0), end = std::min(rows.end, v.height);
        MakeKeyFromAlpha(v.data + int64_t{first} * v.stride, v.width, end - first, v.stride,
                         key_.p_data + int64_t{first} * key_.line_stride_in_bytes,
                         key_.line_stride_in_bytes, row_);
    }
    return rows;
}

void KeySplitStage::Run(PathFrame& frame) {
    key_.timecode = frame.out.timecode;
    switch (action_) {
        case Action::SwitchOff:
            outputs_.SwitchKeySplitOff();
            break;
        case Action::MakeKey: {
            const NDIlib_video_frame_v2_t& f = frame.out;
            MakeKeyFromAlpha(f.p_data, key_.xres, key_.yres, f.line_stride_in_bytes, key_.p_data,
                             key_.line_stride_in_bytes, row_);
            frame.key = &key_;
            break;
        }
        case Action::NoRoom:
            break;
    }
}

bool SendStage::Configure(StageChain& chain) {
    const VideoSettings& s = chain.settings;
    const StreamFormat& f = chain.format;
    if (s.airSend) {
        outputs_.ChangeAirSendFormat(f.width, f.height, f.frameRateN, f.frameRateD,
                                     f.frameFormatType != NDIlib_frame_format_type_interleaved,
                                     f.aspect);
        output_ = f.IsUyvy()     ? Output::AirSendYCbCr
                  : f.HasAlpha() ? Output::AirSendBGRA
                                 : Output::AirSendNothing;
        return true;
    }
    // Also with the AirSend output chosen but not made: the video then goes out on NDI.
    if (s.commsReturn) return false;
    output_ = Output::Ndi;
    key_ = chain.keyMade;
    sendMeter_ = s.meterSend;
    if (key_) chain.format.fourCC = NDIlib_FourCC_video_type_BGRX;
    return true;
}

void SendStage::Run(PathFrame& frame) {
    NDIlib_video_frame_v2_t& f = frame.out;
    switch (output_) {
        case Output::AirSendYCbCr:
            outputs_.AirSendYCbCr(f);
            return;
        case Output::AirSendBGRA:
            outputs_.AirSendBGRA(f);
            return;
        case Output::AirSendNothing:
            return;
        case Output::Ndi:
            break;
    }
    const bool key = key_ && frame.key;
    // The main output carries no alpha while its alpha goes out as the key.
    if (key) f.FourCC = NDIlib_FourCC_video_type_BGRX;
    outputs_.SendMain(f);
    if (key) outputs_.SendKey(*frame.key);
    // The meter's buffer is the sender's until the next send: the next meter goes into the other.
    if (sendMeter_ && meter_.ready() && outputs_.SendMeter(meter_.frame())) meter_.Sent();
}

bool PreviewStage::Configure(StageChain& chain) {
    const VideoSettings& s = chain.settings;
    procAmp_ = nullptr;
    if (s.monitorPreview) {
        target_ = PreviewTarget::ProcAmpWindow;
        if (s.procAmpOnPreview) procAmp_ = ProcAmpFor(chain.format.fourCC);
        return true;
    }
    target_ = PreviewTarget::Main;
    return s.previewOn;
}

void PreviewStage::Run(PathFrame& frame) {
    if (procAmp_) procAmp_(frame.view(), *frame.tables);
    outputs_.ShowPreview(target_, frame.view(), frame.out.picture_aspect_ratio);
}

}  // namespace velmor
