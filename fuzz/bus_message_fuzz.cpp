// Feeds arbitrary remote messages (wParam and lParam as any program on the bus could send them) to
// the handler of the grab, freeze and text-box messages, many per input, against one record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "relay/remote_commands.h"

namespace {

class Actions : public velmor::IRemoteActions {
public:
    explicit Actions(velmor::RelayRecord& r) : record(r) {}
    void RequestGrab() override { record.grabRequest = 1; }
    void ToggleFreeze() override {
        if (!record.freezeState.Request()) record.freezeState.Release();
    }
    void ShowTextBox(const std::string& text) override {
        if (text.size() > 4 * velmor::kRemoteTextLimit) __builtin_trap();
        shown += text.size();
    }
    void HideTextBox() override {}
    velmor::RelayRecord& record;
    size_t shown = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static velmor::RelayRecord record;  // the state carries over, as it does between messages
    Actions actions(record);
    // Each message: one byte of kind and copy number, then wParam and lParam.
    constexpr size_t kMessage = 1 + 8 + 8;
    for (size_t at = 0; at + kMessage <= size; at += kMessage) {
        int64_t wParam, lParam;
        std::memcpy(&wParam, data + at + 1, 8);
        std::memcpy(&lParam, data + at + 9, 8);
        record.instanceIndex = data[at] >> 5;  // 0..7
        const auto kind =
            (data[at] & 1) ? velmor::RemoteMessage::TextBox : velmor::RemoteMessage::GrabFreeze;
        // Small values are the ones the handler acts on: fold most inputs onto them.
        if (data[at] & 2) wParam &= 15;
        if (data[at] & 4) lParam &= 0xFFFF;
        velmor::HandleRemoteMessage(record, kind, wParam, lParam, actions);
    }
    if (record.remoteText.size() > velmor::kRemoteTextLimit) __builtin_trap();
    return 0;
}
