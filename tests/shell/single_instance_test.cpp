// The single-instance socket: hand-over, the two comparisons, peer checks, malformed peers and
// holders, slots held by other users. Both ends run in this process on names of their own; the
// plain peers are QLocalSockets, so these also show the server answering Qt's sockets.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QTest>
#include <csignal>
#include <cstring>
#include <thread>

#include "shell/single_instance.h"

using namespace koravex;
using namespace std::chrono_literals;

namespace {

const QByteArray kPath = "/opt/koravex/bin/koravex";

QString uniqueBase(const char* tag) {
    static int counter = 0;
    return QStringLiteral("KoravexTest-%1-%2-%3")
        .arg(getpid())
        .arg(QLatin1String(tag))
        .arg(++counter);
}

// A server that greets as `greeting` and records the commands it receives.
struct RecordingServer {
    explicit RecordingServer(uid_t allowed = getuid()) : server(allowed) {
        server.greeting = [this] { return greet; };
        server.onCommand = [this](InstanceCommand c) { commands.append(c); };
    }
    InstanceServer server;
    InstanceGreeting greet{"TForm1", false, kPath};
    QList<InstanceCommand> commands;
};

// Connects a plain socket to `name` and returns it once connected.
std::unique_ptr<QLocalSocket> rawPeer(const QString& name) {
    auto socket = std::make_unique<QLocalSocket>();
    socket->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket->connectToServer(name);
    socket->waitForConnected(1000);
    return socket;
}

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
  private slots:
    void socketNames();
    void handOverComparisons_data();
    void handOverComparisons();
    void nobodyHoldingTheName();
    void silentHolderTimesOut();
    void peerOfOtherUidIsDropped();
    void holderOfOtherUidIsPassedOver();
    void malformedAndUnknownInputIgnored();
    void peersBeyondTheLimitAreDropped();
    void claimFirstThenSecond();
    void nameFreedWhenHolderGoes();
    void slotSquattedByOtherUser();
    void listenErrors_data();
    void listenErrors();
    void peerGoneBeforeGreeting();
    void misbehavingHolder_data();
    void misbehavingHolder();
};

void SingleInstanceTest::socketNames() {
    QCOMPARE(instanceSocketName(QStringLiteral("TarquelKoravex"), 1000, 0),
             QStringLiteral("TarquelKoravex-1000"));
    QCOMPARE(instanceSocketName(QStringLiteral("TarquelKoravex"), 0, 2),
             QStringLiteral("TarquelKoravex-0-2"));
    QVERIFY(ownExecutablePath().startsWith('/'));
}

void SingleInstanceTest::handOverComparisons_data() {
    QTest::addColumn<QByteArray>("serverClass");
    QTest::addColumn<QByteArray>("serverPath");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<InstanceCommand>>("commands");
    using C = QList<InstanceCommand>;
    const int handed = int(HandOverResult::HandedOver);
    const int noMatch = int(HandOverResult::NoMatch);
    QTest::newRow("hidden: activate then raise")
        << QByteArray("TForm1") << kPath << false << handed
        << C{InstanceCommand::Activate, InstanceCommand::Raise};
    QTest::newRow("visible: raise only")
        << QByteArray("TForm1") << kPath << true << handed << C{InstanceCommand::Raise};
    QTest::newRow("class differs in case")
        << QByteArray("tform1") << kPath << false << noMatch << C{};
    QTest::newRow("class longer") << QByteArray("TForm12") << kPath << false << noMatch << C{};
    QTest::newRow("other executable")
        << QByteArray("TForm1") << kPath + "-old" << false << noMatch << C{};
    QTest::newRow("path differs in case")
        << QByteArray("TForm1") << kPath.toUpper() << true << noMatch << C{};
}

void SingleInstanceTest::handOverComparisons() {
    QFETCH(QByteArray, serverClass);
    QFETCH(QByteArray, serverPath);
    QFETCH(bool, visible);
    QFETCH(int, result);
    QFETCH(QList<InstanceCommand>, commands);

    RecordingServer running;
    running.greet = {serverClass, visible, serverPath};
    const QString name = uniqueBase("cmp");
    QVERIFY(running.server.listen(name));

    QCOMPARE(int(handOver(name, {"TForm1", kPath}, getuid(), 1000ms)), result);
    if (commands.isEmpty()) {
        QTest::qWait(50);  // anything sent would have arrived by now
        QVERIFY(running.commands.isEmpty());
    } else {
        QTRY_COMPARE(running.commands, commands);
    }
}

