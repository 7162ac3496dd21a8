// What the main window shows: captions, lamps, button states, check marks, the picker's items and
// the preview's time text. The controller and the window bridge write it on the window thread;
// the window side (the Qt main window, or the log of a copy without windows) only shows it, and
// tests read it without any widget.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/window_bridge.h"

namespace velmor {

inline constexpr int kWindowButtonCount = 9;  // the coloured buttons of WindowButton

struct ButtonView {
    int colour = 0;
    std::string caption;
    bool enabled = true;
    bool operator==(const ButtonView&) const = default;
};

enum class Caption {
    Title,
    Source,        // the connection's state and the source connected to
    Video,         // the video signal type
    Audio,         // the audio signal type
    DelayCounter,  // the audio delay in frames
    Ebu,           // "EBU o/p" or "SMPTE o/p"
    Level,         // the monitor level's name
    ExtraIp,       // the dotted address, empty for a blank field
    TimeText,      // the preview's time text
    Count
};

enum class Flag {
    KeyFillLabel,     // "Split Key+Fill o/p" shown
    ExcludeLocal,     // the "Exclude local" check box
    DeintCheck,       // the hidden "De-int" check box
    TimeTextShown,    // the preview paints its time text
    MenuKeyFill,      // the menu's "Split Key+Fill" check
    MenuAlwaysOnTop,  // the menu's "Always on top" check
    MenuLoadOnStartup,
    MenuSaveOnExit,
    Count
};

enum class LampId { Signal, Freeze };

// One change, for the window side to show.
struct ModelChange {
    enum class Kind { Caption, Flag, Button, Lamp, MonitorLevel, Picker, Preview, Meter } kind;
    int index = 0;  // which Caption, Flag, WindowButton or LampId
};

class MainWindowModel {
public:
    MainWindowModel();

    // Every setter notifies the observer when the value changed. Window thread only.
    void SetCaption(Caption which, const std::string& text);
    void SetFlag(Flag which, bool on);
    // Colour index and, when `caption` is not empty, a new caption.
    void SetButton(WindowButton button, int colour, const std::string& caption = "");
    void EnableButton(WindowButton button, bool enabled);
    void SetLamp(LampId which, Lamp lamp);
    void SetMonitorLevel(int level);  // 0 Mute, 1 Dim, 2 Full (picture; the caption is Level)
    void SetPicker(const std::vector<std::string>& items, int current);
    // The formats behind the video and audio captions, for front ends that show them whole, with
    // the caption that shows them: a change of either is reported once, as a change of the
    // caption.
    void SetVideoFormat(const VideoFormatReport& format, const std::string& caption);
    void SetAudioFormat(int channels, int sampleRate, const std::string& caption);
    // A new preview bitmap is ready, or the meter is to be repainted (nothing is stored).
    void PreviewChanged(PreviewTarget target) {
        Notify({ModelChange::Kind::Preview, static_cast<int>(target)});
    }
    void MeterChanged() { Notify({ModelChange::Kind::Meter, 0}); }

    const std::string& caption(Caption which) const { return captions_[Index(which)]; }
    bool flag(Flag which) const { return flags_[Index(which)]; }
    const ButtonView& button(WindowButton b) const { return buttons_[static_cast<size_t>(b)]; }
    Lamp lamp(LampId which) const { return which == LampId::Signal ? signalLamp_ : freezeLamp_; }
    int monitorLevel() const { return monitorLevel_; }
    const std::vector<std::string>& pickerItems() const { return pickerItems_; }
    int pickerCurrent() const { return pickerCurrent_; }
    const VideoFormatReport& videoFormat() const { return videoFormat_; }
    int audioChannels() const { return audioChannels_; }
    int audioSampleRate() const { return audioSampleRate_; }

    std::function<void(const ModelChange&)> onChange;
    // Further observers beside onChange (the HTTP front end), told after it.
    int AddListener(std::function<void(const ModelChange&)> listener);
    void RemoveListener(int id);

private:
    template <typename E>
    static size_t Index(E e) {
        return static_cast<size_t>(e);
    }
    void Notify(const ModelChange& change) {
        if (onChange) onChange(change);
        for (const auto& [id, listener] : listeners_)
            listener(change);
    }

    std::array<std::string, static_cast<size_t>(Caption::Count)> captions_;
    std::array<bool, static_cast<size_t>(Flag::Count)> flags_{};
    std::array<ButtonView, kWindowButtonCount> buttons_;
    Lamp signalLamp_ = Lamp::Grey;
    Lamp freezeLamp_ = Lamp::Grey;
    int monitorLevel_ = 2;
    std::vector<std::string> pickerItems_{"No NDI sources detected"};
    int pickerCurrent_ = 0;
    VideoFormatReport videoFormat_;
    int audioChannels_ = 0;
    int audioSampleRate_ = 0;
    std::vector<std::pair<int, std::function<void(const ModelChange&)>>> listeners_;
    int nextListener_ = 1;
};

// The caption each coloured button starts with, and the button's name in logs.
const char* InitialCaption(WindowButton button);
const char* ButtonLogName(WindowButton button);

}  // namespace velmor
