// The calls to the desktop's notification service, against a service of the test's own on a
// private session bus (a dbus-daemon started here): which service counts as there, the id
// each warning replaces, warnings that come while a call is on its way, a refused call, a
// stuck bus daemon and a stuck notification daemon.
#include <signal.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "shell/desktop_notifications.h"

using namespace koravex;

namespace {

// Plays org.freedesktop.Notifications: records each Notify; answers at once with the next id,
// holds its answers while `hold` is set, or refuses. With `refuseRepeats`, as Plasma's does:
// a notification like the last one it took, within a second of it, is refused as too many.
class FakeService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    struct Call {
        uint replacesId;
        QString summary, body;
        int timeout;
    };
    QList<Call> calls;
    QList<QDBusMessage> held;
    bool hold = false;
    bool refuse = false;
    bool refuseRepeats = false;
    uint nextId = 41;
    QString lastTaken;
    QElapsedTimer sinceTaken;

  public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int timeout) {
        calls.append({replacesId, summary, body, timeout});
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("no"));
            return 0;
        }
        if (refuseRepeats && summary + body == lastTaken && sinceTaken.isValid() &&
            sinceTaken.elapsed() < 1000) {
            sendErrorReply(
                QStringLiteral("org.freedesktop.Notifications.Error.ExcessNotificationGeneration"),
                QStringLiteral("Created too many similar notifications in quick succession"));
            return 0;
        }
        lastTaken = summary + body;
        sinceTaken.start();
        const uint id = replacesId ? replacesId : ++nextId;
        if (hold) {
            setDelayedReply(true);
            held.append(message().createReply(id));
        }
        return id;
    }
};

using Service = DesktopNotifications::Service;

// Asks once and waits (in the event loop) for the bus's answer; nothing when none came.
std::optional<Service> askedService(DesktopNotifications& notifications) {
    std::optional<Service> answer;
    notifications.findService([&](Service service) { answer = service; });
    (void)QTest::qWaitFor([&] { return answer.has_value(); }, 5000);
    return answer;
}

}  // namespace

class NotificationsTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void availableWhenRunningOrActivatable();
    void eachWarningReplacesTheLast();
    void warningsDuringACallWaitLatestWins();
    void refusedCallIsReported();
    void repeatRefusedAsTooSoonIsStillShown();
    void stuckBusNeverHoldsTheCaller();
    void unansweredCallGivesWayToTheNext();

  private:
    QDBusConnection connect(const QString& name);
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};

void NotificationsTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QFile conf(dir_.filePath(QStringLiteral("bus.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    QDir().mkpath(dir_.filePath(QStringLiteral("services")));
    conf.write(QStringLiteral("<busconfig><type>session</type>"
                              "<listen>unix:tmpdir=%1</listen><auth>EXTERNAL</auth>"
                              "<servicedir>%2</servicedir><policy context=\"default\">"
                              "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                              "<allow own=\"*\"/></policy>"
                              "</busconfig>")
                   .arg(dir_.path(), dir_.filePath(QStringLiteral("services")))
                   .toUtf8());
    conf.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + conf.fileName(), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    if (!daemon_.waitForStarted(5000))
        QSKIP("dbus-daemon cannot be started here");
    QTRY_VERIFY_WITH_TIMEOUT(daemon_.canReadLine(), 5000);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    QVERIFY(!address_.isEmpty());
}

void NotificationsTest::cleanupTestCase() {
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
}

QDBusConnection NotificationsTest::connect(const QString& name) {
    return QDBusConnection::connectToBus(address_, name);
}

void NotificationsTest::availableWhenRunningOrActivatable() {
    QDBusConnection program = connect(QStringLiteral("program-a"));
    QVERIFY(program.isConnected());
    DesktopNotifications notifications(program);
    QVERIFY(askedService(notifications) == Service::None);  // nothing runs or can be started
    DesktopNotifications noBus(QDBusConnection(QStringLiteral("none")));
    QVERIFY(askedService(noBus) == Service::None);

    // Installed but not running: the bus would start it at the first call.
    const QString file =
        dir_.filePath(QStringLiteral("services/org.freedesktop.Notifications.service"));
    QFile service(file);
    QVERIFY(service.open(QIODevice::WriteOnly));
    service.write("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n");
    service.close();
    program.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
    QTRY_VERIFY(askedService(notifications) == Service::Startable);
    QFile::remove(file);
    program.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
    QTRY_VERIFY(askedService(notifications) == Service::None);

    // Running.
    QDBusConnection host = connect(QStringLiteral("host-a"));
    FakeService fake;
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QVERIFY(askedService(notifications) == Service::Running);
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QTRY_VERIFY(askedService(notifications) == Service::None);

    // With no service, a warning comes back to be shown some other way, and nothing is called.
    QStringList failed;
    notifications.onFailed = [&](const QString&, const QString& text) { failed << text; };
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("nowhere"), 20000));
    QTRY_COMPARE(failed, QStringList{QStringLiteral("nowhere")});
    QVERIFY(!notifications.callPending());
    QVERIFY(fake.calls.isEmpty());
}

