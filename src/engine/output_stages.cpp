// The stages that take the finished picture out: the freeze copy and grabs, the key+fill split,
// the send on NDI or AirSend, and the preview.
#include <cstring>

#include "engine/live_edge.h"
#include "engine/video_stages.h"

namespace velmor {

// Freeze and grab. A freeze request copies this frame, the last one sent until the freeze is
// released; a grab copies the frame and hands it to the grab sink (or the window's writer). At
// most one grab is taken during a freeze, of the held picture.
bool FreezeGrabStage::Configure(StageChain& chain) {
    packedUyvy_ = chain.format.layout() == PixelLayout::Uyvy;
    return true;
}

void FreezeGrabStage::CopyToGrabImage(const PathFrame& frame) {
    const NDIlib_video_frame_v2_t& f = frame.out;
    const int bpp = packedUyvy_ ? 2 : 4;
    ImageBuffer& g = c_.r.grabImage;
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

bool FreezeGrabStage::GrabReady() {
    return !c_.grabSink || c_.grabSink->Ready();
}

void FreezeGrabStage::DeliverGrab() {
    c_.bridge.ShowGrabStarted();
    if (c_.grabSink) {
        c_.grabSink->Submit(c_.r.grabImage);
    } else {
        c_.bridge.WriteGrab();
    }
}

void FreezeGrabStage::GrabHeldPicture() {
    RelayRecord& r = c_.r;
    if (!r.grabRequest) return;
    if (r.freezeState.heldGrabDone()) {
        // One grab per held picture: later requests during the hold are done with.
        r.grabRequest = 0;
        return;
    }
    // While the grab sink is busy the request waits for a later frame.
    if (!GrabReady()) return;
    // A freeze released meanwhile leaves the request for the live frames.
    if (!r.freezeState.MarkHeldGrab()) return;
    r.grabRequest = 0;
    DeliverGrab();
}

void FreezeGrabStage::Run(PathFrame& frame) {
    RelayRecord& r = c_.r;
    if (r.freezeState.state() == FreezeState::Requested) {
        CopyToGrabImage(frame);
        // Released while the copy was made: this frame went out live and nothing is held.
        if (r.freezeState.Hold()) GrabHeldPicture();
    }
    if (r.grabRequest && r.freezeState.live() && GrabReady()) {
        r.grabRequest = 0;
        CopyToGrabImage(frame);
        DeliverGrab();
    }
}

// Key+fill split: the key output's UYVY luma carries the frame's alpha. A frame without alpha
// switches the split off. The key frame is described here, for the picture as it now stands
// (turned or not); per frame it only takes the frame's timecode, by which a keyer pairs the two.
bool KeySplitStage::Configure(StageChain& chain) {
    if (!chain.settings.keySplit) return false;
    RelayRecord& r = c_.r;
    const StreamFormat& f = chain.format;
    OutputFrameFormat key;
    key.width = f.width;
    key.height = f.height;
    key.frameRateN = r.keyFrame.frame_rate_N;
    key.frameRateD = r.keyFrame.frame_rate_D;
    key.aspect = f.aspect;
    key.frameFormatType = r.keyFrame.frame_format_type;
    // Packed rows, whatever padding the source's rows carry: the key buffer, sized by the output
    // set-up, then always holds the key, and is never grown here.
    DescribeOutputFrame(r.keyFrame, NDIlib_FourCC_video_type_UYVY, 2, key, r.keyBuffer.data());
    if (f.layout() != PixelLayout::Bgra) {
        action_ = Action::SwitchOff;
    } else if (static_cast<size_t>(f.width) * 2 * f.height <= r.keyBuffer.size()) {
        action_ = Action::MakeKey;
        row_ = KeyRowFor(BestKernelLevel());
        chain.keyMade = true;
    } else {
        action_ = Action::NoRoom;
    }
    return true;
}

void KeySplitStage::Run(PathFrame& frame) {
    RelayRecord& r = c_.r;
    NDIlib_video_frame_v2_t& key = r.keyFrame;
    key.timecode = frame.out.timecode;
    switch (action_) {
        case Action::SwitchOff:
            r.keyFillSplit = 0;
            c_.bridge.ShowKeyFillLabel(false);
            break;
        case Action::MakeKey: {
            const NDIlib_video_frame_v2_t& f = frame.out;
            MakeKeyFromAlpha(f.p_data, key.xres, key.yres, f.line_stride_in_bytes, key.p_data,
                             key.line_stride_in_bytes, row_);
            frame.keyMade = true;
            break;
        }
        case Action::NoRoom:
            break;
    }
}

// Send: on AirSend when it is the output, otherwise on NDI (nothing in comms-return mode): the
// main output, the key output with the fill stripped of its alpha, and the meter source.
bool SendStage::Configure(StageChain& chain) {
    const VideoSettings& s = chain.settings;
    const StreamFormat& f = chain.format;
    if (s.airSend) {
        void* const air = c_.r.airSend;
        c_.airSend->changeVideoFormat(air, f.width, f.height, f.frameRateN, f.frameRateD,
                                      f.frameFormatType != NDIlib_frame_format_type_interleaved,
                                      f.aspect);
        const PixelLayout layout = f.layout();
        output_ = layout == PixelLayout::Uyvy   ? Output::AirSendYCbCr
                  : layout == PixelLayout::Bgra ? Output::AirSendBGRA
                                                : Output::AirSendNothing;
        return true;
    }
    // Also with the AirSend output chosen but not made: the video then goes out on NDI.
    if (s.commsReturn) return false;
    output_ = Output::Ndi;
    key_ = chain.keyMade;
    meter_ = s.meterSend;
    if (key_) chain.format.fourCC = NDIlib_FourCC_video_type_BGRX;
    return true;
}

void SendStage::Counted(const NDIlib_video_frame_v2_t& f) {
    RelayCounters& counters = c_.r.counters;
    counters.videoFramesSent.fetch_add(1, std::memory_order_relaxed);
    if (KnownTimestamp(f.timestamp))
        counters.videoDelay100ns.store(WallClock100ns() - f.timestamp, std::memory_order_relaxed);
}

void SendStage::Run(PathFrame& frame) {
    RelayRecord& r = c_.r;
    NDIlib_video_frame_v2_t& f = frame.out;
    switch (output_) {
        case Output::AirSendYCbCr:
            c_.airSend->addFrameYCbCr(r.airSend, f.p_data, f.line_stride_in_bytes);
            Counted(f);
            return;
        case Output::AirSendBGRA:
            c_.airSend->addFrameBGRA(r.airSend, f.p_data, f.line_stride_in_bytes);
            Counted(f);
            return;
        case Output::AirSendNothing:
            return;
        case Output::Ndi:
            break;
    }
    const bool key = key_ && frame.keyMade;
    // The main output carries no alpha while its alpha goes out as the key.
    if (key) f.FourCC = NDIlib_FourCC_video_type_BGRX;
    if (NDIlib_send_instance_t main = r.mainSender) {
        c_.ndi.send_send_video_v2(main, &f);
        Counted(f);
    }
    if (key) c_.ndi.send_send_video_v2(r.keySender, &r.keyFrame);
    if (meter_) {
        if (NDIlib_send_instance_t ppm = r.ppmSender) SendMeterFrame(ppm);
    }
}

void SendStage::SendMeterFrame(NDIlib_send_instance_t ppm) {
    RelayRecord& r = c_.r;
    NDIlib_video_frame_v2_t& frame = r.ppmFrame;
    const size_t bytes = static_cast<size_t>(frame.xres) * frame.yres * 4;
    // Without its second buffer the meter would be drawn into the one being sent: no meter then.
    if (r.ppmBufferSpare.size() < bytes || r.ppmBuffer.size() < bytes) return;
    frame.p_data = r.ppmBuffer.data();
    c_.ndi.send_send_video_async_v2(ppm, &frame);
    // That buffer is the sender's until the next call on it; the next meter goes into the other.
    r.ppmBuffer.swap(r.ppmBufferSpare);
    std::swap(r.ppmStale, r.ppmSpareStale);
}

// The preview: the proc amp window's monitor while it is open (with the tables on the preview
// alone when they are not applied to the output), otherwise the main preview when it is on.
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
    c_.bridge.ShowPreview(target_, frame.view(), frame.out.picture_aspect_ratio);
}

}  // namespace velmor
