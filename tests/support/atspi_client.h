// A small AT-SPI client over QtDBus: what a screen reader or a test robot does with the desktop's
// accessibility bus. It finds an application's objects by role and accessible name, reads their
// names, states and screen positions, and runs their actions, all from outside the process.
#pragma once

#include <QDBusConnection>
#include <QRect>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmor::test {

// One object of an application's accessibility tree: the application's bus name and the path.
struct Accessible {
    QString service;
    QString path;
    bool operator==(const Accessible&) const = default;
};

// The AT-SPI states the tests look at (numbers of AtspiStateType).
enum class AtspiState : unsigned {
    Checked = 4,
    Enabled = 8,
    Focused = 12,
    Showing = 25,
    Visible = 30,
};

class AtspiClient {
public:
    // The address of the accessibility bus that the session bus at `sessionAddress` announces
    // (org.a11y.Bus, served by at-spi-bus-launcher), waiting up to `limit` for the service;
    // empty when there is none.
    static std::string BusAddress(const std::string& sessionAddress,
                                  std::chrono::milliseconds limit);

    // Connects to the accessibility bus at `address`.
    explicit AtspiClient(const std::string& address);
    ~AtspiClient();
    AtspiClient(const AtspiClient&) = delete;
    AtspiClient& operator=(const AtspiClient&) = delete;

    bool connected() const;
    QString lastError() const { return lastError_; }

    // The root object of the first application on the bus whose root is named `appName` (the
    // application name a Qt program registers), or nothing.
    std::optional<Accessible> FindApplication(const QString& appName);

    QString Name(const Accessible& a);
    QString RoleName(const Accessible& a);  // "push button", "check box", "combo box", ...
    std::vector<Accessible> Children(const Accessible& a);
    bool HasState(const Accessible& a, AtspiState state);
    // Screen rectangle of the object (Component interface); empty when it has none.
    QRect Extents(const Accessible& a);
    // The names of the object's actions ("Press", "Toggle", "ShowMenu", "SetFocus", ...).
    std::vector<QString> ActionNames(const Accessible& a);
    // Runs the action named `action`; false when there is no such action or it failed.
    bool DoAction(const Accessible& a, const QString& action);

    // Depth-first search below `from` (itself included) for the first object that matches.
    using Match = std::function<bool(AtspiClient&, const Accessible&)>;
    std::optional<Accessible> Find(const Accessible& from, const Match& match);
    // Shorthands: by role and accessible name, or by role alone.
    std::optional<Accessible> Find(const Accessible& from, const QString& role,
                                   const QString& name);
    // The process id of the AT-SPI registry daemon on this bus (started by the bus on first
    // use), or 0.
    long long RegistryPid();

    // The tree below `from` as indented lines of role and name, for failure messages.
    std::string Describe(const Accessible& from, int maxDepth = 12);

    // Waits up to `limit` for Find(from, role, name) to succeed.
    std::optional<Accessible> WaitFor(const Accessible& from, const QString& role,
                                      const QString& name, std::chrono::milliseconds limit);

private:
    QDBusMessage Call(const Accessible& a, const QString& interface, const QString& method,
                      const QList<QVariant>& args = {});

    QString connectionName_;
    QDBusConnection bus_;
    QString lastError_;
};

}  // namespace velmor::test
