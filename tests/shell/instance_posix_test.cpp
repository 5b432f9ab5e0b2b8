// The single instance's POSIX ground: the private directory and what is refused there, the
// lock, and the hand-over over real sockets between a server in this thread and a second
// start in another, with holders that misbehave and a flood of connections.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <QTest>
#include <future>

#include "shell/posix/instance_posix.h"
#include "shell/posix/single_instance.h"

using namespace koravex;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kPath = "/opt/koravex/bin/koravex";
constexpr uid_t kOtherUid = 65534;

std::string str(const QString& s) {
    return s.toStdString();
}

// A second start in a thread of its own, so that the server here keeps being served.
std::future<HandOverAttempt> startSecond(const std::string& socket, InstanceIdentity own,
                                         std::chrono::milliseconds budget = 1000ms) {
    return std::async(std::launch::async, [socket, own, budget] {
        return handOverTo(socket, own, getuid(), Clock::now() + budget);
    });
}

HandOverAttempt waitFor(std::future<HandOverAttempt>& future) {
    QElapsedTimer clock;
    clock.start();
    while (future.wait_for(0ms) != std::future_status::ready && clock.elapsed() < 5000) {
        QTest::qWait(5);
    }
    return future.get();
}

// A socket bound at `path` that listens (or, with listening false, is only bound) and never
// accepts: a holder that is stopped or stuck.
UniqueFd silentHolder(const std::string& path, bool listening) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (listening && ::listen(fd.get(), 4) != 0)) {
        return {};
    }
    return fd;
}

UniqueFd rawConnect(const std::string& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    return fd;
}

}  // namespace

Q_DECLARE_METATYPE(HandOverAttempt)

class InstancePosixTest : public QObject {
    Q_OBJECT
  private slots:
    void privateDir_data();
    void privateDir();
    void dirChoice_data();
    void dirChoice();
    void lock();
    void lockFreedWhenHolderIsKilled();
    void handOver_data();
    void handOver();
    void unreachableHolders_data();
    void unreachableHolders();
    void staleSocketReplacedByListen();
    void commandsFramedAcrossReads();
    void floodDoesNotKeepOutASecondStart();
    void otherUsers();

  private:
    QTemporaryDir tmp_;
    std::string at(const char* name) const { return str(tmp_.filePath(QLatin1String(name))); }
};

void InstancePosixTest::privateDir_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("problem");  // empty: accepted
    QTest::newRow("missing: made 0700") << "missing"
                                        << "";
    QTest::newRow("own private directory") << "dir700"
                                           << "";
    QTest::newRow("own but open to the group") << "dir750"
                                               << "is open to other users (mode 0750)";
    QTest::newRow("own but open to all") << "dir1777"
                                         << "is open to other users (mode 1777)";
    QTest::newRow("symbolic link to a private directory") << "link"
                                                          << "is a symbolic link";
    QTest::newRow("dangling symbolic link") << "dangling"
                                            << "is a symbolic link";
    QTest::newRow("plain file") << "file"
                                << "is not a directory";
    QTest::newRow("parent missing") << "noparent"
                                    << "cannot be created (No such file or directory)";
    QTest::newRow("another user's directory") << "foreign"
                                              << "belongs to user 65534";
}

