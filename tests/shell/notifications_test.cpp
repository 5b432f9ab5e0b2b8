// The calls to the desktop's notification service, against a service of the test's own on a
// private session bus (a dbus-daemon started here): which service counts as there, the id
// each warning replaces, warnings that come while a call is on its way, a refused call.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "shell/desktop_notifications.h"

using namespace koravex;

namespace {

// Plays org.freedesktop.Notifications: records each Notify; answers at once with the next id,
// holds its answers while `hold` is set, or refuses.
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
    uint nextId = 41;

  public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int timeout) {
        calls.append({replacesId, summary, body, timeout});
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("no"));
            return 0;
        }
        const uint id = replacesId ? replacesId : ++nextId;
        if (hold) {
            setDelayedReply(true);
            held.append(message().createReply(id));
        }
        return id;
    }
};

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
    QVERIFY(!notifications.available());  // nothing runs, nothing can be started
    QVERIFY(!DesktopNotifications(QDBusConnection(QStringLiteral("none"))).available());

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
    QTRY_VERIFY(notifications.available());
    QFile::remove(file);
    program.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
    QTRY_VERIFY(!notifications.available());

    // Running.
    QDBusConnection host = connect(QStringLiteral("host-a"));
    FakeService fake;
    QVERIFY(host.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(host.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QVERIFY(notifications.available());
    host.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QTRY_VERIFY(!notifications.available());
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

QTEST_GUILESS_MAIN(NotificationsTest)
#include "notifications_test.moc"
