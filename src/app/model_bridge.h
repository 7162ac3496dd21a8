// The window side of the engine and of the start-up load: every IWindowBridge, ISettingsView and
// IGrabLamps call becomes a change of the main window's model, made on the window thread, in the
// captions and colours the presenter (app/main_window_presenter.h) chooses for the state reported.
//
// Threads: engine threads call in from anywhere and never wait: each report is handed to the
// window thread under the key of the state it shows (WindowCalls::PostLatest), so a window that
// stops serving holds one pending report per state and shows the newest when it comes back. Calls
// made on the window thread run at once. The preview is rendered by the video thread itself into
// the preview's renderer (a triple buffer) with one coalesced repaint request.
#pragma once

#include <array>
#include <atomic>

#include "app/main_window_model.h"
#include "app/main_window_presenter.h"
#include "engine/window_bridge.h"
#include "platform/grab_writer.h"
#include "platform/window_calls.h"
#include "relay/notifier.h"
#include "relay/relay_record.h"
#include "relay/settings_view.h"
#include "video/preview_render.h"

namespace velmor {

// The window timers and actions behind some bridge calls (the controller implements them).
class IWindowActions {
public:
    virtual ~IWindowActions() = default;
    virtual void StartFreezeBlink() = 0;  // the freeze lamp alternates red and green
    virtual void StopFreezeBlink() = 0;
    virtual void StartWatchdog() = 0;  // no video frame for 3.5 s disconnects (AirSend output)
    virtual void StopWatchdog() = 0;
    virtual void StartGrabBlink() = 0;  // the signal lamp flashes green twice after a grab
};

class ModelBridge : public IWindowBridge, public ISettingsView, public IGrabLamps {
public:
    ModelBridge(RelayRecord& record, MainWindowModel& model, WindowCalls& calls,
                IWindowActions& actions)
        : r_(record), model_(model), calls_(calls), actions_(actions) {}

    // The renderers the previews paint from; null while a preview is not shown (its frames are
    // then dropped). Window thread; the video thread reads them on every frame.
    void SetRenderer(PreviewTarget target, PreviewRenderer* renderer) {
        renderers_[Index(target)].store(renderer, std::memory_order_release);
    }

    // IWindowBridge: states from the engine, shown as the presenter (main_window_presenter.h)
    // chooses.
    void ShowSourceState(SourceState state) override;
    void ShowSourceConnected(const std::string& address, const std::string& name) override;
    void ShowVideoFormat(const VideoFormatReport& format) override;
    void ShowAudioFormat(int channels, int sampleRate) override;
    void ShowFramesSkipped(MediaKind kind, const std::string& problem) override;
    void ShowMediaEnded(MediaKind kind) override;
    void ShowSignal(bool videoSeen, bool audioSeen) override;
    void ShowGrabStarted() override { LampTo(LampId::Signal, Lamp::Amber); }
    void ShowDeinterlaceMode(int mode) override {
        Look(WindowButton::Deinterlace, DeinterlaceButton(mode));
    }
    void ShowAudioDelayOn(bool on) override { Look(WindowButton::AudioDelay, OnOffButton(on)); }
    void ShowAudioDelayFrames(int frames) override;
    void ShowOverlayOn(bool on) override { Look(WindowButton::Overlay, OnOffButton(on)); }
    void ShowAudioMapActive(bool active) override {
        Look(WindowButton::AudioMap, OnOffButton(active));
    }
    void ShowFreeze(bool on) override;
    void EnableOutputButton(bool enabled) override;
    void ShowKeyFillLabel(bool shown) override;
    void ShowEbuMode(bool ebu) override;
    // The application hands the engine a grab sink (platform/grab_worker.h), which writes grabs
    // on a thread of its own; an engine without one has nothing written here.
    void WriteGrab(const ImageBuffer&) override {}
    void ShowTime(int32_t seconds) override;
    void ShowPreview(PreviewTarget target, const FrameView& frame, float aspect) override;
    void StartWatchdog() override;
    void StopWatchdog() override;

    // ISettingsView
    void ShowRotation(int mode) override { Look(WindowButton::Rotate, RotationButton(mode)); }
    void ShowDeinterlace(int mode) override { ShowDeinterlaceMode(mode); }
    void ShowOutputChoice(bool airSend) override {
        Look(WindowButton::Output, {airSend ? 2 : 3, airSend ? "AirSend" : "NDI®"});
    }
    void ShowAudioDelay(bool on) override { ShowAudioDelayOn(on); }
    void ShowExtraIp(const std::string& text) override { Text(Caption::ExtraIp, text); }
    void ShowKeyFillSplit(bool on) override;
    void ShowMonitorLevel(int level) override;
    void ShowDelayFrames(int frames) override { ShowAudioDelayFrames(frames); }
    void ShowExcludeLocal(bool checked) override;
    void ShowProcAmpButton(bool applied) override {
        Look(WindowButton::ProcAmp, OnOffButton(applied));
    }
    void ShowPpmOverlay(bool on) override { Look(WindowButton::PpmOverlay, {on ? 1 : 0, ""}); }
    void ShowLoadOnStartup(bool checked) override;
    void ShowSaveOnExit(bool checked) override;
    void ShowSourceCaption(const std::string& text) override { Text(Caption::Source, text); }

    // IGrabLamps
    void ShowSignalLamp(Lamp lamp) override { LampTo(LampId::Signal, lamp); }
    void StartGrabBlink() override;

private:
    static size_t Index(PreviewTarget t) { return static_cast<size_t>(t); }
    void Text(Caption which, const std::string& text);
    void LampTo(LampId which, Lamp lamp);
    void Look(WindowButton button, const ButtonLook& look);
    void SetFlag(Flag which, bool on);

    RelayRecord& r_;
    MainWindowModel& model_;
    WindowCalls& calls_;
    IWindowActions& actions_;
    std::array<std::atomic<PreviewRenderer*>, 2> renderers_{};
    std::array<std::atomic<bool>, 2> repaintPending_{};
};

// Shows messages on the window thread, whichever thread asks (the probe worker can report a
// failed allocation). On the window thread the operator's answer is returned; another thread is
// answered OK at once and the message is shown when the window gets to it.
class WindowThreadNotifier : public INotifier {
public:
    WindowThreadNotifier(INotifier& shown, WindowCalls& calls) : shown_(shown), calls_(calls) {}
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons buttons) override;

private:
    INotifier& shown_;
    WindowCalls& calls_;
};

// The time text of a time message: "%02d:%02d:%02d:--" (hours wrap at 24).
std::string TimeText(int32_t seconds);

}  // namespace velmor
