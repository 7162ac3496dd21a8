// The last stages of a frame: it goes back to the receiver as it came, the output's tally goes
// upstream, and the time display follows the frame's timecode.
#include "engine/video_stages.h"

namespace velmor {

void ReleaseStage::Run(PathFrame& frame) {
    outputs_.Release(frame.recv, frame.received);
}

void TallyStage::Run(PathFrame& frame) {
    NDIlib_tally_t tally{};
    if (!outputs_.PassTallyUpstream(frame.recv, tally)) return;
    if (tally.on_program != last_.on_program || tally.on_preview != last_.on_preview) {
        last_ = tally;
        outputs_.ShowTally(tally.on_program   ? TallyState::Program
                           : tally.on_preview ? TallyState::Preview
                                              : TallyState::None);
    }
}

void TimeDisplayStage::Run(PathFrame& frame) {
    const int32_t seconds = static_cast<int32_t>(frame.out.timecode / 10000000);
    if (seconds % 60 != lastSecond_) {
        outputs_.ShowTime(seconds);
        lastSecond_ = seconds % 60;
    }
}

}  // namespace velmor
