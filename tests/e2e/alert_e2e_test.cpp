// The low-space alert end to end, in one process with the real shell and window: a small
// tmpfs mounted under /mnt is a RAM-disk drive with less free space than the threshold;
// it is ticked in ListView1, CheckBox1 is switched on and the refresh interval shortened,
// and every refresh must show the warning with the exact title and text: on the tray
// (XEmbed balloon), through the StatusNotifierItem host or the notification service
// (recorded by the test host), or, with neither, as the caption "not".
// Each test function expects the desktop its ctest entry set up (see CMakeLists.txt);
// KORAVEX_TEST_HOST_DIR names the test host's directory where there is one.
#include <sys/mount.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTest>

#include "core/linux/linux_probes.h"
#include "shell/koravex_shell.h"
#include "tests/support/fake_probes.h"
#include "ui/drive_list_view.h"
#include "ui/main_window.h"

using namespace koravex;

namespace {

constexpr std::int64_t kTmpfsBytes = 2 * 1048576;
const QString kTitle = QStringLiteral("Внимание!");

QString alertTextFor(const QString& root) {
    return QStringLiteral("На диске: ") + root +
           QStringLiteral(" осталось меньше 100 Mb дискового пространства");
}

// Counts the balloons Qt shows on an XEmbed tray and keeps the texts of the last one.
class BalloonWatch : public QObject {
  public:
    int shown = 0;
    QStringList lastTexts;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show &&
            QByteArray(watched->metaObject()->className()) == "QBalloonTip") {
            ++shown;
            lastTexts.clear();
            for (const QLabel* label : watched->findChildren<QLabel*>()) {
                lastTexts.append(label->text());
            }
        }
        return false;
    }
};

QStringList notifyLog() {
    QFile file(qEnvironmentVariable("KORAVEX_TEST_HOST_DIR") + QStringLiteral("/notify.log"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace

class AlertE2ETest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void notificationService();
    void statusNotifierHost();
    void xembedTray();
    void xembedBalloonNeverOverTheMenu();
    void neitherCaptionNot();
    void trayWithoutNotificationServiceCaptionNot();

  private:
    // Ticks the low drive, switches the alert on, shortens the interval to 300 ms.
    void armAlert();

    QString mountPoint_;
    bool mounted_ = false;
    std::unique_ptr<Probes> probes_;
    QString lowRoot_;
    std::unique_ptr<KoravexShell> shell_;
};

void AlertE2ETest::initTestCase() {
    mountPoint_ = QStringLiteral("/mnt/koravex-e2e-%1").arg(getpid());
    if (geteuid() != 0) {
        QSKIP("needs root to mount a small tmpfs under /mnt");
    }
    QVERIFY(QDir().mkpath(mountPoint_));
    const QByteArray options = "size=" + QByteArray::number(kTmpfsBytes);
    if (mount("koravex-e2e", mountPoint_.toLocal8Bit().constData(), "tmpfs", 0,
              options.constData()) != 0) {
        QDir().rmdir(mountPoint_);
        QSKIP("mounting a tmpfs is not permitted here");
    }
    mounted_ = true;
}

void AlertE2ETest::cleanupTestCase() {
    if (mounted_) {
        umount2(mountPoint_.toLocal8Bit().constData(), MNT_DETACH);
    }
    QDir().rmdir(mountPoint_);
}

void AlertE2ETest::init() {
    probes_ = makeLinuxProbes();
    // The drive is the one the probes name as the current directory's drive while the test
    // stands in its mount point: another drive of the same size is never taken for it.
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(mountPoint_));
    const char letter = probes_->currentDirectoryDrive();
    QDir::setCurrent(before);
    QVERIFY2(letter != '\0', "the tmpfs is not among the drives");
    lowRoot_ = QString::fromLatin1(std::string{letter, ':', '\\'});
    const std::optional<DriveSpace> space = probes_->driveSpace(lowRoot_.toStdString());
    QVERIFY2(space && space->total == kTmpfsBytes, qPrintable(lowRoot_));
    QCOMPARE(probes_->driveType(lowRoot_.toStdString()), DriveType::RamDisk);
    shell_ = std::make_unique<KoravexShell>(*probes_, detectTrayKind(),
                                            QDBusConnection::sessionBus(), [] {});
    shell_->window().show();
}

void AlertE2ETest::cleanup() {
    shell_.reset();
    probes_.reset();
}

void AlertE2ETest::armAlert() {
    TForm1& w = shell_->window();
    w.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(3);
    auto* list = w.findChild<DriveListView*>(QStringLiteral("ListView1"));
    QVERIFY(list);
    QStandardItemModel* model = list->model();
    int row = -1;
    for (int r = 0; r < model->rowCount(); ++r) {
        if (model->item(r, 0)->text() == lowRoot_) {
            row = r;
        }
    }
    QVERIFY(row >= 0);
    model->item(row, 0)->setCheckState(Qt::Checked);

    auto* checkBox = w.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
    QVERIFY(checkBox);
    QTest::mouseClick(checkBox, Qt::LeftButton);
    QVERIFY(checkBox->isChecked());
    auto* interval = w.findChild<QLineEdit*>(QStringLiteral("Edit1"));
    QVERIFY(interval);
    interval->setText(QStringLiteral("300"));
}

void AlertE2ETest::notificationService() {
    QCOMPARE(shell_->tray().kind(), TrayKind::XEmbed);
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QVERIFY(notifyLog().isEmpty());  // nothing before the alert is switched on
    armAlert();
    QTRY_VERIFY_WITH_TIMEOUT(notifyLog().size() >= 1, 10000);
    // Hidden, the window reads no figures, but the watch goes on.
    shell_->window().close();
    QVERIFY(!shell_->window().isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(notifyLog().size() >= 3, 10000);
    QString root = lowRoot_;
    root.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));  // as the log escapes it
    const QStringList lines = notifyLog();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // Each warning replaces the one before it, as a balloon replaces its predecessor.
        const QString expected = QStringLiteral("Koravex|%1|dialog-warning|%2|%3|20000|1")
                                     .arg(i == 0 ? 0 : 1)
                                     .arg(kTitle, alertTextFor(root));
        QCOMPARE(lines[i], expected);
    }
    QCOMPARE(shell_->window().windowTitle(), QStringLiteral("Koravex"));
}

