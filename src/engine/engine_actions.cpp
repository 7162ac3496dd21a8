#include "engine/engine_actions.h"

#include <algorithm>

#include "engine/connection.h"
#include "relay/audio_map.h"

namespace velmor {

void EngineActions::Disconnect() {
    c_.bridge.StopWatchdog();
    connection_.Stop();
    c_.bridge.ShowTime(0);
    c_.r.ppmOverlayOn = 0;
    OverlayAndDelayReset();
    c_.bridge.EnableOutputButton(true);
}

void EngineActions::OnPickerDropDown() {
    connection_.Stop();
    c_.bridge.ShowTime(0);
    if (c_.picker && c_.picker->ShowNoSourceSelected())
        c_.bridge.ShowSourceState(SourceState::Disconnecting);
    OverlayAndDelayReset();
}

void EngineActions::OverlayAndDelayReset() {
    RelayRecord& r = c_.r;
    r.overlaySetup.overlayOn = 0;
    c_.bridge.ShowOverlayOn(false);
    if (!r.freezeState.live()) Freeze();
    r.mapActive = 0;
    r.audioDelayFrames = 0;
    PublishAudioSettings(r);
    c_.bridge.ShowAudioDelayFrames(0);
}

void EngineActions::Freeze() {
    RelayRecord& r = c_.r;
    if (!r.freezeState.live()) {
        r.freezeState.Release();
        c_.bridge.ShowFreeze(false);
        return;
    }
    if (!r.videoThreadRun || !r.freezeState.Request()) return;
    if (r.grabSetup.grabOnFreeze) {
        NoteGrabNaming();
        r.grabRequest = 1;
    }
    c_.bridge.ShowFreeze(true);
}

void EngineActions::RequestGrab() {
    if (!connection_.HasVideoThread()) return;
    NoteGrabNaming();
    c_.r.grabRequest = 1;
}

void EngineActions::NoteGrabNaming() {
    if (c_.grabSink) c_.grabSink->SetNaming(c_.r.grabSetup, c_.r.instanceIndex);
}

bool EngineActions::WatchdogExpired() {
    // A frame counted since the last look: start a new period.
    return c_.r.frameTick.exchange(0) == 0;
}

void EngineActions::SetDelayFrames(int frames) {
    c_.r.audioDelayFrames = static_cast<uint8_t>(frames);
    c_.r.settingsRecord.delayFramesSetting = static_cast<int8_t>(frames);
    PublishAudioSettings(c_.r);
    c_.bridge.ShowAudioDelayFrames(frames);
}

void EngineActions::DelayPlus() {
    if (c_.r.frameRateMismatch) return;
    SetDelayFrames(std::min(static_cast<int>(c_.r.audioDelayFrames) + 1, 15));
}

void EngineActions::DelayMinus() {
    if (c_.r.frameRateMismatch) return;
    SetDelayFrames(std::max(static_cast<int>(c_.r.audioDelayFrames) - 1, 0));
}

void EngineActions::ToggleAudioDelay() {
    if (c_.r.frameRateMismatch) return;
    c_.r.audioDelayOn = c_.r.audioDelayOn ? 0 : 1;
    PublishAudioSettings(c_.r);
    c_.bridge.ShowAudioDelayOn(c_.r.audioDelayOn != 0);
}

}  // namespace velmor
