// Velmor's entry point: the main window on a desktop, or the relay without windows (--headless).
#include <cstdio>
#include <cstring>

#include "app/config_home.h"
#include "app/headless.h"
#include "app/main_window.h"
#include "app/options.h"

int main(int argc, char** argv) {
    bool headless = false, help = false, inConfigHome = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) headless = true;
        if (std::strcmp(argv[i], velmor::kInConfigHomeOption) == 0) inConfigHome = true;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 ||
            std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0)
            help = true;
    }
    // Before anything reads or writes a file: the configuration, presets and grabs all name
    // files relative to the working folder.
    if (inConfigHome && !help) {
        std::string folder, error;
        if (!velmor::EnterConfigHome(folder, error))
            std::fprintf(stderr, "velmor: %s; working in the current folder instead\n",
                         error.c_str());
    }
    // Help and version need no screen: the headless side answers them.
    if (headless || help) return velmor::RunHeadless(argc, argv);
    if (!velmor::DisplayAvailable()) {
        std::fprintf(stderr,
                     "velmor: no display (DISPLAY and WAYLAND_DISPLAY are unset); run "
                     "\"velmor --headless\" to relay without windows\n");
        return 2;
    }
    return velmor::RunWindow(argc, argv);
}
