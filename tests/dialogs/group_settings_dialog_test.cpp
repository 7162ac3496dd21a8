// The group settings window driven through its controls: both group texts are rebuilt at every
// change, Enter moves on instead of closing, and Cancel keeps what was changed.
#include "dialogs/group_settings_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "relay/text_fields.h"
#include "support/qt_widget_helpers.h"

namespace velmor {
namespace {

using testing::AccessibleName;

class GroupSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup.record = &record;
        dialog = std::make_unique<GroupSettingsDialog>(setup);
        dialog->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    // The control named `name` in the row captioned `row`.
    template <class T>
    T* In(const char* row, const char* name) {
        for (QGroupBox* box : dialog->findChildren<QGroupBox*>()) {
            if (box->title() != QString::fromUtf8(row)) continue;
            for (T* w : box->findChildren<T*>()) {
                if (AccessibleName(w) == QString::fromUtf8(name)) return w;
            }
        }
        ADD_FAILURE() << row << ": " << name;
        return nullptr;
    }
    void Type(QLineEdit* edit, const char* text) {
        edit->setFocus();
        QTest::keyClicks(edit, QString::fromUtf8(text));
    }

    GroupSettings record{};
    GroupSetup setup;
    std::unique_ptr<GroupSettingsDialog> dialog;
};

TEST_F(GroupSettingsTest, TextsAreRebuiltOnEveryChange) {
    EXPECT_EQ(dialog->windowTitle(), "NDI Group settings for Velmor I/O");
    EXPECT_STREQ(setup.receiveGroups, "") << "nothing checked, boxes empty";
    EXPECT_STREQ(setup.sendGroups, "Korvo Velmor");

    QTest::mouseClick(In<QCheckBox>("Source detection", "Public"), Qt::LeftButton);
    QTest::mouseClick(In<QCheckBox>("Source detection", "Korvo NDI apps"), Qt::LeftButton);
    EXPECT_STREQ(setup.receiveGroups, "Public,Korvo NDI apps");
    Type(In<QLineEdit>("Source detection", "additional Groups"), "Studio A");
    // Enter takes the text over and moves on; the window stays open.
    QTest::keyClick(In<QLineEdit>("Source detection", "additional Groups"), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_STREQ(setup.receiveGroups, "Public,Korvo NDI apps,Studio A");
    EXPECT_STREQ(record.detectExtraGroups, "Studio A");
    EXPECT_EQ(record.detectPublic, 1);

    QTest::mouseClick(In<QCheckBox>("Velmor output", "Public"), Qt::LeftButton);
    EXPECT_STREQ(setup.sendGroups, "Korvo Velmor,Public");
    EXPECT_EQ(record.outputPublic, 1);
    EXPECT_STREQ(setup.receiveGroups, "Public,Korvo NDI apps,Studio A") << "the other row stays";

    // The boxes take at most 64 characters.
    QLineEdit* extra = In<QLineEdit>("Velmor output", "additional Groups");
    Type(extra, std::string(70, 'g').c_str());
    EXPECT_EQ(extra->text().size(), 64);
}

TEST_F(GroupSettingsTest, CancelKeepsTheEdits) {
    dialog.reset();
    record.detectPublic = 1;
    CopyToField(record.outputExtraGroups, "Gallery");
    dialog = std::make_unique<GroupSettingsDialog>(setup);
    dialog->open();
    EXPECT_TRUE(In<QCheckBox>("Source detection", "Public")->isChecked());
    EXPECT_EQ(In<QLineEdit>("Velmor output", "additional Groups")->text(), "Gallery");
    EXPECT_STREQ(setup.sendGroups, "Korvo Velmor,Gallery") << "built when the window opens";
    QTest::mouseClick(In<QCheckBox>("Source detection", "Public"), Qt::LeftButton);
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == "Cancel") QTest::mouseClick(b, Qt::LeftButton);
    }
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(record.detectPublic, 0);
    EXPECT_STREQ(setup.receiveGroups, "");

    // Escape while a box still has the focus: what was typed there is kept too.
    dialog->open();
    Type(In<QLineEdit>("Velmor output", "additional Groups"), " 2");
    QTest::keyClick(In<QLineEdit>("Velmor output", "additional Groups"), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_STREQ(record.outputExtraGroups, "Gallery 2");
    EXPECT_STREQ(setup.sendGroups, "Korvo Velmor,Gallery 2");
}

TEST_F(GroupSettingsTest, EveryControlIsNamedByItsCaptionAndFitsTheWindow) {
    EXPECT_EQ(testing::NamingFaults(*dialog), QStringList());
    EXPECT_EQ(testing::ClippedControls(*dialog, "groups.png"), QStringList());
}

}  // namespace
}  // namespace velmor
