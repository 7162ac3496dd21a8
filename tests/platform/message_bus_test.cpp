// Registered messages over a private D-Bus daemon, the lock-file numbering, and whole copies
// (separate processes) numbering themselves and obeying velmor-ctl.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <set>

#include "platform/instance_numbering.h"
#include "platform/message_bus.h"
#include "platform_test_support.h"

namespace velmor {
namespace {

using testing::EnsureQtApp;
using testing::PrivateBus;
using testing::WaitFor;

// Points the lock files (which live beside the transport's announcements) at a fresh folder for
// the test's lifetime.
class RuntimeDir {
public:
    RuntimeDir() {
        const char* old = std::getenv("VELMOR_NDI_DIR");
        if (old != nullptr) saved_ = old, hadOld_ = true;
        ::setenv("VELMOR_NDI_DIR", dir_.path().toUtf8().constData(), 1);
    }
    ~RuntimeDir() {
        if (hadOld_)
            ::setenv("VELMOR_NDI_DIR", saved_.c_str(), 1);
        else
            ::unsetenv("VELMOR_NDI_DIR");
    }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    std::string saved_;
    bool hadOld_ = false;
};

TEST(MessageBus, SignalsReachEveryCopyIncludingTheSenderAndMalformedOnesAreDropped) {
    EnsureQtApp();
    PrivateBus daemon;
    if (!daemon.ok()) GTEST_SKIP() << "dbus-daemon could not start";
    MessageBus a, b;
    ASSERT_TRUE(a.Connect(daemon.address()));
    ASSERT_TRUE(b.Connect(daemon.address()));
    std::vector<BusMessage> atA, atB;
    a.AddListener([&](const BusMessage& m) { atA.push_back(m); });
    b.AddListener([&](const BusMessage& m) { atB.push_back(m); });

    // Wrong argument types: dropped. Unknown member: dropped.
    QDBusConnection raw = QDBusConnection::connectToBus(daemon.address(), QStringLiteral("raw"));
    QDBusMessage bad = QDBusMessage::createSignal(kBusObjectPath, kBusInterface, "BreltaNdiTamsk");
    bad << QStringLiteral("x") << 1;
    raw.send(bad);
    QDBusMessage unknown = QDBusMessage::createSignal(kBusObjectPath, kBusInterface, "Nope");
    unknown << qlonglong(1) << qlonglong(2);
    raw.send(unknown);

    ASSERT_TRUE(a.Post(RegisteredMessage::GrabFreeze, 2, 4));
    ASSERT_TRUE(WaitFor([&] { return !atA.empty() && !atB.empty(); }));
    WaitFor([] { return false; }, 100);  // let anything else arrive
    QDBusConnection::disconnectFromBus(QStringLiteral("raw"));

    ASSERT_EQ(atB.size(), 1u);
    EXPECT_EQ(atB[0].message, RegisteredMessage::GrabFreeze);
    EXPECT_EQ(atB[0].wParam, 2);
    EXPECT_EQ(atB[0].lParam, 4);
    EXPECT_FALSE(atB[0].fromSelf);
    ASSERT_EQ(atA.size(), 1u);
    EXPECT_TRUE(atA[0].fromSelf);
}

TEST(MessageBus, WithoutABusConnectFailsAndPostIsRefused) {
    EnsureQtApp();
    MessageBus bus;
    EXPECT_FALSE(bus.Connect(QStringLiteral("unix:path=/nonexistent/velmor-bus")));
    EXPECT_FALSE(bus.Post(RegisteredMessage::Instance, 2, 1));
}

TEST(InstanceNumbering, LocksAloneGiveTheLowestFreeNumberAndEightTakenAsksToExit) {
    EnsureQtApp();
    RuntimeDir runtime;
    // Copies 1 and 3 run (their locks are held): a new copy takes 2.
    InstanceLock one = InstanceLock::TryClaim(0);
    InstanceLock three = InstanceLock::TryClaim(2);
    ASSERT_TRUE(one.held());
    ASSERT_TRUE(three.held());
    EXPECT_FALSE(InstanceLock::TryClaim(0).held());  // exclusive, also within one process

    InstanceProtocol second(nullptr, 1001);
    InstanceDecision d = second.Decide();
    EXPECT_FALSE(d.allTaken);
    EXPECT_EQ(d.instanceIndex, 1);
    EXPECT_TRUE(d.locked);

    std::vector<InstanceLock> rest;
    for (int i = 3; i < kMaxInstances; ++i)
        rest.push_back(InstanceLock::TryClaim(i));
    InstanceProtocol ninth(nullptr, 1002);
    EXPECT_TRUE(ninth.Decide().allTaken);

    // A copy that ends frees its number.
    three.Release();
    InstanceProtocol again(nullptr, 1003);
    EXPECT_EQ(again.Decide().instanceIndex, 2);
}

TEST(InstanceNumbering, RepliesOnTheBusMarkNumbersTakenAndOnlyDecidedCopiesReply) {
    EnsureQtApp();
    RuntimeDir runtime;
    PrivateBus daemon;
    if (!daemon.ok()) GTEST_SKIP() << "dbus-daemon could not start";
    MessageBus busA, busB, busC;
    ASSERT_TRUE(busA.Connect(daemon.address()));
    ASSERT_TRUE(busB.Connect(daemon.address()));
    ASSERT_TRUE(busC.Connect(daemon.address()));

    InstanceProtocol a(&busA, 100);
    std::optional<InstanceDecision> da;
    a.Start([&](const InstanceDecision& d) { da = d; });
    ASSERT_TRUE(WaitFor([&] { return da.has_value(); }));
    EXPECT_EQ(da->instanceIndex, 0);

    // B is still undecided when C announces: only A answers, so C sees slot 0 alone.
    InstanceProtocol b(&busB, 200);
    b.Start([](const InstanceDecision&) {}, 60000);
    InstanceProtocol c(&busC, 300);
    std::optional<InstanceDecision> dc;
    c.Start([&](const InstanceDecision& d) { dc = d; });
    ASSERT_TRUE(WaitFor([&] { return dc.has_value(); }));
    EXPECT_EQ(c.instanceSlots()[0], 1);
    EXPECT_EQ(std::count(c.instanceSlots().begin(), c.instanceSlots().end(), 1), 1);
    EXPECT_EQ(dc->instanceIndex, 1);

    // A reply naming a number whose lock is free still keeps a newcomer off it (a copy without
    // lock files, e.g. another user's runtime folder, is running under it).
    busB.Post(RegisteredMessage::Instance, 3, 2);
    InstanceProtocol d(&busC, 400);
    std::optional<InstanceDecision> dd;
    d.Start([&](const InstanceDecision& x) { dd = x; });
    ASSERT_TRUE(WaitFor([&] { return dd.has_value(); }));
    EXPECT_EQ(dd->instanceIndex, 3);
}

// --- whole copies in separate processes ---

class Copy {
public:
    // `ndiDir` is the copies' shared announcement folder; `sessionRuntime`, when given, the
    // copy's own $XDG_RUNTIME_DIR (a desktop and an ssh session have different ones).
    Copy(const QString& busAddress, const QString& ndiDir, qint64 startAtMs,
         const QString& sessionRuntime = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        env.insert("VELMOR_NDI_DIR", ndiDir);
        if (!sessionRuntime.isEmpty()) env.insert("XDG_RUNTIME_DIR", sessionRuntime);
        env.insert("VELMOR_START_AT_MS", QString::number(startAtMs));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process_.setProcessEnvironment(env);
        process_.start(VELMOR_BUS_COPY, QStringList());
    }
    ~Copy() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(1000);
    }
    // Lines printed so far.
    QStringList Lines() {
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return output_.split('\n', Qt::SkipEmptyParts);
    }
    bool WaitForLine(const QString& line, int ms = 5000) {
        return WaitFor(
            [&] {
                process_.waitForReadyRead(5);
                return Lines().contains(line);
            },
            ms);
    }
    int Number() {
        for (const QString& l : Lines())
            if (l.startsWith("number ")) return l.mid(7).toInt();
        return 0;
    }

private:
    QProcess process_;
    QString output_;
};

int RunCtl(const QString& busAddress, const QStringList& args) {
    QProcess ctl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    ctl.setProcessEnvironment(env);
    ctl.start(VELMOR_CTL, args);
    ctl.waitForFinished(10000);
    return ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1;
}

TEST(Copies, StartedInTheSameInstantTakeDistinctNumbersAndObeyVelmorCtl) {
    EnsureQtApp();
    RuntimeDir runtime;
    PrivateBus daemon;
    if (!daemon.ok()) GTEST_SKIP() << "dbus-daemon could not start";

    auto startGroup = [&](int count) {
        const qint64 at = QDateTime::currentMSecsSinceEpoch() + 400;
        std::vector<std::unique_ptr<Copy>> group;
        for (int i = 0; i < count; ++i)
            group.push_back(std::make_unique<Copy>(daemon.address(), runtime.path(), at));
        return group;
    };
    auto numbers = [](std::vector<std::unique_ptr<Copy>>& group) {
        std::multiset<int> n;
        for (auto& c : group) {
            WaitFor([&] { return c->Number() != 0 || c->Lines().contains("all-taken"); }, 5000);
            n.insert(c->Number());
        }
        return n;
    };

    auto first = startGroup(3);
    EXPECT_EQ(numbers(first), (std::multiset<int>{1, 2, 3}));

    Copy* two = nullptr;
    for (auto& c : first)
        if (c->Number() == 2) two = c.get();
    ASSERT_NE(two, nullptr);
    ASSERT_EQ(RunCtl(daemon.address(), {"--copy", "2", "grab"}), 0);
    ASSERT_EQ(RunCtl(daemon.address(), {"freeze", "on"}), 0);
    for (auto& c : first) {
        ASSERT_TRUE(c->WaitForLine("freeze-on"));  // sent after the grab, so the grab has landed
        EXPECT_EQ(c->Lines().contains("grab"), c.get() == two) << c->Number();
    }
    ASSERT_EQ(RunCtl(daemon.address(), {"text", "Kö 😀 end"}), 0);  // a surrogate pair too
    for (auto& c : first)
        EXPECT_TRUE(c->WaitForLine("text Kö 😀 end"));
    ASSERT_EQ(RunCtl(daemon.address(), {"text", "--clear"}), 0);
    EXPECT_TRUE(first[0]->WaitForLine("text-hidden"));
    EXPECT_EQ(RunCtl(daemon.address(), {"--copy", "9", "grab"}), 2);

    auto second = startGroup(5);
    EXPECT_EQ(numbers(second), (std::multiset<int>{4, 5, 6, 7, 8}));

    Copy ninth(daemon.address(), runtime.path(), 0);
    EXPECT_TRUE(ninth.WaitForLine("all-taken"));
}

TEST(Copies, SessionsWithDifferentRuntimeFoldersStillTakeDistinctNumbers) {
    EnsureQtApp();
    RuntimeDir ndi;
    QTemporaryDir sessions;
    QDir(sessions.path()).mkpath("desktop");
    QDir(sessions.path()).mkpath("ssh");
    // No bus reaches both (each would be its session's own): the lock files alone decide.
    const QString noBus = "unix:path=" + sessions.path() + "/no-bus";
    Copy desktop(noBus, ndi.path(), 0, sessions.path() + "/desktop");
    ASSERT_TRUE(WaitFor([&] { return desktop.Number() != 0; }, 5000));
    Copy ssh(noBus, ndi.path(), 0, sessions.path() + "/ssh");
    ASSERT_TRUE(WaitFor([&] { return ssh.Number() != 0; }, 5000));
    EXPECT_EQ(desktop.Number(), 1);
    EXPECT_EQ(ssh.Number(), 2);
}

}  // namespace
}  // namespace velmor
