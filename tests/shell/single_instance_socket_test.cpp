// The plain sockets under the single-instance guard: the address bytes (the same as Qt's
// local sockets use, checked against QLocalServer itself), complete writes against a slow,
// absent or departed reader, and no descriptor left open on any path.
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

#include "shell/single_instance.h"

using namespace koravex;
using namespace std::chrono_literals;

namespace {

const QByteArray kPath = "/opt/koravex/bin/koravex";

QString uniqueName(const char* tag) {
    static int counter = 0;
    return QStringLiteral("KoravexSockTest-%1-%2-%3")
        .arg(getpid())
        .arg(QLatin1String(tag))
        .arg(++counter);
}

int openDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) {
        return -1;
    }
    int count = 0;
    while (readdir(dir) != nullptr) {
        ++count;
    }
    closedir(dir);
    return count;
}

UniqueFd connectPlain(const QString& name) {
    const std::optional<AbstractAddress> address = abstractAddress(name);
    UniqueFd fd = newStreamSocket();
    if (!address || !fd.valid() ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address->address),
                  address->length) != 0) {
        return {};
    }
    return fd;
}

InstanceServer* greetingServer(std::unique_ptr<InstanceServer>& owner, uid_t allowed,
                               const QString& name) {
    owner = std::make_unique<InstanceServer>(allowed);
    owner->greeting = [] { return InstanceGreeting{"TForm1", false, kPath}; };
    return owner->listen(name) ? owner.get() : nullptr;
}

}  // namespace

using Scenario = std::function<void()>;
Q_DECLARE_METATYPE(Scenario)

class SingleInstanceSocketTest : public QObject {
    Q_OBJECT
  private slots:
    void addressBytes_data();
    void addressBytes();
    void meetsQtLocalSockets();
    void writeAll_data();
    void writeAll();
    void noDescriptorLeft_data();
    void noDescriptorLeft();
};

void SingleInstanceSocketTest::addressBytes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("path");  // the sun_path bytes the address length covers
    // The process id keeps the names apart from other runs; the bytes are spelt out in full.
    const QByteArray pid = QByteArray::number(getpid());
    const QString base = QStringLiteral("KxAddr") + QString::fromLatin1(pid);
    const QByteArray nul(1, '\0');
    QTest::newRow("slot 0") << instanceSocketName(base, 1000, 0) << nul + "KxAddr" + pid + "-1000";
    QTest::newRow("later slot") << instanceSocketName(base, 0, 3) << nul + "KxAddr" + pid + "-0-3";
    QTest::newRow("non-ASCII name as UTF-8")
        << base + QStringLiteral("-Корa") << nul + "KxAddr" + pid + "-\xD0\x9A\xD0\xBE\xD1\x80\x61";
    const QByteArray longest = "KxAddr" + pid + QByteArray(106 - 6 - pid.size(), 'n');
    QTest::newRow("longest that fits") << QString::fromLatin1(longest) << nul + longest;
    QTest::newRow("one byte too long") << QString::fromLatin1(longest + 'n') << QByteArray();
    QTest::newRow("empty") << QString() << QByteArray();
}

void SingleInstanceSocketTest::addressBytes() {
    QFETCH(QString, name);
    QFETCH(QByteArray, path);
    const std::optional<AbstractAddress> address = abstractAddress(name);
    QCOMPARE(address.has_value(), !path.isEmpty());
    if (!address) {
        return;
    }
    QCOMPARE(address->address.sun_family, sa_family_t(AF_UNIX));
    QCOMPARE(address->pathBytes(), path);
    QCOMPARE(size_t(address->length), offsetof(sockaddr_un, sun_path) + size_t(path.size()));

    // Qt's own server on this name binds exactly these bytes.
    QLocalServer qtServer;
    qtServer.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    QVERIFY(qtServer.listen(name));
    sockaddr_un bound{};
    socklen_t length = sizeof bound;
    QCOMPARE(
        getsockname(int(qtServer.socketDescriptor()), reinterpret_cast<sockaddr*>(&bound), &length),
        0);
    QCOMPARE(length, address->length);
    QCOMPARE(QByteArray(bound.sun_path, qsizetype(length - offsetof(sockaddr_un, sun_path))), path);
}

