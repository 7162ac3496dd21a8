// The model of the Sources Found window (NDIlistDialog): its own finder over the groups chosen in
// the window, the polling phases, the scans with their probe workers, and everything the window
// shows (rows, "Refresh" button, progress, enabled controls, status text). The window binds its
// controls to it; `velmor-sink --list --probe` drives it from a ScanLoop. Window thread only,
// except that `wake` is called from the workers: it must arrange for DrainReports to run on the
// window thread and return at once.
//
// Workers never touch this object: each scan gives its workers a ProbeRun of their own. A
// stopped scan's workers are joined when their Finished report is drained; when the scanner goes
// while some still run, they are handed to the ProbeThreadPark. The window thread never waits
// for a worker.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discovery/probe_park.h"
#include "discovery/probe_thread.h"
#include "discovery/scan_timers.h"
#include "ndi/ndi_library.h"
#include "relay/notifier.h"

namespace velmor {

struct ScanRow {
    std::array<std::string, kScanColumnCount> cells;
    int probedBy = -1;  // the worker that took the source, -1 until one did
};

// What changed, for the view: every row (rows added or removed), one row, or the controls
// (the "Refresh" button, the enabled state, the progress bar and the status text).
struct ScanChange {
    enum class Kind { Rows, Row, Controls } kind;
    int row = -1;
};

class SourceScanner {
public:
    static constexpr int kPollTimer = 1;
    static constexpr int kSettleTimer = 2;
    static constexpr int kScanFinishedTimer = 3;
    static constexpr int kProbeTimeoutTimer = 8;  // 8 + worker index
    static constexpr int kFastPollMs = 450;
    static constexpr int kSlowPollMs = 7000;
    static constexpr int kSettleMs = 150;
    static constexpr int kScanFinishedMs = 1250;
    static constexpr int kShortTimeoutMs = 2500;
    static constexpr int kLongTimeoutMs = 7500;
    static constexpr size_t kGroupTextSize = 256;  // bytes, terminator included

    // "Refresh" colour states.
    static constexpr int kStateScanning = 1;
    static constexpr int kStateIdle = 2;
    static constexpr int kStateWaiting = 3;

    SourceScanner(const NdiLibrary& ndi, IScanTimers& timers, INotifier& notifier,
                  ProbeThreadPark& park, std::function<void()> wake);
    ~SourceScanner();
    SourceScanner(const SourceScanner&) = delete;
    SourceScanner& operator=(const SourceScanner&) = delete;

    // The window's set-up, once the opener has set the members below: "Refresh" waiting, the
    // group text built and the finder started, polling every 450 ms.
    void SetUp();

    // Operations of the window's controls.
    void Refresh();
    void ExcludeLocalClicked(bool checked);
    void TimeoutChosen(int choice);  // 0 Short, 1 Long
    // "Public" or "Korvo NDI apps" clicked, or "Additional Groups" lost the focus.
    void GroupsChanged(bool publicGroup, bool korvoApps, const std::string& extraGroups);

    // Timer `id` fired.
    void OnTimer(int id);
    // Takes what the workers reported (run on the window thread after `wake`).
    void DrainReports();

    // Steps of the window's procedures, public for the tests that follow them.
    void BuildScanGroups();
    void UpdateScanFinder(int excludeLocal, const char* extraIps, const char* groups, bool forced);
    void StartScan();

    std::function<void(const ScanChange&)> onChange;

    // Members the opener and the controls set (named as the window's controls).
    std::string scanGroups = "Public";
    int groupParts = 0;
    int scanExcludeLocal = 0;
    int scanPublic = 0;
    int scanKorvoApps = 0;
    std::string scanExtraGroups;
    const char* scanExtraIps = nullptr;  // the main window's Extra IP text, which outlives this
    int timeoutChoice = 0;

    // State, read by the view and the tests.
    const std::vector<ScanRow>& rows() const { return rows_; }
    int refreshState() const { return refreshState_; }
    const std::string& refreshCaption() const { return refreshCaption_; }
    bool controlsEnabled() const { return controlsEnabled_; }
    bool progressVisible() const { return progressVisible_; }
    int progressMaximum() const { return progressMaximum_; }
    int progressCount() const { return progressCount_; }
    const std::string& statusText() const { return status_; }
    bool scanning() const { return scanning_ != 0; }
    int scanPhase() const { return scanPhase_; }
    int probeThreads() const { return probeThreads_; }
    uint32_t scanCount() const { return scanCount_; }
    const NDIlib_find_create_t& finderSettings() const { return scanFinderSettings_; }
    bool hasFinder() const { return scanFinder_ != nullptr; }
    // Workers of this scanner not yet joined (stopped scans' included).
    size_t workersRunning() const { return workers_.size(); }

private:
    struct Worker {
        uint64_t scan;
        int thread;
        std::thread handle;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    bool Query(uint32_t& count);  // true when a list came back
    void ContinueFinderUpdate();  // after the finder has had time to settle
    void PollTimer();
    void ScanFinished();
    void StopScan();
    // Stops the workers of the current run (they end after their current capture) and forgets
    // the run, so that nothing they still report is shown.
    void RetireRun();
    void Apply(ProbeReport& report);
    void SourceReported();
    void JoinWorker(uint64_t scan, int thread);
    void SetRefresh(int state, const char* caption);  // a null caption keeps the caption
    void SetStatus(const std::string& text);
    void Changed(ScanChange::Kind kind, int row = -1);

    const NdiLibrary& ndi_;
    IScanTimers& timers_;
    INotifier& notifier_;
    ProbeThreadPark& park_;
    std::shared_ptr<ProbeReports> reports_ = std::make_shared<ProbeReports>();

    NDIlib_find_instance_t scanFinder_ = nullptr;
    NDIlib_find_create_t scanFinderSettings_{true, nullptr, nullptr};
    std::string finderGroupsText_;  // storage of the settings' texts
    std::string finderIpsText_;
    int finderExcludeLocal_ = 0;
    const char* finderExtraIps_ = nullptr;
    const NDIlib_source_t* scanSources_ = nullptr;
    uint32_t sourcesInList_ = 0;  // entries of scanSources_
    uint32_t scanCount_ = 0;
    uint32_t scanLastCount_ = 0;
    uint8_t scanFastPolling_ = 1;
    int scanPhase_ = 1;
    int scanning_ = 0;
    int probeThreads_ = 0;
    int progressCount_ = 0;
    uint32_t tableCount_ = 0;  // sources of the last scan started

    uint64_t nextScan_ = 1;
    std::shared_ptr<ProbeRun> run_;
    std::array<uint32_t, kMaxProbeThreads> timeoutToken_{};
    std::vector<Worker> workers_;

    std::vector<ScanRow> rows_;
    int refreshState_ = kStateWaiting;
    std::string refreshCaption_ = "Refresh";
    bool controlsEnabled_ = true;
    bool progressVisible_ = false;
    int progressMaximum_ = 0;
    std::string status_;
};

}  // namespace velmor
