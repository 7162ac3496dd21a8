// The registered messages between Velmor copies and from other programs, carried as D-Bus signals
// on the session bus. Every message keeps the two numbers of a window message (wParam, lParam).
//
//   object path  /org/velmor/Velmor
//   interface    org.velmor.Registered
//   members      BreltaNdiVelmor, BreltaNdism, BreltaNdiVelmorFg, BreltaNdiTamsk, BreltaDf
//   arguments    int64 wParam, int64 lParam
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace velmor {

enum class RegisteredMessage {
    Instance,      // "Brelta-NDI-VELMOR": instance protocol (2 announce, 3 reply)
    SourceFound,   // "Brelta-NDISM": the sought source was found (lParam = list index)
    GrabFreeze,    // "Brelta-NDI-VELMOR-FG": remote grab and freeze (wParam copy, lParam command)
    TextBox,       // "Brelta-NDI-Tamsk": remote text box (8 clear, 9 append unit, 10 show, 11 hide)
    DroppedFiles,  // "Brelta-DF": files dropped on the preview
};

inline constexpr const char* kBusObjectPath = "/org/velmor/Velmor";
inline constexpr const char* kBusInterface = "org.velmor.Registered";
inline constexpr const char* kRemoteControlUnavailableText =
    "Remote control is unavailable: no session message bus";

const char* RegisteredName(RegisteredMessage message);  // the registered window-message name
const char* BusMember(RegisteredMessage message);       // the D-Bus signal member
std::optional<RegisteredMessage> MessageFromMember(const QString& member);

struct BusMessage {
    RegisteredMessage message;
    int64_t wParam;
    int64_t lParam;
    bool fromSelf;  // posted by this process's own connection
};

// Builds the signal for `message`; also used by velmor-ctl.
QDBusMessage MakeRegisteredSignal(RegisteredMessage message, int64_t wParam, int64_t lParam);

// One per process, living on the window thread: the handlers run there in arrival order.
class MessageBus : public QObject {
    Q_OBJECT
public:
    explicit MessageBus(QObject* parent = nullptr);
    ~MessageBus() override;

    // Joins the session bus (or the bus at `address`, for tests). False when no bus is reachable;
    // the copy then runs without remote control.
    bool Connect(const QString& address = QString());
    bool IsConnected() const { return connected_; }

    // Broadcast to every copy, this one included. False when not connected or the send failed.
    bool Post(RegisteredMessage message, int64_t wParam, int64_t lParam);

    void AddListener(std::function<void(const BusMessage&)> listener);

private slots:
    void OnSignal(const QDBusMessage& message);

private:
    QDBusConnection connection_;
    QString connectionName_;
    bool connected_ = false;
    std::vector<std::function<void(const BusMessage&)>> listeners_;
};

}  // namespace velmor
