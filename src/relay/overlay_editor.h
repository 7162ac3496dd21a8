// What the overlay setup window does, without its widgets: loading a picture, detecting and
// loading a numbered sequence, the text box, "Make solid", the corner and offsets, the on/off
// switch and the sequence preview player. It works on the relay record's OverlayState (which
// outlives the window) and keeps only what the window shows while it is open.
//
// Window thread only. Decoding and converting pictures, detecting and loading a sequence and
// making a picture solid run on workers (relay/overlay_loading.h) that the editor starts through
// IBackgroundWork and hears back from through posted tasks: every operation returns at once, and
// the editor takes each result when it arrives (then calls onChange). Every picture is built aside
// and published whole (overlay_state.h): the video thread never sees a list or a picture being
// changed.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "relay/background_work.h"
#include "relay/notifier.h"
#include "relay/overlay_loading.h"
#include "relay/overlay_state.h"
#include "video/picture_decoder.h"
#include "video/text_rasteriser.h"

namespace velmor {

// The window's coloured buttons.
enum class OverlayButton { OnOff, TextBox, LoadOverlay, Stop, Play };
inline constexpr int kOverlayButtonCount = 5;

inline constexpr int kMaxOffsetX = 2100;
inline constexpr int kMaxOffsetY = 1100;
inline constexpr int kTextBoxLength = 37;
inline constexpr int kDroppedPathLength = 260;

// The corner choice: names and the anchors they stand for.
inline constexpr std::array<const char*, 4> kCornerNames = {"Upper Left", "Upper Right",
                                                            "Lower Left", "Lower Right"};
inline constexpr std::array<int, 4> kCornerAnchors = {kAnchorTopLeft, kAnchorTopRight,
                                                      kAnchorBottomLeft, kAnchorBottomRight};

// Messages (the two out-of-memory ones have no caption).
inline constexpr const char* kSequenceCaption = "Sequence detection";
inline constexpr const char* kLoadFailedText = "Sequence load failed\n\nOut of memory";
inline constexpr const char* kCopyFailedText = "CopyRGBAdataFrom failed\n\nOut of memory?";
inline constexpr const char* kLoadPictureCaption = "Load Overlay Image";

class OverlayEditor {
public:
    // `decoder` is shared with the workers; `work` must outlive the editor.
    OverlayEditor(OverlayState& state, std::shared_ptr<IPictureDecoder> decoder,
                  ITextRasteriser& rasteriser, INotifier& notifier, IBackgroundWork& work);
    // Cancels what its workers still do; nothing they report reaches it any more.
    ~OverlayEditor();
    OverlayEditor(const OverlayEditor&) = delete;
    OverlayEditor& operator=(const OverlayEditor&) = delete;

    // The size of the thumbnail the window shows (0 x 0: none is made).
    void SetThumbnailSize(int w, int h);
    // Opening the window for an output of frameWidth x frameHeight (0 x 0 before any video).
    void Open(int frameWidth, int frameHeight);
    // OK (`ok`) or Cancel (the overlay goes off). A sequence still loading keeps what it has
    // loaded; a picture still being loaded or made solid is dropped.
    void Close(bool ok);

    // "Load Overlay" with the file the file window gave (nullopt: cancelled). The picture is
    // loaded on a worker; once it is in, a numbered sequence after it is asked for and loaded on
    // a worker, reporting each picture as it comes.
    void LoadOverlay(const std::optional<std::string>& chosen);
    void OnOff();
    // A click at (x, y) in a w x h thumbnail area.
    void ChooseCorner(int x, int y, int w, int h);
    // The X and Y offset fields (0..2100, 0..1100).
    void SetOffsets(int x, int y);
    // The text edit changed (kept, at most 37 characters).
    void EditText(const std::string& text);
    // "Text Box", or leaving the text edit: renders the text kept.
    void TextBox();
    void MakeSolid();
    // The first file dropped on the window (loaded on a worker).
    void Drop(const std::string& path);
    // "Play": true when playing starts: call PlayTick() every 40 ms while it returns true. While
    // a sequence loads, "Play" and "Stop" only end the loading.
    bool Play();
    bool PlayTick();
    void Stop();

