// Test stand-in for one Velmor copy on the message bus. It waits until VELMOR_START_AT_MS (epoch
// milliseconds) so that several copies can announce in the same instant, then prints
//   number N        once the instance decision is made, or
//   all-taken       when eight copies already run,
// and afterwards one line per remote command addressed to it: grab, freeze-on, freeze-off,
// "text <utf-8>" and text-hidden. It ends when its standard input closes.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QString>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/instance_numbering.h"
#include "platform/message_bus.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    velmor::MessageBus bus;
    if (!bus.Connect()) std::printf("no-bus\n");
    velmor::InstanceProtocol protocol(&bus, ::getpid());

    QString remoteText;
    bus.AddListener([&](const velmor::BusMessage& m) {
        if (m.message == velmor::RegisteredMessage::GrabFreeze) {
            if (!protocol.decided() || (m.wParam != 0 && m.wParam != protocol.instanceIndex() + 1))
                return;
            if (m.lParam == 1) std::printf("grab\n");
            if (m.lParam == 2) std::printf("freeze-on\n");
            if (m.lParam == 4) std::printf("freeze-off\n");
        } else if (m.message == velmor::RegisteredMessage::TextBox) {
            if (m.wParam == 8) remoteText.clear();
            if (m.wParam == 9) remoteText.append(QChar(static_cast<char16_t>(m.lParam)));
            if (m.wParam == 10) std::printf("text %s\n", remoteText.toUtf8().constData());
            if (m.wParam == 11) std::printf("text-hidden\n");
        }
        std::fflush(stdout);
    });

    if (const char* at = std::getenv("VELMOR_START_AT_MS")) {
        const auto when =
            std::chrono::system_clock::time_point(std::chrono::milliseconds(std::atoll(at)));
        std::this_thread::sleep_until(when);
    }
    protocol.Start([](const velmor::InstanceDecision& d) {
        if (d.allTaken)
            std::printf("all-taken\n");
        else
            std::printf("number %d\n", d.instanceIndex + 1);
        std::fflush(stdout);
    });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) app.quit();
    });
    return app.exec();
}
