#include "remote/http_api.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "remote/access_token.h"
#include "remote/control_page_files.h"

namespace velmor {

namespace {

using Json = nlohmann::ordered_json;

// Texts from the network (source names) may hold invalid UTF-8; they are sent with U+FFFD.
std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// UTF-16 units of a valid UTF-8 text: four-byte sequences take two.
size_t Utf16Units(std::string_view utf8) {
    size_t units = 0;
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
    }
    return units;
}

ApiResponse JsonResponse(int status, const Json& body) {
    ApiResponse r;
    r.status = status;
    r.body = Dump(body);
    return r;
}

struct Route {
    std::string_view path;
    std::string_view allow;  // for 405
};
constexpr Route kRoutes[] = {
    {"/api/v1/status", "GET"},
    {"/api/v1/sources", "GET"},
    {"/api/v1/connect", "POST"},
    {"/api/v1/disconnect", "POST"},
    {"/api/v1/freeze", "POST"},
    {"/api/v1/grab", "POST"},
    {"/api/v1/text", "POST, DELETE"},
    {"/api/v1/settings", "GET, PATCH"},
    {"/api/v1/preview.jpg", "GET"},
    {"/api/v1/events", "GET"},
    {"/metrics", "GET"},
};

bool JsonContentType(const ApiRequest& request, ApiResponse& error) {
    const std::string_view type =
        Trim(request.contentType.substr(0, request.contentType.find(';')));
    if (type.empty() || EqualsNoCase(type, "application/json")) return true;
    error = ErrorResponse(415, "send the body as JSON, with Content-Type: application/json");
    return false;
}

// A body that must be a JSON object.
template <class J>
bool ParseObject(const ApiRequest& request, J& object, ApiResponse& error) {
    if (!JsonContentType(request, error)) return false;
    if (Trim(request.body).empty()) {
        error = ErrorResponse(400, "this request needs a JSON object as its body");
        return false;
    }
    try {
        object = J::parse(request.body);
    } catch (const typename J::parse_error& e) {
        error = ErrorResponse(400, "malformed JSON at byte " + std::to_string(e.byte));
        return false;
    }
    if (!object.is_object()) {
        error = ErrorResponse(400, "the body must be a JSON object");
        return false;
    }
    return true;
}

// The body of an action: empty, or a JSON object with exactly the fields named. A field that is
// not one of them is refused, so a misspelt name never passes unnoticed.
bool ReadObject(const ApiRequest& request, std::initializer_list<std::string_view> fields,
                bool bodyRequired, Json& object, ApiResponse& error) {
    if (!bodyRequired && Trim(request.body).empty()) {
        if (!JsonContentType(request, error)) return false;
        object = Json::object();
        return true;
    }
    if (!ParseObject(request, object, error)) return false;
    for (const auto& item : object.items()) {
        bool known = false;
        for (const std::string_view f : fields)
            known |= item.key() == f;
        if (!known) {
            error = ErrorResponse(400, "unknown field \"" + item.key() + "\"");
            return false;
        }
    }
    return true;
}

bool StringField(const Json& object, const char* name, size_t maxBytes, std::string& value,
                 ApiResponse& error) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string()) {
        error = ErrorResponse(400, std::string("\"") + name + "\" must be a string");
        return false;
    }
    value = it->get<std::string>();
    if (value.size() > maxBytes) {
        error = ErrorResponse(413, std::string("\"") + name + "\" is too long");
        return false;
    }
    return true;
}

ApiDecision Respond(ApiResponse response) {
    ApiDecision d;
    d.response = std::move(response);
    return d;
}

ApiDecision Act(RemoteAction action, std::string text = {}, bool on = false) {
    ApiDecision d;
    d.route = ApiRoute::Action;
    d.command = {action, std::move(text), on};
    return d;
}

ApiDecision DecideAction(std::string_view path, std::string_view method,
                         const ApiRequest& request) {
    Json body;
    ApiResponse error;
    if (path == "/api/v1/connect") {
        std::string name;
        if (!ReadObject(request, {"source"}, true, body, error) ||
            !StringField(body, "source", 1024, name, error))
            return Respond(error);
        if (name.empty()) return Respond(ErrorResponse(400, "\"source\" is empty"));
        return Act(RemoteAction::Connect, name);
    }
    if (path == "/api/v1/disconnect" || path == "/api/v1/grab") {
        if (!ReadObject(request, {}, false, body, error)) return Respond(error);
        return Act(path == "/api/v1/grab" ? RemoteAction::Grab : RemoteAction::Disconnect);
    }
    if (path == "/api/v1/freeze") {
        if (!ReadObject(request, {"on"}, true, body, error)) return Respond(error);
        const auto on = body.find("on");
        if (on == body.end() || !on->is_boolean())
            return Respond(ErrorResponse(400, "\"on\" must be true or false"));
        return Act(RemoteAction::Freeze, {}, on->get<bool>());
    }
    // /api/v1/text
    if (method == "DELETE") return Act(RemoteAction::ClearText);
    std::string text;
    if (!ReadObject(request, {"text"}, true, body, error) ||
        !StringField(body, "text", kMaxRequestBody, text, error))
        return Respond(error);
    if (Utf16Units(text) > kMaxTextBoxUnits)
        return Respond(ErrorResponse(413, "the text box holds at most 1024 characters"));
    return Act(RemoteAction::ShowText, text);
}