void AlertE2ETest::statusNotifierHost() {
    QCOMPARE(shell_->tray().kind(), TrayKind::StatusNotifier);
    armAlert();
    QTRY_VERIFY_WITH_TIMEOUT(notifyLog().size() >= 3, 10000);
    QString root = lowRoot_;
    root.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    for (const QString& line : notifyLog()) {
        const QStringList f = line.split(QLatin1Char('|'));
        QCOMPARE(f.size(), 7);
        QCOMPARE(f[2], QStringLiteral("dialog-warning"));
        QCOMPARE(f[3], kTitle);
        QCOMPARE(f[4], alertTextFor(root));
        QCOMPARE(f[5], QStringLiteral("20000"));
    }
    QCOMPARE(shell_->window().windowTitle(), QStringLiteral("Koravex"));
}

void AlertE2ETest::xembedTray() {
    QCOMPARE(shell_->tray().kind(), TrayKind::XEmbed);
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 30000);
    BalloonWatch watch;
    qApp->installEventFilter(&watch);
    armAlert();
    QTRY_VERIFY_WITH_TIMEOUT(watch.shown >= 3, 30000);
    qApp->removeEventFilter(&watch);
    QVERIFY2(watch.lastTexts.contains(kTitle), qPrintable(watch.lastTexts.join(u'|')));
    QVERIFY2(watch.lastTexts.contains(alertTextFor(lowRoot_)),
             qPrintable(watch.lastTexts.join(u'|')));
    QCOMPARE(shell_->window().windowTitle(), QStringLiteral("Koravex"));
}

namespace {
QWidget* shownBalloon() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->inherits("QBalloonTip") && w->isVisible())
            return w;
    }
    return nullptr;
}
}  // namespace

// The tray menu open while the warnings keep coming: the balloon shown when it opened goes,
// none comes while it is open (over several refreshes), and the latest comes when it closes.
void AlertE2ETest::xembedBalloonNeverOverTheMenu() {
    QCOMPARE(shell_->tray().kind(), TrayKind::XEmbed);
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 30000);
    armAlert();
    QTRY_VERIFY_WITH_TIMEOUT(shownBalloon() != nullptr, 30000);
    QMenu* menu = shell_->tray().icon()->contextMenu();
    QVERIFY(menu);
    const QRect iconArea = shell_->tray().icon()->geometry();
    menu->popup(iconArea.isValid() ? iconArea.bottomLeft() : QPoint(1100, 30));
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 10000);
    QVERIFY2(shownBalloon() == nullptr, "the balloon stayed over the menu that opened");
    QElapsedTimer open;
    open.start();
    // At least five refreshes of 300 ms, and on a loaded machine until a warning came.
    while (open.elapsed() < 1500 || (!shell_->tray().balloonWaiting() && open.elapsed() < 15000)) {
        QTest::qWait(20);
        QVERIFY2(shownBalloon() == nullptr, "a balloon came over the open menu");
    }
    QVERIFY2(shell_->tray().balloonWaiting(), "no warning came in 15 s with the menu open");
    menu->hide();
    QTRY_VERIFY_WITH_TIMEOUT(shownBalloon() != nullptr, 10000);
    QCOMPARE(shownBalloon()->findChildren<QLabel*>().size() >= 2, true);
    QCOMPARE(shell_->window().windowTitle(), QStringLiteral("Koravex"));
}

void AlertE2ETest::neitherCaptionNot() {
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QTest::qWait(400);
    QCOMPARE(shell_->window().windowTitle(), QStringLiteral("Koravex"));  // alert still off
    armAlert();
    QTRY_COMPARE_WITH_TIMEOUT(shell_->window().windowTitle(), QStringLiteral("not"), 5000);
}

// A StatusNotifierItem tray shows balloons through the notification service; without one the
// warning cannot be shown, and the caption must say so.
void AlertE2ETest::trayWithoutNotificationServiceCaptionNot() {
    QCOMPARE(shell_->tray().kind(), TrayKind::StatusNotifier);
    armAlert();
    QTRY_COMPARE_WITH_TIMEOUT(shell_->window().windowTitle(), QStringLiteral("not"), 5000);
}

QTEST_MAIN(AlertE2ETest)
#include "alert_e2e_test.moc"
