#include "app/model_bridge.h"

#include <cstdio>
#include <functional>

namespace velmor {

namespace {

// The keys of the window's states: a newer report of one replaces an older one still queued.
enum class Slot : uint64_t {
    Caption = 1,
    Lamp,
    Button,
    ButtonEnabled,
    Flag,
    Freeze,
    Time,
    Watchdog,
    GrabBlink,
    MonitorLevel,
    Message,
    Skipped,
};

uint64_t Key(Slot slot, int index = 0) {
    return (static_cast<uint64_t>(slot) << 32) | static_cast<uint32_t>(index);
}

}  // namespace

std::string TimeText(int32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:--", (seconds / 3600) % 24,
                  (seconds / 60) % 60, seconds % 60);
    return text;
}

void ModelBridge::Text(Caption which, const std::string& text) {
    calls_.PostLatest(Key(Slot::Caption, static_cast<int>(which)),
                      [this, which, text] { model_.SetCaption(which, text); });
}

void ModelBridge::LampTo(LampId which, Lamp lamp) {
    calls_.PostLatest(Key(Slot::Lamp, static_cast<int>(which)),
                      [this, which, lamp] { model_.SetLamp(which, lamp); });
}

void ModelBridge::Look(WindowButton button, const ButtonLook& look) {
    calls_.PostLatest(Key(Slot::Button, static_cast<int>(button)), [this, button, look] {
        model_.SetButton(button, look.colour, look.caption);
    });
}

void ModelBridge::SetFlag(Flag which, bool on) {
    calls_.PostLatest(Key(Slot::Flag, static_cast<int>(which)),
                      [this, which, on] { model_.SetFlag(which, on); });
}

void ModelBridge::ShowSourceState(SourceState state) {
    Text(Caption::Source, SourceStateCaption(state));
}

void ModelBridge::ShowSourceConnected(const std::string& address, const std::string& name) {
    // The source caption's key: a connection reported after an end replaces it, and the reverse.
    calls_.PostLatest(Key(Slot::Caption, static_cast<int>(Caption::Source)), [this, address, name] {
        r_.scratchText = SourceConnectedCaption(address, name);
        model_.SetCaption(Caption::Source, r_.scratchText);
    });
}

void ModelBridge::ShowVideoFormat(const VideoFormatReport& format) {
    Text(Caption::Video, VideoFormatCaption(format));
}

void ModelBridge::ShowAudioFormat(int channels, int sampleRate) {
    Text(Caption::Audio, AudioFormatCaption(channels, sampleRate));
}

void ModelBridge::ShowFramesSkipped(MediaKind kind, const std::string& problem) {
    // A warning, not a state: under its own key, so a format caption reported right after it
    // (the next good frame) cannot replace it before the window and the log have shown it.
    const Caption which = kind == MediaKind::Video ? Caption::Video : Caption::Audio;
    calls_.PostLatest(Key(Slot::Skipped, static_cast<int>(kind)),
                      [this, which, text = FramesSkippedCaption(kind, problem)] {
                          model_.SetCaption(which, text);
                      });
}

void ModelBridge::ShowMediaEnded(MediaKind kind) {
    if (kind == MediaKind::Video) {
        Text(Caption::Video, MediaEndedCaption(kind));
        ShowSourceState(SourceState::Ended);
    } else {
        Text(Caption::Audio, MediaEndedCaption(kind));
    }
    // The lamp as it was before any connection.
    LampTo(LampId::Signal, Lamp::Grey);
}

void ModelBridge::ShowSignal(bool videoSeen, bool audioSeen) {
    LampTo(LampId::Signal, SignalLamp(videoSeen, audioSeen));
}

void ModelBridge::ShowAudioDelayFrames(int frames) {
    Text(Caption::DelayCounter, std::to_string(frames));
}

void ModelBridge::ShowFreeze(bool on) {
    calls_.PostLatest(Key(Slot::Freeze), [this, on] {
        const ButtonLook look = FreezeButton(on);
        if (!on) actions_.StopFreezeBlink();
        model_.SetButton(WindowButton::Freeze, look.colour, look.caption);
        model_.SetLamp(LampId::Freeze, on ? Lamp::Red : Lamp::Grey);
        if (!on) return;
        // The freeze lamp then alternates red and green.
        r_.freezeBlinkPhase = 1;
        actions_.StartFreezeBlink();
    });
}

