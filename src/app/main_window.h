// The main window: the Qt view of one copy.
#pragma once

namespace velmor {

// Opens the main window and runs until the copy ends; returns the process's exit code.
int RunWindow(int argc, char** argv);

}  // namespace velmor
