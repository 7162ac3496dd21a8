// Feeds arbitrary bytes to the start-up configuration load: the reader and everything that puts
// the loaded values into effect on the record (the application's start-up adds only the finder
// restarts, the messages and the seek around these). The bytes are read from memory, as the file
// reader reads them once it has the file's contents.
#include <cstddef>
#include <cstdint>
#include <string>

#include "persist/config_file.h"
#include "relay/capture_apply.h"

namespace {

class NullSink : public velmor::INotifier,
                 public velmor::ISettingsView,
                 public velmor::IFinderControl {
public:
    velmor::MessageAnswer Show(const std::string&, const std::string&,
                               velmor::MessageButtons) override {
        return velmor::MessageAnswer::Ok;
    }
    void ShowRotation(int mode) override { sink += static_cast<size_t>(mode); }
    void ShowDeinterlace(int mode) override { sink += static_cast<size_t>(mode); }
    void ShowOutputChoice(bool) override {}
    void ShowAudioDelay(bool) override {}
    void ShowEbuMode(bool) override {}
    void ShowExtraIp(const std::string& text) override { sink += text.size(); }
    void ShowKeyFillSplit(bool) override {}
    void ShowMonitorLevel(int) override {}
    void ShowDelayFrames(int frames) override { sink += static_cast<size_t>(frames); }
    void ShowExcludeLocal(bool) override {}
    void ShowProcAmpButton(bool) override {}
    void ShowPpmOverlay(bool) override {}
    void ShowLoadOnStartup(bool) override {}
    void ShowSaveOnExit(bool) override {}
    void ShowSourceCaption(const std::string& text) override { sink += text.size(); }
    void RestartFinder(bool, const std::string& ips, const char* groups) override {
        sink += ips.size() + (groups ? std::string(groups).size() : 0);
    }
    size_t sink = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One record for every run (its constructor builds the proc amp tables); the constructor's
    // defaults are enough, the large output buffers play no part in a load.
    static velmor::RelayRecord record;
    NullSink sink;
    velmor::LoadConfigBytes(record, data, size, sink);
    if (record.configSectionsRead == 0) return 0;
    record.groupSetup.LoadGroupControls();
    record.groupSetup.BuildReceiveGroups();
    record.groupSetup.BuildSendGroups();
    velmor::TakeStoredProcAmpAndGrab(record, sink, sink);
    velmor::ApplySettings(record, sink, sink);
    if (record.configSectionsRead >= 3) velmor::TakeUpMeterChoices(record);
    return 0;
}
