// The picker operation that ending a connection needs. The source picker (discovery/) implements
// it and the engine calls it, so neither of the two depends on the other.
#pragma once

namespace velmor {

class IPickerControl {
public:
    virtual ~IPickerControl() = default;
    // Puts "No source selected" in place; true when done.
    virtual bool ShowNoSourceSelected() = 0;
};

}  // namespace velmor
