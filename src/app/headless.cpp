#include "app/headless.h"

#include <unistd.h>

#include <QGuiApplication>
#include <QSocketNotifier>
#include <csignal>

#include "app/log_window.h"
#include "app/options.h"
#include "app/relay_controller.h"

namespace velmor {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int RunHeadless(int argc, char** argv) {
    // Pictures and fonts (timecode glyphs, meter labels) need Qt's GUI side, but never a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName("velmor");
    QCoreApplication::setApplicationVersion(VELMOR_VERSION_TEXT);
    const CommandLine line = ParseCommandLine(app);

    if (::pipe(g_signalPipe) != 0) return 1;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    LogWindow log;
    RelayController controller(line.options, log);
    log.Observe(controller.model());
    controller.onQuit = [](int code) { QCoreApplication::exit(code); };
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    bool exiting = false;
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (exiting) return;
        exiting = true;
        log.Log("stopping");
        controller.ExitWhenDisconnected([] { QCoreApplication::exit(0); });
    });
    if (!controller.Start()) return 1;
    return app.exec();
}

}  // namespace velmor
