// `velmor --headless`: the relay as a service, logging to standard output until SIGINT or
// SIGTERM, which disconnect and run the orderly exit (saving the settings when asked).
#pragma once

namespace velmor {

int RunHeadless(int argc, char** argv);

}  // namespace velmor
