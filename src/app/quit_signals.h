// SIGINT and SIGTERM end a copy in an orderly way (a service manager or a desktop logout stops it
// so): the signal only writes to a pipe, and `handler` runs on the window thread's event loop,
// once. SIGPIPE is ignored (a closed FIFO output must not end the relay).
#pragma once

#include <functional>

namespace velmor {

// Needs a Q(Core)Application. False when the pipe cannot be made.
bool HandleQuitSignals(std::function<void()> handler);

}  // namespace velmor
