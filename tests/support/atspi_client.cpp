// See atspi_client.h. The AT-SPI D-Bus interfaces used: org.a11y.atspi.Accessible (Name,
// GetRoleName, GetChildren, GetState), org.a11y.atspi.Component (GetExtents) and
// org.a11y.atspi.Action (GetActions, DoAction).
#include "support/atspi_client.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QUuid>

#include <thread>

namespace velmor::test {

namespace {

const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kComponent = QStringLiteral("org.a11y.atspi.Component");
const QString kAction = QStringLiteral("org.a11y.atspi.Action");
constexpr unsigned kScreenCoordinates = 0;
// A window of this program holds a few hundred objects; a walk that goes on far longer is
// looping through a broken tree.
constexpr int kMaxVisited = 5000;

}  // namespace

std::string AtspiClient::BusAddress(const std::string& sessionAddress,
                                    std::chrono::milliseconds limit) {
    const QString name = QStringLiteral("atspi-session-") + QUuid::createUuid().toString();
    std::string address;
    {
        QDBusConnection session =
            QDBusConnection::connectToBus(QString::fromStdString(sessionAddress), name);
        const auto end = std::chrono::steady_clock::now() + limit;
        while (session.isConnected() && address.empty() && std::chrono::steady_clock::now() < end) {
            QDBusMessage call = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                               "org.a11y.Bus", "GetAddress");
            // Only the launcher the caller started: no second one activated by the bus.
            call.setAutoStartService(false);
            const QDBusMessage reply = session.call(call, QDBus::Block, 5000);
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                address = reply.arguments().at(0).toString().toStdString();
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return address;
}

AtspiClient::AtspiClient(const std::string& address)
    : connectionName_(QStringLiteral("atspi-client-") + QUuid::createUuid().toString()),
      bus_(QDBusConnection::connectToBus(QString::fromStdString(address), connectionName_)) {
    if (!bus_.isConnected()) lastError_ = bus_.lastError().message();
}

AtspiClient::~AtspiClient() {
    QDBusConnection::disconnectFromBus(connectionName_);
}

bool AtspiClient::connected() const {
    return bus_.isConnected();
}

QDBusMessage AtspiClient::Call(const Accessible& a, const QString& interface, const QString& method,
                               const QList<QVariant>& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(a.service, a.path, interface, method);
    m.setArguments(args);
    QDBusMessage reply = bus_.call(m, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage)
        lastError_ = method + ": " + reply.errorName() + " " + reply.errorMessage();
    return reply;
}

std::optional<Accessible> AtspiClient::FindApplication(const QString& appName) {
    if (!bus_.isConnected()) return std::nullopt;
    const QDBusReply<QStringList> names = bus_.interface()->registeredServiceNames();
    if (!names.isValid()) {
        lastError_ = names.error().message();
        return std::nullopt;
    }
    for (const QString& name : names.value()) {
        if (!name.startsWith(':') || name == bus_.baseService()) continue;
        const Accessible root{name, kRootPath};
        if (Name(root) == appName) return root;
    }
    return std::nullopt;
}

QString AtspiClient::Name(const Accessible& a) {
    const QDBusMessage reply = Call(a, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kAccessible, QStringLiteral("Name")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().at(0).value<QDBusVariant>().variant().toString();
}

QString AtspiClient::RoleName(const Accessible& a) {
    const QDBusMessage reply = Call(a, kAccessible, QStringLiteral("GetRoleName"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().at(0).toString();
}

std::vector<Accessible> AtspiClient::Children(const Accessible& a) {
    std::vector<Accessible> children;
    const QDBusMessage reply = Call(a, kAccessible, QStringLiteral("GetChildren"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return children;
    const auto list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString service;
        QDBusObjectPath path;
        list.beginStructure();
        list >> service >> path;
        list.endStructure();
        children.push_back({service, path.path()});
    }
    list.endArray();
    return children;
}

bool AtspiClient::HasState(const Accessible& a, AtspiState state) {
    const QDBusMessage reply = Call(a, kAccessible, QStringLiteral("GetState"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    const auto words = qdbus_cast<QList<uint>>(reply.arguments().at(0));
    const auto bit = static_cast<unsigned>(state);
    const qsizetype word = bit / 32;
    return word < words.size() && (words.at(word) >> (bit % 32)) & 1u;
}

QRect AtspiClient::Extents(const Accessible& a) {
    const QDBusMessage reply = Call(a, kComponent, QStringLiteral("GetExtents"),
                                    {QVariant::fromValue(kScreenCoordinates)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    const auto box = reply.arguments().at(0).value<QDBusArgument>();
    int x = 0, y = 0, w = 0, h = 0;
    box.beginStructure();
    box >> x >> y >> w >> h;
    box.endStructure();
    return {x, y, w, h};
}

std::vector<QString> AtspiClient::ActionNames(const Accessible& a) {
    std::vector<QString> names;
    const QDBusMessage reply = Call(a, kAction, QStringLiteral("GetActions"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return names;
    const auto list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString name, description, keyBinding;
        list.beginStructure();
        list >> name >> description >> keyBinding;
        list.endStructure();
        names.push_back(name);
    }
    list.endArray();
    return names;
}

bool AtspiClient::DoAction(const Accessible& a, const QString& action) {
    const std::vector<QString> names = ActionNames(a);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] != action) continue;
        const QDBusMessage reply = Call(a, kAction, QStringLiteral("DoAction"),
                                        {QVariant::fromValue(static_cast<int>(i))});
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
               reply.arguments().at(0).toBool();
    }
    lastError_ = "no action " + action;
    return false;
}

long long AtspiClient::RegistryPid() {
    if (!bus_.isConnected()) return 0;
    const QDBusReply<uint> pid =
        bus_.interface()->servicePid(QStringLiteral("org.a11y.atspi.Registry"));
    return pid.isValid() ? pid.value() : 0;
}

std::string AtspiClient::Describe(const Accessible& from, int maxDepth) {
    std::string text;
    std::vector<std::pair<Accessible, int>> stack{{from, 0}};
    int visited = 0;
    while (!stack.empty() && visited++ < kMaxVisited) {
        const auto [a, depth] = stack.back();
        stack.pop_back();
        text += std::string(static_cast<size_t>(2 * depth), ' ') + RoleName(a).toStdString() +
                " \"" + Name(a).toStdString() + "\"\n";
        if (depth == maxDepth) continue;
        const std::vector<Accessible> children = Children(a);
        for (auto c = children.rbegin(); c != children.rend(); ++c)
            stack.push_back({*c, depth + 1});
    }
    return text;
}

std::optional<Accessible> AtspiClient::Find(const Accessible& from, const Match& match) {
    std::vector<Accessible> stack{from};
    int visited = 0;
    while (!stack.empty() && visited++ < kMaxVisited) {
        const Accessible a = stack.back();
        stack.pop_back();
        if (match(*this, a)) return a;
        std::vector<Accessible> children = Children(a);
        // Pushed in reverse so that the first child is looked at first.
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return std::nullopt;
}

std::optional<Accessible> AtspiClient::Find(const Accessible& from, const QString& role,
                                            const QString& name) {
    return Find(from, [&](AtspiClient& c, const Accessible& a) {
        return c.Name(a) == name && (role.isEmpty() || c.RoleName(a) == role);
    });
}

std::optional<Accessible> AtspiClient::WaitFor(const Accessible& from, const QString& role,
                                               const QString& name,
                                               std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (auto found = Find(from, role, name)) return found;
        if (std::chrono::steady_clock::now() > end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace velmor::test
