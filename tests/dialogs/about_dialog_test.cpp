// The About box's exact texts and the NDI runtime version taken from the library's text.
#include "dialogs/about_dialog.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace velmor {
namespace {

TEST(AboutDialog, ShowsTheExactTextsAndClosesWithOk) {
    AboutDialog about(QStringLiteral("0.1.0"), QStringLiteral("Dec 2026"),
                      AboutDialog::RuntimeVersion(QStringLiteral("NDI SDK LINUX 5.6.1")));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About NDI® Velmor (Receiver/Transmitter)"));
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("NDI® Velmor v0.1.0,  Dec 2026,  NDI® v5.6.1, x64")))
        << texts.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("NDI® is a registered trademark of Vizrt NDI AB")));

    about.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QPushButton* ok = about.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

TEST(AboutDialog, RuntimeVersionIsTheTextAfterTheLastSpace) {
    struct Case {
        const char* library;
        const char* version;
    };
    for (const Case& c : {Case{"NDI SDK LINUX 5.6.1", "5.6.1"}, Case{"5.0", "5.0"},
                          Case{"Velmor built-in 1.0 ", ""}, Case{"", ""}}) {
        EXPECT_EQ(AboutDialog::RuntimeVersion(QString::fromLatin1(c.library)),
                  QString::fromLatin1(c.version))
            << c.library;
    }
    // A version text with a placeholder in it is shown as it is.
    EXPECT_EQ(
        AboutDialog::FirstLine(QStringLiteral("1.%2"), QStringLiteral("May"), QStringLiteral("6")),
        QStringLiteral("NDI® Velmor v1.%2,  May,  NDI® v6, x64"));
}

}  // namespace
}  // namespace velmor
