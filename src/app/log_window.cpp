#include "app/log_window.h"

#include <cstdio>
#include <ctime>

#include "platform/drawn_pictures.h"

namespace velmor {

void LogWindow::Log(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::printf("velmor: %s\n", line.c_str());
    std::fflush(stdout);
}

void LogWindow::Show(const std::string& what, const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        auto [it, inserted] = last_.try_emplace(what, text);
        if (!inserted && it->second == text) return;
        it->second = text;
    }
    Log(what + ": " + text);
}

const char* LogWindow::LampName(Lamp lamp) {
    return LampColourName(lamp);
}

void LogWindow::SetButton(WindowButton button, int colour, const std::string& caption) {
    static const char* kNames[] = {"freeze",    "overlay", "ppm overlay", "audio delay button",
                                   "audio map", "output",  "rotation",    "de-interlace",
                                   "proc amp"};
    const int index = static_cast<int>(button);
    Show(std::string("button ") + kNames[index],
         caption.empty() ? "state " + std::to_string(colour) : caption);
}

void LogWindow::ShowMonitorLevel(int level) {
    static const char* kLevels[] = {"Mute", "Dim", "Full"};
    if (level >= 0 && level <= 2) Show("monitor level", kLevels[level]);
}

void LogWindow::WriteGrab() {
    // The video thread waits here, so grabImage stays as it is while it is written.
    const bool ok = velmor::WriteGrab(record_.grabSetup, record_.instanceIndex, record_.grabImage,
                                      outputImage_, *this, std::time(nullptr));
    Log(ok ? "frame grab saved" : "frame grab failed");
}

void LogWindow::StartWatchdog() {
    if (onWatchdog) onWatchdog(true);
}

void LogWindow::StopWatchdog() {
    if (onWatchdog) onWatchdog(false);
}

MessageAnswer LogWindow::Show(const std::string& text, const std::string& caption, MessageButtons) {
    std::string flat = text;
    for (char& c : flat) {
        if (c == '\n') c = ' ';
    }
    Log("[" + caption + "] " + flat);
    return MessageAnswer::Ok;
}

}  // namespace velmor
