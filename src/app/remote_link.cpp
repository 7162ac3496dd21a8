#include "app/remote_link.h"

#include <algorithm>

#include "audio/meter_measure.h"
#include "audio/ppm_meter.h"
#include "ndi/ndi_types.h"
#include "platform/drawn_pictures.h"
#include "remote/access_token.h"

namespace velmor {

namespace {

constexpr int kPreviewIdleMs = 10000;  // the preview stops this long after the last request
constexpr int kSettingsPollMs = 250;
constexpr size_t kMaxGrabReplies = 16;

// The status's names of the window's coloured buttons, in WindowButton's order.
constexpr const char* kButtonNames[kWindowButtonCount] = {"freeze",     "overlay",     "ppmOverlay",
                                                          "audioDelay", "audioMap",    "output",
                                                          "rotate",     "deinterlace", "procAmp"};

const char* ScanName(int frameFormatType) {
    switch (frameFormatType) {
        case NDIlib_frame_format_type_interleaved:
            return "interleaved";
        case NDIlib_frame_format_type_field_0:
            return "field 0";
        case NDIlib_frame_format_type_field_1:
            return "field 1";
        default:
            return "progressive";
    }
}

std::string FourCCText(uint32_t f) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((f >> (8 * i)) & 0xff);
        text += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return text;
}

}  // namespace

bool RemoteLink::Prepare(const RelayOptions& options, RemoteSettings& settings, std::string& error,
                         std::string& warning) {
    if (!ParseListenAddress(options.http, settings.listen, error)) return false;
    if (!options.httpTokenFile.empty() &&
        !ReadAccessToken(options.httpTokenFile, settings.token, error, warning))
        return false;
    return true;
}

RemoteLink::RemoteLink(RelayController& controller, MainCommands& commands, RemoteSettings settings,
                       bool ownsPreview)
    : c_(controller),
      commands_(commands),
      settings_(std::move(settings)),
      ownsPreview_(ownsPreview) {
    settingsPoll_.setInterval(kSettingsPollMs);
    QObject::connect(&settingsPoll_, &QTimer::timeout, [this] { PublishSettings(); });
    previewIdle_.setSingleShot(true);
    QObject::connect(&previewIdle_, &QTimer::timeout, [this] {
        if (!ownsPreview_) return;
        previewRendered_ = false;
        c_.ShowPreviewOn(false);
    });
}

RemoteLink::~RemoteLink() {
    Stop();
    *alive_ = false;
}

void RemoteLink::Start() {
    if (server_) return;
    RelayRecord& r = c_.record();
    const int copy = r.instanceIndex + 1;
    IWindowSide& side = c_.side();
    bool madeToken = false;
    if (settings_.token.empty()) {
        settings_.token = MakeAccessToken();
        madeToken = true;
        if (settings_.token.empty()) {
            side.Log("HTTP: no random bytes for a token; the control page stays off");
            if (onStarted) onStarted();
            return;
        }
    }
    HttpServerOptions o;
    o.listen = settings_.listen;
    o.token = settings_.token;
    std::weak_ptr<bool> alive = alive_;
    // The log reaches the operator through the window thread.
    o.log = [this, alive](const std::string& line) {
        c_.calls().Post([this, alive, line] {
            if (auto a = alive.lock(); a && *a) c_.side().Log(line);
        });
    };
    IRemoteModel& model = *this;
    auto server = std::make_unique<HttpServer>(
        o, model, [this](std::function<void()> task) { c_.calls().Post(std::move(task)); },
        &c_.mainPreview(), &settingsAccess_);
    std::string error;
    if (!server->Start(error)) {
        side.Log("HTTP: " + error + "; the control page stays off");
        if (onStarted) onStarted();
        return;
    }
    server_ = std::move(server);
    listener_ =
        c_.model().AddListener([this](const ModelChange& change) { OnModelChange(change); });
    c_.onGrabDone = [this](bool ok, const std::string& path) { GrabDone(ok, path); };
    Flush();
    settingsPoll_.start();

    if (!settings_.listen.Loopback())
        side.Log("HTTP: listening on " + settings_.listen.host +
                 ", which other machines can "
                 "reach: the token is the only protection, and the traffic is not encrypted "
                 "(put a TLS proxy or an SSH tunnel in front)");
    std::string where;
    if (madeToken) {
        std::string tokenError;
        const std::string path = WriteAccessToken(settings_.token, copy, tokenError);
        where = path.empty() ? " (the token could not be written: " + tokenError +
                                   "; give one with --http-token-file)"
                             : " (token in " + path + ")";
    }
    side.Log("HTTP control page: " + PageAddress() + where);
    if (onStarted) onStarted();
}

