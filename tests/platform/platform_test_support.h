// Shared helpers for the platform tests: one offscreen Qt application per test process, a private
// session bus, and waiting on the event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QString>
#include <QThread>

#include <cstdlib>
#include <functional>

namespace velmor::testing {

inline void EnsureQtApp() {
    if (QCoreApplication::instance() != nullptr) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "velmor_platform_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

// Runs the event loop until `done` holds or `ms` passed; returns done().
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// A dbus-daemon of our own, so tests never touch a desktop session's bus.
class PrivateBus {
public:
    PrivateBus() {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--print-address")});
        daemon_.setProcessChannelMode(QProcess::SeparateChannels);
        daemon_.start();
        if (!daemon_.waitForStarted(5000)) return;
        QElapsedTimer t;
        t.start();
        while (!daemon_.canReadLine() && t.elapsed() < 5000)
            daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon_.kill();
        daemon_.waitForFinished(2000);
    }
    bool ok() const { return !address_.isEmpty(); }
    const QString& address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

}  // namespace velmor::testing