void SingleInstanceSocketTest::meetsQtLocalSockets() {
    // A build on Qt's local sockets and this one see each other's name as held...
    const QString name = uniqueName("compat");
    {
        QLocalServer qtServer;
        qtServer.setSocketOptions(QLocalServer::AbstractNamespaceOption);
        QVERIFY(qtServer.listen(name));
        InstanceServer ours(getuid());
        QVERIFY(!ours.listen(name));
        QCOMPARE(ours.serverError(), InstanceListenError::AddressInUse);

        // ...and a start of this build hands over to an instance of the other.
        QByteArray heard;
        connect(&qtServer, &QLocalServer::newConnection, &qtServer, [&] {
            QLocalSocket* peer = qtServer.nextPendingConnection();
            peer->write(formatGreeting({"TForm1", false, kPath}));
            connect(peer, &QLocalSocket::readyRead, peer, [&, peer] { heard += peer->readAll(); });
        });
        QCOMPARE(handOver(name, {"TForm1", kPath}, getuid(), 1000ms), HandOverResult::HandedOver);
        QTRY_COMPARE(heard, QByteArray("activate\nraise\n"));
    }
    InstanceServer ours(getuid());
    QVERIFY(ours.listen(name));
    QLocalServer qtServer;
    qtServer.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    QVERIFY(!qtServer.listen(name));
    QCOMPARE(qtServer.serverError(), QAbstractSocket::AddressInUseError);
}

enum class Reader { Slow, Never, Leaves };

void SingleInstanceSocketTest::writeAll_data() {
    QTest::addColumn<Reader>("reader");
    QTest::addColumn<bool>("complete");
    QTest::newRow("slow reader takes it all") << Reader::Slow << true;
    QTest::newRow("reader never reads: deadline") << Reader::Never << false;
    QTest::newRow("reader leaves: failure, no SIGPIPE") << Reader::Leaves << false;
}

void SingleInstanceSocketTest::writeAll() {
    QFETCH(Reader, reader);
    QFETCH(bool, complete);
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair), 0);
    UniqueFd writer(pair[0]);
    UniqueFd readerFd(pair[1]);
    const int small = 4096;
    setsockopt(writer.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    // Far more than the socket holds, so that the writer must wait for room many times.
    QByteArray payload(2 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < payload.size(); ++i) {
        payload[i] = char(i * 7 + i / 251);
    }
    QByteArray received;
    std::atomic<bool> stop{false};
    std::thread thread;
    if (reader == Reader::Slow) {
        thread = std::thread([&] {
            while (!stop && received.size() < payload.size()) {
                std::this_thread::sleep_for(1ms);
                readAvailable(readerFd.get(), received, 16 * 1024);
            }
        });
    } else if (reader == Reader::Leaves) {
        readerFd.reset();
    }
    QElapsedTimer clock;
    clock.start();
    const QDeadlineTimer deadline(reader == Reader::Slow ? 20000ms : 300ms);
    const bool done = koravex::writeAll(writer.get(), payload, deadline);
    const qint64 elapsed = clock.elapsed();
    // Written in full means the last bytes may still sit in the socket: the slow reader
    // takes them before it stops.
    if (!done || reader != Reader::Slow) {
        stop = true;
    }
    if (thread.joinable()) {
        thread.join();
    }
    QCOMPARE(done, complete);
    if (reader == Reader::Slow) {
        QCOMPARE(received.size(), payload.size());
        QVERIFY(received == payload);
    }
    if (reader == Reader::Never) {
        QVERIFY(elapsed >= 250);
    }
    QVERIFY(elapsed < 20000);
}

