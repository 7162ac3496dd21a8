// Velmor's entry point. The windows are not built yet, so every start runs the relay headless.
#include "app/relay_controller.h"

int main(int argc, char** argv) {
    return velmor::RunHeadless(argc, argv);
}
