#include "probe_list.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "discovery/scan_loop.h"
#include "discovery/source_scanner.h"

namespace velmor::sink {
namespace {

class PrintingNotifier : public INotifier {
public:
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons) override {
        std::fprintf(stderr, "velmor-sink: [%s] %s\n", caption.c_str(), text.c_str());
        return MessageAnswer::Ok;
    }
};

// Characters on the terminal, not bytes.
size_t Width(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

const char* const kTitles[kScanColumnCount] = {"NDI Name", "Resolution", "FPS",       "Aspect",
                                               "Alpha?",   "Audio",      "IP Address"};

}  // namespace

int PrintProbedSources(const NdiLibrary& ndi, const ProbeListOptions& options) {
    ScanLoop loop;
    PrintingNotifier notifier;
    ProbeThreadPark park;
    SourceScanner scanner(ndi, loop, notifier, park, loop.Waker());
    loop.onWake = [&] { scanner.DrainReports(); };
    loop.onTimer = [&](int id) { scanner.OnTimer(id); };
    scanner.scanPublic = options.groups.empty() ? 1 : 0;
    scanner.scanExtraGroups = options.groups;
    scanner.scanExcludeLocal = options.hideLocal ? 1 : 0;
    scanner.scanExtraIps = options.extraIps.c_str();
    scanner.timeoutChoice = options.longTimeout ? 1 : 0;
    scanner.SetUp();

    // A scan is over once its finished step has run and its last worker has ended (a late
    // audio frame may still come after the last source was reported).
    auto scanned = [&] {
        const auto& rows = scanner.rows();
        return !rows.empty() && !scanner.scanning() &&
               scanner.progressCount() == static_cast<int>(rows.size()) &&
               scanner.workersRunning() == 0;
    };
    // The first scan starts within the find time; then it takes what its probes take.
    const bool started = loop.RunUntil([&] { return scanner.scanning() || scanned(); },
                                       std::chrono::seconds(std::max(0L, options.findSeconds)));
    if (!started || !loop.RunUntil(scanned, std::chrono::minutes(5))) {
        std::printf("no NDI sources found\n");
        return 2;
    }

    const auto& rows = scanner.rows();
    size_t widths[kScanColumnCount];
    for (int c = 0; c < kScanColumnCount; ++c) {
        widths[c] = Width(kTitles[c]);
        for (const ScanRow& row : rows)
            widths[c] = std::max(widths[c], Width(row.cells[static_cast<size_t>(c)]));
    }
    auto print = [&](auto cell) {
        std::string line;
        for (int c = 0; c < kScanColumnCount; ++c) {
            const std::string text = cell(c);
            line += text;
            if (c + 1 < kScanColumnCount) line += std::string(widths[c] - Width(text) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    };
    print([&](int c) { return std::string(kTitles[c]); });
    for (const ScanRow& row : rows)
        print([&](int c) { return row.cells[static_cast<size_t>(c)]; });
    std::fflush(stdout);
    return 0;
}

}  // namespace velmor::sink
