#include "app/main_window_model.h"

namespace velmor {

namespace {

struct ButtonStart {
    const char* caption;
    const char* logName;
    int colour;
};
// Initial states when the window opens: Freeze ready; Overlay, Audio Map, Audio Delay, the output
// button and Proc Amp off; Rotate, De-Int and PPM overlay without fill.
constexpr ButtonStart kButtons[kWindowButtonCount] = {
    {"Freeze", "freeze", 2},           {"Overlay", "overlay", 3},
    {"PPM overlay", "ppm overlay", 0}, {"Audio Delay", "audio delay button", 3},
    {"Audio Map", "audio map", 3},     {"NDI®", "output", 3},
    {"Rotate 0", "rotation", 0},       {"De-Int OFF", "de-interlace", 0},
    {"Proc Amp", "proc amp", 3},
};

}  // namespace

const char* InitialCaption(WindowButton button) {
    return kButtons[static_cast<size_t>(button)].caption;
}

const char* ButtonLogName(WindowButton button) {
    return kButtons[static_cast<size_t>(button)].logName;
}

MainWindowModel::MainWindowModel() {
    for (size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i].caption = kButtons[i].caption;
        buttons_[i].colour = kButtons[i].colour;
    }
    captions_[Index(Caption::Title)] = "NDI Velmor - Test version";
    captions_[Index(Caption::Source)] = "NDI Source";
    captions_[Index(Caption::Video)] = "Video signal type";
    captions_[Index(Caption::Audio)] = "Audio signal type";
    captions_[Index(Caption::DelayCounter)] = "0";
    captions_[Index(Caption::Ebu)] = "EBU o/p";
    captions_[Index(Caption::Level)] = "Full";
    flags_[Index(Flag::ExcludeLocal)] = true;
}

void MainWindowModel::SetCaption(Caption which, const std::string& text) {
    std::string& held = captions_[Index(which)];
    if (held == text) return;
    held = text;
    Notify({ModelChange::Kind::Caption, static_cast<int>(which)});
}

void MainWindowModel::SetFlag(Flag which, bool on) {
    bool& held = flags_[Index(which)];
    if (held == on) return;
    held = on;
    Notify({ModelChange::Kind::Flag, static_cast<int>(which)});
}

void MainWindowModel::SetButton(WindowButton b, int colour, const std::string& caption) {
    ButtonView& held = buttons_[Index(b)];
    ButtonView next = held;
    next.colour = colour;
    if (!caption.empty()) next.caption = caption;
    if (next == held) return;
    held = next;
    Notify({ModelChange::Kind::Button, static_cast<int>(b)});
}

void MainWindowModel::EnableButton(WindowButton b, bool enabled) {
    ButtonView& held = buttons_[Index(b)];
    if (held.enabled == enabled) return;
    held.enabled = enabled;
    Notify({ModelChange::Kind::Button, static_cast<int>(b)});
}

void MainWindowModel::SetLamp(LampId which, Lamp lamp) {
    Lamp& held = which == LampId::Signal ? signalLamp_ : freezeLamp_;
    if (held == lamp) return;
    held = lamp;
    Notify({ModelChange::Kind::Lamp, static_cast<int>(which)});
}

void MainWindowModel::SetMonitorLevel(int level) {
    if (level == monitorLevel_) return;
    monitorLevel_ = level;
    Notify({ModelChange::Kind::MonitorLevel, 0});
}

void MainWindowModel::SetVideoFormat(const VideoFormatReport& f, const std::string& caption) {
    const VideoFormatReport& h = videoFormat_;
    const bool same = f.width == h.width && f.height == h.height && f.rate == h.rate &&
                      f.progressive == h.progressive && f.yuv == h.yuv &&
                      f.frameRateN == h.frameRateN && f.frameRateD == h.frameRateD &&
                      f.frameFormatType == h.frameFormatType && f.fourCC == h.fourCC;
    std::string& held = captions_[Index(Caption::Video)];
    if (same && held == caption) return;
    videoFormat_ = f;
    held = caption;
    Notify({ModelChange::Kind::Caption, static_cast<int>(Caption::Video)});
}

void MainWindowModel::SetAudioFormat(int channels, int sampleRate, const std::string& caption) {
    std::string& held = captions_[Index(Caption::Audio)];
    if (channels == audioChannels_ && sampleRate == audioSampleRate_ && held == caption) return;
    audioChannels_ = channels;
    audioSampleRate_ = sampleRate;
    held = caption;
    Notify({ModelChange::Kind::Caption, static_cast<int>(Caption::Audio)});
}

int MainWindowModel::AddListener(std::function<void(const ModelChange&)> listener) {
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void MainWindowModel::RemoveListener(int id) {
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void MainWindowModel::SetPicker(const std::vector<std::string>& items, int current) {
    if (items == pickerItems_ && current == pickerCurrent_) return;
    pickerItems_ = items;
    pickerCurrent_ = current;
    Notify({ModelChange::Kind::Picker, 0});
}

}  // namespace velmor
