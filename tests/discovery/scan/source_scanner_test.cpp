// The Sources Found window's model with real probe workers over a scripted NDI stand-in: which
// worker probes which source, the cell texts, time-outs, a receiver that cannot be made, the
// polling phases, "Refresh" during a scan, and closing the window while workers are still inside
// the library. Runs under ThreadSanitizer.
#include "discovery/source_scanner.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "discovery/scan/fake_scan_ndi.h"
#include "discovery/scan_loop.h"
#include "support/recording_fakes.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using testing::Answering;
using testing::SourceScript;

// Timers that only record what runs; the test fires them.
class ManualTimers : public IScanTimers {
public:
    void StartTimer(int id, int periodMs) override { running[id] = periodMs; }
    void StopTimer(int id) override { running.erase(id); }
    int period(int id) const {
        const auto it = running.find(id);
        return it == running.end() ? 0 : it->second;
    }
    std::map<int, int> running;
};

std::vector<SourceScript> Answering(int count) {
    std::vector<SourceScript> sources;
    for (int i = 0; i < count; ++i)
        sources.push_back(Answering("HOST (S" + std::to_string(i) + ")"));
    return sources;
}

class Scanner : public ::testing::Test {
protected:
    void TearDown() override {
        fake.OpenGate();
        scanner.reset();
    }
    // With manual timers the test steps the window's timers itself; the loop then only runs
    // what the workers report. With real timers the loop runs them as a window would.
    void Make(bool realTimers = false) {
        scanner.reset();
        IScanTimers& timers = realTimers ? static_cast<IScanTimers&>(loop) : manual;
        scanner = std::make_unique<SourceScanner>(fake.api(), timers, notifier, park, loop.Waker());
        loop.onWake = [this] { scanner->DrainReports(); };
        loop.onTimer = [this](int id) { scanner->OnTimer(id); };
        scanner->scanPublic = 1;
    }
    // The window's set-up, and the finder's settling moment over.
    void Open() {
        scanner->SetUp();
        scanner->OnTimer(SourceScanner::kSettleTimer);
    }
    bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        return loop.RunUntil(done, limit);
    }
    bool ProgressReaches(int n) {
        return Until([&] { return scanner->progressCount() == n; });
    }
    const std::string& Cell(int row, int column) {
        return scanner->rows()[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
    }

    testing::FakeScanNdi fake;
    ManualTimers manual;
    ScanLoop loop;
    testing::RecordingNotifier notifier;
    ProbeThreadPark park;
    std::unique_ptr<SourceScanner> scanner;
};

