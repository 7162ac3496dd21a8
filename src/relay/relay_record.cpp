#include "relay/relay_record.h"

#include <algorithm>
#include <new>

#include "relay/audio_map.h"
#include "relay/text_fields.h"

namespace velmor {
namespace {

constexpr int64_t kSynthesize = NDIlib_send_timecode_synthesize;

}  // namespace

void DescribeOutputFrame(NDIlib_video_frame_v2_t& frame, NDIlib_FourCC_video_type_e fourCC,
                         int bytesPerPixel, const OutputFrameFormat& format, uint8_t* data) {
    frame.xres = format.width;
    frame.yres = format.height;
    frame.FourCC = fourCC;
    frame.frame_rate_N = format.frameRateN;
    frame.frame_rate_D = format.frameRateD;
    frame.picture_aspect_ratio = format.aspect;
    frame.frame_format_type = format.frameFormatType;
    frame.line_stride_in_bytes = format.width * bytesPerPixel;
    frame.p_data = data;
}

RelayRecord::RelayRecord() {
    metadataFrame.timecode = kSynthesize;
    videoFrame.FourCC = NDIlib_FourCC_video_type_UYVY;
    videoFrame.frame_rate_N = 30000;
    videoFrame.frame_rate_D = 1001;
    videoFrame.frame_format_type = NDIlib_frame_format_type_progressive;
    audioCapture.sample_rate = 48000;
    audioCapture.no_channels = 2;
    for (auto& frame : audioRing) {
        frame.sample_rate = 48000;
        frame.no_channels = 2;
        frame.timecode = kSynthesize;
    }
    recvCreate.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    recvCreate.bandwidth = NDIlib_recv_bandwidth_highest;
    recvCreate.allow_video_fields = true;
    meterSettings.meterPosV = 90;
    meterSettings.meterPosH = 10;
    groupSetup.record = &settingsRecord.groupSettings;
    for (int i = 0; i < kMaxAudioChannels; ++i)
        channelMap[i].store(static_cast<int8_t>(i));
}

bool RelayRecord::ApplyStartupDefaults() {
    // Handles and flags that start-up clears explicitly.
    videoThreadAlive = 0;
    mainReceiver = nullptr;
    mainSender = nullptr;
    deinterlaceMode = 0;
    excludeLocal = 1;
    previewOn = 1;

    // Meter and audio.
    ringWrite = 0;
    ringSend = 0;
    meterSettings.meterPosV = 90;
    meterSettings.meterPosH = 10;
    monitorLevel = 1.0f;
    meterLink.meterScale = 0.1f;
    ebuMode = 1;

    // Remaining defaults.
    grabSetup.formatIndex = 3;
    grabSetup.baseName = "VelmorGrab";
    procAmp.settings = ProcAmpSettings{};
    procAmp.Refresh();
    settingsRecord.monitorLevelSetting = 2;
    audioMapper.Reset();
    for (int i = 0; i < kMaxAudioChannels; ++i) {
        channelMap[i].store(static_cast<int8_t>(audioMapper.mapperMap[i].load()));
    }
    PublishAudioSettings(*this);

    // The key and meter output buffers, once.
    keyBuffer.clear();
    ppmBuffer.clear();
    ppmBufferSpare.clear();
    return EnsureOutputBuffers(kKeyBufferWidth, kKeyBufferHeight);
}

bool RelayRecord::EnsureOutputBuffers(int width, int height) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
    const int w = std::max(width, keyFrame.xres);
    const int h = std::max(height, keyFrame.yres);
    const size_t keyBytes = static_cast<size_t>(w) * h * 2;
    const size_t ppmBytes = static_cast<size_t>(w) * h * 4;
    const bool spareNeeded = !ppmBufferSpare.empty() && ppmBufferSpare.size() < ppmBytes;
    if (keyBuffer.size() < keyBytes || ppmBuffer.size() < ppmBytes || spareNeeded) {
        try {
            std::vector<uint8_t> key(keyBytes, 0x80);
            std::vector<uint8_t> ppm(ppmBytes, 0);
            std::vector<uint8_t> spare(ppmBufferSpare.empty() ? 0 : ppmBytes, 0);
            keyBuffer.swap(key);
            ppmBuffer.swap(ppm);
            ppmBufferSpare.swap(spare);
        } catch (const std::bad_alloc&) {
            return false;
        }
        // Until an output set-up describes the source's format.
        OutputFrameFormat format;
        format.width = w;
        format.height = h;
        keyFrame = {};
        ppmFrame = {};
        keyFrame.timecode = ppmFrame.timecode = kSynthesize;
        DescribeOutputFrame(keyFrame, NDIlib_FourCC_video_type_UYVY, 2, format, keyBuffer.data());
        DescribeOutputFrame(ppmFrame, NDIlib_FourCC_video_type_BGRA, 4, format, ppmBuffer.data());
    }
    return true;
}

bool RelayRecord::AddMeterSpareBuffer() {
    if (ppmBufferSpare.size() >= ppmBuffer.size()) return true;
    try {
        ppmBufferSpare.assign(ppmBuffer.size(), 0);
    } catch (const std::bad_alloc&) {
        ppmBufferSpare = {};
        return false;
    }
    return true;
}

bool SetMonitorLevel(RelayRecord& record, int level) {
    static constexpr float kLevels[3] = {0.0f, 0.25f, 1.0f};
    if (level < 0 || level > 2) return false;
    record.monitorLevel = kLevels[level];
    record.settingsRecord.monitorLevelSetting = static_cast<int8_t>(level);
    return true;
}

int8_t PresetStoredFlag(const ProcAmpPreset& p) {
    for (size_t i = 1; i < kPresetValueFields.size(); ++i) {
        if (p.*kPresetValueFields[i] != 50) return 1;
    }
    return 0;
}

void ProcAmpState::StoreIntoSlot(int n, bool keepStoredFlag) {
    if (n < 0 || n >= static_cast<int>(presets.size())) return;
    ProcAmpPreset& p = presets[n];
    const ProcAmpSettings& s = settings;
    for (size_t i = 0; i < kPresetValueFields.size(); ++i)
        p.*kPresetValueFields[i] = static_cast<int16_t>(s.*kProcAmpValueFields[i]);
    for (size_t i = 0; i < kPresetModeFields.size(); ++i)
        p.*kPresetModeFields[i] = static_cast<int8_t>(s.*kProcAmpModeFields[i]);
    p.monitorOn = static_cast<int8_t>(monitorOn);
    p.wfmOn = static_cast<int8_t>(wfmOn);
    CopyToField(p.name, kPresetNameMaxUnits, Utf8ToUtf16(presetName));
    if (!keepStoredFlag) p.storedFlag = PresetStoredFlag(p);
}

void ProcAmpState::RecallSlot(int n) {
    if (n < 0 || n >= static_cast<int>(presets.size())) return;
    const ProcAmpPreset& p = presets[n];
    ProcAmpSettings& s = settings;
    for (size_t i = 1; i < kPresetValueFields.size(); ++i)
        s.*kProcAmpValueFields[i] = p.*kPresetValueFields[i];
    monitorOn = p.monitorOn;
    wfmOn = p.wfmOn;
    for (size_t i = 0; i < kPresetModeFields.size(); ++i)
        s.*kProcAmpModeFields[i] = p.*kPresetModeFields[i];
    presetName = Utf16ToUtf8(FieldText(p.name));
    Refresh();
}

}  // namespace velmor
