// The HTTP front end of one copy (--http): the application's side of remote/'s server. It shows
// the server what the window shows (a RemoteStatus after every change of the model) and the
// operator settings by name (settings_access.h), carries out the server's actions through the
// window's own model operations (MainCommands, the controller), answers a grab once its file is
// written, and reads the engine's counters and the meter for it.
//
// Window thread, except Readings() and PreviewWanted(), which the server's thread calls.
#pragma once

#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_commands.h"
#include "app/relay_controller.h"
#include "app/settings_access.h"
#include "remote/http_server.h"
#include "remote/listen_address.h"

namespace velmor {

// What --http and --http-token-file ask for, checked before anything starts.
struct RemoteSettings {
    ListenAddress listen;
    std::string token;  // empty: made when the server starts
};

class RemoteLink : private IRemoteModel {
public:
    // False with `error` for a wrong --http address or an unusable token file; `warning` for a
    // token file that others may read.
    static bool Prepare(const RelayOptions& options, RemoteSettings& settings, std::string& error,
                        std::string& warning);

    // `ownsPreview`: no window shows the preview (--headless), so the preview is rendered only
    // while clients ask for it.
    RemoteLink(RelayController& controller, MainCommands& commands, RemoteSettings settings,
               bool ownsPreview);
    ~RemoteLink() override;
    RemoteLink(const RemoteLink&) = delete;
    RemoteLink& operator=(const RemoteLink&) = delete;

    // Once the copy's number is known: listens, writes the token file, logs the page's address.
    void Start();
    void Stop();
    bool running() const { return server_ != nullptr; }
    // "http://127.0.0.1:8080/" and the same with "#token=..." (the link the menu copies).
    std::string PageAddress() const;
    std::string PageLink() const;
    // Called after Start, with the server running or not.
    std::function<void()> onStarted;

private:
    // IRemoteModel
    LiveReadings Readings() const override;
    void Execute(const RemoteCommand& command, std::function<void(ActionReply)> reply) override;
    bool PreviewWanted() override;

    void OnModelChange(const ModelChange& change);
    void Flush();
    // The settings as GET /api/v1/settings gives them, to the event clients when they changed
    // (after a model change, and every quarter second for the setup windows' own changes).
    void PublishSettings();
    RemoteStatus Snapshot() const;
    void GrabDone(bool ok, const std::string& path);

    RelayController& c_;
    MainCommands& commands_;
    RemoteSettings settings_;
    const bool ownsPreview_;
    std::unique_ptr<HttpServer> server_;
    SettingsAccess settingsAccess_{c_, commands_};
    std::string publishedSettings_;
    QTimer settingsPoll_;
    int listener_ = 0;
    bool flushPosted_ = false;
    std::vector<std::function<void(ActionReply)>> grabReplies_;
    std::atomic<bool> previewAsked_{false};
    std::atomic<bool> previewRendered_{false};  // the renderer is attached for the clients
    QTimer previewIdle_;
    // Posted tasks check it: the link may be gone when they run.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmor
