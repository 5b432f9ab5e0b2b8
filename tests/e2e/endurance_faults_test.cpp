// Faults while the program runs, in one process with the real main window over the real Linux
// probes: a drive that is selected and ticked is unmounted and mounted again, vanishes for
// good, or is a FUSE drive whose daemon stops answering; interfaces come and go. Through all
// of it the window must go on refreshing everything else (the memory gauges, the interface
// table, the alert of another low drive), show "Не возможно определить" where a query fails,
// keep its ticks and selection, and take the drive up again once it answers.
//
// Needs root. The process moves into a private mount and network namespace of its own before
// Qt starts any thread, so nothing it mounts or adds is seen by other tests running beside it,
// and all of it goes when the process ends, however it ends.
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>

#include "core/linux/drive_helper.h"
#include "core/linux/linux_probes.h"
#include "tests/ui/window_test_support.h"
#include "ui/drive_combo_box.h"
#include "ui/drive_list_view.h"
#include "ui/gauge.h"
#include "ui/main_window.h"

using namespace koravex;

namespace {

const QString kCannot = QStringLiteral("Не возможно определить");
constexpr std::int64_t kLowBytes = 2 * 1048576;     // the witness drive, always low
constexpr std::int64_t kFaultyBytes = 3 * 1048576;  // the drive that the faults hit
constexpr std::int64_t kFuseBytes = 64 * 1048576;   // what the FUSE helper reports
QString g_isolation;                                // why the namespaces could not be made

bool run(const QString& command) {
    return std::system(command.toLocal8Bit().constData()) == 0;
}

// A private mount and network namespace; the loopback interface up in it.
bool enterPrivateNamespaces() {
    if (geteuid() != 0) {
        g_isolation = QStringLiteral("needs root: mounts drives and adds interfaces");
        return false;
    }
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        g_isolation = QStringLiteral("cannot make a private mount and network namespace here");
        return false;
    }
    if (!run(QStringLiteral("ip link set lo up"))) {
        g_isolation = QStringLiteral("the ip command failed");
        return false;
    }
    return true;
}

// Counts refreshes (one drive round each, whatever the tab) and passes every query to the real
// machine.
class CountingProbes : public Probes {
  public:
    explicit CountingProbes(Probes& real) : real_(real) {}
    int refreshes = 0;

    MemoryStatus memoryStatus() override { return real_.memoryStatus(); }
    void beginDriveRound(const std::vector<std::string>& roots) override {
        ++refreshes;
        real_.beginDriveRound(roots);
    }
    std::optional<DriveSpace> driveSpace(std::string_view root) override {
        return real_.driveSpace(root);
    }
    std::optional<VolumeInfo> volumeInformation(std::string_view root) override {
        return real_.volumeInformation(root);
    }
    std::vector<std::string> driveRoots() override { return real_.driveRoots(); }
    DriveType driveType(std::string_view root) override { return real_.driveType(root); }
    std::optional<std::string> remoteName(std::string_view root) override {
        return real_.remoteName(root);
    }
    std::optional<std::vector<InterfaceRow>> interfaceTable() override {
        return real_.interfaceTable();
    }
    char currentDirectoryDrive() override { return real_.currentDirectoryDrive(); }

  private:
    Probes& real_;
};

// Bytes received on the loopback interface of this namespace, as the kernel counts them.
std::uint64_t loopbackReceived() {
    QFile dev(QStringLiteral("/proc/net/dev"));
    if (!dev.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : dev.readAll().split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("lo:"))
            return trimmed.mid(3).simplified().split(' ').value(0).toULongLong();
    }
    return 0;
}

// Some datagrams through the loopback interface.
void sendLoopbackTraffic() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);  // discard
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char payload[1000] = {};
    for (int i = 0; i < 10; ++i)
        sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(fd);
}

QString alertText(const QString& root) {
    return QStringLiteral("balloon:Внимание!|На диске: ") + root +
           QStringLiteral(" осталось меньше 100 Mb дискового пространства");
}

