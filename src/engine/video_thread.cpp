// The video thread: every video frame and metadata message from the receiver to the outputs.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/air_send.h"
#include "engine/engine.h"
#include "engine/frame_limits.h"
#include "engine/metadata_texts.h"
#include "relay/text_fields.h"
#include "video/frame_transforms.h"
#include "video/key_split.h"
#include "video/proc_amp.h"
#include "video/timecode_burn_in.h"

namespace velmor {
namespace {

constexpr uint32_t kCaptureTimeoutMs = 100;

bool IsBGRA(const NDIlib_video_frame_v2_t& f) {
    return f.FourCC == NDIlib_FourCC_video_type_BGRA;
}
bool IsUYVY(const NDIlib_video_frame_v2_t& f) {
    return f.FourCC == NDIlib_FourCC_video_type_UYVY;
}

}  // namespace

void Engine::ShowFormatCaption(const NDIlib_video_frame_v2_t& frame, float rate) {
    bridge_.SetVideoCaption(VideoFormatCaption(frame, rate));
}

void Engine::HandleMetadata(NDIlib_recv_instance_t recv) {
    NDIlib_metadata_frame_t& m = r_.metadataFrame;
    if (NDIlib_send_instance_t main = r_.mainSender) ndi_.send_send_metadata(main, &m);
    // A tally echo from downstream sets the preview's border.
    const int tally = TallyEchoState(MetadataFrameText(m));
    if (tally >= 0) r_.preview.tallyState = tally;
    ndi_.recv_free_metadata(recv, &m);
}

void Engine::CopyFrameToGrabImage(const NDIlib_video_frame_v2_t& f) {
    const bool uyvy = !IsBGRA(f) && IsUYVY(f);
    const int bpp = uyvy ? 2 : 4;
    ImageBuffer& g = r_.grabImage;
    if (!f.p_data || f.line_stride_in_bytes < f.xres * bpp ||
        !g.Reshape(f.xres, f.yres, uyvy ? kPixelUYVY : kPixelBGRA)) {
        g.Clear();
        return;
    }
    const size_t row = static_cast<size_t>(f.xres) * bpp;
    for (int y = 0; y < f.yres; ++y) {
        std::memcpy(g.pixels() + row * y,
                    f.p_data + static_cast<size_t>(f.line_stride_in_bytes) * y, row);
    }
}

bool Engine::GrabReady() {
    return !grabSink_ || grabSink_->Ready();
}

void Engine::DeliverGrab() {
    bridge_.SetSignalLamp(Lamp::Amber);
    if (grabSink_) {
        grabSink_->Submit(r_.grabImage);
    } else {
        bridge_.WriteGrab();
    }
}

bool Engine::UsableVideoFrame(NDIlib_recv_instance_t recv, NDIlib_video_frame_v2_t& f) {
    const std::string problem = VideoFrameProblem(f);
    if (problem.empty()) return true;
    ndi_.recv_free_video_v2(recv, &f);
    r_.skippedVideoFrames.fetch_add(1);
    if (!videoSkipShown_) {
        videoSkipShown_ = true;
        bridge_.SetVideoCaption("Video frames skipped: " + problem);
    }
    return false;
}

void Engine::DrawMeter(NDIlib_video_frame_v2_t& f) {
    RelayRecord& r = r_;
    PpmMeter* meter = r.ppmMeter.get();
    // While the meter sizes its pictures again, the old picture is not laid on the new frame.
    if (!meter || !meter->ppmEnabled.load(std::memory_order_relaxed) ||
        meter->meterGeometryDirty.load(std::memory_order_acquire)) {
        return;
    }
    const MeterPicture* current = meter->AcquireOverlayPicture();
    const ImageBuffer& picture = current->picture;
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
    // frames after the layout was chosen.
    const bool vertical = current->layout == 1;
    // The vertical meter stands at column x, centred down; the others lie at height y, centred
    // across.
    const int x = vertical ? meterX_ : 0, y = vertical ? 0 : meterY_;
    const int anchor = vertical ? kAnchorCentreDown : kAnchorCentreAcross;
    if (r.ppmOverlayOn && LoadMeterSetting(ms.meterOnMainOutput)) {
        if (IsBGRA(f)) {
            picture.DrawOnto(x, y, anchor, kDrawCopy, f.p_data, kPixelBGRA, f.xres, f.yres,
                             f.line_stride_in_bytes);
        } else if (IsUYVY(f) && r.meterScratch.CopyRGBAdataFrom(picture)) {
            r.meterScratch.ConvertToUYVA();
            r.meterScratch.DrawOnto(x, y, anchor, kDrawBlend, f.p_data, kPixelUYVY, f.xres, f.yres,
                                    f.line_stride_in_bytes);
        }
    }
    const NDIlib_video_frame_v2_t& ppm = r.ppmFrame;
    const size_t ppmBytes = static_cast<size_t>(ppm.xres) * ppm.yres * 4;
    if (LoadMeterSetting(ms.meterSeparateOutput) && ppmBytes <= r.ppmBuffer.size() &&
        LoadMeterSetting(ms.meterLayout) <= 2) {
        // The other buffer still holds the meter at its old place: it is cleared when its turn
        // comes (it may be in the sender's hands now).
        if (replace) ppmSpareStale_ = true;
        if (replace || ppmStale_) std::memset(r.ppmBuffer.data(), 0, ppmBytes);
        ppmStale_ = false;
        picture.DrawOnto(x, y, anchor, kDrawCopy, r.ppmBuffer.data(), kPixelBGRA, ppm.xres,
                         ppm.yres);
    }
    if (replace) flags.fetch_and(static_cast<uint8_t>(~(kMeterChangePicture | kMeterChangeBit7)));
}

void Engine::VideoThread() {
    RelayRecord& r = r_;
    const NDIlib_recv_instance_t recv = r.audioReceiver;
    r.frameTick = 0;
    if (r.airSendOutput) bridge_.StartWatchdog();
    lastRateSeen_ = r.outputFrameRate;
    skipCount_ = 3;
    lastTally_ = {};
    lastSecond_ = 0;

    while (r.videoThreadRun) {
        const NDIlib_frame_type_e type =
            ndi_.recv_capture_v2(recv, &r.videoFrame, nullptr, &r.metadataFrame, kCaptureTimeoutMs);
        if (type == NDIlib_frame_type_metadata) {
            HandleMetadata(recv);
        } else if (type == NDIlib_frame_type_video && UsableVideoFrame(recv, r.videoFrame)) {
            ProcessVideoFrame(recv);
        }
    }

    bridge_.SetVideoCaption("No video");
    bridge_.SetSourceCaption("No NDI source connected");
    bridge_.SetSignalLamp(Lamp::Grey);
    EndThread(r.videoThreadAlive, r.audioThreadAlive, recv);
}

void Engine::ProcessVideoFrame(NDIlib_recv_instance_t recv) {
    RelayRecord& r = r_;
    NDIlib_video_frame_v2_t& f = r.videoFrame;

    // --- Bookkeeping ---
    // 1. Rate: while it differs from the output's, the output is not set up again.
    const float rate = FrameRateOf(f);
    if (rate == r.outputFrameRate) {
        if (r.frameRateMismatch) {
            r.frameRateMismatch = 0;
            SetUpOutput(f);
            r.frameDuration = FrameDurationOf(r.outputFrameRate);
        }
    } else if (!r.frameRateMismatch) {
        r.frameRateMismatch = 1;
        ShowFormatCaption(f, rate);
        lastRateSeen_ = rate;
        r.frameDuration = FrameDurationOf(rate);
    } else if (rate != lastRateSeen_) {
        ShowFormatCaption(f, rate);
        r.lastRate = rate;
        lastRateSeen_ = rate;
        r.frameDuration = FrameDurationOf(rate);
    }
    // 2. No audio delay while the rates differ.
    if (r.frameRateMismatch && (r.audioDelayFrames != 0 || r.audioDelayOn)) {
        r.audioDelayFrames = 0;
        if (r.audioDelayOn.exchange(0)) bridge_.SetButton(WindowButton::AudioDelay, 3, "");
        bridge_.SetDelayCounter("0");
    }
    // 3. Alive for the watchdog.
    r.frameTick.fetch_add(1);
    // 4. Size.
    if (!r.videoFormatSeen) {
        r.videoFormatSeen = 1;
        SetUpOutput(f);
    } else if (f.xres != r.outputWidth || f.yres != r.outputHeight) {
        if (PpmMeter* meter = r.ppmMeter.get()) meter->SetFrameSize(f.xres, f.yres);
        SetMeterChangeFlags(r, kMeterChangePicture);
        SetUpOutput(f);
    }

    // 5. The first frames of a thread are never processed or sent.
    if (skipCount_ > 0) {
        --skipCount_;
        ndi_.recv_free_video_v2(recv, &f);
        return;
    }
    // 6. A held freeze sends nothing; one grab of the held picture is allowed. While the grab
    // sink is busy the request waits for a later frame.
    if (r.freezeState == 1) {
        if (r.grabRequest && (r.freezeGrabDone || GrabReady())) {
            if (!r.freezeGrabDone) {
                DeliverGrab();
                r.freezeGrabDone = 1;
            }
            r.grabRequest = 0;
        }
        ndi_.recv_free_video_v2(recv, &f);
        return;
    }

    // --- Processing ---
    // 1. De-interlace.
    const int deinterlace = r.deinterlaceMode;
    if (deinterlace != 0 && f.frame_format_type == NDIlib_frame_format_type_interleaved &&
        Deinterlace(deinterlace, f.xres, f.yres, f.line_stride_in_bytes, f.p_data)) {
        f.frame_format_type = NDIlib_frame_format_type_progressive;
    }
    // 2. Proc amp on the output.
    ProcAmpState& pa = r.procAmp;
    const ProcAmpByteTables* tables = pa.AcquireTables();
    if (pa.active && pa.applyToOutput) ApplyProcAmp(ViewOf(f), *tables);
    // 3. Image, sequence or text-box overlay.
    DrawImageOverlay(r.overlaySetup, ViewOf(f));
    // 4. Meter overlay and meter output.
    DrawMeter(f);

    // 5. Rotate or flip.
    uint8_t* const ownData = f.p_data;
    const int ownStride = f.line_stride_in_bytes;
    const int ownWidth = f.xres, ownHeight = f.yres;
    const float ownAspect = f.picture_aspect_ratio;
    const NDIlib_FourCC_video_type_e ownFourCC = f.FourCC;
    const int rotation = r.rotationMode;
    const bool uyvy = IsUYVY(f), bgra = IsBGRA(f);
    if (uyvy || bgra) {
        switch (rotation) {
            case 1:
            case 3: {
                const bool ok = uyvy ? RotateUYVY(rotation, f.xres, f.yres, f.p_data, r.rotateImage,
                                                  f.line_stride_in_bytes)
                                     : RotateRGBA(rotation, f.xres, f.yres, f.p_data, r.rotateImage,
                                                  f.line_stride_in_bytes);
                // Without the work picture the frame goes out unrotated.
                if (ok) {
                    std::swap(f.xres, f.yres);
                    if (f.picture_aspect_ratio != 0.0f)
                        f.picture_aspect_ratio = 1.0f / f.picture_aspect_ratio;
                    f.line_stride_in_bytes = f.xres * (uyvy ? 2 : 4);
                    f.p_data = r.rotateImage.pixels();
                }
                break;
            }
            case 2:
                uyvy ? TurnUYVY180(f.xres, f.yres, f.p_data, f.line_stride_in_bytes)
                     : TurnRGBA180(f.xres, f.yres, f.p_data, f.line_stride_in_bytes);
                break;
            case 4:
                uyvy ? MirrorUYVY(f.xres, f.yres, f.p_data, f.line_stride_in_bytes)
                     : MirrorRGBA(f.xres, f.yres, f.p_data, f.line_stride_in_bytes);
                break;
            case 5:
                uyvy ? FlipUYVY(f.xres, f.yres, f.p_data, f.line_stride_in_bytes)
                     : FlipRGBA(f.xres, f.yres, f.p_data, f.line_stride_in_bytes);
                break;
            default:
                break;
        }
    }
    // 6. Timecode.
    if (r.timecodeBurnIn)
        BurnInTimecode(ViewOf(f), f.timecode, rate, r.frameDuration, r.digitImages);
    // 7. Freeze capture: this frame is the last one sent until the freeze is released.
    if (r.freezeState == 2) {
        CopyFrameToGrabImage(f);
        r.freezeState = 1;
        // A request the busy sink cannot take yet is taken by the held freeze (step 6).
        if (r.grabRequest && (r.freezeGrabDone || GrabReady())) {
            if (!r.freezeGrabDone) DeliverGrab();
            r.grabRequest = 0;
            r.freezeGrabDone = 1;
        }
    }
    // 8. Grab: the video thread only copies the frame; the sink encodes and writes it.
    if (r.grabRequest && r.freezeState == 0 && GrabReady()) {
        CopyFrameToGrabImage(f);
        DeliverGrab();
        r.grabRequest = 0;
    }
    // 9. Key+fill split.
    const NDIlib_send_instance_t keySender = r.keySender;
    bool keyThisFrame = false;
    if (r.keyFillSplit && keySender) {
        NDIlib_video_frame_v2_t& key = r.keyFrame;
        key.xres = f.xres;
        key.yres = f.yres;
        key.picture_aspect_ratio = f.picture_aspect_ratio;
        // Packed rows, whatever padding the source's rows carry: the key buffer, sized by the
        // output set-up, then always holds the key, and is never grown here.
        key.line_stride_in_bytes = f.xres * 2;
        // A downstream keyer pairs key and fill by their timecodes.
        key.timecode = f.timecode;
        if (!IsBGRA(f)) {
            r.keyFillSplit = 0;
            bridge_.ShowKeyFillLabel(false);
        } else if (static_cast<size_t>(key.line_stride_in_bytes) * key.yres <= r.keyBuffer.size()) {
            key.p_data = r.keyBuffer.data();
            MakeKeyFromAlpha(f.p_data, f.xres, f.yres, f.line_stride_in_bytes, key.p_data,
                             key.line_stride_in_bytes);
            keyThisFrame = true;
        }
    }
    // 10. Send.
    void* const air = r.airSend;
    if (r.airSendOutput && air) {
        AirSend_change_video_format(air, f.xres, f.yres, f.frame_rate_N, f.frame_rate_D,
                                    f.frame_format_type != NDIlib_frame_format_type_interleaved,
                                    f.picture_aspect_ratio);
        if (IsUYVY(f)) {
            AirSend_add_frame_ycbcr(air, f.p_data);
        } else if (IsBGRA(f)) {
            AirSend_add_frame_bgra(air, f.p_data);
        }
    } else if (!r.commsReturn) {
        // Also with the AirSend output chosen but not created: the video then goes out on NDI.
        if (keyThisFrame) f.FourCC = NDIlib_FourCC_video_type_BGRX;
        if (NDIlib_send_instance_t main = r.mainSender) ndi_.send_send_video_v2(main, &f);
        if (keyThisFrame) ndi_.send_send_video_v2(keySender, &r.keyFrame);
        const NDIlib_send_instance_t ppm = r.ppmSender;
        const MeterSettings& ms = r.meterSettings;
        const PpmMeter* meter = r.ppmMeter.get();
        if (ppm && r.ppmOverlayOn && meter && meter->ppmEnabled.load(std::memory_order_relaxed) &&
            LoadMeterSetting(ms.meterSeparateOutput) && LoadMeterSetting(ms.meterLayout) <= 2) {
            SendMeterFrame(ppm);
        }
    }
    // 11. Preview.
    if (pa.monitorPreview) {
        if (pa.active && !pa.applyToOutput) ApplyProcAmp(ViewOf(f), *tables);
        bridge_.ShowPreview(PreviewTarget::ProcAmpWindow, ViewOf(f), f.picture_aspect_ratio);
    } else if (r.previewOn) {
        bridge_.ShowPreview(PreviewTarget::Main, ViewOf(f), f.picture_aspect_ratio);
    }
    // 12. Back to the receiver as it was given.
    f.p_data = ownData;
    f.line_stride_in_bytes = ownStride;
    f.xres = ownWidth;
    f.yres = ownHeight;
    f.picture_aspect_ratio = ownAspect;
    f.FourCC = ownFourCC;
    const int64_t timecode = f.timecode;
    ndi_.recv_free_video_v2(recv, &f);
    // 13. Tally upstream.
    if (NDIlib_send_instance_t main = r.mainSender) {
        NDIlib_tally_t tally{};
        if (ndi_.send_get_tally(main, &tally, 0)) {
            ndi_.recv_set_tally(recv, &tally);
            if (tally.on_program != lastTally_.on_program ||
                tally.on_preview != lastTally_.on_preview) {
                lastTally_ = tally;
                r.preview.tallyState = tally.on_program ? 1 : (tally.on_preview ? 2 : 0);
            }
        }
    }
    // 14. Time display, once a second.
    if (r.previewOn) {
        const int32_t seconds = static_cast<int32_t>(timecode / 10000000);
        if (seconds % 60 != lastSecond_) {
            bridge_.ShowTime(seconds);
            lastSecond_ = seconds % 60;
        }
    }
}

void Engine::SendMeterFrame(NDIlib_send_instance_t ppm) {
    RelayRecord& r = r_;
    NDIlib_video_frame_v2_t& frame = r.ppmFrame;
    const size_t bytes = static_cast<size_t>(frame.xres) * frame.yres * 4;
    // Without its second buffer the meter would be drawn into the one being sent: no meter then.
    if (r.ppmBufferSpare.size() < bytes || r.ppmBuffer.size() < bytes) return;
    frame.p_data = r.ppmBuffer.data();
    ndi_.send_send_video_async_v2(ppm, &frame);
    // That buffer is the sender's until the next call on it; the next meter goes into the other.
    r.ppmBuffer.swap(r.ppmBufferSpare);
    std::swap(ppmStale_, ppmSpareStale_);
}

}  // namespace velmor
