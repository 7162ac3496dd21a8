// Helpers of the window tests for what opens modally: the test acts inside a modal window (or
// answers a message box) from a timer, while the code under test waits in the window's exec().
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <functional>

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

}  // namespace velmor::testing
