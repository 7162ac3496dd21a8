#include "engine/video_outputs.h"

#include "engine/live_edge.h"

namespace velmor {

void VideoOutputs::Counted(const NDIlib_video_frame_v2_t& f) {
    RelayCounters& counters = c_.r.counters;
    counters.videoFramesSent.fetch_add(1, std::memory_order_relaxed);
    if (KnownTimestamp(f.timestamp))
        counters.videoDelay100ns.store(WallClock100ns() - f.timestamp, std::memory_order_relaxed);
}

void VideoOutputs::SendMain(const NDIlib_video_frame_v2_t& frame) {
    NDIlib_send_instance_t main = c_.r.mainSender;
    if (!main) return;
    c_.ndi.send_send_video_v2(main, &frame);
    Counted(frame);
}

uint8_t* VideoOutputs::LendMain(const NDIlib_video_frame_v2_t& like) {
    NDIlib_send_instance_t main = c_.r.mainSender;
    if (!main || !c_.ndi.send_lend_video) return nullptr;
    return static_cast<uint8_t*>(c_.ndi.send_lend_video(main, &like));
}

void VideoOutputs::SendKey(const NDIlib_video_frame_v2_t& frame) {
    if (NDIlib_send_instance_t key = c_.r.keySender) c_.ndi.send_send_video_v2(key, &frame);
}

bool VideoOutputs::SendMeter(const NDIlib_video_frame_v2_t& frame) {
    NDIlib_send_instance_t ppm = c_.r.ppmSender;
    if (!ppm) return false;
    c_.ndi.send_send_video_async_v2(ppm, &frame);
    return true;
}

void VideoOutputs::FlushMeter() {
    if (NDIlib_send_instance_t ppm = c_.r.ppmSender) c_.ndi.send_send_video_async_v2(ppm, nullptr);
}

void VideoOutputs::ChangeAirSendFormat(int width, int height, int frameRateN, int frameRateD,
                                       bool progressive, float aspect) {
    c_.airSend->changeVideoFormat(c_.r.airSend, width, height, frameRateN, frameRateD, progressive,
                                  aspect);
}

void VideoOutputs::AirSendYCbCr(const NDIlib_video_frame_v2_t& f) {
    c_.airSend->addFrameYCbCr(c_.r.airSend, f.p_data, f.line_stride_in_bytes);
    Counted(f);
}

void VideoOutputs::AirSendBGRA(const NDIlib_video_frame_v2_t& f) {
    c_.airSend->addFrameBGRA(c_.r.airSend, f.p_data, f.line_stride_in_bytes);
    Counted(f);
}

void VideoOutputs::ShowPreview(PreviewTarget target, const FrameView& frame, float aspect) {
    c_.bridge.ShowPreview(target, frame, aspect);
}

void VideoOutputs::ShowTime(int32_t seconds) {
    c_.bridge.ShowTime(seconds);
}

void VideoOutputs::ShowTally(TallyState state) {
    c_.r.preview.tallyState = state;
}

void VideoOutputs::SwitchKeySplitOff() {
    c_.r.keyFillSplit = 0;
    c_.bridge.ShowKeyFillLabel(false);
}

bool VideoOutputs::GrabReady() const {
    return !c_.grabSink || c_.grabSink->Ready();
}

void VideoOutputs::DeliverGrab(ImageBuffer& picture) {
    c_.bridge.ShowGrabStarted();
    if (c_.grabSink) {
        c_.grabSink->Submit(picture);
    } else {
        c_.bridge.WriteGrab(picture);
    }
}

void VideoOutputs::Release(NDIlib_recv_instance_t recv, NDIlib_video_frame_v2_t* frame) {
    c_.ndi.recv_free_video_v2(recv, frame);
}

bool VideoOutputs::PassTallyUpstream(NDIlib_recv_instance_t recv, NDIlib_tally_t& tally) {
    NDIlib_send_instance_t main = c_.r.mainSender;
    if (!main || !c_.ndi.send_get_tally(main, &tally, 0)) return false;
    c_.ndi.recv_set_tally(recv, &tally);
    return true;
}

}  // namespace velmor
