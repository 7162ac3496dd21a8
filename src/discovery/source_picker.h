// The source picker: owns one NDI finder, polls it, lists the sources in the library's order,
// keeps the chosen name selected across refills, and reports a sought source when it comes up.
// Items are plain UTF-8 strings and the poll period is an output, so a Qt combo box and timer can
// bind to it, and the headless runner can drive it from its own loop. Window thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ndi/ndi_library.h"
#include "relay/picker_control.h"
#include "relay/relay_record.h"
#include "relay/settings_view.h"

namespace velmor {

class SourcePicker : public IFinderControl, public IPickerControl {
public:
    static constexpr int kFastPeriodMs = 250;
    static constexpr int kSlowPeriodMs = 4000;
    static constexpr size_t kChosenNameUnits = 255;  // UTF-16 units, without the terminator

    SourcePicker(RelayRecord& record, const NdiLibrary& ndi);
    ~SourcePicker() override;

    // The sought source is listed at finder index i ("Brelta-NDISM" with lParam i).
    std::function<void(int index)> onSoughtSourceFound;
    // The items or the selected item changed (the list box shows them).
    std::function<void()> onItemsChanged;
    // While a source is sought and not found yet: the names the finder lists, once per change (an
    // operator then sees why nothing connects, e.g. a name typed with the wrong letter case).
    std::function<void(const std::vector<std::string>& names)> onListedNamesChanged;

    // Replaces the finder and restarts fast polling.
    void RestartFinder(bool showLocalSources, const std::string& extraIps,
                       const char* groups) override;
    // The timer tick.
    void PollFinder();
    void RefillSourceList();
    void TakeChosenName();
    bool ShowNoSourceSelected() override;
    // The handler of the found report: selects the item, records the choice.
    void AcceptSoughtSource(int index);
    // The operator chose `item` in the list: it becomes the selected item and, for a source, the
    // chosen name.
    void ChooseItem(int item);

    const std::vector<std::string>& items() const { return items_; }
    int currentItem() const { return current_; }
    // How often the finder is polled: 0 when stopped, 250 ms until the source count is stable,
    // then 4000 ms.
    int timerPeriodMs() const { return timerPeriodMs_; }

private:
    // A missing list means no sources: the library has freed the previous array by then.
    void Query(uint32_t& count);
    void SelectItemStartingWith(const std::string& prefix);
    void ItemsChanged() {
        if (onItemsChanged) onItemsChanged();
    }
    void ReportListedNames();

    RelayRecord& r_;
    PickerState& p_;
    const NdiLibrary& ndi_;
    std::vector<std::string> items_{"No NDI sources detected"};
    std::vector<std::string> listedNames_;  // as last reported to onListedNamesChanged
    bool listedReported_ = false;
    int current_ = 0;
    int timerPeriodMs_ = 0;
};

// For a sought name that is not listed: a listed name that differs from it only in letter case
// (NDI lists machine names in capitals), or empty.
std::string SameNameInOtherCase(const std::string& sought, const std::vector<std::string>& names);

// Cuts a UTF-8 text to at most `units` UTF-16 units, at a character boundary.
std::string CutToUtf16Units(const std::string& text, size_t units);

}  // namespace velmor
