// Driving modal windows from widget tests: open one with a click and act inside it while its own
// event loop runs, press controls by their accessible names, answer every message box.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "support/qt_widget_helpers.h"

namespace velmor::testing {

// The control of `window` whose accessible name is `name` (a test failure when there is none).
template <typename T = QWidget>
T* FindNamed(QWidget& window, const QString& name) {
    for (T* w : window.findChildren<T*>()) {
        if (AccessibleName(w) == name) return w;
    }
    ADD_FAILURE() << "no control named " << name.toStdString();
    return nullptr;
}

// Clicks `button`, whose menu opens in a loop of its own, and clicks the entry `text` in it.
inline void PickFromMenu(QAbstractButton* button, const QString& text) {
    ASSERT_NE(button, nullptr);
    QTimer::singleShot(50, [text] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << "the menu is open";
        for (QAction* a : menu->actions()) {
            if (a->text() == text)
                return QTest::mouseClick(menu, Qt::LeftButton, {},
                                         menu->actionGeometry(a).center());
        }
        ADD_FAILURE() << "no entry " << text.toStdString();
        menu->close();
    });
    QTest::mouseClick(button, Qt::LeftButton);
}

// Clicks the button of `window` named `name`.
inline void ClickNamed(QWidget& window, const QString& name) {
    for (auto* b : window.findChildren<QAbstractButton*>()) {
        if (AccessibleName(b) == name) return QTest::mouseClick(b, Qt::LeftButton);
    }
    ADD_FAILURE() << "no control " << name.toStdString();
}

// Clicks `opener`; `inside` runs once a modal `Window` is open (the click returns when it closes).
template <typename Window>
void RunModal(QWidget* opener, const std::function<void(Window&)>& inside) {
    ASSERT_NE(opener, nullptr);
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitFor(
            [] { return qobject_cast<Window*>(QApplication::activeModalWidget()) != nullptr; }));
        inside(*qobject_cast<Window*>(QApplication::activeModalWidget()));
        ran = true;
    });
    QTest::mouseClick(opener, Qt::LeftButton);
    EXPECT_TRUE(ran) << "no window opened";
}

// Answers every message box that opens with OK and keeps its caption and text.
class BoxAnswerer {
public:
    struct Seen {
        QString title, text;
    };
    BoxAnswerer() {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen.push_back({box->windowTitle(), box->text()});
            box->button(QMessageBox::Ok)->click();
        });
        poll_.start(10);
    }
    std::vector<Seen> seen;

private:
    QTimer poll_;
};

}  // namespace velmor::testing
