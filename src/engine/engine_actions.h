// What the main window's buttons ask of the engine: Disconnect, the picker's list opening, the
// overlay-and-delay reset, Freeze, the grab request, the no-frame watchdog and the audio delay
// buttons. They change the record and report the new state; the window chooses how it looks.
// Window thread.
#pragma once

#include "engine/engine_context.h"

namespace velmor {

class Connection;

class EngineActions {
public:
    EngineActions(EngineContext& context, Connection& connection)
        : c_(context), connection_(connection) {}

    void Disconnect();  // the "Disconnect" button, without the picker reset
    void OnPickerDropDown();
    void OverlayAndDelayReset();
    void Freeze();
    void RequestGrab();  // only while a video thread exists
    // The no-frame watchdog's period ended: true when no video frame arrived during it (the window
    // then disconnects); otherwise a new period starts.
    bool WatchdogExpired();
    void DelayPlus();
    void DelayMinus();
    void ToggleAudioDelay();

private:
    // The naming of a requested grab, for the sink.
    void NoteGrabNaming();
    void SetDelayFrames(int frames);

    EngineContext& c_;
    Connection& connection_;
};

}  // namespace velmor
