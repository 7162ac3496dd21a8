#include "app/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

namespace velmor {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

bool HandleQuitSignals(std::function<void()> handler) {
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0) return false;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    auto* notifier =
        new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    auto done = std::make_shared<bool>(false);
    QObject::connect(notifier, &QSocketNotifier::activated, [handler, done] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (*done) return;
        *done = true;
        handler();
    });
    return true;
}

}  // namespace velmor
