#include "app/main_window.h"
#include "app/headless.h"
namespace velmor {
int RunWindow(int argc, char** argv) {
    return RunHeadless(argc, argv);
}
}  // namespace velmor
