// velmor-ctl: remote control of running Velmor copies over the session bus.
//
//   velmor-ctl [--copy N] grab          grab one frame
//   velmor-ctl [--copy N] freeze on|off freeze or release the picture
//   velmor-ctl text TEXT                show TEXT in the text box of every copy
//   velmor-ctl text --clear             hide the text box
//
// N is the copy number 1..8; without --copy every copy acts.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QString>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/message_bus.h"

namespace {

constexpr const char* kUsage =
    "usage: velmor-ctl [--copy N] grab\n"
    "       velmor-ctl [--copy N] freeze on|off\n"
    "       velmor-ctl text TEXT\n"
    "       velmor-ctl text --clear\n"
    "N is the copy number 1 to 8; without --copy every copy acts.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// The long form, for --help and the manual page.
int Help() {
    std::printf(
        "Usage: velmor-ctl [--copy N] COMMAND\n"
        "Sends remote commands to running Velmor copies over the session bus.\n"
        "\n"
        "Commands:\n"
        "  grab                     grab one frame\n"
        "  freeze on|off            freeze or release the picture\n"
        "  text TEXT                show TEXT in the text box of every copy\n"
        "  text --clear             hide the text box\n"
        "\n"
        "Options:\n"
        "  --copy N                 only copy N (1 to 8) acts; without it every copy acts\n"
        "  --help                   show this text\n"
        "\n"
        "Exit status: 0 when the command was sent, 1 without a session bus or when sending\n"
        "failed, 2 for a wrong command line.\n");
    return 0;
}

struct Signal {
    velmor::RegisteredMessage message;
    qint64 wParam;
    qint64 lParam;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Help();

    int copy = 0;
    if (args.size() >= 2 && args[0] == "--copy") {
        const std::string& n = args[1];
        if (n.size() != 1 || n[0] < '1' || n[0] > '8') {
            std::fprintf(stderr, "velmor-ctl: the copy number must be 1 to 8\n");
            return 2;
        }
        copy = n[0] - '0';
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return Usage();

    std::vector<Signal> outgoing;
    using velmor::RegisteredMessage;
    if (args[0] == "grab" && args.size() == 1) {
        outgoing.push_back({RegisteredMessage::GrabFreeze, copy, 1});
    } else if (args[0] == "freeze" && args.size() == 2 && (args[1] == "on" || args[1] == "off")) {
        outgoing.push_back({RegisteredMessage::GrabFreeze, copy, args[1] == "on" ? 2 : 4});
    } else if (args[0] == "text" && args.size() == 2 && copy == 0) {
        if (args[1] == "--clear") {
            outgoing.push_back({RegisteredMessage::TextBox, 11, 0});
        } else {
            // One message per UTF-16 code unit, as the receiving text box stores it.
            const QString text = QString::fromUtf8(args[1].c_str());
            outgoing.push_back({RegisteredMessage::TextBox, 8, 0});
            for (const QChar unit : text)
                outgoing.push_back({RegisteredMessage::TextBox, 9, unit.unicode()});
            outgoing.push_back({RegisteredMessage::TextBox, 10, 0});
        }
    } else {
        return Usage();
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "velmor-ctl: no session bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    for (const Signal& s : outgoing) {
        if (!bus.send(velmor::MakeRegisteredSignal(s.message, s.wParam, s.lParam))) {
            std::fprintf(stderr, "velmor-ctl: sending failed\n");
            return 1;
        }
    }
    // send() only queues; a round trip to the bus daemon guarantees everything before it went out.
    bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
    return 0;
}