std::string Number(double v) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, r.ptr);
}

const char* FreezeName(int state) {
    return state == 1 ? "held" : state == 2 ? "requested" : "live";
}

Json CountersObject(const LiveReadings& r) {
    Json c = Json::object();
    c["videoFramesReceived"] = r.videoFramesReceived;
    c["videoFramesSent"] = r.videoFramesSent;
    c["videoFramesDropped"] = r.videoFramesDropped;
    c["videoFramesLate"] = r.videoFramesLate;
    c["audioSamplesSent"] = r.audioSamplesSent;
    c["audioBlocksLate"] = r.audioBlocksLate;
    c["videoDelaySeconds"] = r.videoDelaySeconds;
    c["audioDelaySeconds"] = r.audioDelaySeconds;
    return c;
}

Json StatusObject(const RemoteStatus& s, const LiveReadings& r) {
    Json j = Json::object();
    j["copy"] = s.copy;
    j["title"] = s.title;
    j["connected"] = r.connected;
    j["source"] = s.source && r.connected ? Json(*s.source) : Json(nullptr);
    if (s.video && r.connected) {
        const RemoteVideoFormat& v = *s.video;
        j["video"] = {{"width", v.width},
                      {"height", v.height},
                      {"frameRateN", v.frameRateN},
                      {"frameRateD", v.frameRateD},
                      {"scan", v.scan},
                      {"progressive", v.scan == "progressive"},
                      {"fourCC", v.fourCC}};
    } else {
        j["video"] = nullptr;
    }
    if (s.audio && r.connected) {
        j["audio"] = {{"channels", s.audio->channels}, {"sampleRate", s.audio->sampleRate}};
    } else {
        j["audio"] = nullptr;
    }
    j["frozen"] = r.freezeState != 0;
    j["freeze"] = FreezeName(r.freezeState);
    j["textBox"] = s.textBox;
    Json captions = Json::object();
    for (const auto& [name, text] : s.captions)
        captions[name] = text;
    j["captions"] = captions;
    Json lamps = Json::object();
    for (const auto& [name, colour] : s.lamps)
        lamps[name] = colour;
    j["lamps"] = lamps;
    Json buttons = Json::object();
    for (const RemoteButton& b : s.buttons)
        buttons[b.name] = {{"caption", b.caption}, {"colour", b.colour}, {"enabled", b.enabled}};
    j["buttons"] = buttons;
    // The picker's list too, so the events socket carries its changes.
    Json sources = Json::array();
    for (const RemoteSource& source : s.sources)
        sources.push_back({{"name", source.name}, {"address", source.address}});
    j["sources"] = sources;
    j["counters"] = CountersObject(r);
    return j;
}

}  // namespace

double PeakDbfs(float peak) {
    const double p = std::fabs(static_cast<double>(peak));
    if (!(p > 1e-6)) return -120.0;
    return std::max(-120.0, std::round(200.0 * std::log10(p)) / 10.0);
}

ApiResponse ErrorResponse(int status, std::string_view message) {
    return JsonResponse(status, Json{{"error", std::string(message)}});
}

ApiResponse SettingsErrorResponse(const SettingsReply& reply) {
    Json j{{"error", reply.message}};
    if (!reply.field.empty()) j["field"] = reply.field;
    return JsonResponse(reply.status, j);
}

ApiResponse ActionResponse(const RemoteCommand& command, const ActionReply& reply) {
    if (reply.status >= 300) return ErrorResponse(reply.status, reply.message);
    Json j = Json::object();
    j["message"] = reply.message;
    if (command.action == RemoteAction::Grab) j["file"] = reply.file;
    return JsonResponse(reply.status, j);
}

std::string StatusJson(const RemoteStatus& status, const LiveReadings& readings) {
    return Dump(StatusObject(status, readings));
}

std::string SourcesJson(const RemoteStatus& status) {
    Json list = Json::array();
    for (const RemoteSource& s : status.sources)
        list.push_back({{"name", s.name}, {"address", s.address}});
    return Dump(Json{{"sources", list}});
}

std::string StatusEvent(const RemoteStatus& status, const LiveReadings& readings) {
    return Dump(Json{{"type", "status"}, {"status", StatusObject(status, readings)}});
}