void NotificationsTest::eachWarningReplacesTheLast() {
    QDBusConnection host = connect(QStringLiteral("host-b"));
    FakeService fake;
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotifications notifications(connect(QStringLiteral("program-b")));
    int failures = 0;
    notifications.onFailed = [&](const QString&, const QString&) { ++failures; };
    for (int i = 0; i < 3; ++i) {
        QVERIFY(notifications.showWarning(QStringLiteral("Внимание!"),
                                          QStringLiteral("text %1").arg(i), 20000));
        QTRY_VERIFY(!notifications.callPending());
    }
    QCOMPARE(fake.calls.size(), 3);
    QCOMPARE(fake.calls[0].replacesId, 0u);
    QCOMPARE(fake.calls[1].replacesId, 42u);  // the id the service gave the first
    QCOMPARE(fake.calls[2].replacesId, 42u);
    QCOMPARE(fake.calls[2].summary, QStringLiteral("Внимание!"));
    QCOMPARE(fake.calls[2].body, QStringLiteral("text 2"));
    QCOMPARE(fake.calls[2].timeout, 20000);
    QCOMPARE(failures, 0);
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

void NotificationsTest::warningsDuringACallWaitLatestWins() {
    QDBusConnection host = connect(QStringLiteral("host-c"));
    FakeService fake;
    fake.hold = true;  // a daemon that is still starting
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotifications notifications(connect(QStringLiteral("program-c")));
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("first"), 20000));
    QTRY_COMPARE(fake.calls.size(), 1);
    // Sent at once, without waiting for the answer.
    QVERIFY(notifications.callPending());
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("second"), 20000));
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("third"), 20000));
    QTest::qWait(100);
    QCOMPARE(fake.calls.size(), 1);  // nothing stacks up while the first is unanswered
    fake.hold = false;
    for (const QDBusMessage& reply : std::as_const(fake.held))
        host.send(reply);
    fake.held.clear();
    QTRY_COMPARE(fake.calls.size(), 2);
    QTRY_VERIFY(!notifications.callPending());
    QCOMPARE(fake.calls[1].body, QStringLiteral("third"));
    QCOMPARE(fake.calls[1].replacesId, 42u);
    QCOMPARE(notifications.lastId(), 42u);
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

void NotificationsTest::refusedCallIsReported() {
    QDBusConnection host = connect(QStringLiteral("host-d"));
    FakeService fake;
    fake.refuse = true;
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotifications notifications(connect(QStringLiteral("program-d")));
    QStringList failed;
    notifications.onFailed = [&](const QString&, const QString& text) { failed << text; };
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("refused"), 20000));
    QTRY_COMPARE(failed, QStringList{QStringLiteral("refused")});
    QCOMPARE(notifications.lastId(), 0u);
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

