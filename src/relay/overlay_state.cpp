#include "relay/overlay_state.h"

#include <unistd.h>

#include <algorithm>

namespace velmor {

namespace {

const std::vector<OverlayNodePtr> kNoNodes;

void Publish(OverlayState& state, std::vector<OverlayNodePtr> nodes, uint64_t nodesId) {
    auto list = std::make_unique<OverlayList>();
    list->nodes = std::move(nodes);
    list->placement = state.placement;
    list->nodesId = nodesId;
    state.pictures.Publish(std::move(list));
}

}  // namespace

OverlayState::OverlayState()
    : memoryLimit(DefaultOverlayMemoryLimit()),
      heldBytes(std::make_shared<std::atomic<int64_t>>(0)) {}

int64_t DefaultOverlayMemoryLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return int64_t{2} << 30;
    return static_cast<int64_t>(pages) * pageSize / 2;
}

std::shared_ptr<OverlayNode> MakeOverlayNode(const OverlayBytes& held) {
    // The deleter gives the node's bytes back to the count when the last holder lets go: a list
    // freed on the window thread (the video thread never holds a reference), or a loading
    // worker's picture that was never taken.
    return std::shared_ptr<OverlayNode>(new OverlayNode, [held](OverlayNode* node) {
        held->fetch_sub(node->countedBytes);
        delete node;
    });
}

std::shared_ptr<OverlayNode> MakeOverlayNode(OverlayState& state) {
    return MakeOverlayNode(state.heldBytes);
}

void CountOverlayNode(const OverlayBytes& held, OverlayNode& node) {
    const int64_t bytes = int64_t{node.bgra.byteSize} + node.uyva.byteSize;
    held->fetch_add(bytes - node.countedBytes);
    node.countedBytes = bytes;
}

void CountOverlayNode(OverlayState& state, OverlayNode& node) {
    CountOverlayNode(state.heldBytes, node);
}

void PublishPictures(OverlayState& state, std::vector<OverlayNodePtr> nodes) {
    Publish(state, std::move(nodes), ++state.lastNodesId);
}

void PublishPlacement(OverlayState& state) {
    const OverlayList* latest = state.pictures.Latest();
    if (!latest) return;
    Publish(state, latest->nodes, latest->nodesId);
}

void ReplacePictures(OverlayState& state, std::vector<OverlayNodePtr> nodes) {
    const OverlayList* latest = state.pictures.Latest();
    Publish(state, std::move(nodes), latest ? latest->nodesId : ++state.lastNodesId);
}

const std::vector<OverlayNodePtr>& PublishedNodes(const OverlayState& state) {
    const OverlayList* latest = state.pictures.Latest();
    return latest ? latest->nodes : kNoNodes;
}

void CollectOverlayLists(OverlayState& state) {
    state.pictures.Collect();
}

int StepImageOverlay(const OverlayList* list, OverlayStep& step, bool sequence) {
    const int count = list ? static_cast<int>(list->nodes.size()) : 0;
    if (count == 0) return -1;
    int current = step.nextImage;
    if (!sequence || list->nodesId != step.drawnNodesId || current < 0 || current >= count)
        current = 0;
    step.drawnNodesId = list->nodesId;
    step.nextImage = sequence ? (current + 1) % count : 0;
    return current;
}

void DrawOverlayPicture(const OverlayList& list, int index, const FrameView& f, PixelKind kind,
                        const BlendRowKernels& blend, RowSpan rows) {
    if (kind == PixelKind::None || index < 0 || index >= static_cast<int>(list.nodes.size()))
        return;
    const OverlayNode& node = *list.nodes[static_cast<size_t>(index)];
    const OverlayPlacement& at = list.placement;
    (kind == PixelKind::UYVY ? node.uyva : node.bgra)
        .DrawOnto(at.overlayX, at.overlayY, at.overlayAnchor, kDrawBlend, f.data, kind, f.width,
                  f.height, f.stride, blend, rows);
}

int DrawImageOverlay(const OverlayList* list, OverlayStep& step, bool sequence, const FrameView& f,
                     PixelKind kind, const BlendRowKernels& blend) {
    const int current = StepImageOverlay(list, step, sequence);
    if (current >= 0) DrawOverlayPicture(*list, current, f, kind, blend);
    return current;
}

}  // namespace velmor