void SingleInstanceSocketTest::noDescriptorLeft_data() {
    QTest::addColumn<Scenario>("scenario");
    const InstanceIdentity own{"TForm1", kPath};
    QTest::newRow("hand-over") << Scenario([own] {
        std::unique_ptr<InstanceServer> server;
        const QString name = uniqueName("fd-hand");
        QVERIFY(greetingServer(server, getuid(), name));
        QCOMPARE(handOver(name, own, getuid(), 1000ms), HandOverResult::HandedOver);
        QTRY_COMPARE(server->connectedPeers(), 0);
    });
    QTest::newRow("nobody holds the name") << Scenario([own] {
        QCOMPARE(handOver(uniqueName("fd-none"), own, getuid(), 500ms), HandOverResult::Vanished);
    });
    QTest::newRow("silent holder") << Scenario([own] {
        InstanceServer silent(getuid());
        const QString name = uniqueName("fd-silent");
        QVERIFY(silent.listen(name));
        QCOMPARE(handOver(name, own, getuid(), 100ms), HandOverResult::NoMatch);
    });
    QTest::newRow("holder of another uid") << Scenario([own] {
        std::unique_ptr<InstanceServer> server;
        const QString name = uniqueName("fd-foreign");
        QVERIFY(greetingServer(server, getuid(), name));
        QCOMPARE(handOver(name, own, getuid() + 1, 500ms), HandOverResult::ForeignOwner);
    });
    QTest::newRow("peer of another uid") << Scenario([own] {
        std::unique_ptr<InstanceServer> server;
        const QString name = uniqueName("fd-stranger");
        QVERIFY(greetingServer(server, getuid() + 1, name));
        QCOMPARE(handOver(name, own, getuid(), 500ms), HandOverResult::NoMatch);
    });
    QTest::newRow("name in use, bad names") << Scenario([] {
        const QString name = uniqueName("fd-used");
        InstanceServer first(getuid());
        InstanceServer second(getuid());
        InstanceServer third(getuid());
        QVERIFY(first.listen(name));
        QVERIFY(!second.listen(name));
        QVERIFY(!third.listen(QString()));
    });
    QTest::newRow("over-long line and peers beyond the limit") << Scenario([] {
        std::unique_ptr<InstanceServer> server;
        const QString name = uniqueName("fd-flood");
        QVERIFY(greetingServer(server, getuid(), name));
        std::vector<UniqueFd> peers;
        for (int i = 0; i < InstanceServer::kMaxPeers + 3; ++i) {
            peers.push_back(connectPlain(name));
            QVERIFY(peers.back().valid());
        }
        const QByteArray flood(kMaxProtocolLine + 10, 'x');
        QCOMPARE(writeSome(peers.front().get(), flood), flood.size());
        QTRY_COMPARE(server->connectedPeers(), InstanceServer::kMaxPeers - 1);
    });
    QTest::newRow("server goes with peers connected") << Scenario([] {
        std::unique_ptr<InstanceServer> server;
        const QString name = uniqueName("fd-teardown");
        QVERIFY(greetingServer(server, getuid(), name));
        std::vector<UniqueFd> peers;
        for (int i = 0; i < 3; ++i) {
            peers.push_back(connectPlain(name));
        }
        QTRY_COMPARE(server->connectedPeers(), 3);
        server.reset();
        // The peers see the end of the connection.
        QByteArray bytes;
        QCOMPARE(readAvailable(peers.front().get(), bytes), ReadStatus::Closed);
    });
    QTest::newRow("claim, second claim") << Scenario([own] {
        const QString base = uniqueName("fd-claim");
        InstanceClaim first = claimInstance(base, own, getuid(), 500ms);
        QVERIFY(first.server);
        first.server->greeting = [] { return InstanceGreeting{"TForm1", true, kPath}; };
        InstanceClaim second = claimInstance(base, own, getuid(), 500ms);
        QVERIFY(!second.runHere);
        QTRY_COMPARE(first.server->connectedPeers(), 0);
    });
}

void SingleInstanceSocketTest::noDescriptorLeft() {
    QFETCH(Scenario, scenario);
    // Once to let Qt open what it keeps for the process, then counted.
    scenario();
    QTest::qWait(20);
    const int before = openDescriptors();
    QVERIFY(before > 0);
    for (int i = 0; i < 3; ++i) {
        scenario();
        if (QTest::currentTestFailed()) {
            return;
        }
    }
    QTest::qWait(20);  // objects whose deletion was deferred
    QCOMPARE(openDescriptors(), before);
}

QTEST_GUILESS_MAIN(SingleInstanceSocketTest)
#include "single_instance_socket_test.moc"
