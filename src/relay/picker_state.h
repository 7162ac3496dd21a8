// State of the source picker (finder handle, poll phase, chosen and sought names). The picker's
// logic lives in discovery/; the record holds its state so that it outlives any widget.
#pragma once

#include <cstdint>
#include <string>

#include "ndi/ndi_types.h"

namespace velmor {

struct PickerState {
    NDIlib_find_instance_t finder = nullptr;
    NDIlib_find_create_t finderSettings{};
    std::string finderGroups;    // storage behind finderSettings.p_groups
    std::string finderExtraIps;  // storage behind finderSettings.p_extra_ips
    const NDIlib_source_t* sources = nullptr;
    uint32_t sourceCount = 0;
    uint32_t lastCount = 0;
    uint8_t fastPolling = 1;
    int32_t selectedItem = -1;
    std::string chosenName;  // UTF-8, at most 255 UTF-16 units
    int32_t keepHeader = 0;
    int32_t seekArmed = 0;
    int32_t seekReported = 1;
    std::string seekName;
};

}  // namespace velmor
