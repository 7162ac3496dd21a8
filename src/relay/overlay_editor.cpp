#include "relay/overlay_editor.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "relay/text_box.h"

namespace velmor {

namespace {

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

}  // namespace

std::string OverlayFileText(const std::string& path) {
    return CharacterCount(path) > kLongPath ? FileNameOf(path) : path;
}

OverlayEditor::OverlayEditor(OverlayState& state, std::shared_ptr<IPictureDecoder> decoder,
                             ITextRasteriser& rasteriser, INotifier& notifier,
                             IBackgroundWork& work)
    : s_(state),
      decoder_(std::move(decoder)),
      rasteriser_(rasteriser),
      notifier_(notifier),
      work_(work),
      self_(std::make_shared<OverlayEditor*>(this)) {}

OverlayEditor::~OverlayEditor() {
    // From here on no worker calls `work_` and no posted task reaches this editor.
    CancelRun(pictureRun_);
    CancelRun(solidRun_);
    CancelRun(sequenceRun_);
    self_.reset();
}

void OverlayEditor::SetThumbnailSize(int w, int h) {
    thumbnailWidth_ = w;
    thumbnailHeight_ = h;
}

void OverlayEditor::Open(int frameWidth, int frameHeight) {
    s_.frameWidth = frameWidth;
    s_.frameHeight = frameHeight;
    s_.sequenceLoading = 0;
    s_.previewPlaying = 0;
    s_.loadingNodes.clear();
    // The background the preview draws on; the preview itself starts on the idle picture.
    previewCanvas_.FillColour(960, 540, 0, 0, 170, 255);
    CollectOverlayLists(s_);
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (!nodes.empty() && !nodes.front()->bgra.path.empty()) ShowPicture(nodes.front());
    // Without a picture file ever loaded there is nothing the window can show, so nothing stays
    // on: a text box put on air remotely included.
    if (s_.picturePath.empty() || nodes.empty()) s_.overlayOn = 0;
    SetButton(OverlayButton::OnOff, s_.overlayOn ? 1 : 3);
    SetButton(OverlayButton::Stop, 1);
    SetButton(OverlayButton::Play, 0);
    s_.dialogOpen = 1;
}

void OverlayEditor::Close(bool ok) {
    if (!ok) s_.overlayOn = 0;
    s_.previewPlaying = 0;
    // Loading runs only while the window is open; a sequence keeps what it loaded.
    CancelRun(pictureRun_);
    CancelRun(solidRun_);
    EndSequence(false);
    s_.sequenceLoading = 0;
}

OverlayEditor::RunPtr OverlayEditor::Start(OverlayLoadJob job) {
    job.decoder = decoder_;
    job.heldBytes = s_.heldBytes;
    job.memoryLimit = s_.memoryLimit;
    job.thumbnailWidth = thumbnailWidth_;
    job.thumbnailHeight = thumbnailHeight_;
    auto run = std::make_shared<OverlayLoadRun>(std::move(job));
    // The worker only queues a task for the window thread, which finds the editor if it is still
    // there. Cancelling the run takes this wake away before the editor or `work_` go.
    IBackgroundWork* work = &work_;
    std::weak_ptr<OverlayEditor*> self = self_;
    run->SetWake([work, self] {
        work->Post([self] {
            if (const std::shared_ptr<OverlayEditor*> editor = self.lock())
                (*editor)->TakeReports();
        });
    });
    work_.Run([run] { RunOverlayLoad(*run); });
    return run;
}

void OverlayEditor::CancelRun(RunPtr& run) {
    if (run) run->Cancel();
    run.reset();
}

void OverlayEditor::TakeReports() {
    CollectOverlayLists(s_);
    // Each handler may open a message box, in whose event loop further reports are taken: a run
    // is let go of before its last report is handled, and a run replaced meanwhile is left.
    if (RunPtr run = pictureRun_) {
        std::vector<OverlayLoadReport> reports = run->Take();
        if (!reports.empty()) {
            CancelRun(pictureRun_);
            PictureTaken(reports.front(), run->job.path);
        }
    }
    if (RunPtr run = solidRun_) {
        std::vector<OverlayLoadReport> reports = run->Take();
        if (!reports.empty()) {
            CancelRun(solidRun_);
            SolidTaken(reports.front(), run->job.first);
        }
    }
    if (RunPtr run = sequenceRun_) {
        for (const OverlayLoadReport& report : run->Take()) {
            if (run != sequenceRun_) break;
            SequenceTaken(report);
        }
    }
    if (onChange) onChange();
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

void OverlayEditor::LoadOverlay(const std::optional<std::string>& chosen) {
    if (chosen && !chosen->empty()) {
        StartPicture(*chosen, true);
        return;  // the buttons change once the picture is taken
    }
    SetButton(OverlayButton::TextBox, 0);
    SetButton(OverlayButton::LoadOverlay, 2);
}

void OverlayEditor::StartPicture(const std::string& path, bool forLoad) {
    CancelRun(pictureRun_);  // the operator's newest choice wins
    OverlayLoadJob job;
    job.kind = OverlayLoadJob::Kind::Picture;
    job.path = path;
    job.detectSequence = forLoad;
    pictureForLoad_ = forLoad;
    pictureRun_ = Start(std::move(job));
    if (!s_.sequenceLoading && !s_.previewPlaying) {
        statusText_ = "Loading " + FileNameOf(path);
        statusShown_ = pictureStatus_ = true;
    }
}

void OverlayEditor::ReportNotLoaded(const OverlayLoadReport& report, const std::string& path) {
    if (report.kind == OverlayLoadReport::Kind::CopyFailed) {
        notifier_.Show(kCopyFailedText, "", MessageButtons::Ok);
    } else if (report.load.result == PictureLoad::TooLarge) {
        notifier_.Show(Format("The picture is too large (%d x %d)\n\nOverlay pictures are "
                              "at most %d x %d",
                              report.load.width, report.load.height, kMaxOverlayPictureSide,
                              kMaxOverlayPictureSide),
                       kLoadPictureCaption, MessageButtons::Ok);
    } else {
        notifier_.Show("Cannot read a picture from\n\n" + path, kLoadPictureCaption,
                       MessageButtons::Ok);
    }
}

void OverlayEditor::PictureTaken(const OverlayLoadReport& report, const std::string& path) {
    if (pictureStatus_) statusShown_ = pictureStatus_ = false;
    const bool forLoad = pictureForLoad_;
    if (report.kind != OverlayLoadReport::Kind::Loaded) {
        ReportNotLoaded(report, path);
    } else if (!forLoad) {  // a drop: the sequence list and its stepping stay
        const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
        report.node->imageNumber = nodes.empty() ? 0 : nodes.front()->imageNumber;
        ShowPicture(report.node);
        s_.imageLoaded = 1;
        s_.picturePath = report.node->bgra.path;
        ReplaceFirst(report.node);
    } else {
        // A sequence still loading is replaced as a whole.
        CancelRun(sequenceRun_);
        s_.sequenceLoading = 0;
        s_.loadingNodes.clear();
        statusShown_ = progressShown_ = false;
        ShowPicture(report.node);
        s_.imageLoaded = 1;
        s_.picturePath = report.node->bgra.path;
        s_.sequenceName = report.name;
        s_.sequenceMode = 0;
        s_.previewImage = 0;
        s_.sequenceCount = 1;
        PublishPictures(s_, {report.node});
        if (report.more > 0) AskForSequence(report);
    }
    if (forLoad) {
        SetButton(OverlayButton::TextBox, 0);
        SetButton(OverlayButton::LoadOverlay, 2);
    }
}

void OverlayEditor::AskForSequence(const OverlayLoadReport& report) {
    const std::string question =
        Format("Sequence exists - ending with:\n\n%s\n\nLoad %d more images?",
               report.lastName.c_str(), report.more);
    if (notifier_.Show(question, kSequenceCaption, MessageButtons::OkCancel) != MessageAnswer::Ok)
        return;
    // Replaced while the question was open (a remote text box).
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (nodes.size() != 1 || nodes.front() != report.node) return;
    s_.loadingNodes = {report.node};
    s_.sequenceFound = 1 + report.more;
    s_.sequenceCount = 1;
    progressMax_ = s_.sequenceFound;
    progressPos_ = 1;
    progressShown_ = statusShown_ = true;
    s_.sequenceLoading = 1;
    OverlayLoadJob job;
    job.kind = OverlayLoadJob::Kind::Sequence;
    job.name = s_.sequenceName;
    job.first = report.node;
    sequenceRun_ = Start(std::move(job));
}

void OverlayEditor::AddMember(const std::shared_ptr<OverlayNode>& node) {
    const SequenceName& name = s_.sequenceName;
    statusText_ =
        "Loading " + name.sequenceStem + Format("%0*d", name.numberDigits, node->imageNumber);
    ShowThumbnail(node);
    s_.loadingNodes.push_back(node);
    ++s_.sequenceCount;
    progressPos_ = s_.sequenceCount;
}

void OverlayEditor::SequenceTaken(const OverlayLoadReport& report) {
    using Kind = OverlayLoadReport::Kind;
    if (s_.loadingNodes.empty()) {  // replaced meanwhile by a remote text box
        CancelRun(sequenceRun_);
        s_.sequenceLoading = 0;
        statusShown_ = progressShown_ = false;
        return;
    }
    if (report.kind == Kind::Member) {
        AddMember(report.node);
        return;
    }
    CancelRun(sequenceRun_);
    if (report.kind == Kind::OutOfMemory) {
        s_.loadingNodes.resize(1);
        s_.sequenceCount = 1;
        ShowThumbnail(s_.loadingNodes.front());  // the pictures it showed are gone
        notifier_.Show(kLoadFailedText, "", MessageButtons::Ok);
    } else if (report.kind == Kind::CopyFailed) {
        notifier_.Show(kCopyFailedText, "", MessageButtons::Ok);
    }
    FinishLoading(true);
}

void OverlayEditor::EndSequence(bool report) {
    if (RunPtr run = sequenceRun_) {
        std::vector<OverlayLoadReport> reports = run->Take();
        CancelRun(sequenceRun_);
        for (const OverlayLoadReport& r : reports) {
            if (r.kind == OverlayLoadReport::Kind::Member && !s_.loadingNodes.empty())
                AddMember(r.node);
        }
    }
    if (!s_.loadingNodes.empty()) FinishLoading(report);
    s_.sequenceLoading = 0;
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
    // The box replaces the list: what is still being loaded or made solid would replace the box.
    CancelRun(pictureRun_);
    CancelRun(solidRun_);
    CancelRun(sequenceRun_);
    statusShown_ = progressShown_ = pictureStatus_ = false;
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
    OverlayLoadJob job;
    job.kind = OverlayLoadJob::Kind::Solid;
    job.first = nodes.front();
    CancelRun(solidRun_);
    solidRun_ = Start(std::move(job));
}

void OverlayEditor::SolidTaken(const OverlayLoadReport& report, const OverlayNodePtr& madeFrom) {
    // Made from a first picture that has been replaced meanwhile: it would bring the old one back.
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (report.kind != OverlayLoadReport::Kind::Loaded || nodes.empty() ||
        nodes.front() != madeFrom)
        return;
    ReplaceFirst(report.node);
}

void OverlayEditor::Drop(const std::string& path) {
    if (path.empty() || path.size() > kDroppedPathLength) return;
    StartPicture(path, false);
}

bool OverlayEditor::Play() {
    // While a sequence loads, "Play" only ends the loading.
    if (sequenceRun_ || s_.sequenceLoading) {
        EndSequence(true);
        return false;
    }
    const std::vector<OverlayNodePtr>& nodes = PublishedNodes(s_);
    if (s_.previewPlaying || !s_.sequenceMode || s_.sequenceCount <= 1 || nodes.size() < 2)
        return false;
    SetButton(OverlayButton::Stop, 0);
    SetButton(OverlayButton::Play, 2);
    statusShown_ = true;
    pictureStatus_ = false;  // the status is the player's now
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
    if (sequenceRun_ || s_.sequenceLoading) EndSequence(true);
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
