// The proc amp window driven through its controls, offscreen: slider moves and label clicks,
// linking, the presets and their colours, Reset, Cancel, the monitor and the preset files with
// their exact messages.
#include "dialogs/proc_amp_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "persist/preset_file.h"
#include "support/qt_widget_helpers.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"
#include "video/preview_render.h"
#include "widgets/colour_button.h"
#include "widgets/preview_box.h"

namespace velmor {
namespace {

using P = ProcAmpParam;
using testing::AccessibleName;
using testing::ShownMessage;

class ProcAmpDialogTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void Open() {
        dialog.reset();
        dialog = std::make_unique<ProcAmpDialog>(state, renderer, notifier);
        dialog->saveFolder = dir.path().string();
        dialog->pickFile = [this] { return pickAnswer; };
        dialog->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    // The control whose accessible name is `name` (the first one, in creation order).
    template <class T = QWidget>
    T* Named(const QString& name) {
        for (T* w : dialog->findChildren<T*>()) {
            if (AccessibleName(w) == name) return w;
        }
        ADD_FAILURE() << "no control named " << name.toStdString();
        return nullptr;
    }
    QSlider* Slider(const char* caption) { return Named<QSlider>(QString::fromUtf8(caption)); }
    // The value label under a slider.
    QPushButton* Label(int column) {
        std::vector<QPushButton*> flat;
        for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
            if (b->isFlat()) flat.push_back(b);
        }
        return flat.at(static_cast<size_t>(column));
    }
    std::vector<int> PresetColours() {
        std::vector<int> c;
        for (int n = 1; n <= 6; ++n)
            c.push_back(PresetAt(n - 1)->state());
        return c;
    }
    // Preset buttons by slot, whatever their captions are now.
    CColButton* PresetAt(int slot) {
        std::vector<CColButton*> presets;
        for (CColButton* b : dialog->findChildren<CColButton*>()) {
            if (b->accessibleDescription() == "current" || b->accessibleDescription() == "stored" ||
                b->accessibleDescription() == "neutral")
                presets.push_back(b);
        }
        return presets.at(static_cast<size_t>(slot));
    }
    QPushButton* Store(int slot) {
        std::vector<QPushButton*> stores;
        for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
            if (b->text() == ">") stores.push_back(b);
        }
        return stores.at(static_cast<size_t>(slot));
    }
    // `times` presses of `key` on a slider, as an operator at the keyboard.
    void Press(Qt::Key key, int times, QSlider* slider) {
        slider->setFocus();
        for (int i = 0; i < times; ++i)
            QTest::keyClick(slider, key);
    }
    void Click(const QString& name) {
        QTest::mouseClick(Named<QAbstractButton>(name), Qt::LeftButton);
    }

    testing::TempDir dir;
    ProcAmpState state;
    PreviewRenderer renderer;
    testing::RecordingNotifier notifier;
    std::unique_ptr<ProcAmpDialog> dialog;
    QString pickAnswer;
};

TEST_F(ProcAmpDialogTest, ASliderMoveChangesItsLabelAndThePublishedTables) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Korvo Velmor NDI® ProcAmp"));
    EXPECT_EQ(dialog->size(), QSize(678, 348));
    QSlider* gain = Slider("Gain");
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(gain->minimum(), -50);
    EXPECT_EQ(gain->maximum(), 50);
    EXPECT_EQ(gain->tickInterval(), 10);
    EXPECT_EQ(Slider("U Level Shift")->singleStep(), 2);
    EXPECT_EQ(Slider("Contrast")->maximum(), 255);
    EXPECT_EQ(Label(1)->text(), "100.0%");

    // Up moves the handle up, towards the minimum at the top: more gain.
    Press(Qt::Key_Up, 10, gain);
    EXPECT_EQ(gain->value(), 40);
    EXPECT_EQ(state.settings.gain, 40);
    EXPECT_EQ(Label(1)->text(), "111.7%");
    EXPECT_EQ(AccessibleName(Label(1)), "111.7%");
    ProcAmpTables expected;
    FullRebuild(expected, state.settings);
    const ProcAmpByteTables* published = state.AcquireTables();
    EXPECT_EQ(std::memcmp(published->lumaTable, expected.lumaTable, 256), 0);
    EXPECT_NE(published->lumaTable[200], 200);
    EXPECT_EQ(state.active, 1);
}

