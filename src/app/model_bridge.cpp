#include "app/model_bridge.h"

#include <cstdio>

namespace velmor {

std::string TimeText(int32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:--", (seconds / 3600) % 24,
                  (seconds / 60) % 60, seconds % 60);
    return text;
}

void ModelBridge::Text(Caption which, const std::string& text) {
    calls_.Call([this, which, text] { model_.SetCaption(which, text); });
}

void ModelBridge::LampTo(LampId which, Lamp lamp) {
    calls_.Call([this, which, lamp] { model_.SetLamp(which, lamp); });
}

void ModelBridge::Look(WindowButton button, const ButtonLook& look) {
    calls_.Call([this, button, look] { model_.SetButton(button, look.colour, look.caption); });
}

void ModelBridge::ShowSourceState(SourceState state) {
    Text(Caption::Source, SourceStateCaption(state));
}

void ModelBridge::ShowSourceConnected(const std::string& address, const std::string& name) {
    calls_.Call([this, address, name] {
        r_.scratchText = SourceConnectedCaption(address, name);
        model_.SetCaption(Caption::Source, r_.scratchText);
    });
}

void ModelBridge::ShowVideoFormat(const VideoFormatReport& format) {
    calls_.Call([this, format] {
        model_.SetVideoFormat(format);
        model_.SetCaption(Caption::Video, VideoFormatCaption(format));
    });
}

void ModelBridge::ShowAudioFormat(int channels, int sampleRate) {
    calls_.Call([this, channels, sampleRate] {
        model_.SetAudioFormat(channels, sampleRate);
        model_.SetCaption(Caption::Audio, AudioFormatCaption(channels, sampleRate));
    });
}

void ModelBridge::ShowFramesSkipped(MediaKind kind, const std::string& problem) {
    Text(kind == MediaKind::Video ? Caption::Video : Caption::Audio,
         FramesSkippedCaption(kind, problem));
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
    calls_.Call([this, on] {
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
    calls_.Call([this, enabled] { model_.EnableButton(WindowButton::Output, enabled); });
}

void ModelBridge::ShowKeyFillLabel(bool shown) {
    calls_.Call([this, shown] { model_.SetFlag(Flag::KeyFillLabel, shown); });
}

void ModelBridge::ShowEbuMode(bool ebu) {
    Text(Caption::Ebu, EbuCaption(ebu));
}

void ModelBridge::ShowTime(int32_t seconds) {
    calls_.Call([this, seconds] {
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
    calls_.Call([this] { actions_.StartWatchdog(); });
}
void ModelBridge::StopWatchdog() {
    calls_.Call([this] { actions_.StopWatchdog(); });
}
void ModelBridge::StartGrabBlink() {
    calls_.Call([this] { actions_.StartGrabBlink(); });
}

void ModelBridge::ShowKeyFillSplit(bool on) {
    calls_.Call([this, on] {
        model_.SetFlag(Flag::MenuKeyFill, on);
        if (!on) model_.SetFlag(Flag::KeyFillLabel, false);
    });
}

void ModelBridge::ShowMonitorLevel(int level) {
    static const char* kNames[3] = {"Mute", "Dim", "Full"};
    if (level < 0 || level > 2) return;
    calls_.Call([this, level] {
        model_.SetMonitorLevel(level);
        model_.SetCaption(Caption::Level, kNames[level]);
    });
}

void ModelBridge::ShowExcludeLocal(bool checked) {
    calls_.Call([this, checked] { model_.SetFlag(Flag::ExcludeLocal, checked); });
}

void ModelBridge::ShowLoadOnStartup(bool checked) {
    calls_.Call([this, checked] { model_.SetFlag(Flag::MenuLoadOnStartup, checked); });
}

void ModelBridge::ShowSaveOnExit(bool checked) {
    calls_.Call([this, checked] { model_.SetFlag(Flag::MenuSaveOnExit, checked); });
}

MessageAnswer WindowThreadNotifier::Show(const std::string& text, const std::string& caption,
                                         MessageButtons buttons) {
    MessageAnswer answer = MessageAnswer::Cancel;
    calls_.Call([&] { answer = shown_.Show(text, caption, buttons); });
    return answer;
}

}  // namespace velmor
