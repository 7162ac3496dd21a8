// The Sources Found window; see sources_found_dialog.h.
#include "dialogs/sources_found_dialog.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/window_calls.h"
#include "widgets/app_icon.h"
#include "widgets/colour_button.h"

namespace velmor {

namespace {
constexpr int kMaxSize = 900;
constexpr int kDesignWidth = 660;
constexpr int kDesignHeight = 380;

template <class T>
T* Named(T* control, const QString& caption) {
    control->setAccessibleName(caption);
    return control;
}
}  // namespace

const NDIlistDialog::Column NDIlistDialog::kColumns[kScanColumnCount] = {
    {"NDI Name", 165, false, "MACHINE (Source)"},
    {"Resolution", 76, true, "1920 x 1080"},
    {"FPS", 48, true, "59.94i"},
    {"Aspect", 48, true, "1:1.78"},
    {"Alpha?", 48, true, "+Alpha"},
    {"Audio", 94, true, "16 Ch - 48.0 KHz"},
    {"IP Address", 120, true, "192.168.100.200:5961"},
};

int NDIlistDialog::ColumnWidth(const QFontMetrics& metrics, int column) {
    const Column& c = kColumns[column];
    constexpr int kPadding = 14;  // the cell's margins on both sides
    const int needed = std::max(metrics.horizontalAdvance(QString::fromUtf8(c.title)),
                                metrics.horizontalAdvance(QString::fromUtf8(c.widest))) +
                       kPadding;
    return std::max(c.width, needed);
}

void NDIlistDialog::Timers::StartTimer(int id, int periodMs) {
    QTimer*& timer = timers_[id];
    if (!timer) {
        timer = new QTimer(&owner_);
        QObject::connect(timer, &QTimer::timeout, &owner_, [this, id] {
            if (owner_.scanner_) owner_.scanner_->OnTimer(id);
        });
    }
    timer->start(periodMs);
}

void NDIlistDialog::Timers::StopTimer(int id) {
    const auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

MessageAnswer NDIlistDialog::LaterNotifier::Show(const std::string& text,
                                                 const std::string& caption,
                                                 MessageButtons buttons) {
    INotifier* target = &target_;
    QTimer::singleShot(0, &owner_,
                       [target, text, caption, buttons] { target->Show(text, caption, buttons); });
    return MessageAnswer::Ok;  // the scanner goes on the same either way
}

NDIlistDialog::NDIlistDialog(const NdiLibrary& ndi, INotifier& notifier, ProbeThreadPark& park,
                             int excludeLocal, const char* extraIps, NDIlistDialog** backPointer,
                             QWidget* parent)
    : QDialog(parent), backPointer_(backPointer), timers_(*this), notifier_(*this, notifier) {
    setWindowTitle(QStringLiteral("NDI\u00ae Sources Found"));
    setWindowIcon(AppIcon());
    setModal(false);
    calls_ = std::make_unique<WindowCalls>();
    // Workers only queue a drain on the window thread: never a wait, never a widget.
    WindowCalls* calls = calls_.get();
    scanner_ = std::make_unique<SourceScanner>(ndi, timers_, notifier_, park, [this, calls] {
        calls->Post([this] {
            if (scanner_) scanner_->DrainReports();
        });
    });
    scanner_->scanExcludeLocal = excludeLocal;
    scanner_->scanExtraIps = extraIps;
    scanner_->scanPublic = 1;

    BuildControls();
    resize(std::min(std::max(kDesignWidth, sizeHint().width()), kMaxSize), kDesignHeight);
    setMinimumSize(size());
    setMaximumSize(kMaxSize, kMaxSize);

    scanner_->onChange = [this](const ScanChange& change) { OnChange(change); };
    ShowControls();
    scanner_->SetUp();
}

NDIlistDialog::~NDIlistDialog() {
    if (backPointer_ && *backPointer_ == this) *backPointer_ = nullptr;
    scanner_->onChange = nullptr;
    // The scanner first (it stops the timers and hands on its workers), then the queue.
    scanner_.reset();
    calls_.reset();
}

void NDIlistDialog::BuildControls() {
    list_ = Named(new QTreeWidget(this), QStringLiteral("NDI Sources"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setColumnCount(kScanColumnCount);
    QStringList titles;
    for (const Column& c : kColumns)
        titles << QString::fromUtf8(c.title);
    list_->setHeaderLabels(titles);
    int columnsWidth = 0;
    for (int i = 0; i < kScanColumnCount; ++i) {
        const int width = ColumnWidth(list_->fontMetrics(), i);
        columnsWidth += width;
        list_->setColumnWidth(i, width);
        list_->headerItem()->setTextAlignment(
            i, kColumns[i].centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    }
    list_->header()->setStretchLastSection(false);
    // Room for every column and the scroll bar.
    list_->setMinimumWidth(columnsWidth + 2 * list_->frameWidth() +
                           list_->verticalScrollBar()->sizeHint().width());

    refresh_ = new CColButton(QStringLiteral("Refresh"), this);
    CColButton::FillColours fill = CColButton::StandardColours();
    fill[SourceScanner::kStateScanning] = QColor(0xFC, 0xB8, 0xB8);
    fill[SourceScanner::kStateIdle] = QColor(0xB8, 0xFC, 0xB8);
    fill[SourceScanner::kStateWaiting] = QColor(0xDC, 0xE1, 0xDC);
    refresh_->setFillColours(fill);
    refresh_->setStateNames({"", "scanning", "idle", "waiting", "", ""});
    refresh_->setAutoDefault(false);
    status_ = Named(new QPushButton(QStringLiteral("Scanning Status"), this),
                    QStringLiteral("Scanning Status"));
    status_->hide();
    progress_ = Named(new QProgressBar(this), QStringLiteral("Scan progress"));
    progress_->setTextVisible(false);
    progress_->hide();
    excludeLocal_ = Named(new QCheckBox(QStringLiteral("Exclude local"), this),
                          QStringLiteral("Exclude local"));
    short_ = Named(new QRadioButton(QStringLiteral("Short"), this), QStringLiteral("Short"));
    long_ = Named(new QRadioButton(QStringLiteral("Long"), this), QStringLiteral("Long"));
    auto* timeouts = new QButtonGroup(this);
    timeouts->addButton(short_, 0);
    timeouts->addButton(long_, 1);
    public_ = Named(new QCheckBox(QStringLiteral("Public"), this), QStringLiteral("Public"));
    korvoApps_ = Named(new QCheckBox(QStringLiteral("Korvo NDI apps"), this),
                       QStringLiteral("Korvo NDI apps"));
    auto* extraLabel = new QLabel(QStringLiteral("Additional Groups"), this);
    extraGroups_ = Named(new QLineEdit(this), QStringLiteral("Additional Groups"));
    extraLabel->setBuddy(extraGroups_);
    close_ = Named(new QPushButton(QStringLiteral("Close"), this), QStringLiteral("Close"));
    close_->setAutoDefault(false);

    auto* scanRow = new QHBoxLayout;
    scanRow->addWidget(refresh_);
    scanRow->addWidget(progress_, 1);
    scanRow->addStretch(0);
    scanRow->addWidget(excludeLocal_);
    scanRow->addSpacing(12);
    scanRow->addWidget(new QLabel(QStringLiteral("Timeout"), this));
    scanRow->addWidget(short_);
    scanRow->addWidget(long_);
    scanRow->addSpacing(12);
    scanRow->addWidget(close_);
    auto* groupRow = new QHBoxLayout;
    groupRow->addWidget(new QLabel(QStringLiteral("Groups"), this));
    groupRow->addWidget(public_);
    groupRow->addWidget(korvoApps_);
    groupRow->addSpacing(12);
    groupRow->addWidget(extraLabel);
    groupRow->addWidget(extraGroups_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(scanRow);
    layout->addLayout(groupRow);
    layout->addWidget(status_);

    // The controls take the member values.
    excludeLocal_->setChecked(scanner_->scanExcludeLocal != 0);
    (scanner_->timeoutChoice ? long_ : short_)->setChecked(true);
    public_->setChecked(scanner_->scanPublic != 0);
    korvoApps_->setChecked(scanner_->scanKorvoApps != 0);
    extraGroups_->setText(QString::fromStdString(scanner_->scanExtraGroups));

    connect(refresh_, &QPushButton::clicked, this, [this] { scanner_->Refresh(); });
    connect(excludeLocal_, &QCheckBox::clicked, this,
            [this](bool on) { scanner_->ExcludeLocalClicked(on); });
    connect(timeouts, &QButtonGroup::idClicked, this,
            [this](int id) { scanner_->TimeoutChosen(id); });
    connect(public_, &QCheckBox::clicked, this, [this] { TakeGroups(); });
    connect(korvoApps_, &QCheckBox::clicked, this, [this] { TakeGroups(); });
    connect(extraGroups_, &QLineEdit::editingFinished, this, [this] { TakeGroups(); });
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    for (QWidget* box : std::initializer_list<QWidget*>{excludeLocal_, short_, long_, public_,
                                                        korvoApps_, extraGroups_})
        box->installEventFilter(this);
}

void NDIlistDialog::TakeGroups() {
    scanner_->GroupsChanged(public_->isChecked(), korvoApps_->isChecked(),
                            extraGroups_->text().toStdString());
}

bool NDIlistDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void NDIlistDialog::OnChange(const ScanChange& change) {
    switch (change.kind) {
        case ScanChange::Kind::Rows:
            ShowRows();
            break;
        case ScanChange::Kind::Row:
            ShowRow(change.row);
            break;
        case ScanChange::Kind::Controls:
            ShowControls();
            break;
    }
}

void NDIlistDialog::ShowRows() {
    list_->clear();
    const auto& rows = scanner_->rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(list_);
        for (int c = 0; c < kScanColumnCount; ++c)
            item->setTextAlignment(
                c, kColumns[c].centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
        ShowRow(static_cast<int>(i));
    }
}

void NDIlistDialog::ShowRow(int row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    const auto& rows = scanner_->rows();
    if (!item || row < 0 || static_cast<size_t>(row) >= rows.size()) return;
    for (int c = 0; c < kScanColumnCount; ++c)
        item->setText(c, QString::fromStdString(rows[static_cast<size_t>(row)].cells[c]));
}

void NDIlistDialog::ShowControls() {
    const SourceScanner& s = *scanner_;
    refresh_->setState(s.refreshState());
    refresh_->setCaption(QString::fromStdString(s.refreshCaption()));
    const bool enabled = s.controlsEnabled();
    for (QWidget* w :
         std::initializer_list<QWidget*>{excludeLocal_, public_, korvoApps_, extraGroups_})
        w->setEnabled(enabled);
    progress_->setRange(0, s.progressMaximum());
    progress_->setValue(s.progressCount());
    progress_->setVisible(s.progressVisible());
    const QString status = s.statusText().empty() ? QStringLiteral("Scanning Status")
                                                  : QString::fromStdString(s.statusText());
    status_->setText(status);
    status_->setAccessibleName(status);
}

}  // namespace velmor
