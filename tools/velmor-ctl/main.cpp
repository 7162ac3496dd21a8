// velmor-ctl: remote control of running Velmor copies, over the session bus or, with --url, over
// a copy's HTTP API (velmor --http).
//
//   velmor-ctl [--copy N] grab          grab one frame
//   velmor-ctl [--copy N] freeze on|off freeze or release the picture
//   velmor-ctl text TEXT                show TEXT in the text box of every copy
//   velmor-ctl text --clear             hide the text box
//
// N is the copy number 1..8; without --copy every copy acts. Over HTTP the URL names one copy,
// and status, sources, connect NAME, disconnect and metrics are there too.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/message_bus.h"

namespace {

constexpr const char* kUsage =
    "usage: velmor-ctl [--copy N] grab\n"
    "       velmor-ctl [--copy N] freeze on|off\n"
    "       velmor-ctl text TEXT\n"
    "       velmor-ctl text --clear\n"
    "       velmor-ctl --url URL [--token-file FILE] COMMAND\n"
    "N is the copy number 1 to 8; without --copy every copy acts.\n"
    "Over HTTP, COMMAND is status, sources, connect NAME, disconnect, freeze on|off, grab,\n"
    "text TEXT, text --clear, settings, set NAME=VALUE... or metrics.\n";

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
        "Over HTTP (--url) also:\n"
        "  status                   what the copy shows, with its counters (JSON)\n"
        "  sources                  the sources its picker lists (JSON)\n"
        "  connect NAME             connect to the listed source NAME\n"
        "  disconnect               end the connection\n"
        "  settings                 the operator settings by name (JSON)\n"
        "  set NAME=VALUE...        change settings together, e.g. set rotation=1\n"
        "                           procAmp.gain=20 audio.channelMap=[1,0] (VALUE is JSON)\n"
        "  metrics                  the Prometheus metrics\n"
        "\n"
        "Options:\n"
        "  --copy N                 only copy N (1 to 8) acts; without it every copy acts\n"
        "  --url URL                talk to the copy whose control page is at URL (e.g.\n"
        "                           http://127.0.0.1:8080/) instead of the session bus\n"
        "  --token-file FILE        the copy's access token (default with --url:\n"
        "                           $XDG_RUNTIME_DIR/velmor/http-token-N, N from --copy or 1)\n"
        "  --help                   show this text\n"
        "\n"
        "Over HTTP the answer's JSON is printed on standard output (a grab's names the file\n"
        "written), and an error's message on standard error.\n"
        "\n"
        "Exit status: 0 when the command was sent (over HTTP: answered with success), 1 without\n"
        "a session bus, when sending failed or when Velmor refused (HTTP 4xx or 5xx), 2 for a\n"
        "wrong command line.\n");
    return 0;
}

struct Signal {
    velmor::RegisteredMessage message;
    qint64 wParam;
    qint64 lParam;
};

