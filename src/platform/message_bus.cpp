// Registered messages over D-Bus; see message_bus.h.
#include "platform/message_bus.h"

#include <QVariant>

#include <atomic>

namespace velmor {

namespace {
struct Entry {
    RegisteredMessage message;
    const char* name;
    const char* member;
};
constexpr Entry kEntries[] = {
    {RegisteredMessage::Instance, "Brelta-NDI-VELMOR", "BreltaNdiVelmor"},
    {RegisteredMessage::SourceFound, "Brelta-NDISM", "BreltaNdism"},
    {RegisteredMessage::GrabFreeze, "Brelta-NDI-VELMOR-FG", "BreltaNdiVelmorFg"},
    {RegisteredMessage::TextBox, "Brelta-NDI-Tamsk", "BreltaNdiTamsk"},
    {RegisteredMessage::DroppedFiles, "Brelta-DF", "BreltaDf"},
};

const Entry& Find(RegisteredMessage message) {
    for (const auto& e : kEntries)
        if (e.message == message) return e;
    return kEntries[0];
}
}  // namespace

const char* RegisteredName(RegisteredMessage message) {
    return Find(message).name;
}
const char* BusMember(RegisteredMessage message) {
    return Find(message).member;
}

std::optional<RegisteredMessage> MessageFromMember(const QString& member) {
    for (const auto& e : kEntries)
        if (member == QLatin1String(e.member)) return e.message;
    return std::nullopt;
}

QDBusMessage MakeRegisteredSignal(RegisteredMessage message, int64_t wParam, int64_t lParam) {
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kBusObjectPath),
                                                     QString::fromLatin1(kBusInterface),
                                                     QString::fromLatin1(BusMember(message)));
    signal << QVariant::fromValue(static_cast<qlonglong>(wParam))
           << QVariant::fromValue(static_cast<qlonglong>(lParam));
    return signal;
}

MessageBus::MessageBus(QObject* parent)
    : QObject(parent), connection_(QStringLiteral("velmor-unconnected")) {}

MessageBus::~MessageBus() {
    if (!connectionName_.isEmpty()) QDBusConnection::disconnectFromBus(connectionName_);
}

bool MessageBus::Connect(const QString& address) {
    if (connected_) return true;
    // A private connection per object, so two buses in one test process stay apart.
    static std::atomic<int> serial{0};
    connectionName_ = QStringLiteral("velmor-bus-%1").arg(serial++);
    connection_ = address.isEmpty()
                      ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
                      : QDBusConnection::connectToBus(address, connectionName_);
    if (!connection_.isConnected()) {
        QDBusConnection::disconnectFromBus(connectionName_);
        connectionName_.clear();
        return false;
    }
    // Member left empty: one match rule for every signal of the interface.
    connected_ = connection_.connect(QString(), QString::fromLatin1(kBusObjectPath),
                                     QString::fromLatin1(kBusInterface), QString(), this,
                                     SLOT(OnSignal(QDBusMessage)));
    return connected_;
}

bool MessageBus::Post(RegisteredMessage message, int64_t wParam, int64_t lParam) {
    if (!connected_) return false;
    return connection_.send(MakeRegisteredSignal(message, wParam, lParam));
}

void MessageBus::AddListener(std::function<void(const BusMessage&)> listener) {
    listeners_.push_back(std::move(listener));
}

void MessageBus::OnSignal(const QDBusMessage& message) {
    // Anyone on the bus can send these: accept only the documented shape.
    const auto kind = MessageFromMember(message.member());
    if (!kind) return;
    const QList<QVariant> args = message.arguments();
    if (args.size() != 2 || message.signature() != QLatin1String("xx")) return;
    BusMessage m{*kind, args[0].toLongLong(), args[1].toLongLong(),
                 message.service() == connection_.baseService()};
    // A listener may add listeners; iterate over a copy.
    const auto listeners = listeners_;
    for (const auto& l : listeners)
        l(m);
}

}  // namespace velmor
