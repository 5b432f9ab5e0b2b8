// The session bus check against sockets that behave as buses do: one that answers, one that
// accepts and reads nothing, a stopped daemon (its queue takes the connection, nobody
// accepts), none at all; in the order a client tries an address list.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "shell/posix/instance_posix.h"
#include "shell/posix/session_bus_check.h"

using namespace koravex;
using Clock = std::chrono::steady_clock;

Q_DECLARE_METATYPE(std::vector<koravex::BusSocket>)
Q_DECLARE_METATYPE(koravex::BusState)

namespace {

UniqueFd listening(const std::string& path, int backlog) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), backlog) != 0)
        return {};
    return fd;
}

// A bus on `path` for the test's length: "answers" authenticates and answers the first
// message as a daemon does; "auth-only" authenticates and then reads nothing; "silent"
// accepts and reads nothing; "stopped" never accepts.
class FakeBus {
  public:
    FakeBus(const std::string& path, const QString& kind) : fd_(listening(path, 4)) {
        if (kind == QLatin1String("stopped") || !fd_.valid())
            return;
        const bool authenticates = kind != QLatin1String("silent");
        const bool answers = kind == QLatin1String("answers");
        worker_ = std::thread([this, authenticates, answers] {
            const UniqueFd peer(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            const auto readUntil = [&peer](std::string& got, const std::string& end) {
                char chunk[256];
                while (got.find(end) == std::string::npos) {
                    const ssize_t n = ::recv(peer.get(), chunk, sizeof chunk, 0);
                    if (n <= 0)
                        return false;
                    got.append(chunk, static_cast<size_t>(n));
                }
                return true;
            };
            std::string got;
            if (authenticates && readUntil(got, "\r\n") &&
                got.starts_with(std::string(1, '\0') + "AUTH EXTERNAL ")) {
                const std::string ok = "OK 0123456789abcdef0123456789abcdef\r\n";
                (void)!::send(peer.get(), ok.data(), ok.size(), MSG_NOSIGNAL);
                got.clear();
                // BEGIN, then the Hello call's member name ends its header.
                if (answers && readUntil(got, "Hello")) {
                    const std::string reply(16, '\2');
                    (void)!::send(peer.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
                }
            }
            while (!done_.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
    }
    ~FakeBus() {
        done_.store(true);
        if (worker_.joinable()) {
            ::shutdown(fd_.get(), SHUT_RDWR);  // an accept still waiting returns
            worker_.join();
        }
    }
    bool valid() const { return fd_.valid(); }

  private:
    UniqueFd fd_;
    std::atomic<bool> done_{false};
    std::thread worker_;
};

}  // namespace

class SessionBusCheckTest : public QObject {
    Q_OBJECT
  private slots:
    void addresses_data();
    void addresses();
    void check_data();
    void check();
    void threadedCheckGivesUpAtTheDeadline();
    void realDaemonAnswers();
};

void SessionBusCheckTest::addresses_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<std::vector<BusSocket>>("sockets");
    QTest::newRow("path with guid") << "unix:path=/run/user/1000/bus,guid=abc" << true
                                    << std::vector<BusSocket>{{false, "/run/user/1000/bus"}};
    QTest::newRow("abstract, escaped") << "unix:abstract=/tmp/dbus%2dX%2cY" << true
                                       << std::vector<BusSocket>{{true, "/tmp/dbus-X,Y"}};
    QTest::newRow("two, in order") << "unix:path=/a;unix:abstract=b;" << true
                                   << std::vector<BusSocket>{{false, "/a"}, {true, "b"}};
    QTest::newRow("tcp") << "tcp:host=localhost,port=1234" << false << std::vector<BusSocket>{};
    QTest::newRow("unix then tcp")
        << "unix:path=/a;tcp:host=h,port=1" << false << std::vector<BusSocket>{};
    QTest::newRow("listening-only keys") << "unix:tmpdir=/tmp" << false << std::vector<BusSocket>{};
    QTest::newRow("bad escape") << "unix:path=/a%2" << false << std::vector<BusSocket>{};
    QTest::newRow("empty") << "" << false << std::vector<BusSocket>{};
}

void SessionBusCheckTest::addresses() {
    QFETCH(QString, address);
    QFETCH(bool, checkable);
    QFETCH(std::vector<BusSocket>, sockets);
    const auto got = unixBusSockets(address.toStdString());
    QCOMPARE(got.has_value(), checkable);
    if (checkable)
        QVERIFY(*got == sockets);
}

void SessionBusCheckTest::check_data() {
    QTest::addColumn<QStringList>("buses");  // one fake bus per address, in order
    QTest::addColumn<BusState>("expected");
    QTest::newRow("answers") << QStringList{"answers"} << BusState::Answers;
    QTest::newRow("accepts, never answers") << QStringList{"silent"} << BusState::Silent;
    QTest::newRow("authenticates, then answers nothing")
        << QStringList{"auth-only"} << BusState::Silent;
    QTest::newRow("daemon stopped") << QStringList{"stopped"} << BusState::Silent;
    QTest::newRow("nothing there") << QStringList{"none"} << BusState::Unreachable;
    QTest::newRow("dead first, then one that answers")
        << QStringList{"none", "answers"} << BusState::Answers;
    QTest::newRow("silent first: a client stays there")
        << QStringList{"silent", "answers"} << BusState::Silent;
}

void SessionBusCheckTest::check() {
    QFETCH(QStringList, buses);
    QFETCH(BusState, expected);
    QTemporaryDir dir;
    std::vector<std::unique_ptr<FakeBus>> running;
    std::vector<BusSocket> sockets;
    for (int i = 0; i < buses.size(); ++i) {
        const std::string path = dir.path().toStdString() + "/bus" + std::to_string(i);
        if (buses[i] != QLatin1String("none")) {
            running.push_back(std::make_unique<FakeBus>(path, buses[i]));
            QVERIFY(running.back()->valid());
        }
        sockets.push_back({false, path});
    }
    constexpr auto kLimit = std::chrono::milliseconds(150);
    const auto start = Clock::now();
    QCOMPARE(checkBus(sockets, ::getuid(), start + kLimit), expected);
    const auto took = Clock::now() - start;
    // Never past the deadline (a few milliseconds of scheduling aside); an answer comes at once.
    QVERIFY(took < kLimit + std::chrono::milliseconds(50));
    if (expected == BusState::Silent)
        QVERIFY(took >= kLimit - std::chrono::milliseconds(1));
}

void SessionBusCheckTest::threadedCheckGivesUpAtTheDeadline() {
    // The check runs on its own thread; the waiter gives up at its deadline however long the
    // check's own limit is, and a silent bus then counts as silent.
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/bus";
    const FakeBus bus(path, QStringLiteral("silent"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=") + path.c_str());
    SessionBusCheck check(std::chrono::seconds(5));
    const auto start = Clock::now();
    QCOMPARE(check.result(start + std::chrono::milliseconds(100)), BusState::Silent);
    QVERIFY(Clock::now() - start < std::chrono::milliseconds(150));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "tcp:host=localhost,port=1");
    QCOMPARE(SessionBusCheck(std::chrono::seconds(1)).result(Clock::now()), BusState::Unchecked);
}

void SessionBusCheckTest::realDaemonAnswers() {
    // The real daemon takes the check's authentication and Hello (a malformed Hello would be
    // dropped with the connection: Unreachable), and answers within a few milliseconds.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                   "Configuration 1.0//EN\" "
                   "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                   "<busconfig><type>session</type><listen>unix:path=%1</listen>"
                   "<auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy>"
                   "</busconfig>")
                   .arg(dir.filePath(QStringLiteral("bus")))
                   .toUtf8());
    file.close();
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                  QStringLiteral("--config-file=") + config});
    if (!daemon.waitForStarted(5000))
        QSKIP("no dbus-daemon on this machine");
    QByteArray address;
    while (!address.contains('\n') && daemon.waitForReadyRead(10000))
        address += daemon.readAllStandardOutput();
    const auto sockets = unixBusSockets(address.trimmed().toStdString());
    QVERIFY2(sockets.has_value(), address.constData());
    const auto start = Clock::now();
    const BusState state = checkBus(*sockets, ::getuid(), start + std::chrono::seconds(5));
    QVERIFY2(state == BusState::Answers,
             qPrintable(
                 QStringLiteral("state %1 at %2").arg(int(state)).arg(QString::fromUtf8(address))));
    qInfo("the daemon answered in %lld us",
          static_cast<long long>(
              std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()));
    daemon.terminate();
    daemon.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(SessionBusCheckTest)
#include "session_bus_check_test.moc"