TEST_F(Scanner, AScanFillsEveryRowThenGoesIdle) {
    SourceScript interlaced = Answering("HOST (1080i)");
    interlaced.video = testing::Video(1920, 1080, NDIlib_FourCC_video_type_UYVY, 30000, 1001,
                                      NDIlib_frame_format_type_interleaved, 16.0f / 9.0f);
    SourceScript portrait = Answering("HOST (Portrait)");
    portrait.video = testing::Video(1080, 1920, NDIlib_FourCC_video_type_BGRA, 50, 1,
                                    NDIlib_frame_format_type_progressive, 9.0f / 16.0f);
    portrait.audio = testing::Audio(1, 44100);
    SourceScript absurd = Answering("HOST (Absurd)");
    absurd.video = testing::Video(0, -1, NDIlib_FourCC_video_type_UYVY, 25, 0,
                                  NDIlib_frame_format_type_progressive, 0.0f);
    absurd.audio = testing::Audio(0, 0);
    SourceScript videoOnly = Answering("HOST (Video only)");
    videoOnly.audio.reset();
    fake.SetSources({interlaced, portrait, absurd, videoOnly});
    Make();
    Open();

    EXPECT_TRUE(scanner->scanning());
    EXPECT_EQ(scanner->refreshState(), SourceScanner::kStateScanning);
    EXPECT_EQ(scanner->refreshCaption(), "Scanning");
    EXPECT_FALSE(scanner->controlsEnabled());
    EXPECT_TRUE(scanner->progressVisible());
    EXPECT_EQ(scanner->progressMaximum(), 4);
    ASSERT_EQ(scanner->rows().size(), 4u);
    EXPECT_EQ(Cell(1, kColumnName), "HOST (Portrait)");
    EXPECT_EQ(Cell(1, kColumnAddress), portrait.address);

    ASSERT_TRUE(ProgressReaches(4));
    // The last audio frame may come just after the last report.
    ASSERT_TRUE(Until([&] { return scanner->workersRunning() == 0; }));
    EXPECT_EQ(manual.period(SourceScanner::kScanFinishedTimer), 1250);
    using Row = std::array<std::string, kScanColumnCount>;
    EXPECT_EQ(scanner->rows()[0].cells, (Row{"HOST (1080i)", "1920 x 1080", "59.94i", "1.78:1", "",
                                             "2 Ch - 48.0 KHz", interlaced.address}));
    EXPECT_EQ(scanner->rows()[1].cells, (Row{"HOST (Portrait)", "1080 x 1920", "50.00p", "1:1.78",
                                             "+Alpha", "1 Ch - 44.1 KHz", portrait.address}));
    EXPECT_EQ(scanner->rows()[2].cells,
              (Row{"HOST (Absurd)", "0 x -1", "", "1:inf", "", "0 Ch - 0.0 KHz", absurd.address}));
    EXPECT_EQ(scanner->rows()[3].cells[kColumnAudio], "");

    scanner->OnTimer(SourceScanner::kScanFinishedTimer);
    EXPECT_FALSE(scanner->scanning());
    EXPECT_EQ(scanner->refreshState(), SourceScanner::kStateIdle);
    EXPECT_EQ(scanner->refreshCaption(), "Refresh");
    EXPECT_TRUE(scanner->controlsEnabled());
    EXPECT_FALSE(scanner->progressVisible());
    EXPECT_EQ(scanner->statusText(), "Refresh set from Message");
    EXPECT_EQ(manual.period(SourceScanner::kScanFinishedTimer), 0);
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 450);

    std::lock_guard lock(fake.mutex);
    ASSERT_EQ(fake.probes.size(), 4u);
    for (const testing::ProbeSeen& p : fake.probes) {
        EXPECT_EQ(p.settings.color_format, NDIlib_recv_color_format_UYVY_BGRA);
        EXPECT_EQ(p.settings.bandwidth, NDIlib_recv_bandwidth_highest);
        EXPECT_TRUE(p.settings.allow_video_fields);
        EXPECT_TRUE(p.nameWasNull);
    }
    EXPECT_EQ(fake.probes[1].address, portrait.address);
    EXPECT_EQ(fake.receiversLive, 0);
}

TEST_F(Scanner, WorkerTProbesSourcesTPlusMultiplesOfTheWorkerCountInTurn) {
    const struct {
        uint32_t sources;
        int threads;
    } counts[] = {{1, 1}, {5, 1}, {6, 2}, {11, 2}, {12, 3}, {17, 3}, {18, 4}, {100, 4}};
    for (const auto& c : counts)
        EXPECT_EQ(ProbeThreadCount(c.sources), c.threads) << c.sources;

    for (int n : {5, 6}) {
        SCOPED_TRACE(n);
        {
            std::lock_guard lock(fake.mutex);
            fake.probes.clear();
            fake.receiversMostLive = 0;
        }
        fake.SetSources(Answering(n));
        Make();
        Open();
        const int threads = n / 6 + 1;
        EXPECT_EQ(scanner->probeThreads(), threads);
        ASSERT_TRUE(ProgressReaches(n));
        ASSERT_TRUE(Until([&] { return scanner->workersRunning() == 0; }));
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(scanner->rows()[static_cast<size_t>(i)].probedBy, i % threads) << i;

        // Per worker thread, the sources it opened receivers for, in order.
        std::map<std::thread::id, std::vector<std::string>> byThread;
        std::lock_guard lock(fake.mutex);
        for (const testing::ProbeSeen& p : fake.probes)
            byThread[p.thread].push_back(p.source);
        std::set<std::vector<std::string>> seen;
        for (const auto& [thread, sources] : byThread)
            seen.insert(sources);
        if (n == 5) {
            EXPECT_EQ(seen,
                      (std::set<std::vector<std::string>>{
                          {"HOST (S0)", "HOST (S1)", "HOST (S2)", "HOST (S3)", "HOST (S4)"}}));
            EXPECT_EQ(fake.receiversMostLive, 1) << "one after another";
        } else {
            EXPECT_EQ(seen, (std::set<std::vector<std::string>>{
                                {"HOST (S0)", "HOST (S2)", "HOST (S4)"},
                                {"HOST (S1)", "HOST (S3)", "HOST (S5)"}}));
        }
    }
}

