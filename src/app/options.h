// The command line of velmor, shared by the window and the headless runner.
#pragma once

#include <QCoreApplication>

#include "app/relay_controller.h"

namespace velmor {

struct CommandLine {
    RelayOptions options;
    bool headless = false;
};

// Parses the arguments of `app` (exits the process for --help and --version, as Qt's parser does).
CommandLine ParseCommandLine(const QCoreApplication& app);

// True when Qt can open a window here: a display is named (X or Wayland), or a platform plugin
// is chosen explicitly (QT_QPA_PLATFORM, for example offscreen in tests).
bool DisplayAvailable();

}  // namespace velmor
