// The API's decisions without a server: who may do what, what a body must hold, and the texts
// sent back (status JSON, events, Prometheus metrics).
#include "remote/http_api.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "remote/access_token.h"

namespace velmor {
namespace {

constexpr const char* kToken = "s3cret-token-0123456789";

ApiDecision Decide(const std::string& method, const std::string& target,
                   const std::string& authorization = std::string("Bearer ") + kToken,
                   const std::string& body = {}, const std::string& type = "application/json",
                   bool upgrade = false, const std::string& protocols = {}) {
    static const RemoteStatus status;
    ApiRequest r;
    r.method = method;
    r.target = target;
    r.authorization = authorization;
    r.body = body;
    r.contentType = type;
    r.websocketUpgrade = upgrade;
    r.protocols = protocols;
    ApiContext c;
    c.token = kToken;
    c.status = &status;
    return DecideRequest(r, c);
}

nlohmann::json Body(const ApiDecision& d) {
    return nlohmann::json::parse(d.response.body);
}

struct PathCase {
    const char* method;
    const char* path;
};
constexpr PathCase kApiPaths[] = {
    {"GET", "/api/v1/status"},
    {"GET", "/api/v1/sources"},
    {"POST", "/api/v1/connect"},
    {"POST", "/api/v1/disconnect"},
    {"POST", "/api/v1/freeze"},
    {"POST", "/api/v1/grab"},
    {"POST", "/api/v1/text"},
    {"DELETE", "/api/v1/text"},
    {"GET", "/api/v1/settings"},
    {"PATCH", "/api/v1/settings"},
    {"GET", "/api/v1/preview.jpg"},
    {"GET", "/api/v1/events"},
    {"GET", "/metrics"},
    {"GET", "/api/v2/anything"},
    {"GET", "/api"},
    {"PUT", "/api/v1/status"},
};

TEST(HttpApi, EveryApiPathNeedsTheToken) {
    const std::string wrong[] = {"",
                                 "Bearer",
                                 "Bearer ",
                                 "Bearer wrong",
                                 "Basic czNjcmV0",
                                 std::string("Bearer ") + kToken + "x",
                                 std::string("Bearer ") + std::string(kToken).substr(1),
                                 std::string("Token ") + kToken};
    for (const PathCase& p : kApiPaths) {
        for (const std::string& auth : wrong) {
            SCOPED_TRACE(std::string(p.method) + " " + p.path + " with \"" + auth + "\"");
            const ApiDecision d = Decide(p.method, p.path, auth, R"({"on":true})");
            EXPECT_EQ(d.route, ApiRoute::Respond) << "nothing is acted on";
            EXPECT_EQ(d.response.status, 401);
            EXPECT_EQ(Body(d)["error"], "a valid \"Authorization: Bearer TOKEN\" is needed");
        }
    }
    // The scheme in any letter case, and more than one space.
    EXPECT_EQ(Decide("GET", "/api/v1/status", std::string("bearer  ") + kToken).response.status,
              200);
    EXPECT_EQ(Decide("GET", "/metrics?x=1", std::string("BEARER ") + kToken).response.status, 200);
}

TEST(HttpApi, ThePageLoadsWithoutTheToken) {
    for (const char* path : {"/", "/index.html", "/app.js", "/style.css", "/icon.svg"}) {
        SCOPED_TRACE(path);
        const ApiDecision d = Decide("GET", path, "");
        EXPECT_EQ(d.response.status, 200);
        EXPECT_FALSE(d.response.body.empty());
    }
    EXPECT_EQ(Decide("GET", "/", "").response.contentType, "text/html; charset=utf-8");
    EXPECT_NE(Decide("GET", "/", "").response.body.find("<title>Velmor</title>"),
              std::string::npos);
    EXPECT_EQ(Decide("POST", "/index.html", "").response.status, 405);
    EXPECT_EQ(Decide("GET", "/secret.txt", "").response.status, 404);
    EXPECT_EQ(Decide("GET", "/../etc/passwd", "").response.status, 404);
    EXPECT_EQ(Decide("GET", "*", "").response.status, 400);
}

TEST(HttpApi, UnknownPathsAndMethodsAreNamed) {
    EXPECT_EQ(Decide("GET", "/api/v1/nothing").response.status, 404);
    const ApiDecision d = Decide("GET", "/api/v1/freeze");
    EXPECT_EQ(d.response.status, 405);
    ASSERT_EQ(d.response.headers.size(), 1u);
    EXPECT_EQ(d.response.headers[0], (std::pair<std::string, std::string>{"Allow", "POST"}));
    EXPECT_EQ(
        Decide("POS", "/api/v1/freeze", std::string("Bearer ") + kToken, "{}").response.status, 405)
        << "a method is matched whole";
    EXPECT_EQ(Decide("PATCH", "/api/v1/settings").response.status, 501) << "no settings table yet";
}

TEST(HttpApi, ActionBodies) {
    struct Case {
        const char* method;
        const char* path;
        const char* body;
        const char* type;
        int status;  // 0: an action
        const char* error;
    } cases[] = {
        {"POST", "/api/v1/connect", R"j({"source":"STUDIO (Cam 1)"})j", "application/json", 0, ""},
        {"POST", "/api/v1/connect", R"({"source":""})", "application/json", 400,
         "\"source\" is empty"},
        {"POST", "/api/v1/connect", R"({"source":7})", "application/json", 400,
         "\"source\" must be a string"},
        {"POST", "/api/v1/connect", "", "", 400, "this request needs a JSON object as its body"},
        {"POST", "/api/v1/connect", R"({"source":"a","extra":1})", "application/json", 400,
         "unknown field \"extra\""},
        {"POST", "/api/v1/freeze", R"({"on":tru})", "application/json", 400,
         "malformed JSON at byte 10"},
        {"POST", "/api/v1/freeze", R"([true])", "application/json", 400,
         "the body must be a JSON object"},
        {"POST", "/api/v1/freeze", R"({"on":"yes"})", "application/json", 400,
         "\"on\" must be true or false"},
        {"POST", "/api/v1/freeze", R"({"on":false})", "application/json; charset=utf-8", 0, ""},
        {"POST", "/api/v1/freeze", R"({"on":true})", "text/plain", 415,
         "send the body as JSON, with Content-Type: application/json"},
        {"POST", "/api/v1/grab", "", "", 0, ""},
        {"POST", "/api/v1/grab", "{}", "application/json", 0, ""},
        {"POST", "/api/v1/disconnect", R"({"now":true})", "application/json", 400,
         "unknown field \"now\""},
        {"POST", "/api/v1/text", R"({"text":"ON AIR \u00e9"})", "application/json", 0, ""},
        {"POST", "/api/v1/text", "{\"text\":\"\xff\"}", "application/json", 400,
         "malformed JSON at byte 10"},
        {"DELETE", "/api/v1/text", "", "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body);
        const ApiDecision d =
            Decide(c.method, c.path, std::string("Bearer ") + kToken, c.body, c.type);
        if (c.status == 0) {
            EXPECT_EQ(d.route, ApiRoute::Action);
        } else {
            EXPECT_EQ(d.route, ApiRoute::Respond);
            EXPECT_EQ(d.response.status, c.status);
            EXPECT_EQ(Body(d)["error"], c.error);
        }
    }
    const ApiDecision connect = Decide("POST", "/api/v1/connect", std::string("Bearer ") + kToken,
                                       R"j({"source":"STUDIO (Cam 1)"})j");
    EXPECT_EQ(connect.command.action, RemoteAction::Connect);
    EXPECT_EQ(connect.command.text, "STUDIO (Cam 1)");
    EXPECT_TRUE(Decide("POST", "/api/v1/freeze", std::string("Bearer ") + kToken, R"({"on":true})")
                    .command.on);
}

TEST(HttpApi, TheTextBoxHoldsAtMost1024Characters) {
    const std::string auth = std::string("Bearer ") + kToken;
    std::string fits(1024, 'x'), over(1025, 'x');
    std::string emoji;  // 512 characters of two UTF-16 units each fit exactly
    for (int i = 0; i < 512; ++i)
        emoji += "\xF0\x9F\x8E\xA5";
    EXPECT_EQ(Decide("POST", "/api/v1/text", auth, R"({"text":")" + fits + "\"}").route,
              ApiRoute::Action);
    EXPECT_EQ(Decide("POST", "/api/v1/text", auth, R"({"text":")" + emoji + "\"}").route,
              ApiRoute::Action);
    EXPECT_EQ(Decide("POST", "/api/v1/text", auth, R"({"text":")" + emoji + "x\"}").response.status,
              413);
    EXPECT_EQ(Decide("POST", "/api/v1/text", auth, R"({"text":")" + over + "\"}").response.status,
              413);
}

