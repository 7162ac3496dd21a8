// The "NDI® Sources Found" window over a scripted NDI stand-in, offscreen: its columns and
// controls, what the list shows while a scan fills it, the "Refresh" button's states, the group
// boxes, and closing it in the middle of a scan again and again.
#include "dialogs/sources_found_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "discovery/scan/fake_scan_ndi.h"
#include "support/qt_widget_helpers.h"
#include "support/recording_fakes.h"
#include "widgets/colour_button.h"

namespace velmor {
namespace {

using testing::AccessibleName;
using testing::Answering;
using testing::SourceScript;

class SourcesFound : public ::testing::Test {
protected:
    void TearDown() override {
        fake.OpenGate();
        delete dialog;
    }
    void Open(int excludeLocal = 0) {
        dialog = new NDIlistDialog(fake.api(), notifier, park, excludeLocal, ips, &dialog);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    }
    template <typename T = QWidget>
    T* Named(const QString& name) {
        for (T* w : dialog->findChildren<T*>())
            if (AccessibleName(w) == name) return w;
        ADD_FAILURE() << "no control named " << name.toStdString();
        return nullptr;
    }
    QString Text(int row, int column) {
        QTreeWidgetItem* item = dialog->list()->topLevelItem(row);
        return item ? item->text(column) : QStringLiteral("<no row>");
    }
    CColButton* Refresh() { return dialog->findChild<CColButton*>(); }
    std::optional<std::string> FinderGroups() {
        std::lock_guard lock(fake.mutex);
        return fake.finders.back().groups;
    }

    testing::FakeScanNdi fake;
    testing::RecordingNotifier notifier;
    ProbeThreadPark park;
    const char* ips = "192.0.2.9";
    NDIlistDialog* dialog = nullptr;
};

TEST_F(SourcesFound, TheWindowHasTheDesignsColumnsAndNamesEveryControl) {
    Open(1);
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("NDI\u00ae Sources Found"));
    EXPECT_FALSE(dialog->isModal());
    QTreeWidget* list = dialog->list();
    const struct {
        const char* title;
        int width;
        Qt::Alignment alignment;
    } columns[] = {
        {"NDI Name", 165, Qt::AlignLeft | Qt::AlignVCenter},
        {"Resolution", 76, Qt::AlignCenter},
        {"FPS", 48, Qt::AlignCenter},
        {"Aspect", 48, Qt::AlignCenter},
        {"Alpha?", 48, Qt::AlignCenter},
        {"Audio", 94, Qt::AlignCenter},
        {"IP Address", 120, Qt::AlignCenter},
    };
    ASSERT_EQ(list->columnCount(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(list->headerItem()->text(i), columns[i].title);
        // The nominal width, wider only where this font's texts would be cut.
        EXPECT_GE(list->columnWidth(i), columns[i].width) << columns[i].title;
        for (const char* text : {columns[i].title, NDIlistDialog::kColumns[i].widest})
            EXPECT_GT(list->columnWidth(i), list->fontMetrics().horizontalAdvance(text)) << text;
        EXPECT_EQ(Qt::Alignment(list->headerItem()->textAlignment(i)), columns[i].alignment);
    }
    for (const char* caption : {"Refresh", "Exclude local", "Short", "Long", "Public",
                                "Korvo NDI apps", "Additional Groups", "Close"}) {
        QWidget* w = Named(caption);
        ASSERT_NE(w, nullptr) << caption;
        EXPECT_TRUE(w->isVisible()) << caption;
    }
    // The opener's "Exclude local" and the window's defaults.
    EXPECT_TRUE(Named<QCheckBox>("Exclude local")->isChecked());
    EXPECT_TRUE(Named<QCheckBox>("Public")->isChecked());
    EXPECT_FALSE(Named<QCheckBox>("Korvo NDI apps")->isChecked());
    EXPECT_TRUE(Named<QRadioButton>("Short")->isChecked());
    // The hidden status control shows the status texts, as its caption and name.
    const QString status = QString::fromStdString(dialog->scanner().statusText());
    EXPECT_EQ(status, "Update Finder called");
    QPushButton* statusControl = Named<QPushButton>(status);
    ASSERT_NE(statusControl, nullptr);
    EXPECT_EQ(statusControl->text(), status);
    EXPECT_FALSE(statusControl->isVisible());
    EXPECT_EQ(Refresh()->state(), 3);
    EXPECT_EQ(Refresh()->fillColours()[1], QColor(0xFC, 0xB8, 0xB8));
    EXPECT_EQ(Refresh()->fillColours()[2], QColor(0xB8, 0xFC, 0xB8));
    EXPECT_EQ(Refresh()->fillColours()[3], QColor(0xDC, 0xE1, 0xDC));
    // Resizable between its first size and 900 x 900.
    EXPECT_EQ(dialog->minimumSize(), dialog->size());
    EXPECT_EQ(dialog->maximumSize(), QSize(900, 900));
    // The finder: local sources hidden as the opener said, the main window's extra IPs.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        std::lock_guard lock(fake.mutex);
        return !fake.finders.empty();
    }));
    std::lock_guard lock(fake.mutex);
    EXPECT_FALSE(fake.finders.back().showLocal);
    EXPECT_EQ(fake.finders.back().extraIps.value_or(""), ips);
    EXPECT_EQ(fake.finders.back().groups.value_or("(none)"), "Public");
}