TEST_F(ProcAmpDialogTest, ALabelClickResetsToFiftyAndWithStandardLinkingTheLinkedShift) {
    Click("Standard");
    EXPECT_EQ(state.settings.uvLinking, 1);
    QSlider* u = Slider("U Level Shift");
    QSlider* v = Slider("V Level Shift");
    Press(Qt::Key_Down, 5, u);  // steps of 2
    EXPECT_EQ(u->value(), 60);
    EXPECT_EQ(v->value(), 60) << "the linked slider follows";
    EXPECT_EQ(Label(5)->text(), "-5");
    EXPECT_EQ(Label(6)->text(), "+5");

    QTest::mouseClick(Label(5), Qt::LeftButton);
    EXPECT_EQ(state.settings.uLevelShift, 50);
    EXPECT_EQ(state.settings.vLevelShift, 50);
    EXPECT_EQ(v->value(), 50);
    EXPECT_EQ(Label(6)->text(), "+0");
    EXPECT_EQ(state.active, 0);
}

TEST_F(ProcAmpDialogTest, StoreIntoSlotThreeThenRecallIt) {
    EXPECT_EQ(PresetColours(), (std::vector<int>{2, 3, 3, 3, 3, 3}));
    Press(Qt::Key_Up, 20, Slider("Gain"));
    QLineEdit* name = Named<QLineEdit>("Preset Name");
    ASSERT_NE(name, nullptr);
    QTest::keyClicks(name, "Bright");
    QTest::mouseClick(Store(2), Qt::LeftButton);
    EXPECT_EQ(PresetColours(), (std::vector<int>{2, 3, 5, 3, 3, 3}));
    EXPECT_EQ(PresetAt(2)->text(), "Bright");
    EXPECT_EQ(AccessibleName(PresetAt(2)), "Bright");
    EXPECT_EQ(state.presets[2].gain, 30);

    QTest::mouseClick(Label(1), Qt::LeftButton);  // gain back to neutral
    QTest::mouseClick(PresetAt(2), Qt::LeftButton);
    EXPECT_EQ(PresetColours(), (std::vector<int>{3, 3, 2, 3, 3, 3}));
    EXPECT_EQ(state.currentPreset, 2);
    EXPECT_EQ(Slider("Gain")->value(), 30);
    EXPECT_EQ(name->text(), "Bright");

    // Losing the focus captions the current button with the typed name.
    name->setFocus();
    QTest::keyClicks(name, " 2");
    Slider("Gamma")->setFocus();
    EXPECT_EQ(PresetAt(2)->text(), "Bright 2");
}

TEST_F(ProcAmpDialogTest, CancelAfterARecallBringsBackTheStateFromBeforeOpening) {
    dialog.reset();
    state.settings.contrast = 80;
    state.presetName = "Before";
    state.presets[4].reserved0 = 50;
    state.presets[4].gain = -40;
    state.presets[4].blackLevel = state.presets[4].contrast = state.presets[4].gamma = 50;
    state.presets[4].colourSat = state.presets[4].uLevelShift = state.presets[4].vLevelShift = 50;
    Open();
    const ProcAmpSettings before = state.settings;
    QTest::mouseClick(PresetAt(4), Qt::LeftButton);
    EXPECT_EQ(state.settings.gain, -40);
    Click("Apply to o/p");
    EXPECT_EQ(state.applyToOutput, 1);
    Click("Cancel");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(state.settings, before);
    EXPECT_EQ(state.presetName, "Before");
    EXPECT_EQ(state.applyToOutput, 0);
    ProcAmpTables expected;
    FullRebuild(expected, before);
    EXPECT_EQ(std::memcmp(state.AcquireTables()->lumaTable, expected.lumaTable, 256), 0);

    // OK keeps what the window did.
    Open();
    QTest::mouseClick(PresetAt(4), Qt::LeftButton);
    Click("OK");
    EXPECT_EQ(state.settings.gain, -40);
}

