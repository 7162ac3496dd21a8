#include "discovery/source_picker.h"

#include <algorithm>
#include <cctype>

#include "relay/text_fields.h"

namespace velmor {
namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string CutToUtf16Units(const std::string& text, size_t units) {
    const std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() <= units) return text;
    size_t n = units;
    if (n > 0 && wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF) --n;
    return Utf16ToUtf8(wide.substr(0, n));
}

SourcePicker::SourcePicker(RelayRecord& record, const NdiLibrary& ndi)
    : r_(record), p_(record.picker), ndi_(ndi) {}

SourcePicker::~SourcePicker() {
    if (p_.finder) ndi_.find_destroy(p_.finder);
    p_.finder = nullptr;
    p_.sources = nullptr;
}

void SourcePicker::Query(uint32_t& count) {
    uint32_t n = 0;
    const NDIlib_source_t* list = ndi_.find_get_current_sources(p_.finder, &n);
    // Each query frees the array of the one before, so an old pointer is never kept: no list is
    // an empty list.
    p_.sources = list;
    count = list ? n : 0;
}

void SourcePicker::RestartFinder(bool showLocalSources, const std::string& extraIps,
                                 const char* groups) {
    timerPeriodMs_ = 0;
    if (p_.finder) ndi_.find_destroy(p_.finder);
    p_.finder = nullptr;
    p_.sources = nullptr;
    p_.finderGroups = groups ? groups : "";
    p_.finderExtraIps = extraIps;
    p_.finderSettings.show_local_sources = showLocalSources;
    p_.finderSettings.p_groups = groups ? p_.finderGroups.c_str() : nullptr;
    p_.finderSettings.p_extra_ips = p_.finderExtraIps.c_str();
    p_.finder = ndi_.find_create_v2(&p_.finderSettings);
    p_.fastPolling = 1;
    p_.lastCount = 0;
    p_.sourceCount = 0;
    if (p_.finder) Query(p_.sourceCount);
    RefillSourceList();
    timerPeriodMs_ = kFastPeriodMs;
}

void SourcePicker::PollFinder() {
    if (!p_.finder) return;
    if (p_.fastPolling) {
        uint32_t count = 0;
        Query(count);
        p_.sourceCount = count;
        RefillSourceList();
        if (count != 0 && count == p_.lastCount) {
            p_.fastPolling = 0;
            timerPeriodMs_ = kSlowPeriodMs;
        } else {
            p_.lastCount = count;
        }
        return;
    }
    uint32_t count = 0;
    Query(count);
    p_.lastCount = count;
    // Change is detected by the count alone.
    if (p_.lastCount != p_.sourceCount) {
        p_.sourceCount = p_.lastCount;
        RefillSourceList();
    }
}

void SourcePicker::RefillSourceList() {
    items_.clear();
    if (p_.sourceCount == 0 || !p_.sources) {
        items_.push_back("No NDI sources detected");
        current_ = 0;
        ItemsChanged();
        ReportListedNames();
        return;
    }
    if (p_.selectedItem < 1) {
        items_.push_back("NDI sources available");
        current_ = 0;
    } else {
        items_.push_back("Available NDI sources changed");
        if (p_.keepHeader == 1) current_ = 0;
    }
    for (uint32_t i = 0; i < p_.sourceCount; ++i) {
        const char* raw = p_.sources[i].p_ndi_name;
        const std::string name = raw ? raw : "";
        if (p_.seekArmed == 1 && p_.seekReported == 0 && name == p_.seekName &&
            onSoughtSourceFound) {
            onSoughtSourceFound(static_cast<int>(i));
        }
        items_.push_back(name);
    }
    if (p_.keepHeader == 0) SelectItemStartingWith(p_.chosenName);
    ItemsChanged();
    ReportListedNames();
}

void SourcePicker::ReportListedNames() {
    if (!(p_.seekArmed == 1 && p_.seekReported == 0) || !onListedNamesChanged) return;
    std::vector<std::string> names;
    for (uint32_t i = 0; p_.sources && i < p_.sourceCount; ++i)
        names.emplace_back(p_.sources[i].p_ndi_name ? p_.sources[i].p_ndi_name : "");
    if (listedReported_ && names == listedNames_) return;
    listedNames_ = names;
    listedReported_ = true;
    onListedNamesChanged(listedNames_);
}

std::string SameNameInOtherCase(const std::string& sought, const std::vector<std::string>& names) {
    const auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    for (const std::string& name : names) {
        if (name == sought) return {};
    }
    for (const std::string& name : names) {
        if (lower(name) == lower(sought)) return name;
    }
    return {};
}

void SourcePicker::SelectItemStartingWith(const std::string& prefix) {
    // From item 2 to the end, then items 0 and 1.
    const int count = static_cast<int>(items_.size());
    for (int k = 0; k < count; ++k) {
        const int i = (k + 2) % count;
        if (StartsWithNoCase(items_[i], prefix)) {
            current_ = i;
            return;
        }
    }
}

void SourcePicker::TakeChosenName() {
    if (p_.selectedItem == 0) return;
    const int index = p_.selectedItem - 1;
    if (!p_.sources || index < 0 || static_cast<uint32_t>(index) >= p_.sourceCount) return;
    const char* raw = p_.sources[index].p_ndi_name;
    p_.chosenName = CutToUtf16Units(raw ? raw : "", kChosenNameUnits);
    p_.keepHeader = 0;
}

bool SourcePicker::ShowNoSourceSelected() {
    p_.chosenName = "No source selected";
    if (items_.empty()) {
        items_.push_back("No source selected");
    } else {
        items_[0] = "No source selected";
    }
    current_ = 0;
    p_.keepHeader = 1;
    p_.selectedItem = 0;
    ItemsChanged();
    return true;
}

void SourcePicker::AcceptSoughtSource(int index) {
    p_.keepHeader = 0;
    SelectItemStartingWith(p_.seekName);
    p_.seekReported = 1;
    p_.selectedItem = index + 1;
    p_.seekArmed = 0;
    r_.selectedSourceIndex = index;
    TakeChosenName();
    ItemsChanged();
}

void SourcePicker::ChooseItem(int item) {
    if (item < 0 || item >= static_cast<int>(items_.size())) return;
    p_.selectedItem = item;
    current_ = item;
    TakeChosenName();
    r_.selectedSourceIndex = item - 1;
}

}  // namespace velmor
