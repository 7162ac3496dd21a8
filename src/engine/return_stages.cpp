// The last stages of a frame: it goes back to the receiver as it came, the output's tally goes
// upstream, and the time display follows the frame's timecode.
#include "engine/video_stages.h"

namespace velmor {

void ReleaseStage::Run(PathFrame& frame) {
    c_.ndi.recv_free_video_v2(frame.recv, frame.received);
}

// The tally that the output's receivers report goes upstream, and a change shows on the preview.
void TallyStage::Run(PathFrame& frame) {
    NDIlib_send_instance_t main = c_.r.mainSender;
    if (!main) return;
    NDIlib_tally_t tally{};
    if (!c_.ndi.send_get_tally(main, &tally, 0)) return;
    c_.ndi.recv_set_tally(frame.recv, &tally);
    if (tally.on_program != last_.on_program || tally.on_preview != last_.on_preview) {
        last_ = tally;
        c_.r.preview.tallyState = tally.on_program ? 1 : (tally.on_preview ? 2 : 0);
    }
}

// The time display, once a second of the frame's timecode.
void TimeDisplayStage::Run(PathFrame& frame) {
    const int32_t seconds = static_cast<int32_t>(frame.out.timecode / 10000000);
    if (seconds % 60 != lastSecond_) {
        c_.bridge.ShowTime(seconds);
        lastSecond_ = seconds % 60;
    }
}

}  // namespace velmor
