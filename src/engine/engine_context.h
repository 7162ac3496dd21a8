// What every part of the engine works with: the relay record, the NDI library, the window and the
// services the application hands in. One per Engine; the parts keep a reference to it.
#pragma once

#include "engine/air_send_output.h"
#include "engine/audio_tap.h"
#include "engine/grab_sink.h"
#include "engine/window_bridge.h"
#include "ndi/ndi_library.h"
#include "relay/notifier.h"
#include "relay/picker_control.h"
#include "relay/relay_record.h"

namespace velmor {

struct EngineContext {
    RelayRecord& r;
    const NdiLibrary& ndi;
    IWindowBridge& bridge;
    INotifier& notifier;
    IAudioTap* tap = nullptr;
    IPickerControl* picker = nullptr;
    // Set on the window thread while no engine thread runs.
    IGrabSink* grabSink = nullptr;
    const AirSendLibrary* airSend = nullptr;
};

}  // namespace velmor
