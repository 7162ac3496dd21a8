// What the HTTP front end shows and does, as plain values and two small interfaces the
// application implements. The front end never touches the relay record itself: the window thread
// hands it a RemoteStatus whenever what the window shows changes, the engine's counters and the
// meter are read through IRemoteModel::Readings (lock-free, from the server's thread), and every
// action runs as a model operation on the window thread (IRemoteModel::Execute), exactly as the
// window's buttons run it.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmor {

// One entry of the source picker's list: the NDI name and the address the library gives.
struct RemoteSource {
    std::string name;
    std::string address;
    bool operator==(const RemoteSource&) const = default;
};

struct RemoteVideoFormat {
    int width = 0;
    int height = 0;
    int frameRateN = 0;
    int frameRateD = 0;
    std::string scan;  // "progressive", "interleaved", "field 0" or "field 1"
    std::string fourCC;
    bool operator==(const RemoteVideoFormat&) const = default;
};

struct RemoteAudioFormat {
    int channels = 0;
    int sampleRate = 0;
    bool operator==(const RemoteAudioFormat&) const = default;
};

// A coloured button of the window as it shows now (colour index 0 none, 1 on, 2 ready, 3 off,
// 4 intermediate).
struct RemoteButton {
    std::string name;  // "freeze", "overlay", ... (stable: used by scripts and the page)
    std::string caption;
    int colour = 0;
    bool enabled = true;
    bool operator==(const RemoteButton&) const = default;
};

// What the window shows, made on the window thread at each change.
struct RemoteStatus {
    int copy = 0;  // 1 to 8; 0 until the copy's number is decided
    std::string title;
    bool connected = false;
    std::optional<std::string> source;  // the connected source's name
    std::optional<RemoteVideoFormat> video;
    std::optional<RemoteAudioFormat> audio;
    std::string freeze = "live";  // "live", "requested" or "held"
    bool textBox = false;         // the overlay (the remote text box) is on
    // Named in the status's JSON as they are here.
    std::vector<std::pair<std::string, std::string>> captions;
    std::vector<std::pair<std::string, std::string>> lamps;
    std::vector<RemoteButton> buttons;
    std::vector<RemoteSource> sources;
    bool operator==(const RemoteStatus&) const = default;
};

// Read from the engine and the meter at any moment, from any thread.
struct LiveReadings {
    bool connected = false;
    int freezeState = 0;  // 0 live, 2 requested, 1 held
    uint64_t videoFramesReceived = 0;
    uint64_t videoFramesSent = 0;
    uint64_t videoFramesDropped = 0;
    uint64_t videoFramesLate = 0;
    uint64_t audioSamplesSent = 0;
    uint64_t audioBlocksLate = 0;
    uint64_t monitorSamplesDropped = 0;
    double videoDelaySeconds = 0.0;
    double audioDelaySeconds = 0.0;
    // The meter: the absolute peaks of the latest block (1.0 full scale), the bar positions of
    // the window's meter (0..1) and whether its overload mark shows.
    float peak[2] = {0.0f, 0.0f};
    float bar[2] = {0.0f, 0.0f};
    bool overload[2] = {false, false};
};

enum class RemoteAction { Connect, Disconnect, Freeze, Grab, ShowText, ClearText };

struct RemoteCommand {
    RemoteAction action = RemoteAction::Disconnect;
    std::string text;  // Connect: the source's name; ShowText: the text
    bool on = false;   // Freeze
};

// The outcome of an action: an HTTP status (200, 202, 404, 409, 500, 504), the message shown to
// the client (the window's own text where it has one), and for a grab the file written.
struct ActionReply {
    int status = 200;
    std::string message;
    std::string file;
};

class IRemoteModel {
public:
    virtual ~IRemoteModel() = default;
    // Any thread; lock-free reads only.
    virtual LiveReadings Readings() const = 0;
    // Window thread. `reply` is called exactly once on the window thread, at once or later (a
    // grab answers once its file is written).
    virtual void Execute(const RemoteCommand& command, std::function<void(ActionReply)> reply) = 0;
    // The server's thread: a client asked for the preview picture. Must not block. False when
    // the preview was not being rendered and has only now been asked for: the server then waits
    // a moment for a new picture rather than send an old one.
    virtual bool PreviewWanted() { return true; }
};

// The answer to a change of settings: 200, 400 for a field that is unknown or whose value is bad,
// 409 for one that may not change now; the field at fault and what is wrong with it.
struct SettingsReply {
    int status = 200;
    std::string message;
    std::string field;
};

// The operator settings by their stable names (GET and PATCH /api/v1/settings,
// remote/settings_document.h): the settings document as one JSON object, and a change of some of
// them (an object of names and new values, already parsed from a body of at most 64 KiB), applied
// whole or not at all. Without it both paths answer 501. Window thread.
class ISettingsAccess {
public:
    virtual ~ISettingsAccess() = default;
    virtual nlohmann::json Get() = 0;
    virtual SettingsReply Patch(const nlohmann::json& changes) = 0;
};

}  // namespace velmor
