// The window's own state: the fourth group of the relay record (relay_record.h).
//
// Written and read by the window thread only: the copy's number and files, the texts of the
// source caption, the connection's source, the timers' phases and the state the setup windows
// keep between openings. The engine threads never touch it; the exceptions are named below (the
// audio thread reads the Audio Map window's copy of the map while that window is open and follows
// a channel-count change in it).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ndi/ndi_types.h"
#include "relay/audio_mapper.h"
#include "relay/grab_setup.h"
#include "relay/group_setup.h"
#include "relay/picker_state.h"

namespace velmor {

struct RecordWindowState {
    // --- Instance ---
    int32_t instanceIndex = 0;
    int32_t instanceProbe = 1;
    std::array<int32_t, 32> instanceSlots{};
    uint32_t processId = 0;
    std::string commandLine;
    std::string versionText;
    std::string buildMonthText;
    char configFileName[15] = "last.vlm";
    int32_t configSectionsRead = 0;
    int32_t configVersion = 0;

    // --- Timers ---
    int32_t grabBlinks = 0;
    int32_t freezeBlinkPhase = 0;

    // --- The source: what the picker chose and the connection was made to ---
    NDIlib_source_t sourceList{};  // copy of the chosen entry, names owned below
    std::string sourceListName;
    std::string sourceListAddress;
    NDIlib_recv_create_v3_t recvCreate{};
    int32_t selectedSourceIndex = 0;
    int32_t seekPending = 0;
    char sourceName[184] = {};  // stored as its own configuration block
    std::string scratchText, pickerText, seekingText;
    std::u16string remoteText;

    // --- Setup windows ---
    GrabSetup grabSetup;
    GroupSetup groupSetup;
    NDIAudioMapper audioMapper;  // mapperMap and mapperGain: see the header comment
    PickerState picker;
};

}  // namespace velmor