void NotificationsTest::repeatRefusedAsTooSoonIsStillShown() {
    // Plasma takes the first warning and refuses the same one again within a second, even as
    // its replacement: the first is still shown, so the caption must not say "not". Another
    // text is taken; a first warning refused this way was never shown.
    QDBusConnection host = connect(QStringLiteral("host-f"));
    FakeService fake;
    fake.refuseRepeats = true;
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotifications notifications(connect(QStringLiteral("program-f")));
    QStringList failed;
    notifications.onFailed = [&](const QString&, const QString& text) { failed << text; };
    for (const char* text : {"low", "low", "other"}) {
        QVERIFY(notifications.showWarning(QStringLiteral("t"), QLatin1String(text), 20000));
        QTRY_VERIFY(!notifications.callPending());
    }
    QCOMPARE(fake.calls.size(), 3);
    QCOMPARE(fake.calls[1].replacesId, 42u);
    QCOMPARE(fake.calls[2].replacesId, 42u);  // the refused repeat changed nothing
    QCOMPARE(failed, QStringList{});
    QCOMPARE(notifications.lastId(), 42u);

    DesktopNotifications fresh(connect(QStringLiteral("program-g")));
    fresh.onFailed = [&](const QString&, const QString& text) { failed << text; };
    fake.lastTaken = QStringLiteral("tsame");
    fake.sinceTaken.start();
    QVERIFY(fresh.showWarning(QStringLiteral("t"), QStringLiteral("same"), 20000));
    QTRY_COMPARE(failed, QStringList{QStringLiteral("same")});
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

void NotificationsTest::stuckBusNeverHoldsTheCaller() {
    // A bus daemon that has stopped answering (here: stopped outright) costs the caller
    // nothing: raising warnings returns to the event loop at once. Asking the bus and waiting
    // for its answer would hold the thread for kBusQueryTimeoutMs (500 ms) or more; the bound
    // below is half that, far above what the calls cost when they wait for nothing.
    QDBusConnection host = connect(QStringLiteral("host-e"));
    FakeService fake;
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotifications notifications(connect(QStringLiteral("program-e")));
    QVERIFY(askedService(notifications) == Service::Running);
    QStringList failed;
    notifications.onFailed = [&](const QString&, const QString& text) { failed << text; };

    const qint64 daemon = daemon_.processId();
    QVERIFY(daemon > 0);
    QCOMPARE(::kill(static_cast<pid_t>(daemon), SIGSTOP), 0);
    struct Resume {
        qint64 pid;
        ~Resume() { ::kill(static_cast<pid_t>(pid), SIGCONT); }
    } resume{daemon};

    QElapsedTimer clock;
    clock.start();
    qint64 loopBackAt = -1;
    QTimer::singleShot(0, [&] { loopBackAt = clock.elapsed(); });
    for (const char* text : {"first", "second", "third"})
        QVERIFY(notifications.showWarning(QStringLiteral("t"), QString::fromLatin1(text), 20000));
    const qint64 returnedAt = clock.elapsed();
    QTRY_VERIFY(loopBackAt >= 0);
    qInfo("warnings raised in %lld ms, event loop back after %lld ms", returnedAt, loopBackAt);
    QVERIFY2(loopBackAt < 250, qPrintable(QStringLiteral("held %1 ms").arg(loopBackAt)));
    QVERIFY(notifications.callPending());

    // Unanswered, the bus counts as having no service: the first warning and the latest are
    // handed back to be shown some other way, one after the other; the one between them never
    // is, and the service is never called.
    QTRY_COMPARE_WITH_TIMEOUT(
        failed, (QStringList{QStringLiteral("first"), QStringLiteral("third")}), 5000);
    qInfo("both handed back after %lld ms", clock.elapsed());
    QVERIFY(!notifications.callPending());

    // Once the bus answers again, so does the service.
    QCOMPARE(::kill(static_cast<pid_t>(daemon), SIGCONT), 0);
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("fourth"), 20000));
    QTRY_COMPARE(fake.calls.size(), 1);
    QCOMPARE(fake.calls[0].body, QStringLiteral("fourth"));
    QTRY_VERIFY(!notifications.callPending());
    QCOMPARE(failed.size(), 2);
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

void NotificationsTest::unansweredCallGivesWayToTheNext() {
    // A running daemon that takes a warning and never answers holds the next ones for
    // kCallTimeoutMs at most: the unanswered one is handed back, the latest one is sent.
    QDBusConnection host = connect(QStringLiteral("host-f"));
    FakeService fake;
    fake.hold = true;
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotifications notifications(connect(QStringLiteral("program-f")));
    QStringList failed;
    notifications.onFailed = [&](const QString&, const QString& text) { failed << text; };
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("lost"), 20000));
    QTRY_COMPARE(fake.calls.size(), 1);
    fake.hold = false;  // the first answer stays held
    QVERIFY(notifications.showWarning(QStringLiteral("t"), QStringLiteral("later"), 20000));
    QElapsedTimer clock;
    clock.start();
    // Well below the time a daemon is given to start (kStartTimeoutMs).
    QTRY_COMPARE_WITH_TIMEOUT(fake.calls.size(), 2, DesktopNotifications::kStartTimeoutMs - 3000);
    qInfo("the next warning went out %lld ms after the unanswered one", clock.elapsed());
    QCOMPARE(failed, QStringList{QStringLiteral("lost")});
    QCOMPARE(fake.calls[1].body, QStringLiteral("later"));
    QTRY_VERIFY(!notifications.callPending());
    QCOMPARE(notifications.lastId(), 43u);  // no id came back for the first: a new one
    fake.held.clear();
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

QTEST_GUILESS_MAIN(NotificationsTest)
#include "notifications_test.moc"