TEST(HttpApi, TheEventsSocketTakesTheTokenInThreeWays) {
    const std::string token = kToken;
    // A header, as a script sends it.
    ApiDecision d = Decide("GET", "/api/v1/events", "Bearer " + token, "", "", true);
    EXPECT_EQ(d.route, ApiRoute::Events);
    EXPECT_TRUE(d.authenticated);
    // Among the subprotocols, as a browser can send it.
    d = Decide("GET", "/api/v1/events", "", "", "", true, "velmor-events, velmor-token." + token);
    EXPECT_EQ(d.route, ApiRoute::Events);
    EXPECT_TRUE(d.authenticated);
    // None yet: the first message must bring it.
    d = Decide("GET", "/api/v1/events", "", "", "", true, "velmor-events");
    EXPECT_EQ(d.route, ApiRoute::Events);
    EXPECT_FALSE(d.authenticated);
    // A wrong one is refused before the upgrade, and so is a plain request without a token.
    EXPECT_EQ(
        Decide("GET", "/api/v1/events", "", "", "", true, "velmor-token.wrong").response.status,
        401);
    EXPECT_EQ(Decide("GET", "/api/v1/events", "", "", "", false).response.status, 401);
    EXPECT_EQ(Decide("GET", "/api/v1/events", "Bearer " + token).response.status, 426);

    bool named = false;
    std::string chosen;
    EXPECT_TRUE(
        ProtocolsCarryToken("velmor-token." + token + " ,velmor-events", token, named, chosen));
    EXPECT_TRUE(named);
    EXPECT_EQ(chosen, "velmor-events") << "the server never answers with the token";
    EXPECT_FALSE(ProtocolsCarryToken("chat", token, named, chosen));
    EXPECT_FALSE(named);
    EXPECT_EQ(chosen, "chat");

    EXPECT_TRUE(EventsAuthMessage(R"({"token":")" + token + "\"}", token));
    for (const std::string& m :
         {std::string("{\"token\":\"wrong\"}"), std::string("{\"token\":1}"), std::string("[]"),
          std::string("{"), std::string(), std::string("{\"token\":\"\"}")})
        EXPECT_FALSE(EventsAuthMessage(m, token)) << m;
    EXPECT_FALSE(EventsAuthMessage(R"({"token":""})", "")) << "an empty token opens nothing";
}