void SingleInstanceTest::nobodyHoldingTheName() {
    QCOMPARE(handOver(uniqueBase("none"), {"TForm1", kPath}, getuid(), 1000ms),
             HandOverResult::Vanished);
}

void SingleInstanceTest::silentHolderTimesOut() {
    // A holder that never greets: the start gives up after the time-out, not before.
    InstanceServer silent(getuid());
    const QString name = uniqueBase("silent");
    QVERIFY(silent.listen(name));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(handOver(name, {"TForm1", kPath}, getuid(), 300ms), HandOverResult::NoMatch);
    QVERIFY(clock.elapsed() >= 250);
    QVERIFY(clock.elapsed() < 5000);
}

void SingleInstanceTest::peerOfOtherUidIsDropped() {
    // The server only serves its own user: any other uid gets neither greeting nor hearing.
    RecordingServer running(getuid() + 1);
    const QString name = uniqueBase("uid");
    QVERIFY(running.server.listen(name));
    QCOMPARE(handOver(name, {"TForm1", kPath}, getuid(), 2000ms), HandOverResult::NoMatch);

    auto peer = rawPeer(name);
    peer->write("activate\nraise\n");
    peer->flush();
    QTest::qWait(100);
    QVERIFY(running.commands.isEmpty());
    QCOMPARE(peer->state(), QLocalSocket::UnconnectedState);
}

void SingleInstanceTest::holderOfOtherUidIsPassedOver() {
    RecordingServer running;
    const QString name = uniqueBase("owner");
    QVERIFY(running.server.listen(name));
    QCOMPARE(handOver(name, {"TForm1", kPath}, getuid() + 1, 1000ms), HandOverResult::ForeignOwner);
    QTest::qWait(50);
    QVERIFY(running.commands.isEmpty());
}

void SingleInstanceTest::malformedAndUnknownInputIgnored() {
    RecordingServer running;
    const QString name = uniqueBase("junk");
    QVERIFY(running.server.listen(name));

    auto junk = rawPeer(name);
    QTRY_VERIFY(junk->canReadLine());
    QCOMPARE(junk->readLine(), formatGreeting(running.greet));
    junk->write("ACTIVATE\nquit\n\nraise \n\x01\xFF\n");
    junk->flush();
    QTest::qWait(100);
    QVERIFY(running.commands.isEmpty());

    // An endless line ends the connection; the server goes on serving others.
    auto flood = rawPeer(name);
    flood->write(QByteArray(kMaxProtocolLine + 10, 'x'));
    flood->flush();
    QTRY_COMPARE(flood->state(), QLocalSocket::UnconnectedState);

    auto good = rawPeer(name);
    good->write("raise\n");
    good->flush();
    QTRY_COMPARE(running.commands, QList<InstanceCommand>{InstanceCommand::Raise});
}

void SingleInstanceTest::peersBeyondTheLimitAreDropped() {
    // Connections that never say anything cannot pile up without bound.
    RecordingServer running;
    const QString name = uniqueBase("limit");
    QVERIFY(running.server.listen(name));
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < InstanceServer::kMaxPeers; ++i) {
        idle.push_back(rawPeer(name));
        QTRY_VERIFY(idle.back()->canReadLine());
    }
    auto extra = rawPeer(name);
    QTRY_COMPARE(extra->state(), QLocalSocket::UnconnectedState);
    QVERIFY(!extra->canReadLine());

    idle.front()->disconnectFromServer();
    idle.erase(idle.begin());
    QTest::qWait(50);
    auto next = rawPeer(name);
    QTRY_VERIFY(next->canReadLine());
}

