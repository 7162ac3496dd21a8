// Writes the configuration file the relay copies of the many-copies measurement load: local
// sources shown, settings loaded at start-up and never saved, and with `on` the processing steps
// a configuration can switch on ("Blend fields", the proc amp applied to the output, "Rotate 90").
#include <cstdio>
#include <string>

#include "persist/config_file.h"
#include "relay/capture_apply.h"
#include "relay/notifier.h"

namespace {

class PrintingNotifier : public velmor::INotifier {
public:
    velmor::MessageAnswer Show(const std::string& text, const std::string& caption,
                               velmor::MessageButtons) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return velmor::MessageAnswer::Ok;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[2]) != "on" && std::string(argv[2]) != "off")) {
        std::fprintf(stderr, "usage: velmor_copies_config FILE on|off\n");
        return 2;
    }
    velmor::RelayRecord r;
    r.ApplyStartupDefaults();
    r.excludeLocal = 0;
    r.previewOn = 0;
    if (std::string(argv[2]) == "on") {
        r.deinterlaceMode = 1;  // "Blend fields"
        r.procAmp.settings.gain = 30;
        r.procAmp.settings.colourSat = 70;
        r.procAmp.Refresh();
        r.procAmp.applyToOutput = 1;
        r.rotationMode = 1;  // a quarter turn: the costliest transform
    }
    velmor::CaptureSettings(r);
    r.settingsRecord.loadOnStartupSetting = 1;
    r.settingsRecord.saveOnExitSetting = 0;
    PrintingNotifier notifier;
    return velmor::SaveConfig(r, argv[1], notifier) == 1 ? 0 : 1;
}