TEST(HttpApi, SecretsCompareWhole) {
    EXPECT_TRUE(SameSecret("abc", "abc"));
    EXPECT_FALSE(SameSecret("abc", "abd"));
    EXPECT_FALSE(SameSecret("abc", "abcd"));
    EXPECT_FALSE(SameSecret("abcd", "abc"));
    EXPECT_FALSE(SameSecret("", "a"));
    EXPECT_FALSE(BearerMatches("Bearer ", ""));
    EXPECT_FALSE(BearerMatches("Bearer x", "")) << "no token configured: nobody gets in";
    EXPECT_TRUE(BearerMatches("Bearer tok  ", "tok"));
    EXPECT_FALSE(BearerMatches("Bearertok", "tok"));
}

RemoteStatus SampleStatus() {
    RemoteStatus s;
    s.copy = 2;
    s.title = "Korvo Velmor NDI\xC2\xAE Receiver/Transmitter & Processor - No 2";
    s.source = std::string("HOST (Cam \xFF)");  // not UTF-8: sent with U+FFFD
    s.video = RemoteVideoFormat{1920, 1080, 30000, 1001, "interleaved", "UYVY"};
    s.audio = RemoteAudioFormat{2, 48000};
    s.captions = {{"source", "HOST (Cam 1)"}, {"video", "1920 x 1080, 59.94i YUV"}};
    s.lamps = {{"signal", "magenta"}, {"freeze", "grey"}};
    s.buttons = {{"freeze", "Freeze", 2, true}};
    s.sources = {{"HOST (Cam 1)", "127.0.0.1:5961"}};
    return s;
}

TEST(HttpApi, StatusJson) {
    LiveReadings live;
    live.connected = true;
    live.freezeState = 1;
    live.videoFramesReceived = 10;
    live.videoFramesSent = 7;
    live.videoFramesDropped = 1;
    live.audioSamplesSent = 48000;
    const nlohmann::json j = nlohmann::json::parse(StatusJson(SampleStatus(), live));
    EXPECT_EQ(j["copy"], 2);
    EXPECT_EQ(j["connected"], true);
    EXPECT_EQ(j["source"], "HOST (Cam \xEF\xBF\xBD)");
    EXPECT_EQ(j["video"]["frameRateN"], 30000);
    EXPECT_EQ(j["video"]["frameRateD"], 1001);
    EXPECT_EQ(j["video"]["progressive"], false);
    EXPECT_EQ(j["video"]["fourCC"], "UYVY");
    EXPECT_EQ(j["audio"]["sampleRate"], 48000);
    EXPECT_EQ(j["frozen"], true);
    EXPECT_EQ(j["freeze"], "held");
    EXPECT_EQ(j["lamps"]["signal"], "magenta");
    EXPECT_EQ(j["buttons"]["freeze"]["colour"], 2);
    EXPECT_EQ(j["counters"]["videoFramesSent"], 7);
    EXPECT_EQ(j["counters"]["audioSamplesSent"], 48000);
    EXPECT_EQ(j["sources"][0]["name"], "HOST (Cam 1)");

    // Disconnected: no source and no formats, whatever was shown last.
    const nlohmann::json idle = nlohmann::json::parse(StatusJson(SampleStatus(), {}));
    EXPECT_TRUE(idle["source"].is_null());
    EXPECT_TRUE(idle["video"].is_null());
    EXPECT_TRUE(idle["audio"].is_null());
    EXPECT_EQ(idle["freeze"], "live");

    const nlohmann::json sources = nlohmann::json::parse(SourcesJson(SampleStatus()));
    EXPECT_EQ(sources["sources"][0]["address"], "127.0.0.1:5961");
}

