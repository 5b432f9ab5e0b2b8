// The shell's handlers: tray clicks by tray kind, the platform choice, the notification
// call, the tray icon's life, and the shell around a real main window (offscreen).
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "tests/support/fake_probes.h"
#include "shell/desktop_notifications.h"
#include "shell/koravex_shell.h"
#include "shell/platform_choice.h"
#include "shell/tray_icon.h"
#include "ui/main_window.h"

using namespace koravex;

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)
Q_DECLARE_METATYPE(koravex::TrayKind)

class ShellTest : public QObject {
    Q_OBJECT
  private slots:
    void trayActions_data();
    void trayActions();
    void doubleClickOnXEmbedShowsOnce();
    void trayKindFoundOutOnceWhenNeeded();
    void platformChoice_data();
    void platformChoice();
    void notifyArgumentTypes();
    void trayIconAddedOnceAndRemoved();
    void greetingNamesTheWindowClass();
    void activateShowsAtCorner();
    void activateRestoresMinimized();
    void raiseDoesNotShowHidden();
    void quitRemovesIconAndEndsLoop();
    void balloonWithoutTrayOrServiceFails();
};

void ShellTest::trayActions_data() {
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<TrayKind>("kind");
    QTest::addColumn<bool>("shows");
    const auto x = TrayKind::XEmbed;
    const auto sni = TrayKind::StatusNotifier;
    QTest::newRow("xembed double click") << QSystemTrayIcon::DoubleClick << x << true;
    QTest::newRow("xembed single click") << QSystemTrayIcon::Trigger << x << false;
    QTest::newRow("xembed right button") << QSystemTrayIcon::Context << x << false;
    QTest::newRow("xembed middle") << QSystemTrayIcon::MiddleClick << x << false;
    QTest::newRow("sni activate") << QSystemTrayIcon::Trigger << sni << true;
    QTest::newRow("sni context") << QSystemTrayIcon::Context << sni << false;
    QTest::newRow("sni secondary") << QSystemTrayIcon::MiddleClick << sni << false;
    QTest::newRow("sni unknown") << QSystemTrayIcon::Unknown << sni << false;
}

void ShellTest::trayActions() {
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(TrayKind, kind);
    QFETCH(bool, shows);
    QCOMPARE(trayActionFor(reason, kind) == TrayAction::ShowWindow, shows);
}

void ShellTest::doubleClickOnXEmbedShowsOnce() {
    // Qt reports an XEmbed double click as Trigger followed by DoubleClick.
    for (const TrayKind kind : {TrayKind::XEmbed, TrayKind::StatusNotifier}) {
        TrayIcon tray(kind);
        tray.add();
        int shown = 0;
        tray.attach(nullptr, [&] { ++shown; });
        if (kind == TrayKind::XEmbed) {
            emit tray.icon()->activated(QSystemTrayIcon::Trigger);
            emit tray.icon()->activated(QSystemTrayIcon::DoubleClick);
        } else {
            emit tray.icon()->activated(QSystemTrayIcon::Trigger);
        }
        emit tray.icon()->activated(QSystemTrayIcon::Context);
        QCOMPARE(shown, 1);
    }
}

void ShellTest::trayKindFoundOutOnceWhenNeeded() {
    // A StatusNotifierItem host's single click shows the window only once the kind is known
    // to be that; the bus is asked at the first need and never again.
    for (const TrayKind kind : {TrayKind::XEmbed, TrayKind::StatusNotifier}) {
        int asked = 0;
        TrayIcon tray([&] {
            ++asked;
            return kind;
        });
        tray.add();
        int shown = 0;
        tray.attach(nullptr, [&] { ++shown; });
        QCOMPARE(asked, 0);
        emit tray.icon()->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(asked, 1);
        QCOMPARE(shown, kind == TrayKind::StatusNotifier ? 1 : 0);
        QCOMPARE(tray.kind(), kind);
        emit tray.icon()->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(asked, 1);
    }
}

void ShellTest::platformChoice_data() {
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("wayland");
    QTest::addColumn<QByteArray>("x11");
    QTest::addColumn<QByteArray>("chosen");
    QTest::newRow("wayland with xwayland")
        << QByteArray() << QByteArray("wayland-0") << QByteArray(":0") << QByteArray("xcb");
    QTest::newRow("wayland only") << QByteArray() << QByteArray("wayland-0") << QByteArray()
                                  << QByteArray();
    QTest::newRow("x11 only") << QByteArray() << QByteArray() << QByteArray(":0") << QByteArray();
    QTest::newRow("user chose wayland")
        << QByteArray("wayland") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray();
    QTest::newRow("user chose offscreen")
        << QByteArray("offscreen") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray();
    QTest::newRow("blank user choice")
        << QByteArray(" ") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray("xcb");
}

void ShellTest::platformChoice() {
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, wayland);
    QFETCH(QByteArray, x11);
    QFETCH(QByteArray, chosen);
    QCOMPARE(preferredPlatform(user, wayland, x11), chosen);
}

