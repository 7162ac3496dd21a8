// What each control of the main window does: the command table of the window, its menu commands
// and keys, the picker's notifications and the Extra IP field. Widgets only forward their clicks
// here and show the MainWindowModel; these operations work on the relay record, the engine and the
// model, so they are tested without any widget.
//
// Window thread only. Handlers that open a message box or a setup window run a nested event loop,
// in which timers, engine calls and bus messages go on: each such handler looks at the state again
// after the box has closed, and one that is already open is not entered twice.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/relay_controller.h"

namespace velmor {

// The model item the operator meant: `item` of the list as it was shown, whose text was `shown`,
// looked up in the current `items` by name (the list is refilled while it is open, and sources
// may have come or gone). The header stays the header. -1 when the source is no longer listed.
int ItemForChoice(const std::vector<std::string>& items, int item, const std::string& shown);

// Menu command identifiers of the window (only the upper twelve bits count).
enum MenuCommandId : int {
    kMenuAbout = 16,
    kMenuAlwaysOnTop = 32,
    kMenuCommsReturn = 64,
    kMenuSplitKeyFill = 128,
    kMenuSourceStats = 256,
    kMenuHelp = 512,
    kMenuSaveOnExit = 1024,
    kMenuLoadOnStartup = 2048,
    kMenuGrabSettings = 4096,
};

class MainCommands {
public:
    explicit MainCommands(RelayController& controller) : c_(controller) {}

    // "Exit", the Escape key and the window's close button: the exit confirmation. Ends the copy
    // through the controller's onQuit(0) when confirmed.
    void Exit();
    void Freeze();
    void Disconnect();
    void Overlay();
    void PpmOverlay();
    void PpmOverlayRightClick();
    void FrameGrab();  // the button and the F12 key
    void ToggleEbu();
    void ToggleAudioDelay();
    void DelayPlus();
    void DelayMinus();
    void AudioMap();
    // The Audio Map window's "Use" for a source of `channels` channels: the window's copy
    // (audioMapper) becomes the map in force, with its mono mix and gain step. The HTTP API fills
    // the copy and uses it the same way.
    void UseAudioMap(int channels);
    void ToggleOutput();
    void ProcAmp();
    // The stepping buttons: x is the click's position in the button (x > 30 steps forward).
    void RotateClicked(int x);
    void DeinterlaceClicked(int x);
    void DeintCheck(bool checked);
    void ExcludeLocal(bool checked);
    void Groups();
    void Stats();
    // The speaker picture: y <= 8 Full, 9..16 Dim, below Mute.
    void MonitorLevelClicked(int y);
    // The preview: y <= 80 switches the preview, below switches the timecode burn-in (the two
    // are also menu commands, so that they work without a mouse).
    void PreviewClicked(int y);
    void TogglePreview();
    void ToggleTimecodeBurnIn();
    // The Extra IP field lost the focus. `blank`: all four fields empty (nothing happens).
    void ExtraIpChanged(bool blank, const std::array<int, 4>& fields);
    // The picker: an item chosen, the list opened, the list closed without a choice. `shown` is
    // the text the operator chose: the model may have been refilled while the list stayed open.
    void SourceSelected(int item, const std::string& shown = "");
    void PickerDropDown();
    void PickerCancel(bool stillOpen);
    void MenuCommand(int id);
    void Help();  // F1 and the menu's online help
    // Files dropped on the preview: announced to other programs as "Brelta-DF".
    void FilesDropped();

    // The README this copy opens as its online help: the installed copy, else the source tree's.
    static std::string HelpPath();

private:
    // Stops re-entry while a box of the same handler is open.
    class Guard {
    public:
        explicit Guard(bool& busy) : busy_(busy), entered_(!busy) { busy_ = true; }
        ~Guard() {
            if (entered_) busy_ = false;
        }
        bool entered() const { return entered_; }

    private:
        bool& busy_;
        bool entered_;
    };

    // "Load settings on startup" and "Save settings on exit": the stored byte and the check mark.
    void ToggleChoice(int8_t& stored, Flag shown);
    bool Connected() const { return c_.engine() && c_.engine()->IsConnected(); }

    RelayController& c_;
    bool inExit_ = false;
    bool inGroups_ = false;
    bool inDialog_ = false;
    int droppedFiles_ = 0;
};

}  // namespace velmor