TEST(HttpApi, LevelsInDbfs) {
    EXPECT_EQ(PeakDbfs(0.0f), -120.0);
    EXPECT_EQ(PeakDbfs(1.0f), 0.0);
    EXPECT_EQ(PeakDbfs(0.5f), -6.0);
    EXPECT_EQ(PeakDbfs(-0.1f), -20.0);
    LiveReadings r;
    r.peak[0] = 1.0f;
    r.bar[0] = 0.5f;
    r.overload[1] = true;
    const nlohmann::json j = nlohmann::json::parse(LevelsEvent(r));
    EXPECT_EQ(j["type"], "levels");
    EXPECT_EQ(j["peakDbfs"], nlohmann::json::array({0.0, -120.0}));
    EXPECT_EQ(j["bar"][0], 0.5);
    EXPECT_EQ(j["overload"], nlohmann::json::array({false, true}));
}

// Checks the Prometheus text exposition format line by line: every sample belongs to a family
// announced by HELP and TYPE, names and labels are well formed, values are numbers.
std::set<std::string> PrometheusSamples(const std::string& text, std::string& problem) {
    static const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) .+)");
    static const std::regex type(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge))");
    static const std::regex sample(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*)\{([a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*"(,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")*)\} (-?[0-9]+(\.[0-9]+)?(e[-+]?[0-9]+)?))");
    std::set<std::string> helped, typed, samples;
    std::istringstream in(text);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, help)) {
            helped.insert(m[1]);
        } else if (std::regex_match(line, m, type)) {
            typed.insert(m[1]);
        } else if (std::regex_match(line, m, sample)) {
            if (!helped.count(m[1]) || !typed.count(m[1])) problem = "no HELP/TYPE: " + line;
            samples.insert(std::string(m[1]) + "{" + std::string(m[2]) + "}");
        } else {
            problem = "not Prometheus text: \"" + line + "\"";
        }
    }
    if (text.empty() || text.back() != '\n') problem = "the text must end with a line feed";
    return samples;
}

TEST(HttpApi, MetricsAreWellFormedPrometheusText) {
    LiveReadings r;
    r.connected = true;
    r.videoFramesReceived = 1234567890123ull;
    r.videoDelaySeconds = 0.04;
    r.peak[0] = 0.5f;
    ServerFigures f;
    f.eventClients = 3;
    std::string problem;
    const std::set<std::string> samples = PrometheusSamples(MetricsText(3, r, f), problem);
    EXPECT_EQ(problem, "");
    for (const char* wanted : {
             R"(velmor_connected{copy="3"})",
             R"(velmor_video_frames_received_total{copy="3"})",
             R"(velmor_video_frames_sent_total{copy="3"})",
             R"(velmor_video_frames_dropped_total{copy="3"})",
             R"(velmor_audio_samples_sent_total{copy="3"})",
             R"(velmor_output_delay_seconds{copy="3",media="video"})",
             R"(velmor_output_delay_seconds{copy="3",media="audio"})",
             R"(velmor_audio_peak_dbfs{copy="3",channel="1"})",
             R"(velmor_audio_peak_dbfs{copy="3",channel="2"})",
             R"(velmor_http_event_clients{copy="3"})",
         })
        EXPECT_TRUE(samples.count(wanted)) << wanted;
    const std::string text = MetricsText(3, r, f);
    EXPECT_NE(text.find("velmor_video_frames_received_total{copy=\"3\"} 1234567890123\n"),
              std::string::npos);
    EXPECT_NE(text.find("velmor_audio_peak_dbfs{copy=\"3\",channel=\"1\"} -6\n"),
              std::string::npos);
    EXPECT_NE(text.find("velmor_output_delay_seconds{copy=\"3\",media=\"video\"} 0.04\n"),
              std::string::npos);
}

}  // namespace
}  // namespace velmor
