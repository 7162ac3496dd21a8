// The HTTP API's decisions, apart from any socket: which path does what, who may, what a request
// body must hold, and the JSON and Prometheus texts of the answers. Pure functions over a parsed
// request, so the fuzz target and the tests drive them without a server, and the server
// (http_server.h) only moves bytes and carries actions to the window thread.
//
//   GET  /  and the page's files         the control page (no token needed)
//   GET  /api/v1/status                  RemoteStatus and the counters
//   GET  /api/v1/sources                 the source picker's list
//   POST /api/v1/connect {"source": NAME}, /api/v1/disconnect
//   POST /api/v1/freeze {"on": BOOL}, /api/v1/grab, /api/v1/text {"text": TEXT}
//   DELETE /api/v1/text
//   GET, PATCH /api/v1/settings          through ISettingsAccess (501 without it)
//   GET  /api/v1/preview.jpg             the newest preview picture
//   GET  /api/v1/events                  the WebSocket of status changes and meter levels
//   GET  /metrics                        Prometheus text
//
// Everything under /api/ and /metrics needs "Authorization: Bearer TOKEN"; the events socket may
// instead name the token as a WebSocket subprotocol "velmor-token.TOKEN" or send it as its first
// message {"token": TOKEN}.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "remote/remote_model.h"

namespace velmor {

inline constexpr size_t kMaxRequestBody = 64 * 1024;
inline constexpr size_t kMaxRequestHeader = 8 * 1024;
inline constexpr size_t kMaxTextBoxUnits = 1024;  // UTF-16 units, as the bus's text box
inline constexpr std::string_view kEventsProtocol = "velmor-events";
inline constexpr std::string_view kTokenProtocolPrefix = "velmor-token.";

struct ApiRequest {
    std::string_view method;  // as sent ("GET", ...)
    std::string_view target;  // origin form; a query is ignored
    std::string_view authorization;
    std::string_view contentType;
    std::string_view body;
    std::string_view protocols;  // Sec-WebSocket-Protocol
    bool websocketUpgrade = false;
};

struct ApiResponse {
    int status = 200;
    std::string contentType = "application/json; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // beyond the server's own
};

enum class ApiRoute {
    Respond,        // `response` is the answer
    Action,         // run `command` on the window thread
    Preview,        // the newest preview picture
    Events,         // upgrade to the events WebSocket (`authenticated`: by header or protocol)
    SettingsGet,    // ISettingsAccess::Get
    SettingsPatch,  // ISettingsAccess::Patch with `changes`
};

struct ApiDecision {
    ApiRoute route = ApiRoute::Respond;
    ApiResponse response;
    RemoteCommand command;
    bool authenticated = false;
    std::shared_ptr<const nlohmann::json> changes;
};

// The server's own figures, for /metrics.
struct ServerFigures {
    int connections = 0;
    int eventClients = 0;
    uint64_t requests = 0;
    uint64_t unauthorised = 0;
    uint64_t refusedConnections = 0;
    uint64_t droppedEventClients = 0;
};

struct ApiContext {
    std::string_view token;
    const RemoteStatus* status = nullptr;
    LiveReadings readings;
    ServerFigures figures;
    bool settingsAvailable = false;
};

ApiDecision DecideRequest(const ApiRequest& request, const ApiContext& context);

// A JSON error answer {"error": message}.
ApiResponse ErrorResponse(int status, std::string_view message);
// The answer to an action.
ApiResponse ActionResponse(const RemoteCommand& command, const ActionReply& reply);
// A refused change of settings: {"error": message, "field": field}.
ApiResponse SettingsErrorResponse(const SettingsReply& reply);

// The texts the server sends.
std::string StatusJson(const RemoteStatus& status, const LiveReadings& readings);
std::string SourcesJson(const RemoteStatus& status);
std::string StatusEvent(const RemoteStatus& status, const LiveReadings& readings);
std::string LevelsEvent(const LiveReadings& readings);
std::string CountersEvent(const LiveReadings& readings);
// `document` is the settings document's JSON text, as GET /api/v1/settings answers.
std::string SettingsEvent(std::string_view document);
std::string MetricsText(int copy, const LiveReadings& readings, const ServerFigures& figures);
// A peak (1.0 full scale) in dBFS, at least -120 (silence).
double PeakDbfs(float peak);

// The events socket's first message: true when it is {"token": T} with T the token.
bool EventsAuthMessage(std::string_view message, std::string_view token);
// Whether a Sec-WebSocket-Protocol list names the token ("velmor-token.TOKEN"); `named` tells
// whether it named any token at all. `chosen` is the protocol the server answers with (the
// events protocol when offered, else the first offered), empty when none was offered.
bool ProtocolsCarryToken(std::string_view protocols, std::string_view token, bool& named,
                         std::string& chosen);

}  // namespace velmor
