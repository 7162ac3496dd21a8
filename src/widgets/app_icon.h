// The application icon, carried inside the executable (data/velmor.qrc) at 16 to 256 pixels.
#pragma once

#include <QIcon>

namespace velmor {

// Every size of the icon; the window and the task bar pick the one they need.
QIcon AppIcon();

}  // namespace velmor