TEST_F(Scanner, ASourceThatSendsNothingIsReportedWithNameAndAddressAfterItsTimeout) {
    SourceScript silent;
    silent.name = "HOST (Silent)";
    silent.address = "127.0.0.1:6000";
    fake.SetSources({silent});
    for (int choice : {0, 1}) {
        SCOPED_TRACE(choice ? "Long" : "Short");
        Make(true);
        scanner->timeoutChoice = choice;
        const auto start = std::chrono::steady_clock::now();
        scanner->SetUp();
        ASSERT_TRUE(ProgressReaches(1));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const std::array<std::string, kScanColumnCount> nameAndAddress{
            "HOST (Silent)", "", "", "", "", "", "127.0.0.1:6000"};
        EXPECT_EQ(scanner->rows()[0].cells, nameAndAddress);
        std::lock_guard lock(fake.mutex);
        if (choice == 0) {
            // The 2500 ms time-out ends the probe before its 40 tries of 80 ms.
            EXPECT_GE(elapsed, 2500ms);
            EXPECT_LT(fake.probes.back().captures, 40);
        } else {
            // 7500 ms: the tries run out first.
            EXPECT_EQ(fake.probes.back().captures, 40);
        }
    }
}

TEST_F(Scanner, AReceiverThatCannotBeMadeStillLetsTheScanComplete) {
    std::vector<SourceScript> sources = Answering(3);
    sources[1].failCreate = true;
    fake.SetSources(sources);
    Make();
    Open();
    ASSERT_TRUE(ProgressReaches(3));
    EXPECT_EQ(manual.period(SourceScanner::kScanFinishedTimer), 1250);
    EXPECT_EQ(Cell(0, kColumnResolution), "64 x 36");
    for (int row : {1, 2}) {
        EXPECT_EQ(Cell(row, kColumnName), sources[static_cast<size_t>(row)].name);
        EXPECT_EQ(Cell(row, kColumnAddress), sources[static_cast<size_t>(row)].address);
        for (int column = kColumnResolution; column <= kColumnAudio; ++column)
            EXPECT_EQ(Cell(row, column), "") << row << " " << column;
    }
    ASSERT_TRUE(Until([&] { return scanner->workersRunning() == 0; }));
    std::lock_guard lock(fake.mutex);
    EXPECT_EQ(fake.probes.size(), 2u) << "the worker stops probing after the failure";
}

