// The engine's audio tap, wired to the monitor ring: every captured block is metered and then
// played on the local sound device (see audio/monitor_queue.h for the arithmetic).
#pragma once

#include <vector>

#include "audio/monitor_queue.h"
#include "engine/audio_tap.h"

namespace velmor {

class MonitorAudioTap : public IAudioTap {
public:
    // `meter` measures the tapped planes and returns the meter scale (the app binds the PPM
    // meter's MeterBlock here); it may be empty.
    MonitorAudioTap(MonitorQueue& queue, MonitorMeterFn meter)
        : queue_(queue), meter_(std::move(meter)) {}

    // Audio thread. Reads monitorLevel, ebuMode, mapDialogOpen and the audio map dialog's first
    // two entries and gain from the record.
    void MonitorTap(RelayRecord& record, const NDIlib_audio_frame_v2_t& frame) override;
    // Nothing waits in the ring from one connection to the next: what the last one queued has
    // played (or been dropped) within the monitor's latency.
    void ClearBuffers() override {}

private:
    MonitorQueue& queue_;
    MonitorMeterFn meter_;
    std::vector<int16_t> scratch_;
};

}  // namespace velmor