void ModelBridge::EnableOutputButton(bool enabled) {
    calls_.PostLatest(Key(Slot::ButtonEnabled, static_cast<int>(WindowButton::Output)),
                      [this, enabled] { model_.EnableButton(WindowButton::Output, enabled); });
}

void ModelBridge::ShowKeyFillLabel(bool shown) {
    SetFlag(Flag::KeyFillLabel, shown);
}

void ModelBridge::ShowEbuMode(bool ebu) {
    Text(Caption::Ebu, EbuCaption(ebu));
}

void ModelBridge::ShowTime(int32_t seconds) {
    calls_.PostLatest(Key(Slot::Time), [this, seconds] {
        if (seconds == 0) {
            model_.SetFlag(Flag::TimeTextShown, false);
            return;
        }
        model_.SetCaption(Caption::TimeText, TimeText(seconds));
        // The time shows as text only while it is not burnt into the picture.
        if (!r_.timecodeBurnIn) model_.SetFlag(Flag::TimeTextShown, true);
    });
}

void ModelBridge::ShowPreview(PreviewTarget target, const FrameView& frame, float aspect) {
    PreviewRenderer* renderer = renderers_[Index(target)].load(std::memory_order_acquire);
    if (!renderer) return;
    if (renderer->Render(frame.data, frame.width, frame.height, frame.stride, frame.fourCC,
                         aspect) == 0)
        return;
    // One repaint request at a time: a window that paints slower than frames arrive shows the
    // newest bitmap and never queues a backlog.
    if (repaintPending_[Index(target)].exchange(true)) return;
    calls_.Post([this, target] {
        repaintPending_[Index(target)] = false;
        model_.PreviewChanged(target);
    });
}

void ModelBridge::StartWatchdog() {
    calls_.PostLatest(Key(Slot::Watchdog), [this] { actions_.StartWatchdog(); });
}
void ModelBridge::StopWatchdog() {
    calls_.PostLatest(Key(Slot::Watchdog), [this] { actions_.StopWatchdog(); });
}
void ModelBridge::StartGrabBlink() {
    calls_.PostLatest(Key(Slot::GrabBlink), [this] { actions_.StartGrabBlink(); });
}

void ModelBridge::ShowKeyFillSplit(bool on) {
    SetFlag(Flag::MenuKeyFill, on);
    if (!on) SetFlag(Flag::KeyFillLabel, false);
}

void ModelBridge::ShowMonitorLevel(int level) {
    static const char* kNames[3] = {"Mute", "Dim", "Full"};
    if (level < 0 || level > 2) return;
    calls_.PostLatest(Key(Slot::MonitorLevel), [this, level] {
        model_.SetMonitorLevel(level);
        model_.SetCaption(Caption::Level, kNames[level]);
    });
}

void ModelBridge::ShowExcludeLocal(bool checked) {
    SetFlag(Flag::ExcludeLocal, checked);
}

void ModelBridge::ShowLoadOnStartup(bool checked) {
    SetFlag(Flag::MenuLoadOnStartup, checked);
}

void ModelBridge::ShowSaveOnExit(bool checked) {
    SetFlag(Flag::MenuSaveOnExit, checked);
}

MessageAnswer WindowThreadNotifier::Show(const std::string& text, const std::string& caption,
                                         MessageButtons buttons) {
    if (calls_.OnWindowThread()) return shown_.Show(text, caption, buttons);
    // Another thread never waits for the operator: the box is shown when the window gets to it,
    // and the caller carries on as after OK. The same message asked again while the first is still
    // queued is shown once.
    calls_.PostLatest(
        Key(Slot::Message, static_cast<int>(std::hash<std::string>{}(text + caption))),
        [this, text, caption, buttons] { shown_.Show(text, caption, buttons); });
    return MessageAnswer::Ok;
}

}  // namespace velmor