TEST_F(Scanner, RefreshDuringAScanStopsItAtOnceAndKeepsTheRowsProbedSoFar) {
    std::vector<SourceScript> sources = Answering(2);
    sources[1].holdCapture = true;  // delivers a picture, but only once the gate opens
    fake.SetSources(sources);
    Make();
    Open();
    ASSERT_TRUE(fake.WaitFor([&] { return fake.blockedCaptures == 1; }));
    ASSERT_TRUE(Until([&] { return Cell(0, kColumnAudio) != ""; }));

    scanner->Refresh();  // returns while the worker is still inside the library
    {
        std::lock_guard lock(fake.mutex);
        EXPECT_EQ(fake.blockedCaptures, 1);
    }
    EXPECT_FALSE(scanner->scanning());
    EXPECT_EQ(scanner->refreshState(), SourceScanner::kStateIdle);
    EXPECT_EQ(scanner->refreshCaption(), "Refresh");
    EXPECT_TRUE(scanner->controlsEnabled());
    EXPECT_FALSE(scanner->progressVisible());
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 0) << "polling waits for Refresh";
    ASSERT_EQ(scanner->rows().size(), 2u);
    EXPECT_EQ(Cell(0, kColumnResolution), "64 x 36");

    fake.OpenGate();
    ASSERT_TRUE(Until([&] { return scanner->workersRunning() == 0; }));
    EXPECT_EQ(Cell(1, kColumnResolution), "") << "a stopped scan shows nothing more";
    EXPECT_EQ(Cell(1, kColumnAddress), sources[1].address);

    // Idle, "Refresh" makes a fresh finder and scans again.
    size_t finders = 0;
    {
        std::lock_guard lock(fake.mutex);
        finders = fake.finders.size();
    }
    scanner->Refresh();
    scanner->OnTimer(SourceScanner::kSettleTimer);
    EXPECT_TRUE(scanner->scanning());
    std::lock_guard lock(fake.mutex);
    EXPECT_EQ(fake.finders.size(), finders + 1);
}

