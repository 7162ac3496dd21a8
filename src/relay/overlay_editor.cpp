#include "relay/overlay_editor.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "relay/text_box.h"

namespace velmor {

namespace {

constexpr int kMaxSequenceLength = 100000;  // more than five digits can number
constexpr size_t kLongPath = 50;

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Characters, not bytes: a UTF-8 continuation byte does not start one.
size_t CharacterCount(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string FirstCharacters(const std::string& text, size_t count) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count)
            return text.substr(0, i);
    }
    return text;
}

// Another picture's pixels, kind and file facts.
bool CopyPicture(const ImageBuffer& from, ImageBuffer& to) {
    if (from.empty() || !to.Reshape(from.width, from.height, from.pixelKind)) return false;
    std::memcpy(to.pixels(), from.pixels(), static_cast<size_t>(from.byteSize));
    to.decodedWidth = from.decodedWidth;
    to.decodedHeight = from.decodedHeight;
    to.decodedBitDepth = from.decodedBitDepth;
    to.name = from.name;
    to.path = from.path;
    return true;
}

bool FileOpens(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace

std::string OverlayFileText(const std::string& path) {
    return CharacterCount(path) > kLongPath ? FileNameOf(path) : path;
}

OverlayEditor::OverlayEditor(OverlayState& state, IPictureDecoder& decoder,
                             ITextRasteriser& rasteriser, INotifier& notifier)
    : s_(state), decoder_(decoder), rasteriser_(rasteriser), notifier_(notifier) {}

void OverlayEditor::Open(int frameWidth, int frameHeight) {
    s_.frameWidth = frameWidth;
    s_.frameHeight = frameHeight;
    s_.sequenceLoading = 0;
    s_.previewPlaying = 0;
    s_.loadingNodes.clear();
    previewCanvas_.FillColour(960, 540, 0, 0, 170, 255);
    ++previewSerial_;
    CollectOverlayLists(s_);
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (!nodes.empty() && !nodes.front()->bgra.path.empty()) ShowPicture(nodes.front());
    // Without a picture there is nothing to keep on. A text box has no file, and a remote one may
    // be on air: opening the window leaves it there.
    if (!s_.imageLoaded || nodes.empty()) s_.overlayOn = 0;
    SetButton(OverlayButton::OnOff, s_.overlayOn ? 1 : 3);
    SetButton(OverlayButton::Stop, 1);
    SetButton(OverlayButton::Play, 0);
    s_.dialogOpen = 1;
}

void OverlayEditor::Close(bool ok) {
    if (!ok) s_.overlayOn = 0;
    s_.previewPlaying = 0;
    // Loading runs only while the window is open; what it loaded stays.
    if (!s_.loadingNodes.empty()) FinishLoading(false);
    s_.sequenceLoading = 0;
}

std::shared_ptr<OverlayNode> OverlayEditor::LoadNode(const std::string& path, bool report) {
    std::shared_ptr<OverlayNode> node = MakeOverlayNode(s_);
    const PictureLoad load = decoder_.Load(node->bgra, path);
    if (!load.ok()) {
        if (!report) return nullptr;
        if (load.result == PictureLoad::TooLarge) {
            notifier_.Show(
                Format("The picture is too large (%d x %d)\n\nOverlay pictures are "
                       "at most %d x %d",
                       load.width, load.height, kMaxOverlayPictureSide, kMaxOverlayPictureSide),
                kLoadPictureCaption, MessageButtons::Ok);
        } else {
            notifier_.Show("Cannot read a picture from\n\n" + path, kLoadPictureCaption,
                           MessageButtons::Ok);
        }
        return nullptr;
    }
    return node;
}

void OverlayEditor::ShowThumbnail(const OverlayNodePtr& node) {
    thumbnail_ = node;
    ++thumbnailSerial_;
}

void OverlayEditor::ShowPicture(const OverlayNodePtr& node) {
    ShowThumbnail(node);
    const ImageBuffer& p = node->bgra;
    fileText_ = OverlayFileText(p.path);
    pixelSizeText_ = Format("(%d x %d, %dbpp)", p.decodedWidth, p.decodedHeight, p.decodedBitDepth);
}

std::string OverlayEditor::MemberPath(int number) const {
    const SequenceName& n = s_.sequenceName;
    return n.sequencePrefix + Format("%0*d", n.numberDigits, number) + n.sequenceExtension;
}

int OverlayEditor::DetectSequence(std::string& lastName) const {
    int found = 0;
    for (int k = 1; k < kMaxSequenceLength; ++k) {
        const std::string path = MemberPath(s_.sequenceName.firstNumber + k);
        if (!FileOpens(path)) break;
        ++found;
        lastName = FileNameOf(path);
    }
    return found;
}

bool OverlayEditor::LoadOverlay(const std::optional<std::string>& chosen) {
    bool startLoop = false;
    std::shared_ptr<OverlayNode> node =
        chosen && !chosen->empty() ? LoadNode(*chosen, true) : nullptr;
    if (node && !node->uyva.CopyRGBAdataFrom(node->bgra)) {
        notifier_.Show(kCopyFailedText, "", MessageButtons::Ok);
        node.reset();
    }
    if (node) {
        node->uyva.ConvertToUYVA();
        CountOverlayNode(s_, *node);
        // A sequence still loading is replaced as a whole.
        s_.sequenceLoading = 0;
        s_.loadingNodes.clear();
        statusShown_ = progressShown_ = false;
        ShowPicture(node);
        s_.imageLoaded = 1;
        SplitSequenceName(node->bgra.path, s_.sequenceName);
        node->imageNumber = s_.sequenceName.firstNumber;
        s_.sequenceMode = 0;
        s_.previewImage = 0;
        s_.sequenceCount = 1;
        PublishPictures(s_, {node});

        std::string lastName;
        const int more = s_.sequenceName.endsWithNumber ? DetectSequence(lastName) : 0;
        if (more > 0) {
            const std::string question =
                Format("Sequence exists - ending with:\n\n%s\n\nLoad %d more images?",
                       lastName.c_str(), more);
            if (notifier_.Show(question, kSequenceCaption, MessageButtons::OkCancel) ==
                MessageAnswer::Ok) {
                s_.loadingNodes = {node};
                s_.sequenceFound = 1 + more;
                s_.sequenceCount = 1;
                progressMax_ = s_.sequenceFound;
                progressPos_ = 1;
                progressShown_ = statusShown_ = true;
                s_.sequenceLoading = 1;
                startLoop = true;
            }
        }
    }
    SetButton(OverlayButton::TextBox, 0);
    SetButton(OverlayButton::LoadOverlay, 2);
    return startLoop;
}

bool OverlayEditor::LoadStep() {
    if (s_.loadingNodes.empty()) {
        s_.sequenceLoading = 0;
        return false;  // replaced meanwhile by another picture or a text box
    }
    if (!s_.sequenceLoading) {  // "Play" or "Stop"
        FinishLoading(true);
        return false;
    }
    CollectOverlayLists(s_);
    auto outOfMemory = [&](int64_t more) {
        if (s_.heldBytes->load() + more <= s_.memoryLimit) return false;
        s_.loadingNodes.resize(1);
        s_.sequenceCount = 1;
        ShowThumbnail(s_.loadingNodes.front());  // the pictures it showed are gone
        notifier_.Show(kLoadFailedText, "", MessageButtons::Ok);
        FinishLoading(true);
        return true;
    };
    // Sequence members are usually the size of the first: refuse before decoding what cannot be
    // kept, then again with the member's own size.
    const ImageBuffer& first = s_.loadingNodes.front()->bgra;
    if (outOfMemory(OverlayNodeBytes(first.width, first.height))) return false;

    const int number = s_.sequenceName.firstNumber + s_.sequenceCount;
    std::shared_ptr<OverlayNode> node = LoadNode(MemberPath(number), false);
    if (!node) {  // missing, unreadable or too large: the sequence ends before it
        FinishLoading(true);
        return false;
    }
    node->imageNumber = number;
    if (outOfMemory(OverlayNodeBytes(node->bgra.width, node->bgra.height))) return false;
    statusText_ = "Loading " + s_.sequenceName.sequenceStem +
                  Format("%0*d", s_.sequenceName.numberDigits, number);
    ShowThumbnail(node);
    if (!node->uyva.CopyRGBAdataFrom(node->bgra)) {
        notifier_.Show(kCopyFailedText, "", MessageButtons::Ok);
        FinishLoading(true);
        return false;
    }
    node->uyva.ConvertToUYVA();
    CountOverlayNode(s_, *node);
    s_.loadingNodes.push_back(node);
    ++s_.sequenceCount;
    progressPos_ = s_.sequenceCount;
    return true;
}

void OverlayEditor::FinishLoading(bool report) {
    s_.sequenceLoading = 0;
    if (s_.loadingNodes.empty()) return;
    if (report) {
        notifier_.Show(Format("Final image number %d\n\nSequence length = %d",
                              s_.loadingNodes.back()->imageNumber, s_.sequenceCount),
                       kSequenceCaption, MessageButtons::Ok);
    }
    progressShown_ = statusShown_ = false;
    if (s_.sequenceCount > 1 && s_.loadingNodes.size() > 1) {
        PublishPictures(s_, std::move(s_.loadingNodes));
        s_.sequenceMode = 1;
    }
    s_.loadingNodes.clear();
}

void OverlayEditor::OnOff() {
    if (s_.overlayOn) {
        SetButton(OverlayButton::OnOff, 3);
        s_.overlayOn = 0;
    } else if (s_.imageLoaded) {
        SetButton(OverlayButton::OnOff, 1);
        s_.overlayOn = 1;
    }
}

void OverlayEditor::ChooseCorner(int x, int y, int w, int h) {
    const bool lower = y > h / 2, right = x > w / 2;
    const int corner = lower ? (right ? 3 : 2) : (right ? 1 : 0);
    s_.cornerIndex = corner;
    s_.placement.overlayAnchor = kCornerAnchors[static_cast<size_t>(corner)];
    PublishPlacement(s_);
}

void OverlayEditor::SetOffsets(int x, int y) {
    s_.placement.overlayX = std::clamp(x, 0, kMaxOffsetX);
    s_.placement.overlayY = std::clamp(y, 0, kMaxOffsetY);
    PublishPlacement(s_);
}

void OverlayEditor::EditText(const std::string& text) {
    s_.textBoxText = FirstCharacters(text, kTextBoxLength);
}

void OverlayEditor::TextBox() {
    SetButton(OverlayButton::OnOff, 3);
    s_.overlayOn = 0;
    SetButton(OverlayButton::TextBox, 2);
    SetButton(OverlayButton::LoadOverlay, 0);
    if (s_.frameWidth <= 0 || s_.frameHeight <= 0) return;
    if (!PublishTextBox(s_, s_.textBoxText, s_.frameWidth, s_.frameHeight, rasteriser_)) return;
    statusShown_ = progressShown_ = false;
    if (s_.dialogOpen) DrawTextBoxPreview();
}

void OverlayEditor::DrawTextBoxPreview() {
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (nodes.empty() ||
        !previewCanvas_.FillColour(s_.frameWidth, s_.frameHeight, 224, 224, 224, 255))
        return;
    const OverlayPlacement& at = s_.placement;
    nodes.front()->bgra.DrawOnto(at.overlayX, at.overlayY, at.overlayAnchor, kDrawBlend,
                                 previewCanvas_.pixels(), kPixelBGRA, previewCanvas_.width,
                                 previewCanvas_.height);
    ++previewSerial_;
}

void OverlayEditor::ReplaceFirst(const OverlayNodePtr& node) {
    std::vector<OverlayNodePtr> nodes = PublishedNodes(s_);
    if (nodes.empty()) {
        PublishPictures(s_, {node});
    } else {
        nodes.front() = node;
        ReplacePictures(s_, std::move(nodes));
    }
    if (!s_.loadingNodes.empty()) s_.loadingNodes.front() = node;
}

void OverlayEditor::MakeSolid() {
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (nodes.empty()) return;
    const OverlayNode& first = *nodes.front();
    const std::shared_ptr<OverlayNode> solid = MakeOverlayNode(s_);
    if (!CopyPicture(first.bgra, solid->bgra) || !CopyPicture(first.uyva, solid->uyva)) return;
    solid->bgra.MakeSolid();
    solid->uyva.MakeSolid();
    solid->imageNumber = first.imageNumber;
    CountOverlayNode(s_, *solid);
    ReplaceFirst(solid);
}

void OverlayEditor::Drop(const std::string& path) {
    if (path.empty() || path.size() > kDroppedPathLength) return;
    std::shared_ptr<OverlayNode> node = LoadNode(path, true);
    if (!node) return;
    if (!node->uyva.CopyRGBAdataFrom(node->bgra)) {
        notifier_.Show(kCopyFailedText, "", MessageButtons::Ok);
        return;
    }
    node->uyva.ConvertToUYVA();
    CountOverlayNode(s_, *node);
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    node->imageNumber = nodes.empty() ? 0 : nodes.front()->imageNumber;
    ShowPicture(node);
    s_.imageLoaded = 1;
    ReplaceFirst(node);
}

bool OverlayEditor::Play() {
    s_.sequenceLoading = 0;
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (s_.previewPlaying || !s_.sequenceMode || s_.sequenceCount <= 1 || nodes.size() < 2)
        return false;
    SetButton(OverlayButton::Stop, 0);
    SetButton(OverlayButton::Play, 2);
    statusShown_ = true;
    if (s_.previewImage < 0 || s_.previewImage >= static_cast<int>(nodes.size()))
        s_.previewImage = 0;
    const OverlayNodePtr& shown = nodes[static_cast<size_t>(s_.previewImage)];
    ShowThumbnail(shown);
    // The smallest 16:9 canvas that holds the picture.
    const int w = shown->bgra.width, h = shown->bgra.height;
    const int k = h / 9 < w / 16 ? (w + 15) / 16 : (h + 8) / 9;
    if (!previewCanvas_.FillColour(16 * k, 9 * k, 0, 0, 255, 255)) return false;
    s_.previewPlaying = 1;
    // ("Image No %d" of the picture comes first, and is overwritten at once by the canvas size.)
    statusText_ = Format("PV bg %dx%d", previewCanvas_.width, previewCanvas_.height);
    return true;
}

bool OverlayEditor::PlayTick() {
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (!s_.previewPlaying || nodes.empty()) {
        s_.previewPlaying = 0;
        return false;
    }
    if (s_.previewImage < 0 || s_.previewImage >= static_cast<int>(nodes.size()))
        s_.previewImage = 0;
    previewCanvas_.FillColour(previewCanvas_.width, previewCanvas_.height, 0, 0, 255, 255);
    nodes[static_cast<size_t>(s_.previewImage)]->bgra.DrawOnto(
        0, 0, kAnchorCentre, kDrawBlend, previewCanvas_.pixels(), kPixelBGRA, previewCanvas_.width,
        previewCanvas_.height);
    ++previewSerial_;
    s_.previewImage = (s_.previewImage + 1) % static_cast<int>(nodes.size());
    return true;
}

void OverlayEditor::Stop() {
    s_.sequenceLoading = 0;
    if (!s_.previewPlaying) return;
    s_.previewPlaying = 0;
    statusText_ = "Preview Stopped";
    SetButton(OverlayButton::Stop, 1);
    SetButton(OverlayButton::Play, 0);
}

std::string OverlayEditor::OverlayText() const {
    return s_.overlayOn ? "Overlay ON" : "Overlay OFF";
}

std::string OverlayEditor::PositionText() const {
    const int corner = std::clamp(s_.cornerIndex, 0, 3);
    return Format("%s : %d, %d", kCornerNames[static_cast<size_t>(corner)], s_.placement.overlayX,
                  s_.placement.overlayY);
}

}  // namespace velmor
