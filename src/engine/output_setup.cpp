#include "engine/output_setup.h"

#include <cstdio>

#include "engine/metadata_texts.h"

namespace velmor {

float FrameRateOf(const NDIlib_video_frame_v2_t& f) {
    return RateOf(f.frame_rate_N, f.frame_rate_D);
}

int32_t FrameDurationOf(float rate) {
    if (!(rate > 0.0f)) return 0;
    // A rate such as 1/2147483647 from a broken source would not fit the 32-bit duration.
    const double duration = 10000000.0 / static_cast<double>(rate);
    return duration >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(10000000.0f / rate);
}

VideoFormatReport FormatReportOf(const NDIlib_video_frame_v2_t& frame, float rate) {
    VideoFormatReport report;
    report.width = frame.xres;
    report.height = frame.yres;
    report.rate = rate;
    report.progressive = frame.frame_format_type == NDIlib_frame_format_type_progressive;
    report.yuv = frame.FourCC == NDIlib_FourCC_video_type_UYVY;
    report.frameRateN = frame.frame_rate_N;
    report.frameRateD = frame.frame_rate_D;
    report.frameFormatType = static_cast<int>(frame.frame_format_type);
    report.fourCC = static_cast<uint32_t>(frame.FourCC);
    return report;
}

void OutputSetup::SetUpOutput(const NDIlib_video_frame_v2_t& frame) {
    RelayRecord& r = c_.r;
    // 1. Size and rate, the one copy everyone reads. The video path's stages describe the key and
    // meter outputs from it when they are configured next.
    OutputFormat format;
    format.width = frame.xres;
    format.height = frame.yres;
    format.frameRateN = frame.frame_rate_N;
    format.frameRateD = frame.frame_rate_D;
    format.aspect = frame.picture_aspect_ratio;
    format.frameFormatType = frame.frame_format_type;
    format.fourCC = static_cast<uint32_t>(frame.FourCC);
    r.outputFormat.Store(format);
    const float rate = format.rate();

    // 2-3. Caption and lamp.
    c_.bridge.ShowVideoFormat(FormatReportOf(frame, rate));
    ReportSignal();

    // 4. The second output.
    if (r.airSendOutput && !r.airSend && c_.airSend) {
        r.airSend =
            c_.airSend->create(frame.xres, frame.yres, frame.frame_rate_N, frame.frame_rate_D,
                               frame.frame_format_type != NDIlib_frame_format_type_interleaved,
                               frame.picture_aspect_ratio, false, 0, 0);
    }
    if (r.keyFillSplit) c_.bridge.ShowKeyFillLabel(true);

    // 8. EBU for 25 and 50 frames per second, SMPTE otherwise.
    r.ebuMode = (rate == 25.0f || rate == 50.0f) ? 1 : 0;
    c_.bridge.ShowEbuMode(r.ebuMode != 0);
}

void OutputSetup::ReportSignal() {
    c_.bridge.ShowSignal(c_.r.videoFormatSeen != 0, c_.r.audioFormatSeen != 0);
}

void OutputSetup::AddMetadata(NDIlib_send_instance_t sender, const std::string& text) {
    NDIlib_metadata_frame_t frame{};
    frame.length = static_cast<int>(text.size());
    frame.timecode = NDIlib_send_timecode_synthesize;
    frame.p_data = const_cast<char*>(text.c_str());
    c_.ndi.send_add_connection_metadata(sender, &frame);
}

void OutputSetup::CreateSenders(bool videoSeen) {
    RelayRecord& r = c_.r;
    const int n = r.instanceIndex + 1;
    char name[32];
    if (r.commsReturn) {
        std::snprintf(name, sizeof name, "comms_return");
    } else {
        std::snprintf(name, sizeof name, "Korvo Velmor %d", n);
    }
    NDIlib_send_create_t settings{};
    settings.p_ndi_name = name;
    settings.p_groups = r.groupSetup.sendGroups;
    settings.clock_video = videoSeen;
    settings.clock_audio = !videoSeen;

    for (std::atomic<NDIlib_send_instance_t>* held : {&r.mainSender, &r.keySender}) {
        if (NDIlib_send_instance_t old = held->exchange(nullptr)) c_.ndi.send_destroy(old);
    }
    NDIlib_send_instance_t main = c_.ndi.send_create(&settings);
    if (!main) return;
    r.mainSender = main;
    if (!r.commsReturn) AddMetadata(main, SenderProductText());

    if (r.keyFillMenuChecked) {
        std::snprintf(name, sizeof name, "Korvo Velmor Key %d", n);
        NDIlib_send_instance_t key = c_.ndi.send_create(&settings);
        if (!key) return;
        r.keySender = key;
        AddMetadata(key, SenderProductText());
    }
    if (r.meterSettings.meterSeparateOutput && !r.ppmSender) {
        std::snprintf(name, sizeof name, "Korvo Velmor PPM %d", n);
        if (NDIlib_send_instance_t ppm = c_.ndi.send_create(&settings)) {
            r.ppmSender = ppm;
            AddMetadata(ppm, SenderProductText());
        }
    }
}

void OutputSetup::CloseOutputs() {
    RelayRecord& r = c_.r;
    for (std::atomic<NDIlib_send_instance_t>* held : {&r.mainSender, &r.keySender}) {
        if (NDIlib_send_instance_t s = held->exchange(nullptr)) c_.ndi.send_destroy(s);
    }
    if (NDIlib_send_instance_t ppm = r.ppmSender.exchange(nullptr)) {
        c_.ndi.send_send_video_async_v2(ppm, nullptr);  // waits until the last frame is released
        c_.ndi.send_destroy(ppm);
    }
    if (NDIlib_recv_instance_t recv = r.mainReceiver.exchange(nullptr)) c_.ndi.recv_destroy(recv);
    if (void* air = r.airSend.exchange(nullptr); air && c_.airSend) c_.airSend->destroy(air);
}

}  // namespace velmor