// The digits of a masked figure ("Всего на диске 1 234 567 B" -> 1234567).
std::uint64_t figure(const QString& masked) {
    QString digits;
    for (const QChar c : masked) {
        if (c.isDigit())
            digits += c;
    }
    return digits.toULongLong();
}

}  // namespace

class EnduranceFaultsTest : public QObject {
    Q_OBJECT
  public:
    explicit EnduranceFaultsTest(bool isolated) : isolated_(isolated) {}

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void driveFaults_data();
    void driveFaults();
    void interfacesComeAndGo();

  private:
    enum class Kind { Tmpfs, Fuse };

    QString mountTmpfs(const QString& name, std::int64_t bytes);
    QString mountFuse(const QString& name);
    // The drive mounted at `point`: the one the probes name as the current directory's drive
    // while the process stands in it (a drive of the same size that another test mounted
    // before this process made its namespace is not mistaken for it).
    QString rootAt(const QString& point);
    void makeWindow();
    void selectDrive(const QString& root);
    void tick(const QString& root);
    void waitRefreshes(int count);
    QString label(const char* name) const;
    QString lvTrafficCell(const QString& description, int column) const;
    // One look at the window after the given change: the refreshes went on, the virtual
    // memory gauge took up a fresh mapping, the loopback figures took up fresh traffic and the
    // witness drive raised its alert.
    void checkEverythingElseRefreshes();
    // What the window and the probes make of the witness drive now, for a failure message.
    QString witnessState();

    bool isolated_;
    QString scratch_;
    QStringList mounts_;
    pid_t fuseDaemon_ = -1;
    std::unique_ptr<Probes> real_;
    std::unique_ptr<CountingProbes> probes_;
    std::unique_ptr<test::Seams> seams_;
    std::unique_ptr<TForm1> window_;
    QString witnessRoot_;
};

void EnduranceFaultsTest::initTestCase() {
    if (!isolated_)
        QSKIP(qPrintable(QStringLiteral("skipped: ") + g_isolation));
    QByteArray dir = QByteArrayLiteral("/mnt/koravex-endure.XXXXXX");
    QVERIFY(mkdtemp(dir.data()) != nullptr);
    scratch_ = QString::fromLocal8Bit(dir);
}

void EnduranceFaultsTest::cleanupTestCase() {
    if (!scratch_.isEmpty())
        QDir(scratch_).removeRecursively();
}

void EnduranceFaultsTest::cleanup() {
    window_.reset();
    seams_.reset();
    probes_.reset();
    if (fuseDaemon_ > 0) {
        kill(fuseDaemon_, SIGCONT);
        kill(fuseDaemon_, SIGKILL);  // aborts the connection: stuck calls come back
        waitpid(fuseDaemon_, nullptr, 0);
        fuseDaemon_ = -1;
    }
    real_.reset();  // after the daemon: a call left stuck on it must have come back
    for (auto it = mounts_.crbegin(); it != mounts_.crend(); ++it)
        umount2(it->toLocal8Bit().constData(), MNT_DETACH);
    mounts_.clear();
}

QString EnduranceFaultsTest::mountTmpfs(const QString& name, std::int64_t bytes) {
    const QString point = scratch_ + QLatin1Char('/') + name;
    QDir().mkpath(point);
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (mount("koravex-endure", point.toLocal8Bit().constData(), "tmpfs", 0, options.constData()) !=
        0)
        return {};
    mounts_ << point;
    return point;
}

