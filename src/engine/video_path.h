// The road of one video frame, from the receiver to the outputs. The order of its stages is
// written once, in VideoPath's constructor (video_path.cpp):
//
//   de-interlace -> proc amp -> picture overlay -> meter -> rotation/flip -> timecode ->
//   key split -> freeze/grab -> send -> preview -> release -> tally -> time display
//
// (The key split and the freeze and grab copies only read the picture, so their order does not
// change what either makes; the key split goes first so that it can take part in the bands.)
//
// The picture's steps run a band of rows at a time: a band goes through every stage that can take
// bands (video_stage.h: de-interlace, proc amp, overlay, meter, the rotation or flip, and after a
// flip or half turn the timecode and the key split) before the next band, so that the frame
// passes through the cache once instead of once a stage. The band height is chosen from the size
// of the second-level cache. The first stage that cannot take bands, and every stage after it,
// runs on the whole frame after the last band. The result is the same, bit for bit, as running
// every stage on the whole frame in turn.
//
// Before the stages, every frame passes the bookkeeping of the loop (rate, size and a new output
// set-up, the three frames skipped after a start, a held freeze). The stages are configured again
// whenever the frame's format or a video setting differs from what they were configured for, so
// the per-frame work never decides anything about the format. Metadata frames are passed on and
// tested for a tally echo.
//
// The path is the only part of the video thread that reads the relay record: once per frame it
// takes the settings (ReadVideoSettings) and what the frame carries (ReadFrameInputs); the stages
// get only those and the references video_stages.h names.
//
// Run is the video thread's body.
#pragma once

#include <array>

#include "engine/engine_context.h"
#include "engine/frame_limits.h"
#include "engine/live_edge.h"
#include "engine/output_setup.h"
#include "engine/video_outputs.h"
#include "engine/video_stages.h"

namespace velmor {

// The settings one frame goes through, read from the record.
VideoSettings ReadVideoSettings(RelayRecord& record);

class VideoPath {
public:
    VideoPath(EngineContext& context, OutputSetup& output, FrameLimitGate& gate);
    VideoPath(const VideoPath&) = delete;
    VideoPath& operator=(const VideoPath&) = delete;

    // Captures from `recv` until videoThreadRun is cleared, then reports the end.
    void Run(NDIlib_recv_instance_t recv);

    // Rows a band: kBandRowsFromCache (the default) chooses them from the cache size for each
    // format; 0 runs each stage on the whole frame in turn. Set while the video thread is not
    // running (tests compare the two ways).
    static constexpr int kBandRowsFromCache = -1;
    void SetBandRows(int rows) { bandRowsSetting_ = rows; }

private:
    void HandleMetadata(NDIlib_recv_instance_t recv, NDIlib_metadata_frame_t& m);
    // A frame that waited behind the live delay is dropped while a newer one is already waiting:
    // the relay returns to live after any stall instead of sending its backlog at the output's
    // pace. Leaves the frame to process in frame_.
    void CatchUp(NDIlib_recv_instance_t recv);
    // Rate, audio delay, frame tick and size; true when the output was set up again.
    bool Bookkeeping(const NDIlib_video_frame_v2_t& frame, float rate);
    void ProcessVideoFrame(NDIlib_recv_instance_t recv);
    // Configures the stages for this frame's format and settings when either changed.
    void Configure(const NDIlib_video_frame_v2_t& frame, const VideoSettings& settings);
    // What the frame carries besides its picture, read from the record as it arrives.
    void ReadFrameInputs(PathFrame& frame);
    // Which of the active stages take bands, and how high the bands are.
    void PlanBands();
    // Runs the band stages over the frame a band at a time.
    void RunBands(PathFrame& frame);

    EngineContext& c_;
    OutputSetup& output_;
    FrameLimitGate& gate_;
    VideoOutputs outputs_;

    DeinterlaceStage deinterlace_;
    ProcAmpStage procAmp_;
    OverlayStage overlay_;
    MeterStage meter_;
    GeometryStage geometry_;
    TimecodeStage timecode_;
    FreezeGrabStage freezeGrab_;
    KeySplitStage keySplit_;
    SendStage send_;
    PreviewStage preview_;
    ReleaseStage release_;
    TallyStage tally_;
    TimeDisplayStage time_;
    static constexpr size_t kStageCount = 13;
    const std::array<VideoStage*, kStageCount> order_;

    // What the stages are configured for, and the stages that have something to do.
    bool configured_ = false;
    StreamFormat format_;
    VideoSettings settings_;
    OutputFormat outputFormat_;
    std::array<VideoStage*, kStageCount> active_{};
    size_t activeCount_ = 0;
    // The first bandCount_ active stages run in bands (none when fewer than two would), the
    // stage at moverIndex_ (if below bandCount_) taking rows into a picture of its own.
    int bandRowsSetting_ = kBandRowsFromCache;
    int bandRows_ = 0;
    int bandParity_ = -1;  // bands start on even (0) or odd (1) lines, or any (-1)
    size_t bandCount_ = 0;
    size_t moverIndex_ = kStageCount;

    // Per thread.
    NDIlib_video_frame_v2_t frame_{};  // as received; released as received
    NDIlib_metadata_frame_t metadata_{};
    float lastRateSeen_ = 0.0f;
    int64_t frameDuration_ = 0;  // of the frames now arriving, 100 ns units
    int skipCount_ = 3;
    LiveEdge live_;
};

}  // namespace velmor
