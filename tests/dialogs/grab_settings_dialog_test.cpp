// The "Frame Grab Settings" window driven through its controls: it shows the settings it was
// opened with, OK writes the edits back, Cancel leaves them, and a folder chosen with "File path"
// stays even when the window is then cancelled.
#include "dialogs/grab_settings_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

#include "support/qt_widget_helpers.h"

namespace velmor {
namespace {

using testing::AccessibleName;

template <class T>
T* Find(QWidget& window, const QString& text) {
    for (T* w : window.findChildren<T*>()) {
        if (w->text() == text) return w;
    }
    return nullptr;
}

class GrabSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup.useBaseName = 0;
        setup.addDate = 1;
        setup.addTime = 0;
        setup.grabOnFreeze = 1;
        setup.formatIndex = 2;
        setup.baseName = "Studio";
        dialog = std::make_unique<GrabSettingsDialog>(setup);
        dialog->pickFolder = [this] {
            ++picks;
            return pickAnswer;
        };
        dialog->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    QAbstractButton* Check(const char* text) {
        QAbstractButton* b = Find<QCheckBox>(*dialog, QString::fromUtf8(text));
        if (b == nullptr) b = Find<QRadioButton>(*dialog, QString::fromUtf8(text));
        if (b == nullptr) b = Find<QPushButton>(*dialog, QString::fromUtf8(text));
        EXPECT_NE(b, nullptr) << text;
        return b;
    }
    void Click(const char* text) {
        QAbstractButton* b = Check(text);
        if (b != nullptr) QTest::mouseClick(b, Qt::LeftButton);
    }
    QPushButton* Standard(QDialogButtonBox::StandardButton which) {
        return dialog->findChild<QDialogButtonBox*>()->button(which);
    }
    QLineEdit* BaseName() { return dialog->findChild<QLineEdit*>(); }

    GrabSetup setup;
    std::unique_ptr<GrabSettingsDialog> dialog;  // opened on the settings of SetUp
    QString pickAnswer;
    int picks = 0;
};

TEST_F(GrabSettingsTest, ShowsTheSettingsItWasOpenedWith) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Velmor  Frame Grab Settings"));
    struct Case {
        const char* caption;
        bool checked;
    };
    for (const Case& c : {Case{"BaseName", false}, Case{"Date", true}, Case{"Time", false},
                          Case{"Frame Grab when Freeze", true}, Case{"BMP", false},
                          Case{"GIF", false}, Case{"JPG", true}, Case{"PNG", false}}) {
        QAbstractButton* b = Check(c.caption);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->isChecked(), c.checked) << c.caption;
        EXPECT_EQ(AccessibleName(b), QString::fromUtf8(c.caption));
    }
    EXPECT_NE(Check("File path"), nullptr);
    EXPECT_NE(Find<QLabel>(*dialog, QStringLiteral("Base Name")), nullptr);
    EXPECT_NE(Find<QLabel>(*dialog, QStringLiteral("App folder")), nullptr);
    EXPECT_EQ(BaseName()->text(), QStringLiteral("Studio"));
    EXPECT_EQ(AccessibleName(BaseName()), QStringLiteral("Base Name"));
}

TEST_F(GrabSettingsTest, OkWritesTheEditsBack) {
    Click("BaseName");
    Click("Date");
    Click("Frame Grab when Freeze");
    Click("BMP");
    BaseName()->selectAll();
    QTest::keyClicks(BaseName(), QStringLiteral("Cam2"));
    QTest::mouseClick(Standard(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(setup.useBaseName, 1);
    EXPECT_EQ(setup.addDate, 0);
    EXPECT_EQ(setup.addTime, 0);
    EXPECT_EQ(setup.grabOnFreeze, 0);
    EXPECT_EQ(setup.formatIndex, 0);
    EXPECT_EQ(setup.baseName, "Cam2");
    EXPECT_EQ(setup.grabFolder, "");
}

TEST_F(GrabSettingsTest, CancelKeepsEverythingButAChosenFolder) {
    Click("Time");
    Click("PNG");
    BaseName()->clear();
    pickAnswer.clear();  // the picker cancelled: nothing changes
    Click("File path");
    EXPECT_NE(Find<QLabel>(*dialog, QStringLiteral("App folder")), nullptr);
    pickAnswer = QStringLiteral("/srv/grabs/é");
    Click("File path");
    EXPECT_EQ(picks, 2);
    EXPECT_NE(Find<QLabel>(*dialog, pickAnswer), nullptr);  // shown at once
    QTest::mouseClick(Standard(QDialogButtonBox::Cancel), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(setup.addTime, 0);
    EXPECT_EQ(setup.formatIndex, 2);
    EXPECT_EQ(setup.baseName, "Studio");
    EXPECT_EQ(setup.grabFolder, "/srv/grabs/\xc3\xa9");

    // Opened again, the window shows the folder.
    GrabSettingsDialog again(setup);
    EXPECT_NE(Find<QLabel>(again, pickAnswer), nullptr);
}

}  // namespace
}  // namespace velmor
