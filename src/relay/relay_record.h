// The relay record: everything one running copy of Velmor holds, in groups by the thread that
// writes them. Each group's header says who writes and who may read it:
//
//   RecordSettings     (relay/record_settings.h)      the operator's settings: the window writes,
//                                                      the engine threads read every frame
//   RecordEngineState  (relay/record_engine_state.h)  handles, thread flags, format bookkeeping:
//                                                      the engine writes, the window reads
//   RecordWindowState  (relay/record_window_state.h)  instance, captions, setup windows: the
//                                                      window thread only
//   RecordStored       (below)                        the settings record as the file stores it
//
// The groups are bases of the one record, so every member keeps its name (record.rotationMode);
// a part of the program that needs only one group can take that group alone. Members with threads
// rules of their own (the meter, the preview's state, the timecode glyphs) follow the groups. The
// engine's frames and work buffers are not here: each stage of the video and audio paths owns
// what it works in (engine/video_stages.h, engine/audio_path.h).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/ppm_meter.h"
#include "relay/record_engine_state.h"
#include "relay/record_settings.h"
#include "relay/record_window_state.h"
#include "relay/relay_counters.h"
#include "relay/settings_record.h"
#include "video/preview_render.h"
#include "video/timecode_burn_in.h"

namespace velmor {

// State of the main preview that the window paints and the video thread feeds.
struct PreviewState {
    std::string timeText;
    int32_t timeTextShown = 0;
    std::atomic<TallyState> tallyState{TallyState::None};  // the video thread sets it
};

// The persisted copies of the configuration file's settings record: written by the window thread,
// by capture before a save, by the load, and directly by the controls that keep their own copy.
struct RecordStored {
    SettingsRecord settingsRecord{};
};

class RelayRecord : public RecordSettings,
                    public RecordEngineState,
                    public RecordWindowState,
                    public RecordStored {
public:
    // Gives every member its constructor default.
    RelayRecord();
    RelayRecord(const RelayRecord&) = delete;
    RelayRecord& operator=(const RelayRecord&) = delete;

    // The defaults that start-up sets: cleared handles and flags, "Exclude local", preview on,
    // meter and audio defaults, grab format and name, proc amp neutral, monitor Full, the audio
    // map reset.
    void ApplyStartupDefaults();

    // --- The meter and the preview: shared with their own rules ---
    // The PPM meter (made by the application with the platform's text rasteriser; none in tests
    // that do not need it): the audio thread measures, the window thread builds its pictures, the
    // video thread draws them (ppm_meter.h). meterLink holds its run-time change bits and
    // measurements; the stored choices are meterSettings (RecordSettings). One copy of each field.
    std::unique_ptr<PpmMeter> ppmMeter;
    MeterLink meterLink;
    PreviewState preview;
    // The timecode glyphs (timecode_burn_in.h): drawn once at start-up, then only read by the
    // video thread.
    ImageBuffer digitImages[kDigitImageCount];
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
