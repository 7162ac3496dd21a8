#include "discovery/source_picker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmor {
namespace {

// A finder whose source list the test sets; counts finders made and destroyed.
struct FakeFinder {
    std::vector<std::string> names;
    std::vector<NDIlib_source_t> sources;
    bool returnNoList = false;
    int created = 0, destroyed = 0;
    NDIlib_find_create_t lastSettings{};
    std::string lastGroups, lastIps;
};
FakeFinder* g_finder = nullptr;

extern "C" {
NDIlib_find_instance_t Create(const NDIlib_find_create_t* s) {
    g_finder->created++;
    g_finder->lastSettings = *s;
    g_finder->lastGroups = s->p_groups ? s->p_groups : "(none)";
    g_finder->lastIps = s->p_extra_ips ? s->p_extra_ips : "(none)";
    return reinterpret_cast<void*>(static_cast<uintptr_t>(g_finder->created));
}
void Destroy(NDIlib_find_instance_t) {
    g_finder->destroyed++;
}
const NDIlib_source_t* Sources(NDIlib_find_instance_t, uint32_t* count) {
    FakeFinder& f = *g_finder;
    if (f.returnNoList) {
        // As the library does: the previous array is freed by this query.
        f.sources.clear();
        f.sources.shrink_to_fit();
        *count = 0;
        return nullptr;
    }
    f.sources.clear();
    for (const auto& n : f.names)
        f.sources.push_back({n.c_str(), "127.0.0.1:1"});
    *count = static_cast<uint32_t>(f.sources.size());
    static const NDIlib_source_t empty{};
    return f.sources.empty() ? &empty : f.sources.data();
}
}

class PickerTest : public ::testing::Test {
protected:
    PickerTest() {
        g_finder = &finder;
        ndi.find_create_v2 = Create;
        ndi.find_destroy = Destroy;
        ndi.find_get_current_sources = Sources;
        picker = std::make_unique<SourcePicker>(record, ndi);
        picker->onSoughtSourceFound = [this](int i) { found.push_back(i); };
    }
    FakeFinder finder;
    NdiLibrary ndi;
    RelayRecord record;
    std::unique_ptr<SourcePicker> picker;
    std::vector<int> found;
};

TEST_F(PickerTest, NoSourcesKeepsFastPolling) {
    picker->RestartFinder(false, "192.0.2.1", nullptr);
    for (int i = 0; i < 5; ++i)
        picker->PollFinder();
    EXPECT_EQ(picker->items(), std::vector<std::string>{"No NDI sources detected"});
    EXPECT_EQ(picker->timerPeriodMs(), SourcePicker::kFastPeriodMs);
    EXPECT_FALSE(finder.lastSettings.show_local_sources);
    EXPECT_EQ(finder.lastGroups, "(none)");
    EXPECT_EQ(finder.lastIps, "192.0.2.1");
}

TEST_F(PickerTest, FastPhaseEndsAfterTwoEqualCountsThenCountChangesRefill) {
    picker->RestartFinder(true, "", "Public");
    const std::vector<std::string> arriving = {"A (1)", "A (2)", "A (3)"};
    for (size_t n = 1; n <= arriving.size(); ++n) {
        finder.names.assign(arriving.begin(), arriving.begin() + n);
        picker->PollFinder();
        EXPECT_EQ(picker->timerPeriodMs(), SourcePicker::kFastPeriodMs);
        EXPECT_EQ(picker->items().size(), n + 1);
    }
    picker->PollFinder();  // 3 again
    EXPECT_EQ(picker->timerPeriodMs(), SourcePicker::kSlowPeriodMs);
    EXPECT_EQ(picker->items()[0], "NDI sources available");

    // The operator picks "A (2)"; a fourth source arrives in the slow phase.
    record.picker.selectedItem = 2;
    picker->TakeChosenName();
    finder.names.push_back("A (4)");
    picker->PollFinder();
    EXPECT_EQ(picker->items().size(), 5u);
    EXPECT_EQ(picker->items()[0], "Available NDI sources changed");
    EXPECT_EQ(picker->items()[picker->currentItem()], "A (2)")
        << "the chosen source stays selected";

    // One source replaced by another within a period: the count alone is compared.
    finder.names[3] = "A (5)";
    picker->PollFinder();
    EXPECT_EQ(picker->items()[4], "A (4)");
}

TEST_F(PickerTest, SeekReportsTheSoughtSourceOnce) {
    record.picker.seekName = "B (Cam)";
    record.picker.seekArmed = 1;
    record.picker.seekReported = 0;
    record.seekPending = 1;
    finder.names = {"A (Other)", "b (cam)", "B (Cam)"};
    picker->RestartFinder(true, "", nullptr);
    ASSERT_EQ(found, std::vector<int>{2}) << "the name must match exactly";
    picker->AcceptSoughtSource(2);
    EXPECT_EQ(record.picker.seekReported, 1);
    EXPECT_EQ(record.picker.seekArmed, 0);
    EXPECT_EQ(record.selectedSourceIndex, 2);
    EXPECT_EQ(record.picker.chosenName, "B (Cam)");
    picker->PollFinder();
    EXPECT_EQ(found.size(), 1u);
}

TEST_F(PickerTest, WhileSeekingTheListedNamesAreReportedOncePerChange) {
    std::vector<std::vector<std::string>> reported;
    picker->onListedNamesChanged = [&](const std::vector<std::string>& names) {
        reported.push_back(names);
    };
    finder.names = {"MYHOST (Camera 1)"};
    picker->RestartFinder(true, "", nullptr);
    EXPECT_TRUE(reported.empty()) << "nothing is sought";

    record.picker.seekName = "myhost (Camera 1)";
    record.picker.seekArmed = 1;
    record.picker.seekReported = 0;
    for (int i = 0; i < 4; ++i)
        picker->RefillSourceList();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], std::vector<std::string>{"MYHOST (Camera 1)"});
    EXPECT_EQ(SameNameInOtherCase(record.picker.seekName, reported[0]), "MYHOST (Camera 1)");

    finder.names = {"MYHOST (Camera 1)", "OTHER (Cam)"};
    picker->PollFinder();
    picker->PollFinder();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].size(), 2u);
    finder.names = {};
    picker->PollFinder();
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_TRUE(reported[2].empty());

    EXPECT_EQ(SameNameInOtherCase("A (x)", {"A (x)", "a (X)"}), "") << "listed as sought";
    EXPECT_EQ(SameNameInOtherCase("A (x)", {"B (x)"}), "");
}

