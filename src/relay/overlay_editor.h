// What the overlay setup window does, without its widgets: loading a picture, detecting and
// loading a numbered sequence one picture per step, the text box, "Make solid", the corner and
// offsets, the on/off switch and the sequence preview player. It works on the relay record's
// OverlayState (which outlives the window) and keeps only what the window shows while it is open.
//
// Window thread only. Every picture is built aside and published whole (overlay_state.h): the
// video thread never sees a list or a picture being changed.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "relay/notifier.h"
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
    OverlayEditor(OverlayState& state, IPictureDecoder& decoder, ITextRasteriser& rasteriser,
                  INotifier& notifier);
    OverlayEditor(const OverlayEditor&) = delete;
    OverlayEditor& operator=(const OverlayEditor&) = delete;

    // Opening the window for an output of frameWidth x frameHeight (0 x 0 before any video).
    void Open(int frameWidth, int frameHeight);
    // OK (`ok`) or Cancel (the overlay goes off). A sequence still loading keeps what it has.
    void Close(bool ok);

    // "Load Overlay" with the file the file window gave (nullopt: cancelled). True when the
    // operator asked for the sequence: call LoadStep() every 10 ms while it returns true.
    bool LoadOverlay(const std::optional<std::string>& chosen);
    bool LoadStep();
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
    // The first file dropped on the window.
    void Drop(const std::string& path);
    // "Play": true when playing starts: call PlayTick() every 40 ms while it returns true.
    bool Play();
    bool PlayTick();
    void Stop();

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
    // The picture the thumbnail shows (null: none); the serial changes with it.
    const OverlayNode* thumbnail() const { return thumbnail_.get(); }
    uint64_t thumbnailSerial() const { return thumbnailSerial_; }
    // The window's preview picture (BGRA); the serial changes whenever it is drawn again.
    const ImageBuffer& previewCanvas() const { return previewCanvas_; }
    uint64_t previewSerial() const { return previewSerial_; }
    OverlayState& state() { return s_; }

private:
    // Decodes `path` into a new node with its UYVA copy. Reports unreadable or oversized files
    // when `report`; null on failure.
    std::shared_ptr<OverlayNode> LoadNode(const std::string& path, bool report);
    // The files after the first of the sequence that exist; the last one's file name.
    int DetectSequence(std::string& lastName) const;
    std::string MemberPath(int number) const;
    void FinishLoading(bool report);
    // Replaces firstImage in the published list (and in a sequence still loading), keeping the
    // other pictures and the stepping.
    void ReplaceFirst(const OverlayNodePtr& node);
    void ShowPicture(const OverlayNodePtr& node);
    void ShowThumbnail(const OverlayNodePtr& node);
    void SetButton(OverlayButton b, int state) { buttons_[static_cast<size_t>(b)] = state; }
    void DrawTextBoxPreview();

    OverlayState& s_;
    IPictureDecoder& decoder_;
    ITextRasteriser& rasteriser_;
    INotifier& notifier_;
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