void RemoteLink::Stop() {
    if (!server_) return;
    settingsPoll_.stop();
    server_->Stop();
    server_.reset();
    c_.model().RemoveListener(listener_);
    c_.onGrabDone = nullptr;
    for (auto& reply : grabReplies_)
        reply({503, "Velmor is stopping", ""});
    grabReplies_.clear();
}

std::string RemoteLink::PageAddress() const {
    return server_ ? settings_.listen.PageAddress(server_->port()) : std::string();
}

std::string RemoteLink::PageLink() const {
    return server_ ? PageAddress() + "#token=" + settings_.token : std::string();
}

// --- What the window shows ---

void RemoteLink::OnModelChange(const ModelChange& change) {
    // The preview and the meter's repaints are not status: the picture and the levels have ways
    // of their own.
    if (change.kind == ModelChange::Kind::Preview || change.kind == ModelChange::Kind::Meter)
        return;
    if (flushPosted_) return;
    flushPosted_ = true;
    std::weak_ptr<bool> alive = alive_;
    c_.calls().Post([this, alive] {
        if (auto a = alive.lock(); a && *a) Flush();
    });
}

void RemoteLink::Flush() {
    flushPosted_ = false;
    if (!server_) return;
    server_->PublishStatus(Snapshot());
    PublishSettings();
}

void RemoteLink::PublishSettings() {
    if (!server_) return;
    std::string document =
        settingsAccess_.Get().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (document == publishedSettings_) return;
    publishedSettings_ = document;
    server_->PublishSettings(std::move(document));
}

RemoteStatus RemoteLink::Snapshot() const {
    const RelayRecord& r = c_.record();
    const MainWindowModel& m = c_.model();
    RemoteStatus s;
    s.copy = r.instanceIndex + 1;
    s.title = m.caption(Caption::Title);
    Engine* engine = c_.engine();
    s.connected = engine && engine->IsConnected();
    if (!r.sourceListName.empty()) s.source = r.sourceListName;
    const VideoFormatReport& v = m.videoFormat();
    if (v.width > 0)
        s.video = RemoteVideoFormat{v.width,
                                    v.height,
                                    v.frameRateN,
                                    v.frameRateD,
                                    ScanName(v.frameFormatType),
                                    FourCCText(v.fourCC)};
    if (m.audioChannels() > 0) s.audio = RemoteAudioFormat{m.audioChannels(), m.audioSampleRate()};
    s.textBox = r.overlaySetup.overlayOn != 0;
    s.captions = {
        {"source", m.caption(Caption::Source)},
        {"video", m.caption(Caption::Video)},
        {"audio", m.caption(Caption::Audio)},
        {"delay", m.caption(Caption::DelayCounter)},
        {"ebu", m.caption(Caption::Ebu)},
        {"level", m.caption(Caption::Level)},
        {"extraIp", m.caption(Caption::ExtraIp)},
        {"time", m.flag(Flag::TimeTextShown) ? m.caption(Caption::TimeText) : std::string()},
    };
    s.lamps = {{"signal", LampColourName(m.lamp(LampId::Signal))},
               {"freeze", LampColourName(m.lamp(LampId::Freeze))}};
    for (int b = 0; b < kWindowButtonCount; ++b) {
        const ButtonView& view = m.button(static_cast<WindowButton>(b));
        s.buttons.push_back({kButtonNames[b], view.caption, view.colour, view.enabled});
    }
    // The picker's sources, with the addresses the library gives. The items are refilled only
    // when the count changes, while the library's array is replaced at every query: the
    // addresses are found by name.
    const PickerState& p = r.picker;
    const std::vector<std::string>& items = m.pickerItems();
    for (size_t i = 1; i < items.size(); ++i) {
        RemoteSource source{items[i], {}};
        for (uint32_t k = 0; p.sources && k < p.sourceCount; ++k) {
            const NDIlib_source_t& listed = p.sources[k];
            if (listed.p_ndi_name && listed.p_url_address && items[i] == listed.p_ndi_name) {
                source.address = listed.p_url_address;
                break;
            }
        }
        s.sources.push_back(std::move(source));
    }
    return s;
}

// --- The server's thread ---

