#include "relay/relay_record.h"

#include <algorithm>
#include <new>

#include "relay/text_fields.h"

namespace velmor {
namespace {

constexpr int64_t kSynthesize = NDIlib_send_timecode_synthesize;

NDIlib_video_frame_v2_t OutputDescriptor(NDIlib_FourCC_video_type_e fourcc, int width, int height,
                                         int bytesPerPixel, uint8_t* data) {
    NDIlib_video_frame_v2_t frame{};
    frame.xres = width;
    frame.yres = height;
    frame.FourCC = fourcc;
    frame.frame_rate_N = 30000;
    frame.frame_rate_D = 1200;
    frame.picture_aspect_ratio = 16.0f / 9.0f;
    frame.frame_format_type = NDIlib_frame_format_type_progressive;
    frame.timecode = kSynthesize;
    frame.p_data = data;
    frame.line_stride_in_bytes = width * bytesPerPixel;
    return frame;
}

}  // namespace

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
        keyFrame = OutputDescriptor(NDIlib_FourCC_video_type_UYVY, w, h, 2, keyBuffer.data());
        ppmFrame = OutputDescriptor(NDIlib_FourCC_video_type_BGRA, w, h, 4, ppmBuffer.data());
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
    const int16_t values[7] = {p.blackLevel, p.gain,        p.contrast,   p.gamma,
                               p.colourSat,  p.uLevelShift, p.vLevelShift};
    for (int16_t v : values) {
        if (v != 50) return 1;
    }
    return 0;
}

void ProcAmpState::StoreIntoSlot(int n, bool keepStoredFlag) {
    if (n < 0 || n >= static_cast<int>(presets.size())) return;
    ProcAmpPreset& p = presets[n];
    const ProcAmpSettings& s = settings;
    p.reserved0 = static_cast<int16_t>(s.reserved0);
    p.blackLevel = static_cast<int16_t>(s.blackLevel);
    p.gain = static_cast<int16_t>(s.gain);
    p.contrast = static_cast<int16_t>(s.contrast);
    p.gamma = static_cast<int16_t>(s.gamma);
    p.colourSat = static_cast<int16_t>(s.colourSat);
    p.uLevelShift = static_cast<int16_t>(s.uLevelShift);
    p.vLevelShift = static_cast<int16_t>(s.vLevelShift);
    p.fxOrder = static_cast<int8_t>(s.fxOrder);
    p.uvLinking = static_cast<int8_t>(s.uvLinking);
    p.reserved34 = static_cast<int8_t>(s.reserved34);
    p.reserved35 = static_cast<int8_t>(s.reserved35);
    p.monitorOn = static_cast<int8_t>(monitorOn);
    p.wfmOn = static_cast<int8_t>(wfmOn);
    CopyToField(p.name, kPresetNameMaxUnits, Utf8ToUtf16(presetName));
    if (!keepStoredFlag) p.storedFlag = PresetStoredFlag(p);
}

void ProcAmpState::RecallSlot(int n) {
    if (n < 0 || n >= static_cast<int>(presets.size())) return;
    const ProcAmpPreset& p = presets[n];
    ProcAmpSettings& s = settings;
    s.blackLevel = p.blackLevel;
    s.gain = p.gain;
    s.contrast = p.contrast;
    s.gamma = p.gamma;
    s.colourSat = p.colourSat;
    s.uLevelShift = p.uLevelShift;
    s.vLevelShift = p.vLevelShift;
    monitorOn = p.monitorOn;
    wfmOn = p.wfmOn;
    s.fxOrder = p.fxOrder;
    s.uvLinking = p.uvLinking;
    s.reserved34 = p.reserved34;
    s.reserved35 = p.reserved35;
    presetName = Utf16ToUtf8(FieldText(p.name));
    Refresh();
}

}  // namespace velmor