TEST_F(Scanner,
       ClosingTheWindowWhileWorkersAreInsideTheLibraryNeitherWaitsNorLeavesThemOnFreedState) {
    std::vector<SourceScript> sources = Answering(8);
    sources[1].holdCapture = true;
    sources[4].holdCapture = true;
    fake.SetSources(sources);
    for (int round = 0; round < 20; ++round) {
        int before = 0;
        {
            std::lock_guard lock(fake.mutex);
            before = fake.blockedCaptures;
        }
        Make();
        Open();
        // Every other round closes at once, the others once a worker is stuck in a capture.
        if (round % 2 == 0) {
            ASSERT_TRUE(fake.WaitFor([&] { return fake.blockedCaptures > before; }));
        }
        scanner.reset();
    }
    EXPECT_GT(park.size(), 0u);
    fake.OpenGate();
    ASSERT_TRUE(fake.WaitFor([&] { return fake.receiversLive == 0 && fake.blockedCaptures == 0; }));
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (park.size() > 0 && std::chrono::steady_clock::now() < end) {
        park.Reap();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(park.size(), 0u);
    std::lock_guard lock(fake.mutex);
    EXPECT_EQ(fake.receiversDestroyed, static_cast<int>(fake.probes.size()));
}

TEST_F(Scanner, TheGroupChoicesMakeTheFindersGroupText) {
    const char* ips = "192.0.2.7";
    Make();
    scanner->scanExtraIps = ips;
    scanner->scanExcludeLocal = 1;
    scanner->SetUp();
    const struct {
        bool publicGroup, korvo;
        std::string extra, groups;
        int parts;
    } cases[] = {
        {true, false, "", "Public", 1},
        {true, true, "", "Public,Korvo NDI apps", 2},
        {true, true, "Studio A", "Public,Korvo NDI apps,Studio A", 3},
        {false, true, "", "Korvo NDI apps", 1},
        {false, false, "Studio A,Studio B", "Studio A,Studio B", 1},
        {false, false, "", "", 0},
    };
    for (const auto& c : cases) {
        scanner->GroupsChanged(c.publicGroup, c.korvo, c.extra);
        std::lock_guard lock(fake.mutex);
        const testing::FinderSeen& f = fake.finders.back();
        ASSERT_TRUE(f.groups.has_value()) << "an empty group text is a text, not none";
        EXPECT_EQ(*f.groups, c.groups);
        EXPECT_EQ(scanner->groupParts, c.parts);
        EXPECT_FALSE(f.showLocal);
        EXPECT_EQ(f.extraIps.value_or("(none)"), ips);
        EXPECT_EQ(fake.findersDestroyed + 1, static_cast<int>(fake.finders.size()));
    }
    // 256 bytes at most, cut at a character boundary.
    std::string accents;
    for (int i = 0; i < 200; ++i)
        accents += "\xc3\xa9";
    scanner->GroupsChanged(true, false, accents);
    EXPECT_EQ(scanner->scanGroups.size(), 255u);
    EXPECT_EQ(scanner->scanGroups.substr(0, 7), "Public,");
    EXPECT_EQ(static_cast<unsigned char>(scanner->scanGroups.back()), 0xa9);

    scanner->ExcludeLocalClicked(false);
    std::lock_guard lock(fake.mutex);
    EXPECT_TRUE(fake.finders.back().showLocal);
}

TEST_F(Scanner, PollingIsFastUntilTheCountIsStableThenSlowAndRescansOnACountChange) {
    fake.SetListNothing(true);
    Make();
    scanner->SetUp();
    EXPECT_EQ(manual.period(SourceScanner::kSettleTimer), 150);
    scanner->OnTimer(SourceScanner::kSettleTimer);
    EXPECT_EQ(scanner->statusText(), "Finder updated & Update list");
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 450);
    for (int i = 0; i < 3; ++i)
        scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_TRUE(notifier.shown.empty()) << "no list: polling goes on";
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 450);

    // An empty list that does come back is a scan of nothing.
    fake.SetListNothing(false);
    scanner->OnTimer(SourceScanner::kPollTimer);
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].text, "No NDI Sources found in the specified Group(s)");
    EXPECT_EQ(notifier.shown[0].caption, "NDI\u00ae Sources Found");
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 0) << "polling waits for Refresh";

    fake.SetSources(Answering(2));
    scanner->Refresh();
    scanner->OnTimer(SourceScanner::kSettleTimer);
    EXPECT_EQ(scanner->rows().size(), 2u);
    ASSERT_TRUE(ProgressReaches(2));
    scanner->OnTimer(SourceScanner::kScanFinishedTimer);
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 450);
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_EQ(scanner->refreshState(), SourceScanner::kStateWaiting);
    EXPECT_EQ(scanner->statusText(), "Timer cue 1");
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 450);
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_EQ(scanner->scanPhase(), 2);
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 7000);

    // A third source: scanned again.
    fake.SetSources(Answering(3));
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_EQ(scanner->statusText(), "Timer cue 2");
    EXPECT_TRUE(scanner->scanning());
    EXPECT_EQ(scanner->rows().size(), 3u);
    ASSERT_TRUE(ProgressReaches(3));
    scanner->OnTimer(SourceScanner::kScanFinishedTimer);
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 7000);

    // One gone and another come within a period: the count alone does not show it.
    std::vector<SourceScript> swapped = Answering(3);
    swapped[2] = Answering("HOST (Other)");
    fake.SetSources(swapped);
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_FALSE(scanner->scanning());
    EXPECT_EQ(Cell(2, kColumnName), "HOST (S2)");

    // All gone: the table does not go on listing them.
    fake.SetListNothing(true);
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_TRUE(scanner->rows().empty());
    EXPECT_EQ(notifier.shown.size(), 2u);
}

TEST_F(Scanner, SourcesStillComingUpWhenTheScanStartedAreScannedOnceTheCountIsStable) {
    std::vector<SourceScript> sources = Answering(1);
    sources[0].holdCapture = true;
    fake.SetSources(sources);
    Make();
    Open();
    // More come up during the scan; the polling the set-up started sees them settle.
    fake.SetSources(Answering(3));
    scanner->OnTimer(SourceScanner::kPollTimer);
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_EQ(scanner->rows().size(), 1u) << "a running scan goes on";
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 450) << "still the fast phase";
    fake.OpenGate();
    ASSERT_TRUE(ProgressReaches(1));
    scanner->OnTimer(SourceScanner::kScanFinishedTimer);
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_TRUE(scanner->scanning());
    EXPECT_EQ(scanner->rows().size(), 3u);
    ASSERT_TRUE(ProgressReaches(3));
    scanner->OnTimer(SourceScanner::kScanFinishedTimer);
    scanner->OnTimer(SourceScanner::kPollTimer);
    EXPECT_EQ(manual.period(SourceScanner::kPollTimer), 7000) << "stable at the table's length";
}

}  // namespace
}  // namespace velmor
