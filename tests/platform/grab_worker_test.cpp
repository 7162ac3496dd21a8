// The grab worker: what the video thread hands over is written as WriteGrab writes it, one file per
// hand-over, on the worker's thread, with at most one picture waiting.
#include "platform/grab_worker.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/grab_writer.h"
#include "platform/image_files.h"
#include "platform_test_support.h"

namespace velmor {
namespace {

using testing::EnsureQtApp;

struct Outcome {
    bool ok;
    std::string path;
};

TEST(GrabWorker, WritesWhatWasHandedOverWithTheNamingOfItsRequest) {
    EnsureQtApp();
    QTemporaryDir dir;
    std::mutex mutex;
    std::vector<Outcome> outcomes;
    // The first write holds until the test lets it go, so the bound can be seen.
    std::atomic<bool> release{false};
    std::atomic<bool> writing{false};
    GrabWorker worker(
        [&](bool ok, const std::string& path) {
            std::lock_guard lock(mutex);
            outcomes.push_back({ok, path});
        },
        [&] {
            writing = true;
            while (!release)
                std::this_thread::yield();
            return std::time_t{0};
        });

    GrabNaming naming;
    naming.addDate = 0;
    naming.addTime = 0;
    naming.formatIndex = 3;
    naming.grabFolder = dir.path().toStdString();
    auto picture = [](uint8_t y) {
        ImageBuffer p;
        p.Reshape(4, 2, kPixelUYVY);
        for (int i = 0; i < p.byteSize; ++i)
            p.pixels()[i] = (i % 2) ? y : 128;
        return p;
    };

    naming.baseName = "One";
    worker.SetNaming(naming, 0);
    ASSERT_TRUE(worker.Ready());
    ImageBuffer grab = picture(16);
    worker.Submit(grab);
    while (!writing)
        std::this_thread::yield();
    ASSERT_TRUE(worker.Ready()) << "one may wait while one is written";
    naming.baseName = "Two";
    worker.SetNaming(naming, 1);
    grab = picture(235);
    worker.Submit(grab);
    EXPECT_FALSE(worker.Ready()) << "a third would be queued: the request has to wait";
    release = true;
    worker.WaitIdle();

    std::lock_guard lock(mutex);
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_TRUE(outcomes[0].ok && outcomes[1].ok);
    EXPECT_EQ(outcomes[0].path, naming.grabFolder + "/One-1.png");
    EXPECT_EQ(outcomes[1].path, naming.grabFolder + "/Two-2.png");
    // The same pixels as the window's own WriteGrab makes of the same picture.
    for (const auto& [outcome, y] : {std::pair{outcomes[0], 16}, std::pair{outcomes[1], 235}}) {
        ImageBuffer written, expected, converted;
        ASSERT_TRUE(LoadFromFile(written, outcome.path));
        const ImageBuffer source = picture(static_cast<uint8_t>(y));
        ASSERT_TRUE(FrameToImage(source, converted));
        ASSERT_EQ(written.byteSize, converted.byteSize);
        for (int i = 0; i < written.byteSize; ++i) {
            if (i % 4 != 3) {
                ASSERT_EQ(written.pixels()[i], converted.pixels()[i]) << i;
            }
        }
    }
}

TEST(GrabWorker, FailureIsReportedAndPendingGrabsAreWrittenBeforeItEnds) {
    EnsureQtApp();
    QTemporaryDir dir;
    std::vector<Outcome> outcomes;
    {
        GrabWorker worker([&](bool ok, const std::string& path) {
            outcomes.push_back({ok, path});
        });
        GrabNaming naming;
        naming.addDate = 0;
        naming.addTime = 0;
        naming.grabFolder = dir.path().toStdString() + "/missing";
        worker.SetNaming(naming, 0);
        ImageBuffer grab;
        grab.Reshape(2, 2, kPixelBGRA);
        worker.Submit(grab);
        naming.grabFolder = dir.path().toStdString();
        worker.SetNaming(naming, 0);
        worker.WaitIdle();
        grab.Reshape(2, 2, kPixelBGRA);
        worker.Submit(grab);
    }  // the destructor writes the second before it ends
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_FALSE(outcomes[0].ok);
    EXPECT_TRUE(outcomes[1].ok);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(outcomes[1].path)));
}

}  // namespace
}  // namespace velmor