TEST_F(ProcAmpDialogTest, ResetRunsInTheDesignsOrder) {
    Press(Qt::Key_Up, 3, Slider("Black Level"));
    Press(Qt::Key_Down, 3, Slider("V Level Shift"));
    std::vector<P> order;
    auto show = dialog->model().onParamChanged;
    dialog->model().onParamChanged = [&](P p) {
        order.push_back(p);
        show(p);
    };
    Click("Reset");
    EXPECT_EQ(order, (std::vector<P>{P::kBlackLevel, P::kGain, P::kContrast, P::kGamma,
                                     P::kColourSat, P::kULevel, P::kVLevel}));
    EXPECT_EQ(state.settings, ProcAmpSettings{});
    EXPECT_EQ(Slider("Black Level")->value(), 50);
    EXPECT_EQ(Label(0)->text(), "+0");
    EXPECT_TRUE(Named<QRadioButton>("Off")->isChecked());
}

TEST_F(ProcAmpDialogTest, PresetFilesWithTheirMessages) {
    Press(Qt::Key_Up, 20, Slider("Gain"));
    QTest::keyClicks(Named<QLineEdit>("Preset Name"), "My Warm Look");
    Click("Save");
    const std::string saved = dir.File("MyWarmLook.pap");
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0], (ShownMessage{"MyWarmLook.pap\n\nPreset file saved", "Save File",
                                               MessageButtons::Ok}));
    EXPECT_EQ(testing::ReadBytes(saved).size(), kPresetFileSize);

    // A short file and a wrong magic: their messages, nothing changed.
    std::vector<unsigned char> bytes = testing::ReadBytes(saved);
    testing::WriteBytes(dir.File("short.pap"), {bytes.begin(), bytes.begin() + 300});
    bytes[0] = 'X';
    testing::WriteBytes(dir.File("magic.pap"), bytes);
    QTest::mouseClick(Label(1), Qt::LeftButton);
    notifier.shown.clear();
    for (const char* file : {"short.pap", "magic.pap"}) {
        pickAnswer = QString::fromStdString(dir.File(file));
        Click("Load");
    }
    EXPECT_EQ(notifier.shown,
              (std::vector<ShownMessage>{
                  {"Something went wrong - file too small", "Load Preset", MessageButtons::Ok},
                  {"Unrecognised file type", "LoadPreset", MessageButtons::Ok}}));
    EXPECT_EQ(state.settings.gain, 50);

    // The saved file loads into the current slot; its values outside the sliders' ranges are
    // shown as the ends they were limited to.
    bytes[0] = 'Q';
    int16_t contrast = 999;
    std::memcpy(bytes.data() + 8 + 6, &contrast, 2);
    testing::WriteBytes(dir.File("wide.pap"), bytes);
    pickAnswer = QString::fromStdString(dir.File("wide.pap"));
    Click("Load");
    EXPECT_EQ(state.settings.gain, 30);
    EXPECT_EQ(Slider("Gain")->value(), 30);
    EXPECT_EQ(Slider("Contrast")->value(), 255);
    EXPECT_EQ(Label(2)->text(), "-205");
    EXPECT_EQ(PresetAt(0)->text(), "My Warm Look");
    EXPECT_EQ(Named<QLineEdit>("Preset Name")->text(), "My Warm Look");

    // A file window that was cancelled does nothing.
    notifier.shown.clear();
    pickAnswer.clear();
    Click("Load");
    EXPECT_TRUE(notifier.shown.empty());
}

