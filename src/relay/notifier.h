// Operator-facing messages: a fixed text, a short caption and OK or OK+Cancel. The GUI shows them
// as message boxes, the headless runner logs them, tests record them.
#pragma once

#include <string>

namespace velmor {

enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

class INotifier {
public:
    virtual ~INotifier() = default;
    virtual MessageAnswer Show(const std::string& text, const std::string& caption,
                               MessageButtons buttons) = 0;
};

}  // namespace velmor
