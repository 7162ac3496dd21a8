#include "engine/engine.h"

namespace velmor {

Engine::Engine(RelayRecord& record, const NdiLibrary& ndi, IWindowBridge& bridge,
               INotifier& notifier, IAudioTap* tap, IPickerControl* picker)
    : context_{record, ndi, bridge, notifier, tap, picker} {}

bool Engine::ConnectToSource(int index) {
    const PickerState& p = context_.r.picker;
    if (!p.sources || index < 0 || static_cast<uint32_t>(index) >= p.sourceCount) return false;
    return connection_.ConnectTo(p.sources[index]);
}

}  // namespace velmor
