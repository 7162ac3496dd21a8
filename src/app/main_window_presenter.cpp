#include "app/main_window_presenter.h"

#include <cstdio>

namespace velmor {

namespace {

// The colour of each choice: intermediate for the quarter turns and a blend, ready for the half
// turn and the single fields, on for the flips.
constexpr std::array<int, kRotationModeCount> kRotateColours = {0, 4, 2, 4, 1, 1};
constexpr std::array<int, kDeinterlaceModeCount> kDeinterlaceColours = {0, 4, 1, 2};

}  // namespace

ButtonLook RotationButton(int mode) {
    const int m = RotationCode(mode);
    return {kRotateColours[m], kRotationNames[m]};
}

ButtonLook DeinterlaceButton(int mode) {
    const int m = DeinterlaceCode(mode);
    return {kDeinterlaceColours[m], kDeinterlaceNames[m]};
}

ButtonLook OnOffButton(bool on) {
    return {on ? 1 : 3, ""};
}

ButtonLook FreezeButton(bool frozen) {
    return frozen ? ButtonLook{1, "Restart"} : ButtonLook{2, "Freeze"};
}

std::string VideoFormatCaption(const VideoFormatReport& f) {
    char text[96];
    std::snprintf(text, sizeof text, "%d x %d, %4.2f%c %s", f.width, f.height,
                  static_cast<double>(f.progressive ? f.rate : f.rate * 2.0f),
                  f.progressive ? 'p' : 'i', f.yuv ? "YUV" : "RGBA");
    return text;
}

std::string AudioFormatCaption(int channels, int sampleRate) {
    char text[64];
    std::snprintf(text, sizeof text, "%d Ch - %2.1f KHz", channels,
                  static_cast<double>(static_cast<float>(sampleRate) / 1000.0f));
    return text;
}

std::string SourceStateCaption(SourceState state) {
    switch (state) {
        case SourceState::Closing:
            return "Closing current NDI connection";
        case SourceState::ConnectFailed:
            return "Failed to connect - try again";
        case SourceState::Disconnecting:
            return "Disconnecting";
        case SourceState::Ended:
            break;
    }
    return "No NDI source connected";
}

std::string SourceConnectedCaption(const std::string& address, const std::string& name) {
    return address + " - " + name;
}

std::string FramesSkippedCaption(MediaKind kind, const std::string& problem) {
    return (kind == MediaKind::Video ? "Video frames skipped: " : "Audio frames skipped: ") +
           problem;
}

std::string MediaEndedCaption(MediaKind kind) {
    return kind == MediaKind::Video ? "No video" : "No audio";
}

Lamp SignalLamp(bool videoSeen, bool audioSeen) {
    if (videoSeen && audioSeen) return Lamp::Magenta;
    return videoSeen ? Lamp::Red : Lamp::Blue;
}

const char* EbuCaption(bool ebu) {
    return ebu ? "EBU o/p" : "SMPTE o/p";
}

}  // namespace velmor
