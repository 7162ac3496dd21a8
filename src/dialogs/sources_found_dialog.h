// "NDI® Sources Found" (NDIlistDialog): every source in the chosen groups with what its probe saw
// (resolution, rate, aspect, alpha, audio, address). A modeless top-level window, made by the main
// window on first use and shown again later; a view of a SourceScanner, which owns the finder
// and the probe workers. The window's timers drive the scanner, and the workers' reports reach it
// through the window thread's queue. Closing the window ends it; its unfinished workers go to the
// ProbeThreadPark, so closing never waits for them.
#pragma once

#include <QDialog>

#include <map>
#include <memory>

#include "discovery/source_scanner.h"

class QCheckBox;
class QFontMetrics;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;

namespace velmor {

class CColButton;
class WindowCalls;

class NDIlistDialog : public QDialog {
    Q_OBJECT
public:
    struct Column {
        const char* title;
        int width;  // in pixels of the small dialog font
        bool centred;
        const char* widest;  // the longest text the column usually shows
    };
    static const Column kColumns[kScanColumnCount];

    // `excludeLocal`: the main window's "Exclude local" state; `extraIps`: its Extra IP text,
    // which outlives the window; `backPointer`: the opener's pointer to this window, cleared
    // when the window goes.
    NDIlistDialog(const NdiLibrary& ndi, INotifier& notifier, ProbeThreadPark& park,
                  int excludeLocal, const char* extraIps, NDIlistDialog** backPointer,
                  QWidget* parent = nullptr);
    ~NDIlistDialog() override;

    SourceScanner& scanner() { return *scanner_; }
    QTreeWidget* list() const { return list_; }
    // The column's width: its nominal one, or more where this font needs it for the column's title
    // and its longest usual text, so that no cell is cut short.
    static int ColumnWidth(const QFontMetrics& metrics, int column);

    // Enter in a box moves on to the next control.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Timers : public IScanTimers {
    public:
        explicit Timers(NDIlistDialog& owner) : owner_(owner) {}
        void StartTimer(int id, int periodMs) override;
        void StopTimer(int id) override;

    private:
        NDIlistDialog& owner_;
        std::map<int, QTimer*> timers_;
    };

    // Shows the scanner's messages from the window's own event loop, once the scanner's call
    // has returned: a box's nested loop may end with this window gone (the copy exiting), and
    // then no scanner code is left on the stack beneath it.
    class LaterNotifier : public INotifier {
    public:
        LaterNotifier(NDIlistDialog& owner, INotifier& target) : owner_(owner), target_(target) {}
        MessageAnswer Show(const std::string& text, const std::string& caption,
                           MessageButtons buttons) override;

    private:
        NDIlistDialog& owner_;
        INotifier& target_;
    };

    void BuildControls();
    void OnChange(const ScanChange& change);
    void ShowRows();
    void ShowRow(int row);
    void ShowControls();
    void TakeGroups();

    NDIlistDialog** backPointer_;
    Timers timers_;
    LaterNotifier notifier_;
    std::unique_ptr<WindowCalls> calls_;
    std::unique_ptr<SourceScanner> scanner_;

    QTreeWidget* list_ = nullptr;       // the sources and what the probes found
    CColButton* refresh_ = nullptr;     // "Refresh": a new scan
    QPushButton* status_ = nullptr;     // the scan's state, hidden
    QProgressBar* progress_ = nullptr;  // the probes' progress
    QCheckBox* excludeLocal_ = nullptr;
    QRadioButton* short_ = nullptr;
    QRadioButton* long_ = nullptr;
    QCheckBox* public_ = nullptr;
    QCheckBox* korvoApps_ = nullptr;
    QLineEdit* extraGroups_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace velmor