TEST_F(ProcAmpDialogTest, MonitorWaveformBypassAndEffectOrder) {
    VidBox* monitor = dialog->monitor();
    EXPECT_FALSE(monitor->isVisible());
    Click("Monitor");
    EXPECT_EQ(dialog->size(), QSize(678, 722));
    EXPECT_TRUE(monitor->isVisible());
    EXPECT_EQ(monitor->size(), QSize(640, 360));
    EXPECT_EQ(state.monitorPreview, 1);
    EXPECT_EQ(Named<CColButton>("Monitor")->state(), 4);
    Click("WFM");
    EXPECT_EQ(renderer.waveformOn, 1);
    EXPECT_EQ(Named<CColButton>("WFM")->state(), 2);
    // A click near the monitor's left edge switches the graticule between percent and volts.
    EXPECT_EQ(renderer.graticuleType, 1);
    QTest::mouseClick(monitor, Qt::LeftButton, {}, QPoint(20, 100));
    EXPECT_EQ(renderer.graticuleType, 0);
    QTest::mouseClick(monitor, Qt::LeftButton, {}, QPoint(300, 100));
    EXPECT_EQ(renderer.graticuleType, 0);
    Click("Monitor");
    EXPECT_EQ(dialog->size(), QSize(678, 348));
    EXPECT_EQ(state.monitorPreview, 0);

    // Temp Bypass: uncorrected while held.
    Press(Qt::Key_Up, 5, Slider("Gamma"));
    CColButton* bypass = Named<CColButton>("Temp Bypass");
    EXPECT_EQ(bypass->state(), 2);
    QTest::mousePress(bypass, Qt::LeftButton);
    EXPECT_EQ(bypass->state(), 1);
    EXPECT_EQ(state.active, 0);
    QTest::mouseRelease(bypass, Qt::LeftButton);
    EXPECT_EQ(bypass->state(), 2);
    EXPECT_EQ(state.active, 1);

    // The effect order menu: its caption shows the choice.
    auto* fx = Named<QPushButton>("Levels > Contrast > Gamma");
    ASSERT_NE(fx, nullptr);
    QList<QAction*> items = fx->menu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(fx->menu()->title(), "FX Order");
    items[1]->trigger();
    EXPECT_EQ(state.settings.fxOrder, 1);
    EXPECT_EQ(fx->text(), "Levels > Gamma > Contrast");
    EXPECT_EQ(AccessibleName(fx), "Levels > Gamma > Contrast");
}

TEST_F(ProcAmpDialogTest, AlphaModeAndEveryControlNamedByItsCaption) {
    dialog.reset();
    state.alphaMode = 1;
    Open();
    const QStringList captions = {"Alpha Level",
                                  "Gain",
                                  "Contrast",
                                  "Gamma",
                                  "Colour Sat",
                                  "U Level Shift",
                                  "V Level Shift",
                                  "Off",
                                  "Standard",
                                  "Reversed",
                                  "Levels > Contrast > Gamma",
                                  "Temp Bypass",
                                  "Apply to o/p",
                                  "Monitor",
                                  "WFM",
                                  "Reset",
                                  "Preset 1",
                                  "Preset 6",
                                  ">",
                                  "Preset Name",
                                  "Load",
                                  "Save",
                                  "OK",
                                  "Cancel",
                                  "+0",
                                  "100.0%"};
    for (const QString& caption : captions)
        EXPECT_NE(Named(caption), nullptr) << caption.toStdString();
    EXPECT_EQ(testing::NamingFaults(*dialog), QStringList());
    EXPECT_EQ(state.monitorPreview, 0) << "the monitor was off when the window opened";
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// At its fixed sizes every control of the window lies inside it, captions uncut.
TEST_F(ProcAmpDialogTest, EveryControlFitsTheWindowAtBothSizes) {
    EXPECT_EQ(testing::ClippedControls(*dialog, "procamp.png"), QStringList());
    Click("Monitor");
    EXPECT_EQ(testing::ClippedControls(*dialog, "procamp-monitor.png"), QStringList());
}

}  // namespace
}  // namespace velmor