void SingleInstanceTest::claimFirstThenSecond() {
    const QString base = uniqueBase("claim");
    InstanceClaim first = claimInstance(base, {"TForm1", kPath}, getuid(), 1000ms);
    QVERIFY(first.runHere);
    QVERIFY(first.server);
    QList<InstanceCommand> received;
    first.server->greeting = [] { return InstanceGreeting{"TForm1", false, kPath}; };
    first.server->onCommand = [&](InstanceCommand c) { received.append(c); };

    QElapsedTimer clock;
    clock.start();
    InstanceClaim second = claimInstance(base, {"TForm1", kPath}, getuid(), 1000ms);
    QVERIFY(!second.runHere);
    QVERIFY(!second.server);
    QVERIFY(clock.elapsed() < 1000);
    QTRY_COMPARE(received,
                 (QList<InstanceCommand>{InstanceCommand::Activate, InstanceCommand::Raise}));

    // A holder of our name that is another program: the start ends and sends nothing.
    received.clear();
    InstanceClaim stranger = claimInstance(base, {"TForm1", "/usr/bin/other"}, getuid(), 500ms);
    QVERIFY(!stranger.runHere);
    QTest::qWait(50);
    QVERIFY(received.isEmpty());
}

void SingleInstanceTest::nameFreedWhenHolderGoes() {
    const QString base = uniqueBase("free");
    InstanceClaim first = claimInstance(base, {"TForm1", kPath}, getuid(), 1000ms);
    QVERIFY(first.server);
    const QString held = first.server->fullServerName();
    first.server.reset();
    InstanceClaim next = claimInstance(base, {"TForm1", kPath}, getuid(), 1000ms);
    QVERIFY(next.runHere);
    QVERIFY(next.server);
    QCOMPARE(next.server->fullServerName(), held);
}

void SingleInstanceTest::slotSquattedByOtherUser() {
    if (geteuid() != 0) {
        QSKIP("needs root to bind a name as another user");
    }
    const QString base = uniqueBase("squat");
    const QByteArray slot0 = instanceSocketName(base, getuid(), 0).toUtf8();
    int ready[2];
    QCOMPARE(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        // Another user binds this user's name first and sits on it.
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
            _exit(2);
        }
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, slot0.constData(), static_cast<size_t>(slot0.size()));
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 +
                                                   static_cast<size_t>(slot0.size()));
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0) {
            _exit(3);
        }
        const char byte = 'r';
        (void)!write(ready[1], &byte, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    const bool squatting = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    pid_t squatter = child;
    const auto cleanup = qScopeGuard([&squatter] {
        if (squatter > 0) {
            kill(squatter, SIGKILL);
            waitpid(squatter, nullptr, 0);
        }
    });
    QVERIFY(squatting);

    InstanceClaim first = claimInstance(base, {"TForm1", kPath}, getuid(), 1000ms);
    QVERIFY(first.runHere);
    QVERIFY(first.server);
    QVERIFY(first.server->fullServerName().endsWith(QStringLiteral("-1")));
    first.server->greeting = [] { return InstanceGreeting{"TForm1", true, kPath}; };

    QList<InstanceCommand> received;
    first.server->onCommand = [&](InstanceCommand c) { received.append(c); };

    // A second start of the same user walks the same slots and finds the first instance.
    InstanceClaim second = claimInstance(base, {"TForm1", kPath}, getuid(), 1000ms);
    QVERIFY(!second.runHere);
    QTRY_COMPARE(received, QList<InstanceCommand>{InstanceCommand::Raise});

    // The squatter goes: a start now binds the free first slot, but must still find the
    // instance on the later one instead of running a second instance.
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);
    squatter = 0;
    received.clear();
    InstanceClaim third = claimInstance(base, {"TForm1", kPath}, getuid(), 1000ms);
    QVERIFY(!third.runHere);
    QVERIFY(!third.server);
    QTRY_COMPARE(received, QList<InstanceCommand>{InstanceCommand::Raise});
}

void SingleInstanceTest::listenErrors_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("holdFirst");
    QTest::addColumn<int>("error");
    const QString free = uniqueBase("free-name");
    QTest::newRow("free name") << free << false << int(InstanceListenError::None);
    QTest::newRow("held name") << uniqueBase("held") << true
                               << int(InstanceListenError::AddressInUse);
    QTest::newRow("empty name") << QString() << false << int(InstanceListenError::BadName);
    QTest::newRow("longer than an address holds")
        << QString(200, QLatin1Char('k')) << false << int(InstanceListenError::BadName);
}

