// Where the video path's stages send what they made and report what happened: the senders, the
// AirSend output, the previews, the grab writer, the receiver and the window. The stages hold
// nothing of the relay record; this is their one door out, and it names what of the record it
// touches: the senders and the AirSend handle (read), the key+fill switch (cleared for a frame
// without alpha), the preview's tally state and the counters (written).
//
// Video thread only.
#pragma once

#include <cstdint>

#include "engine/engine_context.h"
#include "video/frame_view.h"
#include "video/image_buffer.h"
#include "video/preview_render.h"

namespace velmor {

class VideoOutputs {
public:
    explicit VideoOutputs(EngineContext& context) : c_(context) {}

    // --- NDI ---
    // The main output (nothing without a sender); counted, with the delay behind the source.
    void SendMain(const NDIlib_video_frame_v2_t& frame);
    // Memory the main output's sender lends for the next frame's packed picture of `like`'s
    // size and FourCC (a receiver's slot on this machine): built there and sent by SendMain, the
    // picture is not copied again. Null when the sender has none to lend (the installed NDI
    // runtime, no receiver on this machine). Whatever reads the picture must do so before
    // SendMain: from then on a receiver may write into it.
    uint8_t* LendMain(const NDIlib_video_frame_v2_t& like);
    void SendKey(const NDIlib_video_frame_v2_t& frame);
    // The meter source, sent asynchronously: the sender may read `frame`'s buffer until the next
    // meter send or FlushMeter. False without a meter sender.
    bool SendMeter(const NDIlib_video_frame_v2_t& frame);
    // The meter sender lets go of the buffer it was last given.
    void FlushMeter();

    // --- AirSend, when it is the output ---
    void ChangeAirSendFormat(int width, int height, int frameRateN, int frameRateD,
                             bool progressive, float aspect);
    void AirSendYCbCr(const NDIlib_video_frame_v2_t& frame);
    void AirSendBGRA(const NDIlib_video_frame_v2_t& frame);

    // --- The window ---
    void ShowPreview(PreviewTarget target, const FrameView& frame, float aspect);
    void ShowTime(int32_t seconds);
    void ShowTally(TallyState state);
    // A frame without alpha while key+fill split is on: the split switches itself off.
    void SwitchKeySplitOff();

    // --- Grabs ---
    // The grab writer can take a picture now (always without a grab sink).
    bool GrabReady() const;
    // Hands `picture` to the grab writer (which may put a buffer of its own in its place) or the
    // window's writer, and lights the grab lamp.
    void DeliverGrab(ImageBuffer& picture);

    // --- The receiver ---
    void Release(NDIlib_recv_instance_t recv, NDIlib_video_frame_v2_t* frame);
    // The tally the output's receivers report, passed on upstream; false when there is none.
    bool PassTallyUpstream(NDIlib_recv_instance_t recv, NDIlib_tally_t& tally);

private:
    void Counted(const NDIlib_video_frame_v2_t& frame);

    EngineContext& c_;
};

}  // namespace velmor