// The first line of the token file, without surrounding blanks; empty when it cannot be read.
std::string ReadToken(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    const size_t first = line.find_first_not_of(" \t\r");
    const size_t last = line.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

// One request to the copy's HTTP API; prints the answer and returns the exit status.
int OverHttp(const std::string& url, const std::string& token, const std::vector<std::string>& a) {
    QString method = "POST", path;
    QJsonObject body;
    bool hasBody = false;
    if (a.size() == 1 &&
        (a[0] == "status" || a[0] == "sources" || a[0] == "settings" || a[0] == "metrics")) {
        method = "GET";
        path = a[0] == "metrics" ? "metrics" : "api/v1/" + QString::fromStdString(a[0]);
    } else if (a.size() >= 2 && a[0] == "set") {
        method = "PATCH";
        path = "api/v1/settings";
        for (size_t i = 1; i < a.size(); ++i) {
            const size_t equals = a[i].find('=');
            // The value is JSON: a number, true or false, or an array.
            const QJsonDocument value = QJsonDocument::fromJson(
                QByteArray("[") + QByteArray::fromStdString(a[i].substr(equals + 1)) + "]");
            if (equals == std::string::npos || equals == 0 || !value.isArray() ||
                value.array().size() != 1) {
                std::fprintf(stderr, "velmor-ctl: \"%s\" is not NAME=VALUE\n", a[i].c_str());
                return 2;
            }
            body[QString::fromStdString(a[i].substr(0, equals))] = value.array().at(0);
        }
        hasBody = true;
    } else if (a.size() == 2 && a[0] == "connect") {
        path = "api/v1/connect";
        body["source"] = QString::fromStdString(a[1]);
        hasBody = true;
    } else if (a.size() == 1 && (a[0] == "disconnect" || a[0] == "grab")) {
        path = "api/v1/" + QString::fromStdString(a[0]);
    } else if (a.size() == 2 && a[0] == "freeze" && (a[1] == "on" || a[1] == "off")) {
        path = "api/v1/freeze";
        body["on"] = a[1] == "on";
        hasBody = true;
    } else if (a.size() == 2 && a[0] == "text") {
        path = "api/v1/text";
        if (a[1] == "--clear") {
            method = "DELETE";
        } else {
            body["text"] = QString::fromStdString(a[1]);
            hasBody = true;
        }
    } else {
        return Usage();
    }
    QUrl base(QString::fromStdString(url));
    if (!base.isValid() || (base.scheme() != "http" && base.scheme() != "https")) {
        std::fprintf(stderr, "velmor-ctl: --url must be an http:// address\n");
        return 2;
    }
    if (!base.path().endsWith('/')) base.setPath(base.path() + '/');
    QNetworkRequest request(base.resolved(QUrl(path)));
    request.setRawHeader("Authorization", QByteArray("Bearer ") + token.c_str());
    request.setTransferTimeout(15000);
    QByteArray payload;
    if (hasBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        payload = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    QNetworkAccessManager network;
    QNetworkReply* reply = network.sendCustomRequest(request, method.toLatin1(), payload);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    if (status == 0) {
        std::fprintf(stderr, "velmor-ctl: %s\n", qPrintable(reply->errorString()));
        return 1;
    }
    if (status >= 200 && status < 300) {
        std::fwrite(answer.constData(), 1, static_cast<size_t>(answer.size()), stdout);
        if (!answer.endsWith('\n')) std::fputc('\n', stdout);
        return 0;
    }
    const QJsonObject error = QJsonDocument::fromJson(answer).object();
    const QString field = error.contains("field") ? error["field"].toString() + ": " : QString();
    std::fprintf(
        stderr, "velmor-ctl: %d: %s%s\n", status, qPrintable(field),
        error.contains("error") ? qPrintable(error["error"].toString()) : answer.constData());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Help();

    int copy = 0;
    std::string url, tokenFile;
    while (args.size() >= 2 &&
           (args[0] == "--copy" || args[0] == "--url" || args[0] == "--token-file")) {
        const std::string& value = args[1];
        if (args[0] == "--copy") {
            if (value.size() != 1 || value[0] < '1' || value[0] > '8') {
                std::fprintf(stderr, "velmor-ctl: the copy number must be 1 to 8\n");
                return 2;
            }
            copy = value[0] - '0';
        } else if (args[0] == "--url") {
            url = value;
        } else {
            tokenFile = value;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return Usage();
    if (!url.empty()) {
        if (tokenFile.empty()) {
            const char* runtime = std::getenv("XDG_RUNTIME_DIR");
            tokenFile = std::string(runtime ? runtime : "") + "/velmor/http-token-" +
                        std::to_string(copy == 0 ? 1 : copy);
        }
        const std::string token = ReadToken(tokenFile);
        if (token.empty()) {
            std::fprintf(stderr, "velmor-ctl: no token in %s (--token-file FILE)\n",
                         tokenFile.c_str());
            return 2;
        }
        return OverHttp(url, token, args);
    }
    if (!tokenFile.empty()) return Usage();

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
