// The source picker's list; see source_combo.h.
#include "widgets/source_combo.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QStyle>
#include <QTimer>
#include <algorithm>

namespace velmor {

namespace {

// On Linux Qt names a combo box after its current item and leaves its caption to a label
// relation; the picker is named by its caption, "NDI Source", with the chosen item as its value,
// so that a screen reader and a tool driving the window through the accessibility bus find it by
// name. Its one child is the list, and its actions open that list.
class PickerAccessible : public QAccessibleWidget {
public:
    explicit PickerAccessible(NDIcombobox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return widget()->accessibleName();
        if (t == QAccessible::Value) return Box()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(Box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == Box()->view() ? 0 : -1;
    }
    QStringList actionNames() const override {
        return {QAccessibleActionInterface::showMenuAction(),
                QAccessibleActionInterface::pressAction()};
    }
    void doAction(const QString& name) override {
        if (name == QAccessibleActionInterface::showMenuAction() ||
            name == QAccessibleActionInterface::pressAction())
            Box()->showPopup();
    }

private:
    NDIcombobox* Box() const { return static_cast<NDIcombobox*>(widget()); }
};

QAccessibleInterface* PickerAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("velmor::NDIcombobox") && object->isWidgetType())
        return new PickerAccessible(static_cast<NDIcombobox*>(object));
    return nullptr;
}

}  // namespace

NDIcombobox::NDIcombobox(QWidget* parent) : QComboBox(parent) {
    static const bool installed = (QAccessible::installFactory(PickerAccessibleFactory), true);
    (void)installed;
    // The chosen item is the picker's value: announced when it changes.
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        QAccessibleValueChangeEvent event(this, currentText());
        QAccessible::updateAccessibility(&event);
    });
    setAccessibleName(QStringLiteral("NDI Source"));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(24);
    connect(this, &QComboBox::activated, this, &NDIcombobox::OnActivated);
    // The list also closes without hidePopup (a click outside it closes the popup directly), so
    // its closing is taken from the popup itself.
    list_ = view()->window();
    list_->installEventFilter(this);
}

void NDIcombobox::SetItems(const std::vector<std::string>& items, int current) {
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(items.size()));
    for (const std::string& item : items)
        texts.push_back(QString::fromStdString(item));
    if (open_) {
        pending_ = true;
        pendingItems_ = std::move(texts);
        pendingCurrent_ = current;
        return;
    }
    // A refill made by the handler of a closing's choice is newer than the one that waited.
    pending_ = false;
    Apply(texts, current);
}

void NDIcombobox::Apply(const QStringList& items, int current) {
    const QSignalBlocker block(this);  // currentIndexChanged of a refill is nobody's business
    clear();
    addItems(items);
    setCurrentIndex(current >= 0 && current < count() ? current : -1);

    // The list is as wide as its longest name (QComboBox itself keeps it no narrower than the box).
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
        widest = std::max(widest, view()->sizeHintForIndex(model()->index(i, 0)).width());
    }
    if (count() > maxVisibleItems()) widest += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    view()->setMinimumWidth(widest + 2 * view()->frameWidth());
}

void NDIcombobox::showPopup() {
    if (closing_) FinishClosing();  // reopened before the last closing was finished
    emit dropDownOpened();
    open_ = true;
    chosenInSession_ = false;
    QComboBox::showPopup();
    if (!view()->isVisible()) {  // nothing to show (no items): no list, no session
        open_ = false;
    }
}

bool NDIcombobox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::Hide) OnListHidden();
    return QComboBox::eventFilter(watched, event);
}

void NDIcombobox::OnListHidden() {
    if (!open_) return;
    // A choice made in the list is announced after the list hides (QComboBox hides it, then
    // emits activated), so what this closing was is known only once the event is handled.
    open_ = false;
    closing_ = true;
    closedByUser_ = isVisible() && isEnabled();
    QTimer::singleShot(0, this, &NDIcombobox::FinishClosing);
}

void NDIcombobox::OnActivated(int item) {
    if (closing_) {
        chosenInSession_ = true;
        chosenText_ = itemText(item);
    }
    emit chosen(item);
}

void NDIcombobox::FinishClosing() {
    if (!closing_) return;
    closing_ = false;
    if (!chosenInSession_) emit dropDownCancelled(closedByUser_);
    if (!pending_) return;
    pending_ = false;
    int current = pendingCurrent_;
    if (chosenInSession_) {
        const qsizetype same = pendingItems_.indexOf(chosenText_);
        if (same >= 0) current = static_cast<int>(same);
    }
    Apply(pendingItems_, current);
}

}  // namespace velmor
