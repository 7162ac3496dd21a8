#include "discovery/source_scanner.h"

#include <algorithm>
#include <system_error>

#include "relay/text_fields.h"

namespace velmor {

namespace {
const char* const kNoSourcesText = "No NDI Sources found in the specified Group(s)";
const char* const kNoSourcesCaption = "NDI\u00ae Sources Found";
const char* const kThreadFailedText = "Thread creation failed...";
const char* const kThreadFailedCaption = "NDI Receiver";
}  // namespace

SourceScanner::SourceScanner(const NdiLibrary& ndi, IScanTimers& timers, INotifier& notifier,
                             ProbeThreadPark& park, std::function<void()> wake)
    : ndi_(ndi), timers_(timers), notifier_(notifier), park_(park) {
    reports_->SetWake(std::move(wake));
}

SourceScanner::~SourceScanner() {
    // From here on no worker calls back into the window.
    reports_->SetWake(nullptr);
    RetireRun();
    for (int id : {kPollTimer, kSettleTimer, kScanFinishedTimer})
        timers_.StopTimer(id);
    for (int t = 0; t < kMaxProbeThreads; ++t)
        timers_.StopTimer(kProbeTimeoutTimer + t);
    for (Worker& w : workers_)
        park_.Adopt(std::move(w.handle), std::move(w.finished));
    workers_.clear();
    if (scanFinder_) ndi_.find_destroy(scanFinder_);
}

void SourceScanner::SetUp() {
    SetRefresh(kStateWaiting, "Refresh");
    rows_.clear();
    Changed(ScanChange::Kind::Rows);
    scanFastPolling_ = 1;
    scanLastCount_ = 0;
    BuildScanGroups();
    scanPhase_ = 1;
    timers_.StartTimer(kPollTimer, kFastPollMs);
}

// --- The finder ---

bool SourceScanner::Query(uint32_t& count) {
    uint32_t n = 0;
    const NDIlib_source_t* list = ndi_.find_get_current_sources(scanFinder_, &n);
    // The previous array is gone once the library has answered, whatever it answered.
    scanSources_ = list;
    sourcesInList_ = list ? n : 0;
    count = sourcesInList_;
    return list != nullptr;
}

void SourceScanner::BuildScanGroups() {
    std::string text;
    int parts = 0;
    auto append = [&](const std::string& part) {
        text += text.empty() ? part : "," + part;
        ++parts;
    };
    if (scanPublic) append("Public");
    if (scanKorvoApps) append("Korvo NDI apps");
    if (!scanExtraGroups.empty()) append(scanExtraGroups);
    scanGroups = text.substr(0, Utf8PrefixLength(text, kGroupTextSize - 1));
    groupParts = parts;
    UpdateScanFinder(scanExcludeLocal, scanExtraIps, scanGroups.c_str(), true);
}

void SourceScanner::UpdateScanFinder(int excludeLocal, const char* extraIps, const char* groups,
                                     bool forced) {
    SetStatus("Update Finder called");
    timers_.StopTimer(kPollTimer);
    if (forced || excludeLocal != finderExcludeLocal_ || extraIps != finderExtraIps_) {
        if (scanFinder_) ndi_.find_destroy(scanFinder_);
        scanFinder_ = nullptr;
        scanSources_ = nullptr;
        sourcesInList_ = 0;
        finderGroupsText_ = groups ? groups : "";
        finderIpsText_ = extraIps ? extraIps : "";
        scanFinderSettings_.show_local_sources = excludeLocal == 0;
        scanFinderSettings_.p_groups = groups ? finderGroupsText_.c_str() : nullptr;
        scanFinderSettings_.p_extra_ips = extraIps ? finderIpsText_.c_str() : nullptr;
        finderExcludeLocal_ = excludeLocal;
        finderExtraIps_ = extraIps;
        // Without a library (none could be loaded) there is no finder, and nothing to poll.
        scanFinder_ = ndi_.find_create_v2 ? ndi_.find_create_v2(&scanFinderSettings_) : nullptr;
    }
    // The new finder gets a moment to hear from the sources; the window goes on meanwhile.
    timers_.StartTimer(kSettleTimer, kSettleMs);
}

void SourceScanner::ContinueFinderUpdate() {
    if (scanning_) {
        timers_.StartTimer(kPollTimer, kFastPollMs);
        return;
    }
    SetStatus("Finder updated & Update list");
    scanCount_ = 0;
    scanLastCount_ = 0;
    scanFastPolling_ = 1;
    if (scanFinder_) Query(scanCount_);
    scanPhase_ = 1;
    if (scanCount_ != 0) {
        StartScan();
    } else {
        timers_.StartTimer(kPollTimer, kFastPollMs);
    }
}

void SourceScanner::PollTimer() {
    SetStatus("Timer 1");
    if (!scanFinder_) return;
    if (scanExcludeLocal != finderExcludeLocal_) {
        UpdateScanFinder(scanExcludeLocal, scanExtraIps, groupParts ? scanGroups.c_str() : nullptr,
                         false);
        return;
    }
    if (scanFastPolling_ && scanCount_ != 0) {
        uint32_t count = 0;
        if (!Query(count)) return;
        timers_.StopTimer(kPollTimer);
        scanCount_ = count;
        if (scanCount_ == scanLastCount_) {
            // Sources still coming up when the scan started are not in its table: a stable
            // count of another length is scanned again, once the scan that runs is over.
            if (scanCount_ == tableCount_) {
                scanFastPolling_ = 0;
                scanPhase_ = 2;
            } else if (!scanning_) {
                SetStatus("Timer cue 1");
                StartScan();
                return;
            }
        } else {
            scanLastCount_ = scanCount_;
        }
        // The button shows the scan while one runs.
        if (!scanning_) SetRefresh(kStateWaiting, nullptr);
        SetStatus("Timer cue 1");
        timers_.StartTimer(kPollTimer, scanPhase_ == 1 ? kFastPollMs : kSlowPollMs);
        return;
    }
    if (scanFastPolling_) {
        uint32_t count = 0;
        if (!Query(count)) return;
        timers_.StopTimer(kPollTimer);
        scanCount_ = count;
        scanPhase_ = 1;
        SetStatus("Update list - RefreshSource");
        StartScan();
        return;
    }
    // Slow phase. No list means no sources: the sources listed before are gone.
    Query(scanLastCount_);
    if (scanLastCount_ != scanCount_) {
        timers_.StopTimer(kPollTimer);
        scanCount_ = scanLastCount_;
        SetStatus("Timer cue 2");
        StartScan();
    }
}

// --- Scans ---

void SourceScanner::StartScan() {
    if (scanning_) StopScan();
    // Workers of a finished scan may still wait for a late audio frame: they stop now.
    RetireRun();
    timers_.StopTimer(kScanFinishedTimer);
    rows_.clear();
    Changed(ScanChange::Kind::Rows);
    if (scanCount_ == 0) {
        tableCount_ = 0;
        // Polling stays stopped until "Refresh" or a group change.
        notifier_.Show(kNoSourcesText, kNoSourcesCaption, MessageButtons::Ok);
        return;
    }
    controlsEnabled_ = false;
    scanning_ = 1;
    SetRefresh(kStateScanning, "Scanning");

    // The workers get their own copy: the finder's array lasts only until its next query.
    auto run = std::make_shared<ProbeRun>();
    run->scan = nextScan_++;
    run->ndi = ndi_;
    run->reports = reports_;
    const uint32_t count = std::min(scanCount_, sourcesInList_);
    for (uint32_t i = 0; i < count; ++i) {
        const NDIlib_source_t& s = scanSources_[i];
        run->sources.push_back(
            {s.p_ndi_name ? s.p_ndi_name : "", s.p_url_address ? s.p_url_address : ""});
        ScanRow row;
        row.cells[kColumnName] = run->sources.back().name;
        row.cells[kColumnAddress] = run->sources.back().address;
        rows_.push_back(std::move(row));
    }
    // A list shorter than the count it was queried with: the table is what the workers probe.
    scanCount_ = count;
    tableCount_ = count;
    Changed(ScanChange::Kind::Rows);

    progressCount_ = 0;
    progressMaximum_ = static_cast<int>(count);
    progressVisible_ = true;
    Changed(ScanChange::Kind::Controls);

    probeThreads_ = ProbeThreadCount(count);
    run->threads = probeThreads_;
    run_ = run;
    timeoutToken_.fill(0);
    if (count == 0) {
        // The finder had said there were sources, but its list held none.
        timers_.StartTimer(kScanFinishedTimer, kScanFinishedMs);
        return;
    }
    for (int t = 0; t < probeThreads_; ++t) {
        auto finished = std::make_shared<std::atomic<bool>>(false);
        try {
            std::thread handle([run, t, finished] {
                ProbeThread(*run, t);
                finished->store(true, std::memory_order_release);
            });
            workers_.push_back({run->scan, t, std::move(handle), std::move(finished)});
        } catch (const std::system_error&) {
            // The scan stays "Scanning" until "Refresh".
            notifier_.Show(kThreadFailedText, kThreadFailedCaption, MessageButtons::OkCancel);
            return;
        }
    }
}

void SourceScanner::RetireRun() {
    if (!run_) return;
    run_->stop.store(true, std::memory_order_release);
    for (auto& active : run_->probeActive)
        active.store(0, std::memory_order_release);
    run_.reset();
}

void SourceScanner::StopScan() {
    RetireRun();
    // Polling may have gone on during the scan (the set-up starts it beside the first scan); it
    // waits for the next "Refresh" now.
    timers_.StopTimer(kPollTimer);
    timers_.StopTimer(kScanFinishedTimer);
    for (int t = 0; t < kMaxProbeThreads; ++t)
        timers_.StopTimer(kProbeTimeoutTimer + t);
    scanning_ = 0;
    controlsEnabled_ = true;
    progressVisible_ = false;
    SetRefresh(kStateIdle, "Refresh");
}

void SourceScanner::ScanFinished() {
    timers_.StopTimer(kScanFinishedTimer);
    scanning_ = 0;
    SetRefresh(kStateIdle, "Refresh");
    timers_.StartTimer(kPollTimer, scanPhase_ == 1 ? kFastPollMs : kSlowPollMs);
    controlsEnabled_ = true;
    progressVisible_ = false;
    SetStatus("Refresh set from Message");
}

void SourceScanner::DrainReports() {
    std::vector<ProbeReport> reports = reports_->TakeAll();
    for (ProbeReport& r : reports)
        Apply(r);
    park_.Reap();
}

void SourceScanner::Apply(ProbeReport& r) {
    if (r.kind == ProbeReport::Kind::Finished) {
        JoinWorker(r.scan, r.thread);
        return;
    }
    // A stopped or replaced scan's reports are not shown.
    if (!run_ || r.scan != run_->scan || r.source < 0 ||
        static_cast<size_t>(r.source) >= rows_.size())
        return;
    ScanRow& row = rows_[static_cast<size_t>(r.source)];
    row.probedBy = r.thread;
    switch (r.kind) {
        case ProbeReport::Kind::StartTimeout:
            timeoutToken_[static_cast<size_t>(r.thread)] = r.token;
            timers_.StartTimer(kProbeTimeoutTimer + r.thread,
                               timeoutChoice ? kLongTimeoutMs : kShortTimeoutMs);
            break;
        case ProbeReport::Kind::Video:
            row.cells[kColumnResolution] = r.video.resolution;
            row.cells[kColumnFps] = r.video.fps;
            row.cells[kColumnAspect] = r.video.aspect;
            row.cells[kColumnAlpha] = r.video.alpha;
            break;
        case ProbeReport::Kind::Audio:
            row.cells[kColumnAudio] = r.audio;
            break;
        case ProbeReport::Kind::Reported:
        case ProbeReport::Kind::Finished:
            break;
    }
    Changed(ScanChange::Kind::Row, r.source);
    if (r.first) SourceReported();
}

void SourceScanner::SourceReported() {
    ++progressCount_;
    if (progressCount_ == static_cast<int>(rows_.size()))
        timers_.StartTimer(kScanFinishedTimer, kScanFinishedMs);
    Changed(ScanChange::Kind::Controls);
}

void SourceScanner::JoinWorker(uint64_t scan, int thread) {
    for (auto it = workers_.begin(); it != workers_.end(); ++it) {
        if (it->scan != scan || it->thread != thread) continue;
        // It has said it is done: this join waits for its last few instructions only.
        if (it->handle.joinable()) it->handle.join();
        workers_.erase(it);
        return;
    }
}

// --- Timers and controls ---

void SourceScanner::OnTimer(int id) {
    if (id == kPollTimer) {
        PollTimer();
    } else if (id == kSettleTimer) {
        timers_.StopTimer(kSettleTimer);
        ContinueFinderUpdate();
    } else if (id == kScanFinishedTimer) {
        ScanFinished();
    } else if (id >= kProbeTimeoutTimer && id < kProbeTimeoutTimer + kMaxProbeThreads) {
        timers_.StopTimer(id);
        const size_t t = static_cast<size_t>(id - kProbeTimeoutTimer);
        uint32_t token = timeoutToken_[t];
        if (run_ && token != 0) run_->probeActive[t].compare_exchange_strong(token, 0);
    }
}

void SourceScanner::Refresh() {
    if (scanning_) {
        // Stops at once; the rows probed so far stay, and polling waits for the next "Refresh".
        StopScan();
        return;
    }
    UpdateScanFinder(scanExcludeLocal, scanExtraIps, scanGroups.c_str(), true);
}

void SourceScanner::ExcludeLocalClicked(bool checked) {
    scanExcludeLocal = checked ? 1 : 0;
    Refresh();
}

void SourceScanner::TimeoutChosen(int choice) {
    timeoutChoice = choice;
    SetStatus(StringPrintf("%d", timeoutChoice));
}

void SourceScanner::GroupsChanged(bool publicGroup, bool korvoApps,
                                  const std::string& extraGroups) {
    scanPublic = publicGroup ? 1 : 0;
    scanKorvoApps = korvoApps ? 1 : 0;
    scanExtraGroups = extraGroups;
    BuildScanGroups();
}

void SourceScanner::SetRefresh(int state, const char* caption) {
    refreshState_ = state;
    if (caption) refreshCaption_ = caption;
    Changed(ScanChange::Kind::Controls);
}

void SourceScanner::SetStatus(const std::string& text) {
    status_ = text;
    Changed(ScanChange::Kind::Controls);
}

void SourceScanner::Changed(ScanChange::Kind kind, int row) {
    if (onChange) onChange(ScanChange{kind, row});
}

}  // namespace velmor