TEST_F(SourcesFound, TheListFillsWhileRefreshShowsTheScanAndStopsIt) {
    std::vector<SourceScript> sources = {Answering("HOST (One)"), Answering("HOST (Two)"),
                                         Answering("HOST (Held)")};
    sources[1].video = testing::Video(1920, 1080, NDIlib_FourCC_video_type_BGRA, 30000, 1001,
                                      NDIlib_frame_format_type_interleaved, 16.0f / 9.0f);
    sources[2].holdCapture = true;
    fake.SetSources(sources);
    Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Text(1, kColumnAudio) == "2 Ch - 48.0 KHz"; }));
    EXPECT_EQ(Text(1, kColumnName), "HOST (Two)");
    EXPECT_EQ(Text(1, kColumnResolution), "1920 x 1080");
    EXPECT_EQ(Text(1, kColumnFps), "59.94i");
    EXPECT_EQ(Text(1, kColumnAspect), "1.78:1");
    EXPECT_EQ(Text(1, kColumnAlpha), "+Alpha");
    EXPECT_EQ(Text(1, kColumnAddress), QString::fromStdString(sources[1].address));
    EXPECT_EQ(Text(2, kColumnName), "HOST (Held)");
    EXPECT_EQ(Qt::Alignment(dialog->list()->topLevelItem(1)->textAlignment(kColumnFps)),
              Qt::AlignCenter);
    EXPECT_EQ(Refresh()->text(), "Scanning");
    EXPECT_EQ(AccessibleName(Refresh()), "Scanning");
    EXPECT_EQ(Refresh()->state(), 1);
    EXPECT_TRUE(dialog->findChild<QProgressBar*>()->isVisible());
    for (const char* box : {"Exclude local", "Public", "Korvo NDI apps"})
        EXPECT_FALSE(Named<QCheckBox>(box)->isEnabled()) << box;
    EXPECT_FALSE(Named<QLineEdit>("Additional Groups")->isEnabled());
    EXPECT_TRUE(Named("Long")->isEnabled());

    // The third source holds its worker inside the library: "Refresh" stops the scan anyway.
    QTest::mouseClick(Refresh(), Qt::LeftButton);
    EXPECT_EQ(Refresh()->text(), "Refresh");
    EXPECT_EQ(Refresh()->state(), 2);
    EXPECT_FALSE(dialog->findChild<QProgressBar*>()->isVisible());
    EXPECT_TRUE(Named<QCheckBox>("Public")->isEnabled());
    EXPECT_EQ(Text(1, kColumnResolution), "1920 x 1080") << "the rows probed so far stay";

    // Idle, "Refresh" scans afresh and the scan runs to its end.
    fake.OpenGate();
    QTest::mouseClick(Refresh(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Refresh()->text() == "Scanning"; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Refresh()->text() == "Refresh"; }, 15000));
    EXPECT_EQ(Refresh()->state(), 2);
    EXPECT_EQ(Text(2, kColumnResolution), "64 x 36");
    EXPECT_FALSE(dialog->findChild<QProgressBar*>()->isVisible());
}

TEST_F(SourcesFound, TheGroupBoxesMakeTheFindersGroups) {
    fake.SetListNothing(true);
    Open();
    QTest::mouseClick(Named("Public"), Qt::LeftButton);
    EXPECT_EQ(FinderGroups().value_or("(none)"), "") << "an empty text, not none";
    QTest::mouseClick(Named("Korvo NDI apps"), Qt::LeftButton);
    EXPECT_EQ(FinderGroups().value_or("(none)"), "Korvo NDI apps");
    // Typed, then Enter: the focus moves on and the box's text is taken.
    auto* extra = Named<QLineEdit>("Additional Groups");
    extra->setFocus();
    QTest::keyClicks(extra, "Studio 4");
    QTest::keyClick(extra, Qt::Key_Return);
    EXPECT_FALSE(extra->hasFocus());
    EXPECT_EQ(FinderGroups().value_or("(none)"), "Korvo NDI apps,Studio 4");
    QTest::mouseClick(Named("Long"), Qt::LeftButton);
    EXPECT_EQ(dialog->scanner().timeoutChoice, 1);
    EXPECT_NE(Named<QPushButton>("1"), nullptr) << "the status control shows the choice";
}

TEST_F(SourcesFound, NoSourcesInTheGroupsIsSaidOnce) {
    Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier.shown.empty(); }));
    EXPECT_EQ(notifier.shown[0].text, "No NDI Sources found in the specified Group(s)");
    EXPECT_EQ(notifier.shown[0].caption, "NDI\u00ae Sources Found");
    QTest::qWait(1000);
    EXPECT_EQ(notifier.shown.size(), 1u) << "polling waits for Refresh";
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 0);
}

TEST_F(SourcesFound, ClosingInTheMiddleOfAScanNeverWaitsForTheWorkers) {
    std::vector<SourceScript> sources;
    for (int i = 0; i < 8; ++i)
        sources.push_back(Answering("HOST (S" + std::to_string(i) + ")"));
    sources[1].holdCapture = true;
    sources[4].holdCapture = true;
    fake.SetSources(sources);
    for (int round = 0; round < 10; ++round) {
        int before = 0;
        {
            std::lock_guard lock(fake.mutex);
            before = fake.blockedCaptures;
        }
        Open();
        if (round % 2 == 0) {
            ASSERT_TRUE(QTest::qWaitFor([&] {
                std::lock_guard lock(fake.mutex);
                return fake.blockedCaptures > before;
            }));
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->list()->topLevelItemCount() > 0; }));
        }
        if (round % 4 < 2) {
            QTest::mouseClick(Named("Close"), Qt::LeftButton);
        } else {
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog == nullptr; })) << "closed and freed";
    }
    fake.OpenGate();
    ASSERT_TRUE(fake.WaitFor([&] { return fake.receiversLive == 0 && fake.blockedCaptures == 0; }));
    park.JoinAll();
    std::lock_guard lock(fake.mutex);
    EXPECT_EQ(fake.receiversDestroyed, static_cast<int>(fake.probes.size()));
}

}  // namespace
}  // namespace velmor