LiveReadings RemoteLink::Readings() const {
    const RelayRecord& r = c_.record();
    const RelayCounters& k = r.counters;
    constexpr auto relaxed = std::memory_order_relaxed;
    LiveReadings l;
    l.connected = r.videoThreadAlive.load(relaxed) != 0 || r.audioThreadAlive.load(relaxed) != 0;
    l.freezeState = static_cast<int>(r.freezeState.state());
    l.videoFramesReceived = k.videoFramesReceived.load(relaxed);
    l.videoFramesSent = k.videoFramesSent.load(relaxed);
    l.videoFramesDropped = k.videoFramesDropped.load(relaxed);
    l.videoFramesLate = k.videoFramesLate.load(relaxed);
    l.audioSamplesSent = k.audioSamplesSent.load(relaxed);
    l.audioBlocksLate = k.audioBlocksLate.load(relaxed);
    l.monitorSamplesDropped = k.monitorSamplesDropped.load(relaxed);
    l.videoDelaySeconds = static_cast<double>(k.videoDelay100ns.load(relaxed)) / 1e7;
    l.audioDelaySeconds = static_cast<double>(k.audioDelay100ns.load(relaxed)) / 1e7;
    // The meter is made before the server starts and lives as long as the controller; the
    // ballistics' holds and peaks are atomics the audio thread sets.
    if (PpmMeter* meter = r.ppmMeter.get()) {
        const MeterBallistics& ballistics = meter->ballistics();
        const float scale = r.meterLink.meterScale.load(relaxed);
        const int threshold = meter->smpteScale() ? kSmpteOverloadLevel : kEbuOverloadLevel;
        for (int i = 0; i < 2; ++i) {
            l.peak[i] = ballistics.peak(i);
            l.bar[i] = std::clamp(static_cast<float>(ballistics.hold(i)) / PpmMeter::kFullScale,
                                  0.0f, 1.0f);
            // As a real number: a peak of any size (or infinity) compares without overflow.
            l.overload[i] = l.peak[i] * 32768.0f * scale >= static_cast<float>(threshold + 1);
        }
    }
    return l;
}

bool RemoteLink::PreviewWanted() {
    if (!ownsPreview_) return true;  // the window shows it: it is rendered as the window wants
    const bool rendered = previewRendered_.load();
    if (previewAsked_.exchange(true)) return rendered;
    std::weak_ptr<bool> alive = alive_;
    c_.calls().Post([this, alive] {
        if (auto a = alive.lock(); !a || !*a) return;
        previewAsked_ = false;
        c_.ShowPreviewOn(true);
        previewRendered_ = true;
        previewIdle_.start(kPreviewIdleMs);
    });
    return rendered;
}

// --- Actions (window thread) ---

void RemoteLink::Execute(const RemoteCommand& command, std::function<void(ActionReply)> reply) {
    RelayRecord& r = c_.record();
    Engine* engine = c_.engine();
    const bool connected = engine && engine->IsConnected();
    ActionReply result;
    switch (command.action) {
        case RemoteAction::Connect: {
            if (connected) {
                result = {409, "You must disconnect the NDI Source first", ""};
                break;
            }
            const std::vector<std::string>& items = c_.model().pickerItems();
            int item = -1;
            for (size_t i = 1; i < items.size() && item < 0; ++i)
                if (items[i] == command.text) item = static_cast<int>(i);
            if (item < 0) {
                result = {404, "\"" + command.text + "\" is not in the source list", ""};
                break;
            }
            commands_.SourceSelected(item, command.text);
            result = {202, "connecting to " + command.text, ""};
            break;
        }
        case RemoteAction::Disconnect:
            commands_.Disconnect();
            result = {200, connected ? "disconnected" : "not connected", ""};
            break;
        case RemoteAction::Freeze: {
            const bool frozen = !r.freezeState.live();
            if (command.on == frozen) {
                result = {200, frozen ? "frozen" : "live", ""};
                break;
            }
            if (command.on && !r.videoThreadRun) {
                result = {409, "Freeze needs a connected source with video", ""};
                break;
            }
            commands_.Freeze();
            result = {200, command.on ? "frozen" : "live", ""};
            break;
        }
        case RemoteAction::Grab:
            if (!r.videoThreadRun) {
                result = {409, "FrameGrab needs a connected source with video", ""};
                break;
            }
            commands_.FrameGrab();
            // Answered with the file once the next grab has been written. The server waits for
            // at most 16 actions: a reply older than that has been answered already (timed out).
            if (grabReplies_.size() >= kMaxGrabReplies) grabReplies_.erase(grabReplies_.begin());
            grabReplies_.push_back(std::move(reply));
            Flush();
            return;
        case RemoteAction::ShowText:
            c_.ShowRemoteTextBox(command.text);
            result = {200, "text box shown", ""};
            break;
        case RemoteAction::ClearText:
            c_.HideRemoteTextBox();
            result = {200, "text box hidden", ""};
            break;
    }
    // The status an open page shows goes out before the answer.
    Flush();
    reply(result);
}

void RemoteLink::GrabDone(bool ok, const std::string& path) {
    std::vector<std::function<void(ActionReply)>> replies;
    replies.swap(grabReplies_);
    for (auto& reply : replies)
        reply(ok ? ActionReply{200, "frame grab saved", path}
                 : ActionReply{500, "frame grab failed: " + path, path});
}

}  // namespace velmor