std::string LevelsEvent(const LiveReadings& r) {
    Json j = Json::object();
    j["type"] = "levels";
    j["peakDbfs"] = {PeakDbfs(r.peak[0]), PeakDbfs(r.peak[1])};
    j["bar"] = {std::round(r.bar[0] * 1000.0f) / 1000.0f, std::round(r.bar[1] * 1000.0f) / 1000.0f};
    j["overload"] = {r.overload[0], r.overload[1]};
    return Dump(j);
}

std::string CountersEvent(const LiveReadings& readings) {
    return Dump(Json{{"type", "counters"}, {"counters", CountersObject(readings)}});
}

std::string SettingsEvent(std::string_view document) {
    return R"({"type":"settings","settings":)" + std::string(document) + "}";
}

std::string MetricsText(int copy, const LiveReadings& r, const ServerFigures& f) {
    std::string out;
    const std::string label = "copy=\"" + std::to_string(copy) + "\"";
    auto family = [&](const char* name, const char* type, const char* help) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    auto sample = [&](const char* name, const std::string& extra, const std::string& value) {
        out += std::string(name) + "{" + label + extra + "} " + value + "\n";
    };
    auto one = [&](const char* name, const char* type, const char* help, const std::string& v) {
        family(name, type, help);
        sample(name, "", v);
    };
    one("velmor_connected", "gauge", "1 while a source is connected (an engine thread runs).",
        r.connected ? "1" : "0");
    one("velmor_frozen", "gauge", "1 while a freeze is requested or held.",
        r.freezeState != 0 ? "1" : "0");
    one("velmor_video_frames_received_total", "counter", "Video frames taken from the source.",
        std::to_string(r.videoFramesReceived));
    one("velmor_video_frames_sent_total", "counter", "Video frames sent on the main output.",
        std::to_string(r.videoFramesSent));
    one("velmor_video_frames_dropped_total", "counter",
        "Video frames received and not sent (too late, or beyond the frame limits).",
        std::to_string(r.videoFramesDropped));
    one("velmor_video_frames_late_total", "counter",
        "Of the dropped frames, those skipped for being too late.",
        std::to_string(r.videoFramesLate));
    one("velmor_audio_samples_sent_total", "counter",
        "Audio samples (per channel) sent on the main output.", std::to_string(r.audioSamplesSent));
    one("velmor_audio_blocks_late_total", "counter", "Audio blocks skipped for being too late.",
        std::to_string(r.audioBlocksLate));
    one("velmor_monitor_samples_dropped_total", "counter",
        "Monitor audio samples dropped because the sound server did not keep up.",
        std::to_string(r.monitorSamplesDropped));
    family("velmor_output_delay_seconds", "gauge",
           "Delay of the newest output frame behind the source's timecode.");
    sample("velmor_output_delay_seconds", ",media=\"video\"", Number(r.videoDelaySeconds));
    sample("velmor_output_delay_seconds", ",media=\"audio\"", Number(r.audioDelaySeconds));
    family("velmor_audio_peak_dbfs", "gauge",
           "Peak of the latest audio block per metered channel, dBFS (-120 for silence).");
    sample("velmor_audio_peak_dbfs", ",channel=\"1\"", Number(PeakDbfs(r.peak[0])));
    sample("velmor_audio_peak_dbfs", ",channel=\"2\"", Number(PeakDbfs(r.peak[1])));
    one("velmor_http_connections", "gauge", "Open HTTP connections.",
        std::to_string(f.connections));
    one("velmor_http_event_clients", "gauge", "Clients of the events WebSocket.",
        std::to_string(f.eventClients));
    one("velmor_http_requests_total", "counter", "HTTP requests answered.",
        std::to_string(f.requests));
    one("velmor_http_unauthorised_total", "counter",
        "Requests refused for a missing or wrong token.", std::to_string(f.unauthorised));
    one("velmor_http_refused_connections_total", "counter",
        "Connections refused because too many were open.", std::to_string(f.refusedConnections));
    one("velmor_http_dropped_event_clients_total", "counter",
        "Event clients dropped for not reading fast enough.",
        std::to_string(f.droppedEventClients));
    return out;
}

