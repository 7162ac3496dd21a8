#include "app/log_window.h"

#include <cstdio>

#include "platform/drawn_pictures.h"

namespace velmor {

namespace {

const char* CaptionLogName(Caption c) {
    switch (c) {
        case Caption::Title:
            return "title";
        case Caption::Source:
            return "source";
        case Caption::Video:
            return "video";
        case Caption::Audio:
            return "audio";
        case Caption::DelayCounter:
            return "audio delay";
        case Caption::Ebu:
            return "monitor reference";
        case Caption::Level:
            return "monitor level";
        case Caption::ExtraIp:
            return "extra ip";
        case Caption::TimeText:
        case Caption::Count:
            break;
    }
    return nullptr;
}

struct FlagLog {
    const char* what;
    const char* on;
    const char* off;
};

const FlagLog* FlagLogName(Flag f) {
    static const FlagLog kKeyFill{"key+fill", "Split Key+Fill o/p", "off"};
    static const FlagLog kExclude{"exclude local", "on", "off"};
    static const FlagLog kSplit{"split key+fill", "on", "off"};
    static const FlagLog kLoad{"load settings on startup", "on", "off"};
    static const FlagLog kSave{"save settings on exit", "on", "off"};
    switch (f) {
        case Flag::KeyFillLabel:
            return &kKeyFill;
        case Flag::ExcludeLocal:
            return &kExclude;
        case Flag::MenuKeyFill:
            return &kSplit;
        case Flag::MenuLoadOnStartup:
            return &kLoad;
        case Flag::MenuSaveOnExit:
            return &kSave;
        default:
            return nullptr;
    }
}

}  // namespace

void LogWindow::Log(const std::string& line) {
    std::printf("velmor: %s\n", line.c_str());
    std::fflush(stdout);
}

void LogWindow::Show(const std::string& what, const std::string& text) {
    auto [it, inserted] = last_.try_emplace(what, text);
    if (!inserted && it->second == text) return;
    it->second = text;
    Log(what + ": " + text);
}

MessageAnswer LogWindow::Show(const std::string& text, const std::string& caption, MessageButtons) {
    std::string flat = text;
    for (char& c : flat) {
        if (c == '\n') c = ' ';
    }
    Log("[" + caption + "] " + flat);
    return MessageAnswer::Ok;
}

void LogWindow::Observe(MainWindowModel& model) {
    // The window as it opens, then each change.
    for (int i = 0; i < static_cast<int>(Caption::Count); ++i)
        Changed(model, {ModelChange::Kind::Caption, i});
    model.onChange = [this, &model](const ModelChange& change) { Changed(model, change); };
}

void LogWindow::Changed(const MainWindowModel& model, const ModelChange& change) {
    switch (change.kind) {
        case ModelChange::Kind::Caption: {
            const auto which = static_cast<Caption>(change.index);
            if (const char* what = CaptionLogName(which)) Show(what, model.caption(which));
            break;
        }
        case ModelChange::Kind::Flag: {
            const auto which = static_cast<Flag>(change.index);
            if (const FlagLog* f = FlagLogName(which))
                Show(f->what, model.flag(which) ? f->on : f->off);
            break;
        }
        case ModelChange::Kind::Button: {
            const auto b = static_cast<WindowButton>(change.index);
            const ButtonView& v = model.button(b);
            Show(std::string("button ") + ButtonLogName(b), v.caption + ", colour " +
                                                                std::to_string(v.colour) +
                                                                (v.enabled ? "" : ", disabled"));
            break;
        }
        case ModelChange::Kind::Lamp:
            // The freeze lamp blinks four times a second while a freeze is held: the Freeze
            // button's "Restart" says it once.
            if (static_cast<LampId>(change.index) == LampId::Signal)
                Show("signal lamp", LampColourName(model.lamp(LampId::Signal)));
            break;
        case ModelChange::Kind::MonitorLevel:
        case ModelChange::Kind::Picker:
        case ModelChange::Kind::Preview:
        case ModelChange::Kind::Meter:
            break;
    }
}

}  // namespace velmor
