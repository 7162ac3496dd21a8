#include "relay/overlay_loading.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace velmor {

namespace {

constexpr int kMaxSequenceLength = 100000;  // more than five digits can number

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileOpens(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

// Another picture's pixels, kind and file facts.
bool CopyPicture(const ImageBuffer& from, ImageBuffer& to) {
    if (from.empty() || !to.Reshape(from.width, from.height, from.pixelKind)) return false;
    std::memcpy(to.pixels(), from.pixels(), static_cast<size_t>(from.byteSize));
    to.decodedWidth = from.decodedWidth;
    to.decodedHeight = from.decodedHeight;
    to.decodedBitDepth = from.decodedBitDepth;
    to.name = from.name;
    to.path = from.path;
    return true;
}

bool PassesMemoryBound(const OverlayLoadJob& job, int64_t w, int64_t h) {
    return job.heldBytes->load() + OverlayNodeBytes(w, h) > job.memoryLimit;
}

// The UYVA copy and the thumbnail of a decoded node, then its bytes counted. False when the copy
// cannot be made (or the run was cancelled meanwhile: nothing is reported then).
bool FinishNode(OverlayLoadRun& run, OverlayNode& node) {
    if (!node.uyva.CopyRGBAdataFrom(node.bgra)) return false;
    if (run.cancelled()) return false;
    node.uyva.ConvertToUYVA();
    const OverlayLoadJob& job = run.job;
    if (job.thumbnailWidth > 0 && job.thumbnailHeight > 0)
        job.decoder->MakeThumbnail(node.bgra, job.thumbnailWidth, job.thumbnailHeight,
                                   node.thumbnail);
    CountOverlayNode(job.heldBytes, node);
    return true;
}

OverlayLoadReport MakeReport(OverlayLoadReport::Kind kind, std::shared_ptr<OverlayNode> node = {}) {
    OverlayLoadReport report;
    report.kind = kind;
    report.node = std::move(node);
    return report;
}

// The numbered files after the picture that open; the last one's file name.
int DetectSequence(const OverlayLoadRun& run, const SequenceName& name, std::string& lastName) {
    int found = 0;
    for (int k = 1; k < kMaxSequenceLength && !run.cancelled(); ++k) {
        const std::string path = SequenceMemberPath(name, name.firstNumber + k);
        if (!FileOpens(path)) break;
        ++found;
        lastName = FileNameOf(path);
    }
    return found;
}

void LoadPicture(OverlayLoadRun& run) {
    const OverlayLoadJob& job = run.job;
    OverlayLoadReport report;
    std::shared_ptr<OverlayNode> node = MakeOverlayNode(job.heldBytes);
    report.load = job.decoder->Load(node->bgra, job.path);
    if (run.cancelled()) return;
    if (!report.load.ok()) {
        run.Report(std::move(report));
        return;
    }
    if (!FinishNode(run, *node)) {
        if (!run.cancelled()) run.Report(MakeReport(OverlayLoadReport::Kind::CopyFailed));
        return;
    }
    if (job.detectSequence) {
        SplitSequenceName(node->bgra.path, report.name);
        node->imageNumber = report.name.firstNumber;
        if (report.name.endsWithNumber)
            report.more = DetectSequence(run, report.name, report.lastName);
    }
    report.kind = OverlayLoadReport::Kind::Loaded;
    report.node = std::move(node);
    run.Report(std::move(report));
}

void LoadSequence(OverlayLoadRun& run) {
    using Kind = OverlayLoadReport::Kind;
    const OverlayLoadJob& job = run.job;
    // Members are usually the size of the first: refuse before decoding what cannot be kept, then
    // again with the member's own size.
    const ImageBuffer& first = job.first->bgra;
    for (int k = 1; k < kMaxSequenceLength; ++k) {
        if (run.cancelled()) return;
        if (PassesMemoryBound(job, first.width, first.height)) {
            run.Report(MakeReport(Kind::OutOfMemory));
            return;
        }
        const int number = job.name.firstNumber + k;
        std::shared_ptr<OverlayNode> node = MakeOverlayNode(job.heldBytes);
        if (!job.decoder->Load(node->bgra, SequenceMemberPath(job.name, number)).ok()) {
            run.Report(MakeReport(Kind::End));  // missing, unreadable or too large
            return;
        }
        node->imageNumber = number;
        if (PassesMemoryBound(job, node->bgra.width, node->bgra.height)) {
            run.Report(MakeReport(Kind::OutOfMemory));
            return;
        }
        if (!FinishNode(run, *node)) {
            if (!run.cancelled()) run.Report(MakeReport(Kind::CopyFailed));
            return;
        }
        run.Report(MakeReport(Kind::Member, std::move(node)));
    }
    run.Report(MakeReport(Kind::End));
}

void MakeSolid(OverlayLoadRun& run) {
    const OverlayLoadJob& job = run.job;
    const OverlayNode& first = *job.first;
    std::shared_ptr<OverlayNode> solid = MakeOverlayNode(job.heldBytes);
    if (!CopyPicture(first.bgra, solid->bgra) || !CopyPicture(first.uyva, solid->uyva)) {
        run.Report(MakeReport(OverlayLoadReport::Kind::NotLoaded));
        return;
    }
    if (run.cancelled()) return;
    solid->bgra.MakeSolid();
    solid->uyva.MakeSolid();
    if (!first.thumbnail.empty()) CopyPicture(first.thumbnail, solid->thumbnail);
    solid->imageNumber = first.imageNumber;
    CountOverlayNode(job.heldBytes, *solid);
    run.Report(MakeReport(OverlayLoadReport::Kind::Loaded, std::move(solid)));
}

}  // namespace

std::string SequenceMemberPath(const SequenceName& name, int number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*d", name.numberDigits, number);
    return name.sequencePrefix + digits + name.sequenceExtension;
}

void OverlayLoadRun::SetWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void OverlayLoadRun::Cancel() {
    cancelled_.store(true, std::memory_order_release);
    std::lock_guard lock(mutex_);
    wake_ = nullptr;
    reports_.clear();
}

void OverlayLoadRun::Report(OverlayLoadReport report) {
    std::lock_guard lock(mutex_);
    if (cancelled()) return;  // the pictures go with `report`, on this thread
    reports_.push_back(std::move(report));
    if (wakePending_ || !wake_) return;
    wakePending_ = true;
    wake_();
}

std::vector<OverlayLoadReport> OverlayLoadRun::Take() {
    std::lock_guard lock(mutex_);
    wakePending_ = false;
    return std::exchange(reports_, {});
}

void RunOverlayLoad(OverlayLoadRun& run) {
    switch (run.job.kind) {
        case OverlayLoadJob::Kind::Picture:
            LoadPicture(run);
            break;
        case OverlayLoadJob::Kind::Sequence:
            LoadSequence(run);
            break;
        case OverlayLoadJob::Kind::Solid:
            MakeSolid(run);
            break;
    }
}

}  // namespace velmor