bool EventsAuthMessage(std::string_view message, std::string_view token) {
    const Json j = Json::parse(message, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return false;
    const auto it = j.find("token");
    if (it == j.end() || !it->is_string()) return false;
    return SameSecret(it->get_ref<const std::string&>(), token) && !token.empty();
}

bool ProtocolsCarryToken(std::string_view protocols, std::string_view token, bool& named,
                         std::string& chosen) {
    named = false;
    chosen.clear();
    bool matched = false, eventsOffered = false;
    std::string first;
    while (!protocols.empty()) {
        const size_t comma = protocols.find(',');
        const std::string_view item = Trim(protocols.substr(0, comma));
        protocols =
            comma == std::string_view::npos ? std::string_view() : protocols.substr(comma + 1);
        if (item.empty()) continue;
        if (first.empty()) first = std::string(item);
        if (item == kEventsProtocol) eventsOffered = true;
        if (item.substr(0, kTokenProtocolPrefix.size()) == kTokenProtocolPrefix) {
            named = true;
            matched |=
                SameSecret(item.substr(kTokenProtocolPrefix.size()), token) && !token.empty();
        }
    }
    chosen = eventsOffered ? std::string(kEventsProtocol) : first;
    return matched;
}

ApiDecision DecideRequest(const ApiRequest& request, const ApiContext& context) {
    const std::string_view path = request.target.substr(0, request.target.find('?'));
    const std::string_view method = request.method;
    if (path.empty() || path.front() != '/')
        return Respond(ErrorResponse(400, "the request target must be a path"));

    // The page and its files: no token (the page asks for it).
    size_t count = 0;
    const PageFile* files = ControlPageFiles(count);
    const std::string_view file = path == "/" ? std::string_view("/index.html") : path;
    for (size_t i = 0; i < count; ++i) {
        if (files[i].path != file) continue;
        if (method != "GET" && method != "HEAD") {
            ApiResponse r = ErrorResponse(405, "the page's files are only read (GET)");
            r.headers.push_back({"Allow", "GET, HEAD"});
            return Respond(r);
        }
        ApiResponse r;
        r.contentType = std::string(files[i].contentType);
        r.body = std::string(files[i].bytes);
        return Respond(r);
    }

    const bool api = path.substr(0, 5) == "/api/" || path == "/api" || path == "/metrics";
    if (!api) return Respond(ErrorResponse(404, "no such page"));

    ApiDecision decision;
    bool authorised = BearerMatches(request.authorization, context.token);
    if (!authorised && path == "/api/v1/events" && request.websocketUpgrade && method == "GET" &&
        request.authorization.empty()) {
        // A browser cannot set a header on a WebSocket: a token among the subprotocols, or the
        // first message.
        bool named = false;
        std::string chosen;
        const bool carried = ProtocolsCarryToken(request.protocols, context.token, named, chosen);
        if (carried || !named) {
            decision.route = ApiRoute::Events;
            decision.authenticated = carried;
            return decision;
        }
    }
    if (!authorised) {
        ApiResponse r = ErrorResponse(401, "a valid \"Authorization: Bearer TOKEN\" is needed");
        r.headers.push_back({"WWW-Authenticate", "Bearer realm=\"velmor\""});
        return Respond(r);
    }

    const Route* route = nullptr;
    for (const Route& candidate : kRoutes)
        if (candidate.path == path) route = &candidate;
    if (!route) return Respond(ErrorResponse(404, "no such API path"));
    bool allowed = false;
    for (std::string_view list = route->allow; !list.empty();) {
        const size_t comma = list.find(',');
        allowed |= Trim(list.substr(0, comma)) == method;
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    if (!allowed) {
        ApiResponse r = ErrorResponse(405, "use " + std::string(route->allow) + " here");
        r.headers.push_back({"Allow", std::string(route->allow)});
        return Respond(r);
    }

    if (path == "/api/v1/status") {
        ApiResponse r;
        r.body = context.status ? StatusJson(*context.status, context.readings)
                                : StatusJson(RemoteStatus{}, context.readings);
        return Respond(r);
    }
    if (path == "/api/v1/sources") {
        ApiResponse r;
        r.body = SourcesJson(context.status ? *context.status : RemoteStatus{});
        return Respond(r);
    }
    if (path == "/metrics") {
        ApiResponse r;
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = MetricsText(context.status ? context.status->copy : 0, context.readings,
                             context.figures);
        return Respond(r);
    }
    if (path == "/api/v1/preview.jpg") {
        decision.route = ApiRoute::Preview;
        return decision;
    }
    if (path == "/api/v1/events") {
        if (!request.websocketUpgrade)
            return Respond(ErrorResponse(426, "this path is a WebSocket (Upgrade: websocket)"));
        decision.route = ApiRoute::Events;
        decision.authenticated = true;
        return decision;
    }
    if (path == "/api/v1/settings") {
        if (!context.settingsAvailable)
            return Respond(ErrorResponse(501, "the settings are not offered by this version yet"));
        if (method != "PATCH") {
            decision.route = ApiRoute::SettingsGet;
            return decision;
        }
        // Which names a change may hold is the settings table's to say.
        nlohmann::json changes;
        ApiResponse error;
        if (!ParseObject(request, changes, error)) return Respond(error);
        decision.route = ApiRoute::SettingsPatch;
        decision.changes = std::make_shared<const nlohmann::json>(std::move(changes));
        return decision;
    }
    return DecideAction(path, method, request);
}

}  // namespace velmor