void InstancePosixTest::privateDir() {
    QFETCH(QString, setup);
    QFETCH(QString, problem);
    const std::string path = at(qPrintable(setup));
    const std::string target = path + "-target";
    if (setup.startsWith(QLatin1String("dir"))) {
        QCOMPARE(::mkdir(path.c_str(), 0700), 0);
        QCOMPARE(::chmod(path.c_str(), static_cast<mode_t>(setup.mid(3).toUInt(nullptr, 8))), 0);
    } else if (setup == QLatin1String("link")) {
        QCOMPARE(::mkdir(target.c_str(), 0700), 0);
        QCOMPARE(::symlink(target.c_str(), path.c_str()), 0);
    } else if (setup == QLatin1String("dangling")) {
        QCOMPARE(::symlink(target.c_str(), path.c_str()), 0);
    } else if (setup == QLatin1String("file")) {
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (setup == QLatin1String("noparent")) {
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
        const std::string child = path + "/koravex";
        QCOMPARE(QString::fromStdString(makePrivateDir(child, getuid())), problem);
        return;
    } else if (setup == QLatin1String("foreign")) {
        if (getuid() != 0) {
            QSKIP("needs root to make a directory of another user");
        }
        QCOMPARE(::mkdir(path.c_str(), 0700), 0);
        QCOMPARE(::chown(path.c_str(), kOtherUid, kOtherUid), 0);
    }
    QCOMPARE(QString::fromStdString(makePrivateDir(path, getuid())), problem);
    struct stat info {};
    QCOMPARE(::lstat(path.c_str(), &info), 0);
    if (problem.isEmpty()) {
        QCOMPARE(info.st_mode & 0777, 0700u);
    }
    // A refused place is left as it was found, and a dangling link's target is not made.
    QCOMPARE(QFileInfo::exists(QString::fromStdString(target)), setup == QLatin1String("link"));
}

void InstancePosixTest::dirChoice_data() {
    QTest::addColumn<bool>("runtimeSet");
    QTest::addColumn<QString>("squat");   // what is planted at tmp/koravex-UID beforehand
    QTest::addColumn<QString>("chosen");  // runtime, tmp, home or none
    QTest::addColumn<int>("notes");
    QTest::newRow("runtime directory") << true << "link"
                                       << "runtime" << 0;
    QTest::newRow("no runtime directory: /tmp") << false << ""
                                                << "tmp" << 0;
    QTest::newRow("no runtime directory, link planted in /tmp") << false << "link"
                                                                << "home" << 1;
    QTest::newRow("no runtime directory, file planted in /tmp") << false << "file"
                                                                << "home" << 1;
    QTest::newRow("nowhere private") << false << "file-nohome"
                                     << "none" << 1;
}

void InstancePosixTest::dirChoice() {
    QFETCH(bool, runtimeSet);
    QFETCH(QString, squat);
    QFETCH(QString, chosen);
    QFETCH(int, notes);
    QTemporaryDir root;
    const std::string base = str(root.path());
    for (const char* dir : {"/run", "/tmp", "/home"}) {
        QCOMPARE(::mkdir((base + dir).c_str(), 0700), 0);
    }
    const std::string planted = base + "/tmp/koravex-" + std::to_string(getuid());
    if (squat == QLatin1String("link")) {
        QCOMPARE(::symlink((base + "/home").c_str(), planted.c_str()), 0);
    } else if (squat.startsWith(QLatin1String("file"))) {
        QFile file(QString::fromStdString(planted));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    InstanceDirPlaces places;
    places.runtimeDir = runtimeSet ? base + "/run" : "";
    places.tmpDir = base + "/tmp";
    places.homeDir = squat.endsWith(QLatin1String("nohome")) ? "" : base + "/home";
    places.hostName = "box";
    const InstanceDirChoice choice = chooseInstanceDir(places, getuid());
    const std::map<QString, std::string> expected = {{"runtime", base + "/run/koravex"},
                                                     {"tmp", planted},
                                                     {"home", base + "/home/.cache/koravex-box"},
                                                     {"none", ""}};
    QCOMPARE(choice.path, expected.at(chosen));
    QCOMPARE(static_cast<int>(choice.notes.size()), notes);
    if (notes > 0) {
        QVERIFY(choice.notes.front().starts_with(planted + " "));
    }
    // The home directory (maybe a dead network mount) is touched only when it is the choice.
    QCOMPARE(QFileInfo::exists(QString::fromStdString(base + "/home/.cache")),
             chosen == QLatin1String("home"));
}

void InstancePosixTest::lock() {
    const std::string path = at("lock");
    InstanceLock first = tryInstanceLock(path);
    QCOMPARE(first.state, LockState::Taken);
    QCOMPARE(tryInstanceLock(path).state, LockState::Held);  // another open of the file
    first.fd.reset();
    QCOMPARE(tryInstanceLock(path).state, LockState::Taken);

    // A link planted in place of the lock file is not followed; nor is a missing directory made.
    const std::string link = at("lock-link");
    QCOMPARE(::symlink(path.c_str(), link.c_str()), 0);
    const InstanceLock viaLink = tryInstanceLock(link);
    QCOMPARE(viaLink.state, LockState::Unavailable);
    QCOMPARE(viaLink.error, ELOOP);
    QCOMPARE(tryInstanceLock(at("nodir/lock")).state, LockState::Unavailable);
}

void InstancePosixTest::lockFreedWhenHolderIsKilled() {
    const std::string path = at("killed.lock");
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const InstanceLock held = tryInstanceLock(path);
        const char state = held.state == LockState::Taken ? 'T' : 'x';
        (void)!::write(ready[1], &state, 1);
        ::pause();
        _exit(0);
    }
    char state = 0;
    QCOMPARE(::read(ready[0], &state, 1), 1);
    QCOMPARE(state, 'T');
    QCOMPARE(tryInstanceLock(path).state, LockState::Held);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    QCOMPARE(tryInstanceLock(path).state, LockState::Taken);
    ::close(ready[0]);
    ::close(ready[1]);
}

void InstancePosixTest::handOver_data() {
    QTest::addColumn<QByteArray>("instancePath");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QByteArray>("ownPath");
    QTest::addColumn<HandOverAttempt>("result");
    QTest::addColumn<QList<InstanceCommand>>("commands");
    using C = QList<InstanceCommand>;
    const QByteArray path = QByteArray::fromStdString(kPath);
    const QByteArray odd("/tmp/my apps/\n%koravex\xFF", 23);
    QTest::newRow("hidden") << path << false << path << HandOverAttempt::HandedOver
                            << C{InstanceCommand::Activate, InstanceCommand::Raise};
    QTest::newRow("visible") << path << true << path << HandOverAttempt::HandedOver
                             << C{InstanceCommand::Raise};
    QTest::newRow("path with blanks, newline, percent")
        << odd << false << odd << HandOverAttempt::HandedOver
        << C{InstanceCommand::Activate, InstanceCommand::Raise};
    QTest::newRow("other executable")
        << path + "2" << false << path << HandOverAttempt::NotOurs << C{};
    QTest::newRow("instance that could not read its path")
        << QByteArray() << false << path << HandOverAttempt::NotOurs << C{};
}

void InstancePosixTest::handOver() {
    QFETCH(QByteArray, instancePath);
    QFETCH(bool, visible);
    QFETCH(QByteArray, ownPath);
    QFETCH(HandOverAttempt, result);
    QFETCH(QList<InstanceCommand>, commands);
    InstanceServer server(UniqueFd{}, getuid());
    QList<InstanceCommand> got;
    server.greeting = [&] {
        return InstanceGreeting{"TForm1", visible, instancePath.toStdString()};
    };
    server.onCommand = [&](InstanceCommand c) { got.append(c); };
    const std::string socket = at(QTest::currentDataTag());
    QVERIFY(server.listen(socket));

    auto second = startSecond(socket, {"TForm1", ownPath.toStdString()});
    QCOMPARE(waitFor(second), result);
    if (commands.isEmpty()) {
        QTest::qWait(50);  // anything sent would have arrived by now
    }
    QTRY_COMPARE(got, commands);
}

void InstancePosixTest::unreachableHolders_data() {
    QTest::addColumn<QString>("holder");
    QTest::addColumn<HandOverAttempt>("result");
    QTest::addColumn<int>("minMs");
    QTest::newRow("no socket") << "none" << HandOverAttempt::NotReached << 0;
    QTest::newRow("socket of a dead instance") << "bound" << HandOverAttempt::NotReached << 0;
    QTest::newRow("stopped holder: gives up at the deadline")
        << "silent" << HandOverAttempt::NotOurs << 300;
    QTest::newRow("holder closes without a word") << "closes" << HandOverAttempt::NotReached << 0;
    QTest::newRow("holder greets with rubbish") << "rubbish" << HandOverAttempt::NotOurs << 0;
}

void InstancePosixTest::unreachableHolders() {
    QFETCH(QString, holder);
    QFETCH(HandOverAttempt, result);
    QFETCH(int, minMs);
    const std::string socket = at(qPrintable(QLatin1String("u-") + holder));
    UniqueFd fd;
    if (holder != QLatin1String("none")) {
        fd = silentHolder(socket, holder != QLatin1String("bound"));
        QVERIFY(fd.valid());
    }
    QElapsedTimer clock;
    clock.start();
    auto second = startSecond(socket, {"TForm1", kPath}, 300ms);
    if (holder == QLatin1String("closes") || holder == QLatin1String("rubbish")) {
        UniqueFd peer;
        for (int i = 0; i < 100 && !peer.valid(); ++i) {
            peer = UniqueFd(::accept(fd.get(), nullptr, nullptr));
            QTest::qWait(2);
        }
        QVERIFY(peer.valid());
        if (holder == QLatin1String("rubbish")) {
            (void)!::write(peer.get(), "instance TForm1 3 x\n", 20);
        }
    }
    QCOMPARE(waitFor(second), result);
    QVERIFY(clock.elapsed() >= minMs);
    QVERIFY2(clock.elapsed() < 800, "the second start waits no longer than its budget");
}

void InstancePosixTest::staleSocketReplacedByListen() {
    const std::string socket = at("stale");
    { UniqueFd dead = silentHolder(socket, true); }  // closed: the file stays, nobody listens
    QVERIFY(QFileInfo::exists(QString::fromStdString(socket)));
    InstanceServer server(UniqueFd{}, getuid());
    server.greeting = [] { return InstanceGreeting{"TForm1", true, kPath}; };
    QVERIFY(server.listen(socket));
    auto second = startSecond(socket, {"TForm1", kPath});
    QCOMPARE(waitFor(second), HandOverAttempt::HandedOver);
}

void InstancePosixTest::commandsFramedAcrossReads() {
    InstanceServer server(UniqueFd{}, getuid());
    QList<InstanceCommand> got;
    server.onCommand = [&](InstanceCommand c) { got.append(c); };
    const std::string socket = at("framing");
    QVERIFY(server.listen(socket));
    const UniqueFd peer = rawConnect(socket);
    QVERIFY(peer.valid());
    const std::string endless(kMaxProtocolLine + 1, 'x');
    for (const std::string& piece :
         {std::string("acti"), std::string("vate\nRAISE\nra"), std::string("ise\n") + endless}) {
        QCOMPARE(::send(peer.get(), piece.data(), piece.size(), MSG_NOSIGNAL),
                 static_cast<ssize_t>(piece.size()));
        QTest::qWait(20);  // each piece read on its own
    }
    QTRY_COMPARE(got, (QList<InstanceCommand>{InstanceCommand::Activate, InstanceCommand::Raise}));
    // The line without end has the connection closed, and nothing after it is obeyed.
    QTRY_COMPARE(server.connectedPeers(), 0);
    (void)!::send(peer.get(), "activate\n", 9, MSG_NOSIGNAL);
    QTest::qWait(50);
    QCOMPARE(got.size(), 2);
}

void InstancePosixTest::floodDoesNotKeepOutASecondStart() {
    InstanceServer server(UniqueFd{}, getuid());
    QList<InstanceCommand> got;
    server.greeting = [] { return InstanceGreeting{"TForm1", false, kPath}; };
    server.onCommand = [&](InstanceCommand c) { got.append(c); };
    const std::string socket = at("flood");
    QVERIFY(server.listen(socket));
    // Connections of this user that never read nor close, far beyond any per-peer allowance.
    std::vector<UniqueFd> flood;
    for (int i = 0; i < 4 * InstanceServer::kMaxPeers; ++i) {
        flood.push_back(rawConnect(socket));
        QVERIFY(flood.back().valid());
        if (i % 32 == 0) {
            QTest::qWait(1);
        }
    }
    QTRY_COMPARE(server.connectedPeers(), InstanceServer::kMaxPeers);
    auto second = startSecond(socket, {"TForm1", kPath});
    QCOMPARE(waitFor(second), HandOverAttempt::HandedOver);
    QTRY_COMPARE(got, (QList<InstanceCommand>{InstanceCommand::Activate, InstanceCommand::Raise}));
}

void InstancePosixTest::otherUsers() {
    if (getuid() != 0) {
        QSKIP("needs root to run a process as another user");
    }
    // A server of this user drops a peer of another user unanswered; a second start does not
    // hand over to a holder of another user. The directory is open here only for the test.
    QTemporaryDir shared;
    QCOMPARE(::chmod(qPrintable(shared.path()), 0777), 0);
    const std::string ours = str(shared.filePath(QStringLiteral("ours")));
    const std::string theirs = str(shared.filePath(QStringLiteral("theirs")));
    InstanceServer server(UniqueFd{}, getuid());
    bool commanded = false;
    server.greeting = [] { return InstanceGreeting{"TForm1", false, kPath}; };
    server.onCommand = [&](InstanceCommand) { commanded = true; };
    QVERIFY(server.listen(ours));
    QCOMPARE(::chmod(ours.c_str(), 0777), 0);

    int report[2];
    QCOMPARE(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kOtherUid) != 0 || ::setuid(kOtherUid) != 0) {
            _exit(10);
        }
        // As the other user: ask our instance for its greeting, then pose as one that never
        // greets. 'D': dropped unanswered, 'G': greeted, 'T': no answer, 'x': no connection.
        char outcome = 'x';
        const UniqueFd peer = rawConnect(ours);
        if (peer.valid()) {
            pollfd entry{peer.get(), POLLIN, 0};
            char byte = 0;
            outcome = ::poll(&entry, 1, 1000) != 1           ? 'T'
                      : ::recv(peer.get(), &byte, 1, 0) == 0 ? 'D'
                                                             : 'G';
        }
        const UniqueFd fake = listenAt(theirs);
        outcome = fake.valid() ? outcome : 'y';
        (void)!::write(report[1], &outcome, 1);
        ::pause();
        _exit(0);
    }
    char outcome = 0;
    pollfd entry{report[0], POLLIN, 0};
    QTRY_VERIFY(::poll(&entry, 1, 0) == 1);  // the server here answers meanwhile
    QCOMPARE(::read(report[0], &outcome, 1), 1);
    QCOMPARE(outcome, 'D');
    auto second = startSecond(theirs, {"TForm1", kPath}, 500ms);
    QCOMPARE(waitFor(second), HandOverAttempt::NotOurs);
    QTest::qWait(50);
    QVERIFY(!commanded);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(report[0]);
    ::close(report[1]);
}

QTEST_GUILESS_MAIN(InstancePosixTest)
#include "instance_posix_test.moc"
