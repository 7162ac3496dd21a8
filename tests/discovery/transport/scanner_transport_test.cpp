// The source scanner as the Sources Found window runs it, against velmor-testsrc processes of
// different formats over the built-in transport: the cells it shows for each, which worker
// probes which source, a source that sends nothing, and "Refresh" in the middle of a scan.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "discovery/scan_loop.h"
#include "discovery/source_scanner.h"
#include "support/recording_fakes.h"
#include "tools/process.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using test::Process;

using Cells = std::array<std::string, kScanColumnCount>;

class ScannerOverTransport : public ::testing::Test {
protected:
    // One announcement folder per test process: only this test's sources are seen.
    static void SetUpTestSuite() {
        dir_ = "/tmp/velmor-scan-" + std::to_string(getpid());
        setenv("VELMOR_NDI_DIR", dir_.c_str(), 1);
        loaded_ = new NdiLoadResult(LoadNdiLibrary(NdiChoice::Builtin));
        if (loaded_->ok) loaded_->api.initialize();
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void SetUp() override { ASSERT_TRUE(loaded_->ok) << loaded_->error; }
    void TearDown() override { scanner_.reset(); }

    void Start(const std::string& name, std::vector<std::string> args) {
        args.insert(args.begin(), {"--name", name, "--seconds", "120"});
        sources_.push_back(std::make_unique<Process>(
            VELMOR_TESTSRC, args, std::vector<std::string>{"VELMOR_NDI_DIR=" + dir_}));
    }
    // Waits until a finder of its own lists `count` sources, so a scan sees them all.
    void WaitListed(uint32_t count) {
        const NdiLibrary& ndi = loaded_->api;
        NDIlib_find_create_t settings{true, nullptr, nullptr};
        NDIlib_find_instance_t finder = ndi.find_create_v2(&settings);
        uint32_t n = 0;
        for (int i = 0; i < 300 && n != count; ++i) {
            ndi.find_get_current_sources(finder, &n);
            if (n != count) ndi.find_wait_for_sources(finder, 100);
        }
        ndi.find_destroy(finder);
        ASSERT_EQ(n, count);
    }
    SourceScanner& Scanner() {
        if (!scanner_) {
            scanner_ = std::make_unique<SourceScanner>(loaded_->api, loop_, notifier_, park_,
                                                       loop_.Waker());
            loop_.onWake = [this] { scanner_->DrainReports(); };
            loop_.onTimer = [this](int id) { scanner_->OnTimer(id); };
            scanner_->scanPublic = 1;
        }
        return *scanner_;
    }
    // Until a scan of `count` sources has run to its end and its workers have ended.
    bool Scanned(size_t count) {
        return loop_.RunUntil(
            [&] {
                return scanner_->rows().size() == count && !scanner_->scanning() &&
                       scanner_->progressCount() == static_cast<int>(count) &&
                       scanner_->workersRunning() == 0;
            },
            60s);
    }
    // The row of the source named `name` ("HOST (name)").
    const ScanRow* Row(const std::string& name) {
        for (const ScanRow& row : scanner_->rows()) {
            const std::string& full = row.cells[kColumnName];
            if (full.size() > name.size() + 2 &&
                full.compare(full.size() - name.size() - 2, std::string::npos, "(" + name + ")") ==
                    0)
                return &row;
        }
        ADD_FAILURE() << "no row for " << name;
        return nullptr;
    }
    void ExpectCells(const std::string& name, const Cells& expected) {
        const ScanRow* row = Row(name);
        if (!row) return;
        Cells cells = row->cells;
        EXPECT_EQ(cells[kColumnAddress].rfind("127.0.0.1:", 0), 0u) << cells[kColumnAddress];
        cells[kColumnName] = cells[kColumnAddress] = "";
        EXPECT_EQ(cells, expected) << name;
    }

    static inline std::string dir_;
    static inline NdiLoadResult* loaded_ = nullptr;
    std::vector<std::unique_ptr<Process>> sources_;
    ScanLoop loop_;
    testing::RecordingNotifier notifier_;
    ProbeThreadPark park_;
    std::unique_ptr<SourceScanner> scanner_;
};

TEST_F(ScannerOverTransport, FiveSourcesOfDifferentFormatsAreProbedByOneWorkerInTurn) {
    Start("Interlaced", {"--size", "1920x1080", "--rate", "30000/1001", "--interlaced"});
    Start("Progressive", {"--size", "1280x720", "--rate", "50/1"});
    Start("Portrait", {"--size", "360x640", "--rate", "25/1"});
    Start("Alpha", {"--size", "320x180", "--rate", "25/1", "--format", "bgra"});
    Start("Mono", {"--size", "320x240", "--rate", "25/1", "--audio-channels", "1", "--sample-rate",
                   "44100"});
    WaitListed(5);
    Scanner().SetUp();
    ASSERT_TRUE(Scanned(5));
    EXPECT_EQ(scanner_->probeThreads(), 1);
    for (const ScanRow& row : scanner_->rows())
        EXPECT_EQ(row.probedBy, 0) << row.cells[kColumnName];
    ExpectCells("Interlaced", {"", "1920 x 1080", "59.94i", "1.78:1", "", "2 Ch - 48.0 KHz", ""});
    ExpectCells("Progressive", {"", "1280 x 720", "50.00p", "1.78:1", "", "2 Ch - 48.0 KHz", ""});
    ExpectCells("Portrait", {"", "360 x 640", "25.00p", "1:1.78", "", "2 Ch - 48.0 KHz", ""});
    ExpectCells("Alpha", {"", "320 x 180", "25.00p", "1.78:1", "+Alpha", "2 Ch - 48.0 KHz", ""});
    ExpectCells("Mono", {"", "320 x 240", "25.00p", "1.33:1", "", "1 Ch - 44.1 KHz", ""});
    EXPECT_TRUE(notifier_.shown.empty());

    // Both group boxes and the edit box cleared: the finder gets an empty group text, which this
    // library reads as its default group, where the sources are.
    scanner_->GroupsChanged(false, false, "");
    ASSERT_NE(scanner_->finderSettings().p_groups, nullptr);
    EXPECT_STREQ(scanner_->finderSettings().p_groups, "");
    ASSERT_TRUE(loop_.RunUntil([&] { return scanner_->scanning(); }, 10s));
    ASSERT_TRUE(Scanned(5));
}

TEST_F(ScannerOverTransport, SixSourcesTakeTwoWorkersAndRefreshStopsTheirScanAtOnce) {
    for (const char* name : {"A", "B", "C", "D", "E"})
        Start(name, {"--size", "64x36", "--rate", "25/1"});
    Start("Silent", {"--silent"});
    WaitListed(6);
    Scanner().SetUp();
    ASSERT_TRUE(Scanned(6));
    EXPECT_EQ(scanner_->probeThreads(), 2);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(scanner_->rows()[i].probedBy, static_cast<int>(i % 2)) << i;
    ExpectCells("Silent", {"", "", "", "", "", "", ""});
    ExpectCells("A", {"", "64 x 36", "25.00p", "1.78:1", "", "2 Ch - 48.0 KHz", ""});

    // Again; this time "Refresh" comes while the silent source still holds its worker.
    scanner_->Refresh();
    auto pictures = [&] {
        int n = 0;
        for (const ScanRow& row : scanner_->rows())
            n += row.cells[kColumnResolution].empty() ? 0 : 1;
        return n;
    };
    ASSERT_TRUE(loop_.RunUntil([&] { return scanner_->scanning() && pictures() >= 1; }, 30s));
    ASSERT_TRUE(scanner_->scanning()) << "the silent source keeps the scan going";
    const std::vector<ScanRow> before = scanner_->rows();
    scanner_->Refresh();
    EXPECT_FALSE(scanner_->scanning());
    EXPECT_EQ(scanner_->refreshCaption(), "Refresh");
    ASSERT_TRUE(loop_.RunUntil([&] { return scanner_->workersRunning() == 0; }, 30s));
    ASSERT_EQ(scanner_->rows().size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(scanner_->rows()[i].cells, before[i].cells) << "nothing changes after the stop";
    EXPECT_GE(pictures(), 1) << "the rows probed so far stay";
    EXPECT_EQ(Row("Silent")->cells[kColumnResolution], "");
}

}  // namespace
}  // namespace velmor
