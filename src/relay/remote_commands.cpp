#include "relay/remote_commands.h"

#include "relay/text_fields.h"

namespace velmor {

void HandleRemoteMessage(RelayRecord& r, RemoteMessage message, int64_t wParam, int64_t lParam,
                         IRemoteActions& actions) {
    if (message == RemoteMessage::GrabFreeze) {
        if (wParam != 0 && wParam != int64_t{r.instanceIndex} + 1) return;
        if (lParam == 1) {
            actions.RequestGrab();
        } else if (lParam == 2 && r.freezeState.live()) {
            actions.ToggleFreeze();
        } else if (lParam == 4 && !r.freezeState.live()) {
            actions.ToggleFreeze();
        }
        return;
    }
    if (wParam == 8) {
        r.remoteText.clear();
    } else if (wParam == 9) {
        if (r.remoteText.size() < kRemoteTextLimit)
            r.remoteText.push_back(static_cast<char16_t>(lParam));
    } else if (wParam == 10) {
        actions.ShowTextBox(Utf16ToUtf8(r.remoteText));
    } else if (wParam == 11) {
        actions.HideTextBox();
    }
}

}  // namespace velmor
