// Helpers of the window tests for what opens modally: the test acts inside a modal window (or
// answers a message box) from a timer, while the code under test waits in the window's exec();
// controls are found and pressed by their accessible names, as a screen reader would.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "support/qt_widget_helpers.h"

namespace velmor::testing {

struct BoxShown {
    QString title, text;
};

// Runs `action`, which opens a modal window of type T, and runs `inside` on that window once it
// is up (once only). `inside` closes it, or leaves that to the code under test.
template <class T>
void WhileModal(const std::function<void()>& action, const std::function<void(T&)>& inside) {
    bool ran = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (window == nullptr || ran) return;
        ran = true;
        poll.stop();
        inside(*window);
    });
    poll.start(10);
    action();
    EXPECT_TRUE(ran) << "the window did not open";
}

// Clicks `opener`; `inside` runs once a modal `T` is open (the click returns when it closes).
template <class T>
void RunModal(QWidget* opener, const std::function<void(T&)>& inside) {
    ASSERT_NE(opener, nullptr);
    WhileModal<T>([opener] { QTest::mouseClick(opener, Qt::LeftButton); }, inside);
}

// Runs `action`, answers the message box it opens with `answer`, returns what the box showed.
inline BoxShown AnswerBox(const std::function<void()>& action, QMessageBox::StandardButton answer) {
    BoxShown seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        seen = {box->windowTitle(), box->text()};
        box->button(answer)->click();
    });
    poll.start(10);
    action();
    return seen;
}

// Answers every message box that opens while it lives with OK, and keeps what each showed.
class BoxAnswerer {
public:
    BoxAnswerer() {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen.push_back({box->windowTitle(), box->text()});
            box->button(QMessageBox::Ok)->click();
        });
        poll_.start(10);
    }
    std::vector<BoxShown> seen;

private:
    QTimer poll_;
};

// The control of `window` whose accessible name is `name` (a test failure when there is none).
template <typename T = QWidget>
T* FindNamed(QWidget& window, const QString& name) {
    for (T* w : window.findChildren<T*>()) {
        if (AccessibleName(w) == name) return w;
    }
    ADD_FAILURE() << "no control named " << name.toStdString();
    return nullptr;
}

// Clicks the button of `window` named `name`.
inline void ClickNamed(QWidget& window, const QString& name) {
    if (auto* b = FindNamed<QAbstractButton>(window, name)) QTest::mouseClick(b, Qt::LeftButton);
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

}  // namespace velmor::testing
