// The window side of a copy without windows: every change of the main window's model becomes one
// log line on standard output ("video: 1920 x 1080, 50.00i YUV", "signal lamp: magenta"), and
// every message box a line with its caption, answered OK.
#pragma once

#include <map>
#include <string>

#include "app/main_window_model.h"
#include "app/window_side.h"

namespace velmor {

class LogWindow : public IWindowSide {
public:
    void Log(const std::string& line) override;
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons buttons) override;

    // Logs the model's changes from now on.
    void Observe(MainWindowModel& model);

private:
    void Changed(const MainWindowModel& model, const ModelChange& change);
    // Logs "what: text" when it differs from the last line logged for `what`.
    void Show(const std::string& what, const std::string& text);

    std::map<std::string, std::string> last_;
};

}  // namespace velmor
