// The remote grab, freeze and text-box messages ("Brelta-NDI-VELMOR-FG", "Brelta-NDI-Tamsk"), as
// any program on the bus may send them: decoded here, whatever wParam and lParam hold, into the
// actions the application carries out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "relay/relay_record.h"

namespace velmor {

// What the remote messages ask for; the application implements it (engine, text box, buttons).
class IRemoteActions {
public:
    virtual ~IRemoteActions() = default;
    virtual void RequestGrab() = 0;
    virtual void ToggleFreeze() = 0;
    // The text box with the text assembled so far, switched on.
    virtual void ShowTextBox(const std::string& utf8Text) = 0;
    virtual void HideTextBox() = 0;
};

enum class RemoteMessage { GrabFreeze, TextBox };

// A text box never grows past a screenful, whoever sends the units.
inline constexpr size_t kRemoteTextLimit = 1024;  // UTF-16 units

// GrabFreeze: wParam 0 (every copy) or this copy's number; lParam 1 grab, 2 freeze (when live),
// 4 release (when frozen). TextBox: wParam 8 clears the text, 9 appends the UTF-16 unit lParam,
// 10 shows the box, 11 hides it. Anything else is ignored.
void HandleRemoteMessage(RelayRecord& record, RemoteMessage message, int64_t wParam, int64_t lParam,
                         IRemoteActions& actions);

}  // namespace velmor
