// The Extra IP box typed into like a user does: octets fill and move on, bad input is refused,
// the cursor keys cross octets, the field is one tab stop, and leaving the whole field (not
// moving inside it) is reported once.
#include "widgets/ip_field.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "support/qt_widget_helpers.h"

namespace velmor {
namespace {

using testing::AccessibleName;

// A window with an edit before and one after the field, as on the main window.
class IpFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        before = new QLineEdit(&window);
        field = new IpField(&window);
        after = new QLineEdit(&window);
        layout->addWidget(before);
        layout->addWidget(field);
        layout->addWidget(after);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), field->octet(0));
    }
    // Keys go where the focus is, as they do for a user.
    static void Type(const QString& text) {
        for (QChar c : text)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
    static void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
    int FocusedOctet() const {
        for (int i = 0; i < 4; ++i) {
            if (QApplication::focusWidget() == field->octet(i)) return i;
        }
        return -1;
    }
    QWidget window;
    QLineEdit* before = nullptr;
    IpField* field = nullptr;
    QLineEdit* after = nullptr;
};

TEST_F(IpFieldTest, TypedAddressesFillTheOctets) {
    struct Case {
        const char* typed;
        std::array<int, 4> fields;
        bool blank;
    };
    const Case cases[] = {
        {"192.168.1.10", {192, 168, 1, 10}, false},
        {"1921681", {192, 168, 1, 0}, false},  // three digits move on by themselves
        {"10..5", {10, 5, 0, 0}, false},       // a dot in an empty octet does not skip it
        {"300.1", {255, 1, 0, 0}, false},      // too large: the largest octet
        {"a-1 x", {1, 0, 0, 0}, false},        // only digits go in
        {"", {0, 0, 0, 0}, true},
    };
    for (const Case& c : cases) {
        field->clear();
        field->octet(0)->setFocus();
        Type(QString::fromLatin1(c.typed));
        EXPECT_EQ(field->fields(), c.fields) << c.typed;
        EXPECT_EQ(field->isBlank(), c.blank) << c.typed;
        EXPECT_EQ(field->dottedText(), QStringLiteral("%1.%2.%3.%4")
                                           .arg(c.fields[0])
                                           .arg(c.fields[1])
                                           .arg(c.fields[2])
                                           .arg(c.fields[3]))
            << c.typed;
    }
    // A partly filled field is not blank: its empty octets read 0.
    field->clear();
    field->octet(2)->setText(QStringLiteral("7"));
    EXPECT_FALSE(field->isBlank());
    EXPECT_EQ(field->dottedText(), QStringLiteral("0.0.7.0"));
}

TEST_F(IpFieldTest, CursorKeysCrossTheOctets) {
    Type(QStringLiteral("10.20.30"));
    ASSERT_EQ(FocusedOctet(), 2);
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(field->octet(2)->text(), QString());
    Key(Qt::Key_Backspace);  // at the start of an empty octet: back to the end of the one before
    EXPECT_EQ(FocusedOctet(), 1);
    EXPECT_EQ(field->octet(1)->cursorPosition(), 2);
    Key(Qt::Key_Right);  // at the end: into the next octet
    EXPECT_EQ(FocusedOctet(), 2);
    Key(Qt::Key_Left);  // at the start: to the end of the octet before
    Key(Qt::Key_Left);  // then within it
    EXPECT_EQ(FocusedOctet(), 1);
    EXPECT_EQ(field->octet(1)->cursorPosition(), 1);
    Key(Qt::Key_End);
    EXPECT_EQ(FocusedOctet(), 3);
    Key(Qt::Key_Home);
    EXPECT_EQ(FocusedOctet(), 0);
    EXPECT_EQ(field->octet(0)->cursorPosition(), 0);
}

TEST_F(IpFieldTest, LeavingTheWholeFieldIsReportedOnce) {
    QSignalSpy finished(field, &IpField::editingFinished);
    Type(QStringLiteral("10.1.2"));
    Key(Qt::Key_Home);
    field->octet(3)->setFocus(Qt::MouseFocusReason);  // a click into another octet
    EXPECT_EQ(finished.count(), 0);

    // Another window taking over leaves the focus where it is.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(finished.count(), 0);

    Key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), after);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(field->dottedText(), QStringLiteral("10.1.2.0"));
}

TEST_F(IpFieldTest, TheFieldIsOneTabStop) {
    before->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_Tab);
    EXPECT_EQ(FocusedOctet(), 0);
    Type(QStringLiteral("10.1"));
    ASSERT_EQ(FocusedOctet(), 1);
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), before);
    Key(Qt::Key_Tab);
    Key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), after);
}

TEST_F(IpFieldTest, AddressesFromTextAndFromTheClipboard) {
    struct Case {
        const char* text;
        bool valid;
        std::array<int, 4> fields;
    };
    const Case cases[] = {
        {"192.0.2.10", true, {192, 0, 2, 10}},
        {" 10.0.0.1 ", true, {10, 0, 0, 1}},
        {"256.1.1.1", false, {}},
        {"1.2.3", false, {}},
        {"1.2.3.4.5", false, {}},
        {"a.b.c.d", false, {}},
        {"1..2.3", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        field->setAddress(QStringLiteral("9.9.9.9"));
        field->setAddress(QString::fromLatin1(c.text));
        EXPECT_EQ(field->isBlank(), !c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(field->fields(), c.fields) << c.text;
        }
    }
    field->clear();
    field->octet(0)->setFocus();
    QApplication::clipboard()->setText(QStringLiteral("172.16.5.4"));
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->dottedText(), QStringLiteral("172.16.5.4"));
}

TEST_F(IpFieldTest, ScreenReadersFindTheFieldAndItsOctets) {
    EXPECT_EQ(AccessibleName(field), QStringLiteral("Extra IP"));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(AccessibleName(field->octet(i)), QStringLiteral("Extra IP octet %1").arg(i + 1));
    }
}

}  // namespace
}  // namespace velmor