void ShellTest::notifyArgumentTypes() {
    // Notify(susssasa{sv}i): a wrong type makes the service refuse the call.
    const QVariantList args =
        notifyArguments(QStringLiteral("Внимание!"), QStringLiteral("text"), 7, 20000);
    const int expected[] = {QMetaType::QString,     QMetaType::UInt,    QMetaType::QString,
                            QMetaType::QString,     QMetaType::QString, QMetaType::QStringList,
                            QMetaType::QVariantMap, QMetaType::Int};
    QCOMPARE(args.size(), 8);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(args[i].metaType().id(), expected[i]);
    }
    QCOMPARE(args[0].toString(), QStringLiteral("Koravex"));
    QCOMPARE(args[1].toUInt(), 7u);
    QCOMPARE(args[2].toString(), QStringLiteral("dialog-warning"));
    QCOMPARE(args[3].toString(), QStringLiteral("Внимание!"));
    QCOMPARE(args[7].toInt(), 20000);
    const QVariant urgency = args[6].toMap().value(QStringLiteral("urgency"));
    QCOMPARE(urgency.metaType().id(), int(QMetaType::UChar));
    QCOMPARE(urgency.toInt(), 1);
}

void ShellTest::trayIconAddedOnceAndRemoved() {
    TrayIcon tray(TrayKind::XEmbed);
    QVERIFY(!tray.icon());
    QVERIFY(!tray.showWarning(QStringLiteral("t"), QStringLiteral("x"), 20000));
    tray.add();
    QSystemTrayIcon* first = tray.icon();
    QVERIFY(first);
    QCOMPARE(first->toolTip(), QStringLiteral("Koravex"));
    QVERIFY(!first->icon().isNull());
    QVERIFY(first->isVisible());
    tray.add();
    QCOMPARE(tray.icon(), first);
    QCOMPARE(tray.findChildren<QSystemTrayIcon*>().size(), 1);
    tray.remove();
    QVERIFY(!tray.icon());
    tray.add();  // the icon is added once for the run, never again
    QVERIFY(!tray.icon());
}

namespace {
struct ShellFixture {
    ShellFixture()
        : probes(FakeProbes::sample()),
          shell(probes, TrayKind::XEmbed, QDBusConnection(QStringLiteral("none")),
                [this] { ++loopEnds; }) {}
    FakeProbes probes;
    int loopEnds = 0;
    KoravexShell shell;
};
}  // namespace

void ShellTest::greetingNamesTheWindowClass() {
    ShellFixture f;
    QVERIFY(f.shell.tray().icon());  // added while the window was created
    QCOMPARE(f.shell.tray().icon()->contextMenu(), f.shell.window().popupMenu());
    InstanceGreeting hidden = f.shell.greeting("/x/koravex");
    QCOMPARE(hidden.windowClass, std::string("TForm1"));
    QCOMPARE(hidden.executablePath, std::string("/x/koravex"));
    QCOMPARE(hidden.visible, false);
    f.shell.window().show();
    QCOMPARE(f.shell.greeting("/x/koravex").visible, true);
    // Minimized it is not on the screen: a second start must have it shown, not raised.
    f.shell.window().setWindowState(Qt::WindowMinimized);
    QCOMPARE(f.shell.greeting("/x/koravex").visible, false);
}

void ShellTest::activateShowsAtCorner() {
    ShellFixture f;
    TForm1& w = f.shell.window();
    w.show();
    w.move(10, 10);  // the user moved it, then hid it
    w.Hide1Click();
    QVERIFY(!w.isVisible());
    f.shell.handleCommand(InstanceCommand::Activate);
    QVERIFY(w.isVisible());
    const QRect area = w.screen()->availableGeometry();
    QCOMPARE(w.frameGeometry().right(), area.right());
    QCOMPARE(w.frameGeometry().bottom(), area.bottom());
}

void ShellTest::activateRestoresMinimized() {
    // Minimized by the window manager, minimized and then hidden: each time the show
    // operation ends with the window shown normally, in its corner.
    for (const bool hiddenToo : {false, true}) {
        ShellFixture f;
        TForm1& w = f.shell.window();
        w.show();
        w.setWindowState(Qt::WindowMinimized);
        if (hiddenToo)
            w.Hide1Click();
        f.shell.handleCommand(InstanceCommand::Activate);
        QVERIFY(w.isVisible());
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        const QRect area = w.screen()->availableGeometry();
        QCOMPARE(w.frameGeometry().bottomRight(), area.bottomRight());
    }
}

void ShellTest::raiseDoesNotShowHidden() {
    ShellFixture f;
    f.shell.handleCommand(InstanceCommand::Raise);
    QVERIFY(!f.shell.window().isVisible());
}

void ShellTest::quitRemovesIconAndEndsLoop() {
    ShellFixture f;
    f.shell.window().show();
    QVERIFY(f.shell.tray().icon());
    f.shell.window().Close1Click();  // the tray menu's Close
    QVERIFY(!f.shell.tray().icon());
    QCOMPARE(f.loopEnds, 1);
}

void ShellTest::balloonWithoutTrayOrServiceFails() {
    // Offscreen there is no tray; the bus connection here is not connected.
    ShellFixture f;
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QVERIFY(!f.shell.showBalloon(QStringLiteral("Внимание!"), QStringLiteral("text")));
}

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
