#include "app/headless.h"

#include <QGuiApplication>

#include "app/log_window.h"
#include "app/options.h"
#include "app/quit_signals.h"
#include "app/relay_controller.h"

namespace velmor {

int RunHeadless(int argc, char** argv) {
    // Pictures and fonts (timecode glyphs, meter labels) need Qt's GUI side, but never a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName("velmor");
    QCoreApplication::setApplicationVersion(VELMOR_VERSION_TEXT);
    const CommandLine line = ParseCommandLine(app);

    LogWindow log;
    RelayController controller(line.options, log);
    log.Observe(controller.model());
    controller.onQuit = [](int code) { QCoreApplication::exit(code); };
    if (!HandleQuitSignals([&] {
            log.Log("stopping");
            controller.ExitWhenDisconnected([] { QCoreApplication::exit(0); });
        }))
        return 1;
    if (!controller.Start()) return 1;
    return app.exec();
}

}  // namespace velmor
