// The overlay of the output: the picture list (a still picture, a numbered sequence or a text
// box) with its placement, as the overlay window leaves it for the video thread, and the window's
// own state that outlives the window.
//
// Threads: the window thread builds every list aside and publishes it whole; the video thread
// draws the newest list and steps through a sequence (DrawImageOverlay). A published list and its
// pictures never change, so changing the placement, a picture or the list publishes a new list
// that shares the unchanged pictures: no pixels are copied and nothing the video thread may be
// drawing is rewritten.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "video/blend_rows.h"
#include "video/frame_view.h"
#include "video/image_buffer.h"
#include "video/sequence_name.h"
#include "video/snapshot_publisher.h"

namespace velmor {

// One picture of the list: as loaded (BGRA, for BGRA and BGRX frames) and converted to UYVA (for
// UYVY frames), with the overlay window's thumbnail of it (made with the picture, off the window
// thread; empty for a text box).
struct OverlayNode {
    int32_t imageNumber = 0;
    ImageBuffer bgra;
    ImageBuffer uyva;
    ImageBuffer thumbnail;
    int64_t countedBytes = 0;  // what this node adds to OverlayState::heldBytes
};
using OverlayNodePtr = std::shared_ptr<const OverlayNode>;

// DrawOnto's x, y and anchor (0 upper left, 7 upper right, 10 lower left, 11 lower right, 5 the
// text box).
struct OverlayPlacement {
    int32_t overlayX = 0;
    int32_t overlayY = 0;
    int32_t overlayAnchor = 0;
};

// What the video thread draws. nodes[0] is firstImage; a sequence is the whole list.
struct OverlayList {
    std::vector<OverlayNodePtr> nodes;
    OverlayPlacement placement;
    // Changes whenever the list's pictures change, not when only the placement does, so that a
    // sequence keeps stepping on while it is moved.
    uint64_t nodesId = 0;
};

// Bytes held by overlay pictures, counted by every node made with MakeOverlayNode until the last
// list holding it is freed.
using OverlayBytes = std::shared_ptr<std::atomic<int64_t>>;

struct OverlayState {
    OverlayState();

    // --- Read by the video thread ---
    std::atomic<int32_t> overlayOn{0};
    std::atomic<int32_t> sequenceMode{0};  // step through the list, one picture per frame
    SnapshotPublisher<OverlayList> pictures;
    // The index of the picture drawn last; written by the video path's overlay stage only.
    std::atomic<int32_t> currentImage{0};

    // --- The overlay window's state (window thread) ---
    int32_t imageLoaded = 0;  // a picture or text box exists; "On/Off" may switch on
    // The file of the last picture loaded (Load Overlay or a drop). A text box leaves it; while
    // none is known, opening the window switches the overlay off.
    std::string picturePath;
    OverlayPlacement placement;
    int32_t cornerIndex = 0;  // 0..3: "Upper Left", "Upper Right", "Lower Left", "Lower Right"
    int32_t frameWidth = 0, frameHeight = 0;  // the output size when the window opened
    std::string textBoxText;
    SequenceName sequenceName;
    int32_t sequenceCount = 1;
    int32_t sequenceFound = 0;
    int32_t sequenceLoading = 0;
    int32_t previewPlaying = 0;
    int32_t dialogOpen = 0;
    int32_t previewImage = 0;  // index of the picture the window's preview shows
    // While a sequence loads: the list so far, firstImage first (published when loading ends).
    std::vector<OverlayNodePtr> loadingNodes;
    // Pictures held by overlay lists may not take more than this (two copies of each).
    int64_t memoryLimit;
    OverlayBytes heldBytes;
    uint64_t lastNodesId = 0;
};

// Where a sequence stands as the video path draws it: the list drawn last and the picture that
// comes next. The overlay stage's own.
struct OverlayStep {
    uint64_t drawnNodesId = 0;
    int32_t nextImage = 0;
};

// Half of the machine's memory: a sequence may not grow past it (Linux does not refuse memory, it
// ends the process when it runs out).
int64_t DefaultOverlayMemoryLimit();

// A node whose bytes count towards `held` (the state's heldBytes) from now until it is freed, on
// whichever thread lets go of it last. The overlay window's loading workers make nodes with a copy
// of the state's heldBytes, never touching the state itself.
std::shared_ptr<OverlayNode> MakeOverlayNode(const OverlayBytes& held);
std::shared_ptr<OverlayNode> MakeOverlayNode(OverlayState& state);
// Counts the pictures of a node filled after MakeOverlayNode (again after they change size).
void CountOverlayNode(const OverlayBytes& held, OverlayNode& node);
void CountOverlayNode(OverlayState& state, OverlayNode& node);
// Bytes two copies of a w x h picture take.
inline int64_t OverlayNodeBytes(int64_t w, int64_t h) {
    return w * h * 8;
}

// Window thread: publishes `nodes` (new pictures) with the window's placement, or the current
// pictures with the window's placement (PublishPlacement: nothing is copied; a sequence steps on).
void PublishPictures(OverlayState& state, std::vector<OverlayNodePtr> nodes);
void PublishPlacement(OverlayState& state);
// Window thread: publishes `nodes` in place of the current pictures of the same list (a picture
// made solid, a dropped first picture): a sequence steps on where it was.
void ReplacePictures(OverlayState& state, std::vector<OverlayNodePtr> nodes);
// The nodes of the list published last (empty before the first).
const std::vector<OverlayNodePtr>& PublishedNodes(const OverlayState& state);
// Frees replaced lists the video thread has finished with.
void CollectOverlayLists(OverlayState& state);

// Video thread, the work of the video path's overlay stage on one frame while the overlay is on:
// blends the current picture of `list` onto the frame at the list's placement, then, in a
// sequence, moves `step` on to the next picture, back to the first after the last. Outside a
// sequence the first picture is drawn. A new list starts at its first picture. `kind` and `blend`
// are chosen when the stage is configured for the frames' format: UYVY draws the UYVA copy (UYVY
// frames), BGRA the BGRA picture (BGRA and BGRX frames), None draws nothing on frames of other
// kinds but still steps. Returns the index of the picture drawn, -1 for an empty list.
int DrawImageOverlay(const OverlayList* list, OverlayStep& step, bool sequence,
                     const FrameView& frame, PixelKind kind, const BlendRowKernels& blend);
// The same in two parts, for a frame drawn a band of rows at a time: which picture of `list` the
// frame gets (its index, -1 for an empty list), with `step` moved on past it; then that picture
// drawn on the frame's rows within `rows`.
int StepImageOverlay(const OverlayList* list, OverlayStep& step, bool sequence);
void DrawOverlayPicture(const OverlayList& list, int index, const FrameView& frame, PixelKind kind,
                        const BlendRowKernels& blend, RowSpan rows = {});

}  // namespace velmor
