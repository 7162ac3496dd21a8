// A small W3C WebDriver client for browser tests: Debian's chromedriver drives its headless
// Chromium (scripts/setup.sh installs both). Enough to open a page, run a script in it, click an
// element and take the browser's own screenshot.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "support/http_client.h"
#include "tools/process.h"

namespace velmor::test {

inline constexpr const char* kChromium = "/usr/bin/chromium";
inline constexpr const char* kChromeDriver = "/usr/bin/chromedriver";

inline bool BrowserAvailable() {
    return access(kChromium, X_OK) == 0 && access(kChromeDriver, X_OK) == 0;
}

// A port nobody listens on now.
inline uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

inline std::string Base64Decode(const std::string& in) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : in) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            continue;
        bits = bits << 6 | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

class Browser {
public:
    // Starts chromedriver and a headless Chromium with a window of `width` x `height`, with a
    // profile in `profileDir`. ok() tells whether it worked (error() why not).
    Browser(const std::string& profileDir, int width, int height) {
        port_ = FreePort();
        driver_ = std::make_unique<Process>(
            kChromeDriver, std::vector<std::string>{"--port=" + std::to_string(port_)});
        for (int i = 0; i < 100 && !Call("GET", "/status").contains("value"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // The flags that work on a machine without a network beyond loopback, and as root.
        const nlohmann::json args = {
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--hide-scrollbars",
            "--user-data-dir=" + profileDir,
            "--window-size=" + std::to_string(width) + "," + std::to_string(height)};
        const nlohmann::json caps = {
            {"capabilities",
             {{"alwaysMatch",
               {{"browserName", "chrome"},
                {"goog:chromeOptions", {{"binary", kChromium}, {"args", args}}}}}}}};
        const nlohmann::json r = Call("POST", "/session", caps);
        if (r.contains("value") && r["value"].contains("sessionId")) {
            session_ = r["value"]["sessionId"];
        } else {
            error_ = r.dump();
        }
    }
    ~Browser() {
        if (!session_.empty()) Call("DELETE", "/session/" + session_);
    }
    bool ok() const { return !session_.empty(); }
    const std::string& error() const { return error_; }

    void Open(const std::string& url) { Session("POST", "/url", {{"url", url}}); }
    // The script's return value (a function body: `return ...;`).
    nlohmann::json Run(const std::string& script) {
        const nlohmann::json r = Session("POST", "/execute/sync",
                                         {{"script", script}, {"args", nlohmann::json::array()}});
        return r.contains("value") ? r["value"] : nlohmann::json();
    }
    // Clicks the element the CSS selector finds, as a user would (WebDriver's element click).
    bool Click(const std::string& selector) {
        const nlohmann::json found =
            Session("POST", "/element", {{"using", "css selector"}, {"value", selector}});
        if (!found.contains("value") || !found["value"].is_object()) return false;
        const std::string id = found["value"].begin().value();
        const nlohmann::json r =
            Session("POST", "/element/" + id + "/click", nlohmann::json::object());
        return r.contains("value") && r["value"].is_null();
    }
    // Types `keys` into the element the CSS selector finds, as a user would (WebDriver's element
    // send keys: kArrowLeft and its kin are keys).
    static constexpr const char* kArrowLeft = "\xEE\x80\x92";  // U+E012
    bool SendKeys(const std::string& selector, const std::string& keys) {
        const nlohmann::json found =
            Session("POST", "/element", {{"using", "css selector"}, {"value", selector}});
        if (!found.contains("value") || !found["value"].is_object()) return false;
        const std::string id = found["value"].begin().value();
        const nlohmann::json r = Session("POST", "/element/" + id + "/value", {{"text", keys}});
        return r.contains("value") && r["value"].is_null();
    }
    void Resize(int width, int height) {
        Session("POST", "/window/rect", {{"width", width}, {"height", height}});
    }
    // The browser's own screenshot of its viewport, as PNG bytes.
    std::string Screenshot() {
        const nlohmann::json r = Session("GET", "/screenshot");
        return r.contains("value") && r["value"].is_string() ? Base64Decode(r["value"]) : "";
    }
    bool SaveScreenshot(const std::filesystem::path& file) {
        const std::string png = Screenshot();
        if (png.empty()) return false;
        std::ofstream(file, std::ios::binary) << png;
        return true;
    }

private:
    nlohmann::json Call(const std::string& method, const std::string& path,
                        const nlohmann::json& body = nullptr) {
        const HttpResult r = HttpRequest(
            "127.0.0.1", port_, method, path, "", body.is_null() ? std::string() : body.dump(),
            "application/json; charset=utf-8", std::chrono::seconds(60));
        if (r.status == 0) return nlohmann::json::object();
        const nlohmann::json j = nlohmann::json::parse(r.body, nullptr, false);
        return j.is_discarded() ? nlohmann::json::object() : j;
    }
    nlohmann::json Session(const std::string& method, const std::string& path,
                           const nlohmann::json& body = nullptr) {
        return Call(method, "/session/" + session_ + path, body);
    }

    uint16_t port_ = 0;
    std::unique_ptr<Process> driver_;
    std::string session_, error_;
};

}  // namespace velmor::test
