// The local monitor as the engine sees it (the platform's sound output implements it).
#pragma once

#include "ndi/ndi_types.h"
#include "relay/relay_record.h"

namespace velmor {

class IAudioTap {
public:
    virtual ~IAudioTap() = default;
    // Audio thread, last step for every captured block: meters and local monitoring.
    virtual void MonitorTap(RelayRecord& record, const NDIlib_audio_frame_v2_t& frame) = 0;
    // Window thread, at each connection: the monitor's sample buffers are cleared.
    virtual void ClearBuffers() = 0;
};

}  // namespace velmor