QString EnduranceFaultsTest::mountFuse(const QString& name) {
    const QString point = scratch_ + QLatin1Char('/') + name;
    QDir().mkpath(point);
    const QByteArray path = point.toLocal8Bit();
#ifdef KORAVEX_STUCK_FUSE
    fuseDaemon_ = fork();
    if (fuseDaemon_ == 0) {
        setenv("KORAVEX_FUSE_ANSWER", "1", 1);
        execl(KORAVEX_STUCK_FUSE, KORAVEX_STUCK_FUSE, "-f", "-s", path.constData(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
#endif
    mounts_ << point;
    const auto mounted = [&] {
        QFile table(QStringLiteral("/proc/self/mountinfo"));
        return table.open(QIODevice::ReadOnly) && table.readAll().contains(" " + path + " ");
    };
    for (int i = 0; i < 500 && !mounted(); ++i)
        QTest::qWait(10);
    return mounted() ? point : QString();
}

QString EnduranceFaultsTest::rootAt(const QString& point) {
    const QString before = QDir::currentPath();
    if (!QDir::setCurrent(point))
        return {};
    const char letter = real_->currentDirectoryDrive();
    QDir::setCurrent(before);
    return letter != '\0' ? QString::fromLatin1(std::string{letter, ':', '\\'}) : QString();
}

void EnduranceFaultsTest::makeWindow() {
    probes_ = std::make_unique<CountingProbes>(*real_);
    seams_ = std::make_unique<test::Seams>();
    window_ = std::make_unique<TForm1>(*probes_, seams_->hooks());
    window_->show();
    // The drives tab once, so that the selector builds its list.
    auto* tabs = window_->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    tabs->setCurrentIndex(1);
    QCoreApplication::processEvents();
    window_->findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(2);  // bytes
    window_->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->click();
    window_->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("100"));
}

void EnduranceFaultsTest::selectDrive(const QString& root) {
    auto* combo = window_->findChild<DriveComboBox*>(QStringLiteral("DriveComboBox1"));
    QVERIFY(combo->isBuilt());
    const int index = combo->findData(static_cast<int>(root.at(0).toLower().unicode()),
                                      DriveComboBox::LetterRole);
    QVERIFY2(index >= 0, qPrintable(root));
    combo->setCurrentIndex(index);
    QCOMPARE(combo->driveLetter(), root.at(0).toLower().toLatin1());
}

void EnduranceFaultsTest::tick(const QString& root) {
    QStandardItemModel* model =
        window_->findChild<DriveListView*>(QStringLiteral("ListView1"))->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        if (model->item(r, 0)->text() == root) {
            model->item(r, 0)->setCheckState(Qt::Checked);
            return;
        }
    }
    QFAIL(qPrintable(root + QStringLiteral(" is not in the drive list")));
}

void EnduranceFaultsTest::waitRefreshes(int count) {
    const int target = probes_->refreshes + count;
    // Liveness, not speed: at 100 ms a handful of refreshes take well under a second.
    QTRY_VERIFY2_WITH_TIMEOUT(probes_->refreshes >= target, qPrintable(seams_->boxes.join(u'\n')),
                              15000);
}

QString EnduranceFaultsTest::label(const char* name) const {
    return window_->findChild<QLabel*>(QString::fromLatin1(name))->text();
}

QString EnduranceFaultsTest::lvTrafficCell(const QString& description, int column) const {
    auto* table = window_->findChild<QTableWidget*>(QStringLiteral("lvTraffic"));
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->item(r, 1) && table->item(r, 1)->text() == description)
            return table->item(r, column) ? table->item(r, column)->text() : QString();
    }
    return {};
}