TEST_F(PickerTest, OpeningTheListShowsNoSourceSelected) {
    finder.names = {"A (1)"};
    picker->RestartFinder(true, "", nullptr);
    record.picker.selectedItem = 1;
    picker->TakeChosenName();
    EXPECT_TRUE(picker->ShowNoSourceSelected());
    EXPECT_EQ(picker->items()[0], "No source selected");
    EXPECT_EQ(picker->currentItem(), 0);
    EXPECT_EQ(record.picker.selectedItem, 0);
    picker->RefillSourceList();
    EXPECT_EQ(picker->items()[0], "NDI sources available");
    EXPECT_EQ(picker->currentItem(), 0);
}

TEST_F(PickerTest, RestartReplacesTheFinder) {
    finder.names = {"A (1)"};
    picker->RestartFinder(true, "", nullptr);
    picker->RestartFinder(false, "", "Studio");
    EXPECT_EQ(finder.created, 2);
    EXPECT_EQ(finder.destroyed, 1);
}

// The library frees the previous array when a query returns no list; nothing may read it after.
TEST_F(PickerTest, AMissingListEmptiesTheItemsInBothPhases) {
    for (bool slowPhase : {false, true}) {
        SCOPED_TRACE(slowPhase ? "slow phase" : "fast phase");
        finder.returnNoList = false;
        finder.names = {"A (1)", "B (2)"};
        picker->RestartFinder(true, "", nullptr);
        picker->ChooseItem(1);
        if (slowPhase) {
            picker->PollFinder();
            picker->PollFinder();  // two equal counts in a row: slow polling
            ASSERT_EQ(picker->timerPeriodMs(), SourcePicker::kSlowPeriodMs);
        }
        finder.returnNoList = true;
        picker->PollFinder();
        EXPECT_EQ(picker->items(), std::vector<std::string>{"No NDI sources detected"});
        EXPECT_EQ(record.picker.sources, nullptr);
        // Everything that reads the array afterwards finds nothing to read.
        picker->RefillSourceList();
        picker->TakeChosenName();
        EXPECT_EQ(picker->items().size(), 1u);
    }
}

TEST(ChosenName, LongNamesAreCutTo255Utf16Units) {
    EXPECT_EQ(CutToUtf16Units(std::string(300, 'x'), 255).size(), 255u);
    std::string wide;
    for (int i = 0; i < 200; ++i)
        wide += "\xF0\x9F\x8E\xA5";  // 2 UTF-16 units each
    const std::string cut = CutToUtf16Units(wide, 255);
    EXPECT_EQ(cut.size(), 127u * 4) << "never half a surrogate pair";
}

}  // namespace
}  // namespace velmor
