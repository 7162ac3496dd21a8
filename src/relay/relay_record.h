// The relay record: everything one running copy of Velmor holds, in groups by the thread that
// writes them. Each group's header says who writes and who may read it:
//
//   RecordSettings     (relay/record_settings.h)      the operator's settings: the window writes,
//                                                      the engine threads read every frame
//   RecordEngineState  (relay/record_engine_state.h)  handles, thread flags, format bookkeeping:
//                                                      the engine writes, the window reads
//   RecordFrames       (relay/record_frames.h)        frame descriptors and buffers: owned by the
//                                                      video and audio threads
//   RecordWindowState  (relay/record_window_state.h)  instance, captions, setup windows: the
//                                                      window thread only
//   RecordStored       (below)                        the settings record as the file stores it
//
// The groups are bases of the one record, so every member keeps its name (record.rotationMode);
// a part of the program that needs only one group can take that group alone. Members with threads
// rules of their own (the meter, the preview's state) follow the groups.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/ppm_meter.h"
#include "relay/record_engine_state.h"
#include "relay/record_frames.h"
#include "relay/record_settings.h"
#include "relay/record_window_state.h"
#include "relay/relay_counters.h"
#include "relay/settings_record.h"

namespace velmor {

// Colour index of the rotation button per rotationMode, and of the de-interlace button per mode.
inline constexpr std::array<int32_t, 6> rotateColours = {0, 4, 2, 4, 1, 1};
inline constexpr std::array<int32_t, 4> deinterlaceColours = {0, 4, 1, 2};
inline constexpr std::array<const char*, 6> kRotationNames = {
    "Rotate 0", "Rotate 90", "Rotate 180", "Rotate -90", "H-Flip", "V-Flip"};
inline constexpr std::array<const char*, 4> kDeinterlaceNames = {"DeInt OFF", "Blend fields",
                                                                 "Field 1", "Field 2"};

// State of the main preview that the window paints and the video thread feeds.
struct PreviewState {
    std::string timeText;
    int32_t timeTextShown = 0;
    Shared<int32_t> tallyState{0};  // 0 none, 1 program, 2 preview; the video thread sets it
};

// The persisted copies of the configuration file's settings record: written by the window thread,
// by capture before a save, by the load, and directly by the controls that keep their own copy.
struct RecordStored {
    SettingsRecord settingsRecord{};
};

class RelayRecord : public RecordSettings,
                    public RecordEngineState,
                    public RecordFrames,
                    public RecordWindowState,
                    public RecordStored {
public:
    // Gives every member its constructor default. The large output buffers are made by
    // ApplyStartupDefaults, which start-up runs once.
    RelayRecord();
    RelayRecord(const RelayRecord&) = delete;
    RelayRecord& operator=(const RelayRecord&) = delete;

    // The defaults that start-up sets: cleared handles and flags, "Exclude local", preview on,
    // meter and audio defaults, the 4096 x 2160 key (0x80) and meter (0) buffers with their frame
    // descriptors, grab format and name, proc amp neutral, monitor Full, the audio map reset.
    // Returns false when the output buffers cannot be allocated.
    bool ApplyStartupDefaults();

    // Key and meter buffers for a frame of width x height: grown (never shrunk) when a frame is
    // larger than what they hold, with the descriptors updated; the meter's spare buffer only once
    // it exists (a meter sender was made). Window thread during a connection's probe, or the video
    // thread on a format change once the meter sender let go of its buffer. Returns false when
    // memory runs out (the buffers stay as they were).
    bool EnsureOutputBuffers(int width, int height);
    // The meter's second buffer, as large as ppmBuffer. False when memory runs out.
    bool AddMeterSpareBuffer();

    // --- The meter and the preview: shared with their own rules ---
    // The PPM meter (made by the application with the platform's text rasteriser; none in tests
    // that do not need it): the audio thread measures, the window thread builds its pictures, the
    // video thread draws them (ppm_meter.h). meterLink holds its run-time change bits and
    // measurements; the stored choices are meterSettings (RecordSettings). One copy of each field.
    std::unique_ptr<PpmMeter> ppmMeter;
    MeterLink meterLink;
    PreviewState preview;
    // What the relay has done since start-up (relay_counters.h): the engine counts, anyone reads.
    RelayCounters counters;
};

// Sets bits of meterLink.meterChangeFlags. The window, the video thread and the audio thread all
// change them, so every change is an atomic read-modify-write.
inline void SetMeterChangeFlags(RelayRecord& record, uint8_t bits) {
    record.meterLink.meterChangeFlags.fetch_or(bits, std::memory_order_relaxed);
}

// The monitor level control: 0 Mute (0.0), 1 Dim (0.25), 2 Full (1.0). Any other stored value
// stays in monitorLevelSetting and changes nothing else. Returns whether the level was set.
bool SetMonitorLevel(RelayRecord& record, int level);

}  // namespace velmor
