#include "app/headless.h"

#include <QGuiApplication>

#include <cstdio>
#include <memory>

#include "app/log_window.h"
#include "app/main_commands.h"
#include "app/options.h"
#include "app/quit_signals.h"
#include "app/relay_controller.h"
#include "app/remote_link.h"

namespace velmor {

int RunHeadless(int argc, char** argv) {
    // Pictures and fonts (timecode glyphs, meter labels) need Qt's GUI side, but never a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName("velmor");
    QCoreApplication::setApplicationVersion(VELMOR_VERSION_TEXT);
    const CommandLine line = ParseCommandLine(app);
    RemoteSettings remoteSettings;
    std::string remoteWarning;
    if (!line.options.http.empty()) {
        std::string error;
        if (!RemoteLink::Prepare(line.options, remoteSettings, error, remoteWarning)) {
            std::fprintf(stderr, "velmor: %s\n", error.c_str());
            return 2;
        }
    }

    LogWindow log;
    RelayController controller(line.options, log);
    log.Observe(controller.model());
    controller.onQuit = [](int code) { QCoreApplication::exit(code); };
    // The HTTP front end, from the moment the copy's number is known (its token file is named
    // after it) until the exit begins. Without a window the preview is rendered for it alone.
    MainCommands commands(controller);
    std::unique_ptr<RemoteLink> remote;
    if (!line.options.http.empty()) {
        if (!remoteWarning.empty()) log.Log("HTTP: " + remoteWarning);
        remote = std::make_unique<RemoteLink>(controller, commands, remoteSettings, true);
        controller.onNumbered = [&remote] { remote->Start(); };
        controller.onExitStarted = [&remote] { remote->Stop(); };
    }
    if (!HandleQuitSignals([&] {
            log.Log("stopping");
            controller.ExitWhenDisconnected([] { QCoreApplication::exit(0); });
        }))
        return 1;
    if (!controller.Start()) return 1;
    return app.exec();
}

}  // namespace velmor