void EnduranceFaultsTest::checkEverythingElseRefreshes() {
    // The memory and the interface figures are read on their own tabs, as a user looks at
    // them; the tab shown before is shown again at the end.
    auto* tabs = window_->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const int shownTab = tabs->currentIndex();
    auto* gauge4 = window_->findChild<Gauge*>(QStringLiteral("Gauge4"));
    tabs->setCurrentIndex(0);
    waitRefreshes(1);
    // Gauge4 counts kilobytes, scaled down together with its maximum to fit 32 bits.
    const double kilobytesPerStep =
        double(real_->memoryStatus().totalVirtual) / 1024.0 / gauge4->maxValue();
    const std::int32_t usedBefore = gauge4->progress();
    const std::uint64_t availableVirtual = figure(label("Label7"));
    tabs->setCurrentIndex(2);
    const std::uint64_t received = figure(lvTrafficCell(QStringLiteral("lo"), 3));
    constexpr std::size_t kMapping = std::size_t{1} << 30;  // address space only
    void* mapping = mmap(nullptr, kMapping, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    QVERIFY(mapping != MAP_FAILED);
    sendLoopbackTraffic();
    seams_->events.clear();
    seams_->boxes.clear();
    waitRefreshes(3);
    const std::uint64_t receivedNow = figure(lvTrafficCell(QStringLiteral("lo"), 3));
    // Shown again, the memory tab holds the figures of now, before any refresh of the timer.
    tabs->setCurrentIndex(0);
    const std::int32_t usedAfter = gauge4->progress();
    const std::uint64_t availableVirtualAfter = figure(label("Label7"));
    munmap(mapping, kMapping);
    tabs->setCurrentIndex(shownTab);
    QVERIFY2((usedAfter - usedBefore) * kilobytesPerStep >= 0.9 * kMapping / 1024,
             qPrintable(QStringLiteral("Gauge4 %1 -> %2 of %3")
                            .arg(usedBefore)
                            .arg(usedAfter)
                            .arg(gauge4->maxValue())));
    // The memory texts go on too, whatever the selected drive does.
    QVERIFY2(availableVirtual - availableVirtualAfter >= kMapping * 9 / 10,
             qPrintable(QString::number(availableVirtualAfter)));
    QVERIFY2(receivedNow > received, qPrintable(QString::number(receivedNow)));
    QCOMPARE(receivedNow, loopbackReceived());  // no traffic here but ours
    QVERIFY2(seams_->events.count(alertText(witnessRoot_)) >= 2,
             qPrintable(witnessState() + u'\n' + seams_->events.join(u'\n')));
    QVERIFY2(seams_->boxes.isEmpty(), qPrintable(seams_->boxes.join(u'\n')));
}

QString EnduranceFaultsTest::witnessState() {
    QString ticked = QStringLiteral("not in the list");
    for (const WatchedDrive& d :
         window_->findChild<DriveListView*>(QStringLiteral("ListView1"))->watchedDrives()) {
        if (QString::fromStdString(d.root) == witnessRoot_)
            ticked = d.ticked ? QStringLiteral("ticked") : QStringLiteral("not ticked");
    }
    QStringList roots;
    for (const std::string& root : real_->driveRoots())
        roots << QString::fromStdString(root);
    const std::optional<DriveSpace> space = real_->driveSpace(witnessRoot_.toStdString());
    return QStringLiteral("witness %1 (%2; space %3, volume %4); drives now: %5")
        .arg(witnessRoot_, ticked,
             space ? QStringLiteral("%1 of %2").arg(space->totalFree).arg(space->total)
                   : QStringLiteral("unreadable"),
             real_->volumeInformation(witnessRoot_.toStdString()) ? QStringLiteral("read")
                                                                  : QStringLiteral("unreadable"),
             roots.join(u' '));
}

// A drive that is selected on the drives tab and ticked, low, in the drive list meets a fault
// and (where the row says) comes back.
void EnduranceFaultsTest::driveFaults_data() {
    QTest::addColumn<int>("kind");
    // {point}: the mount point, {daemon}: the FUSE daemon's pid, {size}: the tmpfs size.
    QTest::addColumn<QString>("faultCommand");
    QTest::addColumn<QString>("recoverCommand");  // empty: it does not come back
    QTest::addColumn<std::int64_t>("totalBytes");

    QTest::newRow("tmpfs unmounted, mounted again")
        << int(Kind::Tmpfs) << QStringLiteral("umount '{point}'")
        << QStringLiteral("mount -t tmpfs -o size={size} koravex-endure '{point}'") << kFaultyBytes;
    QTest::newRow("tmpfs lazily detached, mounted again")
        << int(Kind::Tmpfs) << QStringLiteral("umount -l '{point}'")
        << QStringLiteral("mount -t tmpfs -o size={size} koravex-endure '{point}'") << kFaultyBytes;
    QTest::newRow("tmpfs gone for good")
        << int(Kind::Tmpfs) << QStringLiteral("umount '{point}' && rmdir '{point}'") << QString()
        << kFaultyBytes;
    QTest::newRow("FUSE daemon stops answering, then answers again")
        << int(Kind::Fuse) << QStringLiteral("kill -STOP {daemon}")
        << QStringLiteral("kill -CONT {daemon}") << kFuseBytes;
}

void EnduranceFaultsTest::driveFaults() {
    QFETCH(int, kind);
    QFETCH(QString, faultCommand);
    QFETCH(QString, recoverCommand);
    QFETCH(std::int64_t, totalBytes);
#ifndef KORAVEX_STUCK_FUSE
    if (Kind(kind) == Kind::Fuse)
        QSKIP("built without the FUSE helper (libfuse3 development files missing)");
#endif
    if (Kind(kind) == Kind::Fuse && !QFile::exists(QStringLiteral("/dev/fuse")))
        QSKIP("no /dev/fuse on this machine");

    const QString witness = mountTmpfs(QStringLiteral("witness"), kLowBytes);
    QVERIFY(!witness.isEmpty());
    const QString point = Kind(kind) == Kind::Fuse
                              ? mountFuse(QStringLiteral("fuse"))
                              : mountTmpfs(QStringLiteral("faulty"), kFaultyBytes);
    QVERIFY(!point.isEmpty());
    real_ = makeLinuxProbes();
    witnessRoot_ = rootAt(witness);
    const QString faultyRoot = rootAt(point);
    QVERIFY(!witnessRoot_.isEmpty());
    QVERIFY(!faultyRoot.isEmpty());

    makeWindow();
    selectDrive(faultyRoot);
    tick(witnessRoot_);
    tick(faultyRoot);
    waitRefreshes(2);
    QCOMPARE(label("Label8"), QStringLiteral("Диск: ") + faultyRoot.toLower());
    const QString healthyFree = label("Label9");
    QVERIFY2(healthyFree.startsWith(QStringLiteral("Свободно на диске: ")),
             qPrintable(healthyFree));
    QVERIFY2(figure(label("Label10")) == std::uint64_t(totalBytes), qPrintable(label("Label10")));
    QVERIFY(seams_->events.contains(alertText(faultyRoot)));

    const auto filled = [&](QString command) {
        return command.replace(QStringLiteral("{point}"), point)
            .replace(QStringLiteral("{daemon}"), QString::number(fuseDaemon_))
            .replace(QStringLiteral("{size}"), QString::number(kFaultyBytes));
    };
    QVERIFY2(run(filled(faultCommand)), qPrintable(filled(faultCommand)));
    waitRefreshes(2);  // one refresh may have been under way
    if (Kind(kind) == Kind::Fuse) {
        // A drive that stops answering keeps its figures while its question is young, and
        // reads as unreadable once it is 2 s old.
        QTRY_COMPARE_WITH_TIMEOUT(label("Label9"), kCannot, 10000);
        waitRefreshes(1);
    }
    for (const char* name : {"Label9", "Label10", "Label11", "Label12", "Label13"})
        QCOMPARE(label(name), kCannot);
    QCOMPARE(window_->findChild<Gauge*>(QStringLiteral("Gauge1"))->maxValue(), 0);  // empty pie
    checkEverythingElseRefreshes();
    QVERIFY2(!seams_->events.contains(alertText(faultyRoot)),
             qPrintable(seams_->events.join(u'\n')));
    QCOMPARE(label("Label8"), QStringLiteral("Диск: ") + faultyRoot.toLower());

    // Nothing lost: the drive keeps its place and tick in the list, the selector its letter.
    bool stillTicked = false;
    for (const WatchedDrive& d :
         window_->findChild<DriveListView*>(QStringLiteral("ListView1"))->watchedDrives()) {
        if (QString::fromStdString(d.root) == faultyRoot)
            stillTicked = d.ticked;
    }
    QVERIFY(stillTicked);

    if (recoverCommand.isEmpty())
        return;
    QVERIFY2(run(filled(recoverCommand)), qPrintable(filled(recoverCommand)));
    QTRY_VERIFY_WITH_TIMEOUT(label("Label9").startsWith(QStringLiteral("Свободно на диске: ")),
                             10000);
    QCOMPARE(figure(label("Label10")), std::uint64_t(totalBytes));
    QVERIFY(label("Label11") != kCannot);
    QCOMPARE(window_->findChild<Gauge*>(QStringLiteral("Gauge1"))->maxValue(),
             std::int32_t(totalBytes / 1048576));
    seams_->events.clear();
    waitRefreshes(2);
    QVERIFY2(seams_->events.contains(alertText(faultyRoot)),
             qPrintable(seams_->events.join(u'\n')));
    checkEverythingElseRefreshes();
}

void EnduranceFaultsTest::interfacesComeAndGo() {
    const QString witness = mountTmpfs(QStringLiteral("witness"), kLowBytes);
    QVERIFY(!witness.isEmpty());
    real_ = makeLinuxProbes();
    witnessRoot_ = rootAt(witness);
    QVERIFY(!witnessRoot_.isEmpty());
    makeWindow();
    tick(witnessRoot_);
    window_->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
    auto* table = window_->findChild<QTableWidget*>(QStringLiteral("lvTraffic"));
    waitRefreshes(2);
    QCOMPARE(table->rowCount(), 1);  // lo alone in this namespace

    struct Step {
        const char* what;
        const char* command;
        int rows;
        const char* present;  // an interface that must have a row ("" none)
        const char* absent;   // one that must not
    };
    const Step steps[] = {
        {"one added", "ip link add kvxifb0 type ifb", 2, "kvxifb0", ""},
        {"it goes up", "ip link set kvxifb0 up", 2, "kvxifb0", ""},
        {"forty more at once",
         "for i in $(seq 1 40); do ip link add kvxmany$i type ifb || exit 1; done", 42, "kvxmany40",
         ""},
        {"renamed while up", "ip link set kvxifb0 down && ip link set kvxifb0 name kvxren0", 42,
         "kvxren0", "kvxifb0"},
        {"the forty removed", "for i in $(seq 1 40); do ip link del kvxmany$i; done", 2, "kvxren0",
         "kvxmany1"},
        {"the last removed", "ip link del kvxren0", 1, "lo", "kvxren0"},
    };
    for (const Step& step : steps) {
        QVERIFY2(run(QString::fromUtf8(step.command)), step.what);
        QTRY_VERIFY2_WITH_TIMEOUT(table->rowCount() == step.rows, step.what, 10000);
        if (*step.present != '\0')
            QTRY_VERIFY2_WITH_TIMEOUT(!lvTrafficCell(QString::fromUtf8(step.present), 0).isEmpty(),
                                      step.what, 10000);
        if (*step.absent != '\0')
            QTRY_VERIFY2_WITH_TIMEOUT(lvTrafficCell(QString::fromUtf8(step.absent), 0).isEmpty(),
                                      step.what, 10000);
        checkEverythingElseRefreshes();
    }
}

int main(int argc, char** argv) {
    // Before QApplication: a process with more than one thread cannot change namespaces.
    const bool isolated = enterPrivateNamespaces();
    koravex::processDriveHelpers();  // the drive launcher too, in the same namespace
    QApplication app(argc, argv);
    EnduranceFaultsTest test(isolated);
    return QTest::qExec(&test, argc, argv);
}

#include "endurance_faults_test.moc"
