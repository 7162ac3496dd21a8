// One step of the video path (engine/video_path.h lists them in their order).
//
// A stage is configured between frames, whenever the frame's format or a video setting changed:
// it chooses its kernels and sizes its own buffers there (FFmpeg's config_props), says what format
// it hands on, and says whether it has anything to do. Per frame it only runs over the frame as the
// stages before it left it; a stage with nothing to do for the settings is left out and frames
// pass it untouched. Both run on the video thread.
//
// A stage owns what it works in (its buffers, what it chose, what it keeps from frame to frame)
// and holds nothing of the relay record: what it needs of the settings comes in the VideoSettings
// it is configured with and in the PathFrame, both read from the record once per frame; what it
// sends and reports goes through engine/video_outputs.h. Its declaration (video_stages.h) says
// what it owns and reads.
#pragma once

#include <cstdint>

#include "ndi/ndi_types.h"
#include "relay/record_engine_state.h"
#include "video/frame_view.h"
#include "video/pixel_kind.h"
#include "video/proc_amp.h"

namespace velmor {

class MeterPictures;

// What a frame looks like to the stages. Frames of one format run through the same configuration;
// any change of these fields configures the stages again.
struct StreamFormat {
    int width = 0;
    int height = 0;
    int stride = 0;
    uint32_t fourCC = 0;
    int frameFormatType = NDIlib_frame_format_type_progressive;
    int frameRateN = 0;
    int frameRateD = 0;
    float aspect = 0.0f;

    static StreamFormat Of(const NDIlib_video_frame_v2_t& frame);
    PixelKind kind() const { return PixelKindOf(fourCC); }
    // Four bytes a pixel with alpha (a BGRX frame is of kind BGRA without it).
    bool HasAlpha() const { return fourCC == NDIlib_FourCC_video_type_BGRA; }
    bool IsUyvy() const { return fourCC == NDIlib_FourCC_video_type_UYVY; }
    // Bit for bit, so that a NaN aspect from a broken source does not configure every frame.
    bool operator==(const StreamFormat& other) const;
};

// The video settings as one frame sees them, read once as it arrives (the window thread may
// change any of them between two frames). Any change configures the stages again.
struct VideoSettings {
    int32_t deinterlaceMode = 0;
    bool procAmpOnOutput = false;   // active and "Apply to o/p"
    bool procAmpOnPreview = false;  // active, not applied to the output
    bool overlayOn = false;
    bool meterOn = false;        // the meter builds its overlay pictures
    bool meterOnFrame = false;   // "PPM overlay" on, drawn on the main output
    bool meterSeparate = false;  // drawn into the meter source's picture (layouts 0 to 2)
    int32_t rotationMode = 0;
    bool timecodeBurnIn = false;
    bool keySplit = false;     // key+fill split on, and a key sender
    bool airSend = false;      // the AirSend output chosen and made
    bool commsReturn = false;  // no video sent
    bool meterSend = false;    // the meter source is sent
    bool monitorPreview = false;
    bool previewOn = false;

    bool operator==(const VideoSettings&) const = default;
};

// What a stage is configured with and hands on to the next.
struct StageChain {
    const VideoSettings& settings;
    const OutputFormat& output;  // the format the outputs were set up for
    StreamFormat format;         // the frame as the next stage receives it
    bool keyMade = false;        // the key split makes a key (the fill then goes out without alpha)
    // The picture goes out on the main NDI output and nothing reads it after the send: the stage
    // that moves it into a picture of its own may build that in memory the sender lends.
    bool sentPictureLendable = false;
};

// One frame on its way, with what it carries besides its picture, read once as it arrives.
//
// `out` is the frame as it will be sent: it starts as a copy of the received descriptor, and each
// stage that changes the picture or its description changes it. The received descriptor is never
// changed and goes back to the receiver as it came.
//
struct PathFrame {
    NDIlib_video_frame_v2_t out{};
    NDIlib_recv_instance_t recv = nullptr;
    NDIlib_video_frame_v2_t* received = nullptr;

    // --- Read once for this frame ---
    float rate = 0.0f;          // of this frame
    int64_t frameDuration = 0;  // of the frames now arriving, in 100 ns units
    const ProcAmpByteTables* tables = nullptr;
    bool overlaySequence = false;      // the overlay steps through its pictures
    MeterPictures* meter = nullptr;    // the meter's overlay pictures (none without a meter)
    int meterPosH = 0, meterPosV = 0;  // the meter's place, percent

    // --- Handed on by the stages ---
    const NDIlib_video_frame_v2_t* key = nullptr;  // the key made for this frame

    FrameView view() const { return ViewOf(out); }
};

// How a stage takes part when the path runs a frame through its stages a band of rows at a time
// (engine/video_path.h), so that a band goes through every step while it is in the cache.
enum class BandRole {
    None,   // only whole frames: it and every stage after it run after the bands
    Rows,   // works on each row of the picture by itself (or as its band form allows), in place
    Moves,  // writes each band's rows into a picture of its own, which the stages after it get
    Ends,   // takes the bands, but its picture is finished only after the last one: the stages
            // after it run on the whole frame
};

class VideoStage {
public:
    virtual ~VideoStage() = default;
    // Chooses kernels and sizes buffers for `chain.format` with `chain.settings`, and updates the
    // chain to what this stage hands on. False: nothing to do, the stage is left out.
    virtual bool Configure(StageChain& chain) = 0;
    // The whole frame at once.
    virtual void Run(PathFrame& frame) = 0;

    // --- The same work a band at a time (what Configure chose) ---
    virtual BandRole Role() const { return BandRole::None; }
    // Once per frame, around its bands: Begin in the stages' order before the first band, End in
    // the same order after the last. A stage of role Moves or Ends points frame.out at its own
    // picture in Begin.
    virtual void Begin(PathFrame&) {}
    virtual void End(PathFrame&) {}
    // Rows `rows` of `picture` (the frame as the stage before it left it; bands come in order
    // from the top and cover the picture). Returns the rows of frame.out this band finished:
    // `rows` itself for role Rows, where they landed for Moves, none for Ends.
    virtual RowSpan Band(PathFrame& frame, const FrameView& picture, RowSpan rows) {
        (void)frame, (void)picture;
        return rows;
    }
};

}  // namespace velmor
