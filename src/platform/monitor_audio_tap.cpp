// The engine's audio tap; see monitor_audio_tap.h.
#include "platform/monitor_audio_tap.h"

#include "engine/frame_limits.h"

namespace velmor {

void MonitorAudioTap::MonitorTap(RelayRecord& record, const NDIlib_audio_frame_v2_t& frame) {
    MonitorTapSettings settings;
    settings.monitorLevel = record.monitorLevel.load(std::memory_order_relaxed);
    settings.ebuMode = record.ebuMode.load(std::memory_order_relaxed);
    settings.mapDialogOpen = record.mapDialogOpen.load(std::memory_order_relaxed);
    settings.mapEntry0 = record.audioMapper.mapperMap[0].load(std::memory_order_relaxed);
    settings.mapEntry1 = record.audioMapper.mapperMap[1].load(std::memory_order_relaxed);
    settings.mapGain =
        static_cast<float>(record.audioMapper.mapperGain.load(std::memory_order_relaxed));

    // The scratch buffer follows the block's length: a block longer than any frame Velmor takes
    // (the audio thread never passes one on) is not played.
    if (frame.no_samples > kMaxFrameSamples) return;
    AudioBlockView block{frame.p_data, frame.no_channels, frame.no_samples, 0};
    // Planes are channel_stride_in_bytes apart. A stride too small for the samples (or not a whole
    // number of floats) would make planes overlap or run past the block: hear nothing then.
    const int64_t needed = int64_t{frame.no_samples} * static_cast<int64_t>(sizeof(float));
    if (frame.channel_stride_in_bytes < needed ||
        frame.channel_stride_in_bytes % sizeof(float) != 0)
        block.channels = 0;
    else
        block.channelStride = frame.channel_stride_in_bytes / static_cast<int>(sizeof(float));
    velmor::MonitorTap(settings, block, meter_, &queue_, scratch_);
    // What the sound server never played, in stereo sample pairs of four bytes.
    record.counters.monitorSamplesDropped.store((queue_.DroppedBytes() + queue_.TrimmedBytes()) / 4,
                                                std::memory_order_relaxed);
}

}  // namespace velmor
