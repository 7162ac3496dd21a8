// NDIcombobox: the source picker's drop-down list on the main window. It only shows the items of
// the picker model (discovery/source_picker.h) and reports what the user does with the list;
// the model and the controller decide what that means.
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace velmor {

class NDIcombobox : public QComboBox {
    Q_OBJECT
public:
    explicit NDIcombobox(QWidget* parent = nullptr);

    // Replaces the items (UTF-8) and selects `current` (none when out of range). Never emits
    // chosen. While the list is open the refill waits and is applied when it closes, after any
    // chosen of that closing; if the user chose an item, the item of the same text stays selected
    // in the new list.
    void SetItems(const std::vector<std::string>& items, int current);

    // True while a refill waits for the list to close.
    bool refillPending() const { return pending_; }

    void showPopup() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A user's choice: an item picked from the list (even the current one again), or the
    // selection moved with the arrow keys or the wheel on the closed box. While it is handled,
    // itemText(item) is the text the user saw, even if a refill is waiting.
    void chosen(int item);
    // The list is about to open (emitted before it shows; items set meanwhile are shown).
    void dropDownOpened();
    // The list closed without a choice. `stillOpen` is true when the user closed it (Escape, a
    // click elsewhere), false when it closed because the box was hidden or disabled.
    void dropDownCancelled(bool stillOpen);

private:
    void Apply(const QStringList& items, int current);
    void OnActivated(int item);
    void OnListHidden();
    void FinishClosing();

    QWidget* list_ = nullptr;  // the popup holding view()
    bool open_ = false;        // the list is shown (from showPopup until it hides)
    bool closing_ = false;     // the list hid; FinishClosing is queued
    bool chosenInSession_ = false;
    bool closedByUser_ = true;
    QString chosenText_;
    bool pending_ = false;
    QStringList pendingItems_;
    int pendingCurrent_ = -1;
};

}  // namespace velmor