void SingleInstanceTest::listenErrors() {
    QFETCH(QString, name);
    QFETCH(bool, holdFirst);
    QFETCH(int, error);
    InstanceServer holder(getuid());
    if (holdFirst) {
        QVERIFY(holder.listen(name));
    }
    InstanceServer server(getuid());
    QCOMPARE(server.listen(name), error == int(InstanceListenError::None));
    QCOMPARE(int(server.serverError()), error);
    QCOMPARE(server.serverErrno() != 0, error != int(InstanceListenError::None));
    if (error == int(InstanceListenError::None)) {
        QCOMPARE(server.fullServerName(), name);
        QVERIFY(!server.listen(name));  // one name per server
    }
}

void SingleInstanceTest::peerGoneBeforeGreeting() {
    // Peers that connect and leave before the server gets to them: writing the greeting must
    // neither raise SIGPIPE (which would end the program) nor leave them counted.
    RecordingServer running;
    const QString name = uniqueBase("gone");
    QVERIFY(running.server.listen(name));
    const std::optional<AbstractAddress> address = abstractAddress(name);
    QVERIFY(address);
    for (int i = 0; i < 3; ++i) {
        UniqueFd fd = newStreamSocket();
        QCOMPARE(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address->address),
                           address->length),
                 0);
    }
    QTRY_COMPARE(running.server.connectedPeers(), 0);
    QCOMPARE(handOver(name, {"TForm1", kPath}, getuid(), 1000ms), HandOverResult::HandedOver);
    QTRY_COMPARE(running.commands,
                 (QList<InstanceCommand>{InstanceCommand::Activate, InstanceCommand::Raise}));
}

void SingleInstanceTest::misbehavingHolder_data() {
    QTest::addColumn<QByteArrayList>("chunks");  // sent by the holder, 40 ms apart
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("heard");
    const QByteArray greeting = formatGreeting({"TForm1", true, kPath});
    const int handed = int(HandOverResult::HandedOver);
    const int noMatch = int(HandOverResult::NoMatch);
    QTest::newRow("greeting in pieces")
        << QByteArrayList{greeting.left(5), greeting.mid(5, 9), greeting.mid(14)} << handed
        << QByteArray("raise\n");
    QTest::newRow("byte by byte") << [&] {
        QByteArrayList bytes;
        for (const char c : greeting.left(30)) {
            bytes.append(QByteArray(1, c));
        }
        bytes.append(greeting.mid(30));
        return bytes;
    }() << handed << QByteArray("raise\n");
    QTest::newRow("closes without a word") << QByteArrayList{} << noMatch << QByteArray();
    QTest::newRow("half a greeting, then closes")
        << QByteArrayList{greeting.left(10)} << noMatch << QByteArray();
    QTest::newRow("not a greeting") << QByteArrayList{"hello there\n"} << noMatch << QByteArray();
    QTest::newRow("endless line") << QByteArrayList{QByteArray(kMaxProtocolLine + 100, 'i')}
                                  << noMatch << QByteArray();
}

void SingleInstanceTest::misbehavingHolder() {
    QFETCH(QByteArrayList, chunks);
    QFETCH(int, result);
    QFETCH(QByteArray, heard);

    // A holder of our own uid written by hand, in a thread of its own, blocking.
    const QString name = uniqueBase("holder");
    const std::optional<AbstractAddress> address = abstractAddress(name);
    QVERIFY(address);
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    QCOMPARE(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address->address),
                    address->length),
             0);
    QCOMPARE(::listen(listener.get(), 4), 0);
    QByteArray received;
    std::thread holder([&] {
        pollfd waiting{listener.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 5000) != 1) {
            return;
        }
        UniqueFd peer(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        for (const QByteArray& chunk : chunks) {
            (void)!::send(peer.get(), chunk.constData(), static_cast<size_t>(chunk.size()),
                          MSG_NOSIGNAL);
            std::this_thread::sleep_for(40ms);
        }
        if (result != int(HandOverResult::HandedOver)) {
            return;  // closes
        }
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::recv(peer.get(), buffer, sizeof buffer, 0)) > 0) {
            received.append(buffer, n);
        }
    });
    QElapsedTimer clock;
    clock.start();
    const HandOverResult got = handOver(name, {"TForm1", kPath}, getuid(), 3000ms);
    const qint64 elapsed = clock.elapsed();
    holder.join();
    QCOMPARE(int(got), result);
    QCOMPARE(received, heard);
    // Every row ends by the holder's doing: the start must not sit out its time-out.
    QVERIFY2(elapsed < 2500, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