    // Called after the editor took what a worker reported (what the window shows may have
    // changed).
    std::function<void()> onChange;
    // A picture or a sequence is being loaded, or a picture made solid.
    bool busy() const { return pictureRun_ || solidRun_ || sequenceRun_; }

    // --- What the window shows ---
    int buttonState(OverlayButton b) const { return buttons_[static_cast<size_t>(b)]; }
    std::string OverlayText() const;   // "Overlay ON" / "Overlay OFF"
    std::string PositionText() const;  // "Upper Left : 0, 0"
    const std::string& fileText() const { return fileText_; }
    const std::string& pixelSizeText() const { return pixelSizeText_; }
    const std::string& statusText() const { return statusText_; }
    bool statusShown() const { return statusShown_; }
    bool progressShown() const { return progressShown_; }
    int progressMaximum() const { return progressMax_; }
    int progressPosition() const { return progressPos_; }
    // The picture the thumbnail shows (null: none; its `thumbnail` is the picture to paint); the
    // serial changes with it.
    const OverlayNode* thumbnail() const { return thumbnail_.get(); }
    uint64_t thumbnailSerial() const { return thumbnailSerial_; }
    // The window's preview picture (BGRA); the serial changes whenever it is drawn again (not
    // when the window opens: the preview then shows the idle picture).
    const ImageBuffer& previewCanvas() const { return previewCanvas_; }
    uint64_t previewSerial() const { return previewSerial_; }
    OverlayState& state() { return s_; }

private:
    using RunPtr = std::shared_ptr<OverlayLoadRun>;
    // A run of `job` on a worker whose reports come to TakeReports().
    RunPtr Start(OverlayLoadJob job);
    static void CancelRun(RunPtr& run);
    void StartPicture(const std::string& path, bool forLoad);
    void TakeReports();
    void PictureTaken(const OverlayLoadReport& report, const std::string& path);
    void SolidTaken(const OverlayLoadReport& report, const OverlayNodePtr& madeFrom);
    void SequenceTaken(const OverlayLoadReport& report);
    void ReportNotLoaded(const OverlayLoadReport& report, const std::string& path);
    void AskForSequence(const OverlayLoadReport& report);
    void AddMember(const std::shared_ptr<OverlayNode>& node);
    // Ends a sequence still loading with the members reported so far (Play, Stop, closing).
    void EndSequence(bool report);
    void FinishLoading(bool report);
    // Replaces firstImage in the published list (and in a sequence still loading), keeping the
    // other pictures and the stepping.
    void ReplaceFirst(const OverlayNodePtr& node);
    void ShowPicture(const OverlayNodePtr& node);
    void ShowThumbnail(const OverlayNodePtr& node);
    void SetButton(OverlayButton b, int state) { buttons_[static_cast<size_t>(b)] = state; }
    void DrawTextBoxPreview();

    OverlayState& s_;
    std::shared_ptr<IPictureDecoder> decoder_;
    ITextRasteriser& rasteriser_;
    INotifier& notifier_;
    IBackgroundWork& work_;
    // What posted tasks reach the editor through; cleared when it goes.
    std::shared_ptr<OverlayEditor*> self_;
    RunPtr pictureRun_;  // Load Overlay or a drop
    bool pictureForLoad_ = false;
    bool pictureStatus_ = false;  // the status text shows the picture being loaded
    RunPtr solidRun_;
    RunPtr sequenceRun_;
    int thumbnailWidth_ = 0, thumbnailHeight_ = 0;
    std::array<int, kOverlayButtonCount> buttons_{};
    std::string fileText_ = "Filename";
    std::string pixelSizeText_ = "Pixel size";
    std::string statusText_ = "Sequence loading";
    bool statusShown_ = false;
    bool progressShown_ = false;
    int progressMax_ = 0, progressPos_ = 0;
    OverlayNodePtr thumbnail_;
    uint64_t thumbnailSerial_ = 0;
    ImageBuffer previewCanvas_;
    uint64_t previewSerial_ = 0;
};

// The text of the "Filename" field for a path: the whole path, or its file name when the path is
// longer than 50 characters.
std::string OverlayFileText(const std::string& path);

}  // namespace velmor
