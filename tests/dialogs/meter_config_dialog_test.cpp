// The "PPM Config" window driven through its controls: the position label, the sliders' sense,
// and the bits each choice raises for the meter and the video path.
#include "dialogs/meter_config_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <memory>

#include "support/qt_widget_helpers.h"

namespace velmor {
namespace {

using testing::AccessibleName;

class MeterConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.meterPosV = 90;
        settings.meterPosH = 10;
        dialog = std::make_unique<MeterConfigDialog>(settings, link);
        dialog->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    // A click on a radio button or check box, on its indicator (a stretched button is hit only
    // on its indicator and caption).
    void Click(QAbstractButton* b) {
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
    template <class T = QWidget>
    T* Named(const char* name) {
        for (T* w : dialog->findChildren<T*>()) {
            if (AccessibleName(w) == QString::fromUtf8(name)) return w;
        }
        ADD_FAILURE() << "no control named " << name;
        return nullptr;
    }

    MeterSettings settings{};
    MeterLink link;
    std::unique_ptr<MeterConfigDialog> dialog;
};

TEST_F(MeterConfigDialogTest, ThePositionLabelAndTheSlidersSense) {
    EXPECT_EQ(dialog->windowTitle(), "PPM Config");
    EXPECT_NE(Named<QLabel>("+10,+10"), nullptr) << "the start-up values";
    QSlider* vertical = Named<QSlider>("Vertical position");
    QSlider* horizontal = Named<QSlider>("Horizontal position");
    ASSERT_TRUE(vertical && horizontal);
    EXPECT_EQ(vertical->tickInterval(), 10);
    EXPECT_EQ(vertical->maximum(), 100);

    // Pushed up, the vertical slider moves the meter up: a smaller meterPosV.
    vertical->setFocus();
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(vertical, Qt::Key_Up);
    EXPECT_EQ(settings.meterPosV, 85);
    EXPECT_EQ(link.meterChangeFlags, kMeterChangePicture);
    horizontal->setFocus();
    QTest::keyClick(horizontal, Qt::Key_Right);
    EXPECT_EQ(settings.meterPosH, 11);
    EXPECT_NE(Named<QLabel>("+11,+15"), nullptr);
    EXPECT_TRUE(vertical->invertedAppearance()) << "the minimum is drawn at the top";
}

TEST_F(MeterConfigDialogTest, ChoicesRaiseTheirBits) {
    EXPECT_TRUE(Named<QRadioButton>("Normal Mode\nNDI levels using dBu or VU scale")->isChecked());
    EXPECT_TRUE(Named<QRadioButton>("Horizontal")->isChecked());
    Click(Named<QRadioButton>("vMix Mode\nWhen NDI levels are 20dB low"));
    EXPECT_EQ(settings.meterMode, 1);
    EXPECT_EQ(link.meterChangeFlags, kMeterChangeMode);
    Click(Named<QRadioButton>("Vertical"));
    EXPECT_EQ(settings.meterLayout, 1);
    EXPECT_EQ(link.meterChangeFlags, kMeterChangeMode | kMeterChangeLayout);
    Click(Named<QCheckBox>("Separate NDI o/p with alpha"));
    Click(Named<QCheckBox>("Meter overlay on main Velmor o/p"));
    EXPECT_EQ(settings.meterSeparateOutput, 1);
    EXPECT_EQ(settings.meterOnMainOutput, 1);
    EXPECT_NE(Named<QRadioButton>("Audio waveform (WIP)"), nullptr);
    for (const char* text : {"H/V position", "Meter Mode"}) {
        bool found = false;
        for (QWidget* w : dialog->findChildren<QWidget*>())
            found = found || w->property("title").toString() == text;
        EXPECT_TRUE(found) << text;
    }
    bool reference = false;
    for (QLabel* l : dialog->findChildren<QLabel*>())
        reference = reference || l->text() == "SMPTE -20dBFS = 0VU\nEBU -18dBFS = 0dBu";
    EXPECT_TRUE(reference);
    QTest::mouseClick(Named<QPushButton>("OK"), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(MeterConfigDialogTest, EveryControlIsNamedByItsCaptionAndFitsTheWindow) {
    EXPECT_EQ(testing::NamingFaults(*dialog), QStringList());
    EXPECT_EQ(testing::ClippedControls(*dialog, "ppm-config.png"), QStringList());
}

}  // namespace
}  // namespace velmor
