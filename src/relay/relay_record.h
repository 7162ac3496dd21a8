// The relay record: everything one running copy of Velmor holds — settings, NDI handles, thread
// flags, frame descriptors and output buffers, and the state of every setup window.
//
// Threads: the window thread writes settings and reads run-time state; the video and audio threads
// read settings on every frame and write run-time state. Every member that crosses threads is a
// std::atomic (relaxed order suffices for single settings and flags). Members without atomics are
// touched by one thread only, or only while no engine thread is alive.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/meter_settings.h"
#include "audio/ppm_meter.h"
#include "ndi/ndi_types.h"
#include "relay/audio_mapper.h"
#include "relay/grab_setup.h"
#include "relay/group_setup.h"
#include "relay/overlay_state.h"
#include "relay/picker_state.h"
#include "relay/proc_amp_state.h"
#include "relay/settings_record.h"
#include "video/image_buffer.h"
#include "video/publisher.h"
#include "video/timecode_burn_in.h"

namespace velmor {

template <typename T>
using Shared = std::atomic<T>;

inline constexpr int kKeyBufferWidth = 4096;
inline constexpr int kKeyBufferHeight = 2160;
inline constexpr int kAudioRingSize = 16;
inline constexpr int kMaxAudioChannels = 32;

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
    Shared<int32_t> tallyState{0};  // 0 none, 1 program, 2 preview
};

class RelayRecord {
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

    // --- Instance and window ---
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
    int32_t grabBlinks = 0;
    int32_t freezeBlinkPhase = 0;
    Shared<uint8_t> frameTick{0};

    // --- Source and connection ---
    NDIlib_source_t sourceList{};  // copy of the chosen entry, names owned below
    std::string sourceListName;
    std::string sourceListAddress;
    NDIlib_recv_create_v3_t recvCreate{};
    Shared<NDIlib_recv_instance_t> mainReceiver{nullptr};
    Shared<NDIlib_recv_instance_t> audioReceiver{nullptr};
    int32_t selectedSourceIndex = 0;
    int32_t seekPending = 0;
    char sourceName[184] = {};  // persisted
    char extraIpText[32] = {};
    int32_t excludeLocal = 1;
    std::string scratchText, pickerText, seekingText;

    // --- Engine threads ---
    Shared<int32_t> videoThreadRun{0};
    Shared<int32_t> videoThreadAlive{0};
    Shared<int32_t> audioThreadRun{0};
    Shared<int32_t> audioThreadAlive{0};

    // --- Senders and output modes ---
    Shared<NDIlib_send_instance_t> mainSender{nullptr};
    Shared<NDIlib_send_instance_t> keySender{nullptr};
    Shared<NDIlib_send_instance_t> ppmSender{nullptr};
    Shared<void*> airSend{nullptr};
    Shared<int32_t> airSendOutput{0};
    Shared<int32_t> commsReturn{0};
    Shared<int32_t> keyFillSplit{0};
    int32_t keyFillMenuChecked = 0;  // the "Split Key+Fill" menu check; the split resumes from it

    // --- Frame descriptors and buffers ---
    NDIlib_metadata_frame_t metadataFrame{};
    NDIlib_video_frame_v2_t videoFrame{};
    NDIlib_video_frame_v2_t keyFrame{};
    NDIlib_video_frame_v2_t ppmFrame{};
    std::vector<uint8_t> keyBuffer;
    // The meter output goes out with the asynchronous send, whose buffer the sender may read until
    // the next send on it: the meter is drawn into ppmBuffer, and after each send the two buffers
    // change places, so the one being read is never drawn into.
    std::vector<uint8_t> ppmBuffer;
    std::vector<uint8_t> ppmBufferSpare;  // made with the meter sender (AddMeterSpareBuffer)
    NDIlib_audio_frame_v2_t audioCapture{};
    std::array<NDIlib_audio_frame_v2_t, kAudioRingSize> audioRing{};
    std::array<std::vector<float>, kAudioRingSize> audioRingBuffers;
    // Frames beyond the limits of engine/frame_limits.h, released unused (since start-up).
    Shared<int32_t> skippedVideoFrames{0};
    Shared<int32_t> skippedAudioFrames{0};
    Shared<int32_t> videoFormatSeen{0};
    Shared<int32_t> audioFormatSeen{0};
    Shared<int32_t> outputWidth{0};
    Shared<int32_t> outputHeight{0};
    Shared<float> outputFrameRate{0.0f};
    Shared<int32_t> frameDuration{0};
    Shared<int32_t> frameRateMismatch{0};
    Shared<float> lastRate{
        0.0f};  // latest frame rate seen by the video thread; saved as lastRateSetting
    // FourCC of the last output set-up, for window handlers that ask "is the source BGRA" while
    // the video thread owns videoFrame.
    Shared<uint32_t> outputFourCC{0};
    ImageBuffer rotateImage;  // video thread: quarter turns
    // Video thread fills it; a grab hands it to the grab sink (or the window writes it while the
    // thread waits).
    ImageBuffer grabImage;
    ImageBuffer meterScratch;
    ImageBuffer digitImages[kDigitImageCount];  // timecode glyphs, loaded at start-up

    // --- Video processing ---
    Shared<int32_t> freezeState{0};  // 0 live, 2 freeze requested, 1 freeze held
    Shared<int32_t> freezeGrabDone{0};
    Shared<int32_t> grabRequest{0};
    Shared<int32_t> deinterlaceMode{0};
    Shared<int32_t> rotationMode{0};
    Shared<int32_t> previewOn{1};
    Shared<int32_t> timecodeBurnIn{0};
    Shared<int32_t> ebuMode{1};
    ProcAmpState procAmp;

    // --- Overlays and meters ---
    OverlayState overlaySetup;
    std::u16string remoteText;
    Shared<int32_t> ppmOverlayOn{0};
    // The meter's state has one copy of each field: the stored choices here (engine threads read
    // them through LoadMeterSetting), the run-time change bits and measurements in meterLink, and
    // what the meter itself applies (mode, layout, enable flags, frame size, pictures) in
    // ppmMeter.
    MeterSettings meterSettings{};  // persisted
    // The PPM meter (made by the application with the platform's text rasteriser; none in tests
    // that do not need it).
    std::unique_ptr<PpmMeter> ppmMeter;
    MeterLink meterLink;
    PreviewState preview;

    // --- Audio ---
    Shared<int32_t> audioChannelCount{0};
    Shared<int32_t> mapActive{0};
    std::array<Shared<int8_t>, kMaxAudioChannels> channelMap{};
    Shared<int32_t> monoMix{0};
    Shared<double> audioGain{0.0};  // 0.0 (never set) and 1.0 both copy samples unscaled
    Shared<int32_t> audioDelayOn{0};
    Shared<uint8_t> audioDelayFrames{0};
    Shared<int32_t> ringWrite{0};
    Shared<int32_t> ringSend{0};
    Shared<int32_t> mapDialogOpen{0};
    Shared<float> monitorLevel{1.0f};

    // --- Setup windows' state ---
    GrabSetup grabSetup;
    GroupSetup groupSetup;
    NDIAudioMapper audioMapper;
    PickerState picker;

    // --- Persisted copies ---
    SettingsRecord settingsRecord{};
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
