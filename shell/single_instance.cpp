#include "shell/single_instance.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>

namespace koravex {

QString instanceSocketName(const QString& base, uid_t uid, int slot) {
    QString name = base + QLatin1Char('-') + QString::number(uid);
    if (slot > 0) {
        name += QLatin1Char('-') + QString::number(slot);
    }
    return name;
}

std::optional<uid_t> peerUid(qintptr descriptor) {
    if (descriptor < 0) {
        return std::nullopt;
    }
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) !=
            0 ||
        length != sizeof credentials) {
        return std::nullopt;
    }
    return credentials.uid;
}

QByteArray ownExecutablePath() {
    QByteArray buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || length >= buffer.size()) {
        return {};
    }
    buffer.truncate(length);
    return buffer;
}

InstanceServer::InstanceServer(uid_t allowedUid, QObject* parent)
    : QObject(parent), allowedUid_(allowedUid) {
    server_.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(&server_, &QLocalServer::newConnection, this, &InstanceServer::acceptPending);
}

InstanceServer::~InstanceServer() {
    // The peers die with the server; their last signals must not reach this half-gone object.
    const QList<QLocalSocket*> peers = server_.findChildren<QLocalSocket*>();
    for (QLocalSocket* peer : peers) {
        peer->disconnect(this);
    }
}

bool InstanceServer::listen(const QString& name) {
    return server_.listen(name);
}

void InstanceServer::acceptPending() {
    while (QLocalSocket* peer = server_.nextPendingConnection()) {
        const std::optional<uid_t> uid = peerUid(peer->socketDescriptor());
        if (!uid || *uid != allowedUid_ || peers_ >= kMaxPeers) {
            peer->abort();
            peer->deleteLater();
            continue;
        }
        servePeer(peer);
    }
}

void InstanceServer::servePeer(QLocalSocket* peer) {
    ++peers_;
    auto lines = std::make_shared<LineBuffer>();
    connect(peer, &QLocalSocket::readyRead, peer, [this, peer, lines] {
        for (const QByteArray& line : lines->feed(peer->readAll())) {
            const std::optional<InstanceCommand> command = parseCommand(line);
            if (command && onCommand) {
                onCommand(*command);
            }
        }
        if (lines->overflowed()) {
            peer->abort();
        }
    });
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QObject::destroyed, this, [this] { --peers_; });
    // A peer that stays connected longer than a hand-over needs is dropped.
    QTimer::singleShot(kPeerLifetime, peer, [peer] { peer->abort(); });

    if (greeting) {
        peer->write(formatGreeting(greeting()));
        peer->flush();
    }
}

namespace {

// Waits in a local event loop (so that work of this thread, a server among it, goes on)
// for the first complete line or the end of the connection or the deadline.
std::optional<QByteArray> readFirstLine(QLocalSocket& socket, QDeadlineTimer deadline) {
    LineBuffer lines;
    std::optional<QByteArray> first;
    QEventLoop loop;
    const auto take = [&] {
        const QList<QByteArray> got = lines.feed(socket.readAll());
        if (!got.isEmpty() && !first) {
            first = got.front();
        }
        if (first || lines.overflowed()) {
            loop.quit();
        }
    };
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, take);
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);

    take();
    if (!first && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        timer.start(static_cast<int>(deadline.remainingTime()));
        loop.exec();
    }
    return first;
}

}  // namespace

HandOverResult handOver(const QString& name, const InstanceIdentity& own, uid_t ownUid,
                        std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (socket.state() != QLocalSocket::ConnectedState &&
        !socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        const auto error = socket.error();
        return error == QLocalSocket::ServerNotFoundError ||
                       error == QLocalSocket::ConnectionRefusedError
                   ? HandOverResult::Vanished
                   : HandOverResult::NoMatch;
    }
    const std::optional<uid_t> holder = peerUid(socket.socketDescriptor());
    if (!holder) {
        return HandOverResult::NoMatch;
    }
    if (*holder != ownUid) {
        return HandOverResult::ForeignOwner;
    }

    const std::optional<QByteArray> line = readFirstLine(socket, deadline);
    const std::optional<InstanceGreeting> greeting =
        line ? parseGreeting(*line) : std::optional<InstanceGreeting>{};
    if (!greeting || greeting->windowClass != own.windowClass ||
        greeting->executablePath != own.executablePath) {
        return HandOverResult::NoMatch;
    }

    if (!greeting->visible) {
        socket.write(formatCommand(InstanceCommand::Activate));
    }
    socket.write(formatCommand(InstanceCommand::Raise));
    socket.flush();
    if (socket.bytesToWrite() > 0) {
        socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
    }
    socket.disconnectFromServer();
    return HandOverResult::HandedOver;
}

InstanceClaim claimInstance(const QString& base, const InstanceIdentity& own, uid_t ownUid,
                            std::chrono::milliseconds timeout) {
    for (int slot = 0; slot < kInstanceSlots; ++slot) {
        const QString name = instanceSocketName(base, ownUid, slot);
        // The holder may die between our bind and our connect: then bind again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            auto server = std::make_unique<InstanceServer>(ownUid);
            if (server->listen(name)) {
                // An instance may sit on a later slot, taken while a squatter held this one.
                for (int later = slot + 1; later < kInstanceSlots; ++later) {
                    const HandOverResult result =
                        handOver(instanceSocketName(base, ownUid, later), own, ownUid, timeout);
                    if (result == HandOverResult::HandedOver || result == HandOverResult::NoMatch) {
                        return {false, nullptr};
                    }
                }
                return {true, std::move(server)};
            }
            if (server->serverError() != QAbstractSocket::AddressInUseError) {
                // No guard can be had; run all the same, as an unusable mutex would allow.
                return {true, nullptr};
            }
            const HandOverResult result = handOver(name, own, ownUid, timeout);
            if (result == HandOverResult::HandedOver || result == HandOverResult::NoMatch) {
                return {false, nullptr};
            }
            if (result == HandOverResult::ForeignOwner) {
                break;
            }
        }
    }
    // Every slot is held by other users (or kept vanishing): run unguarded.
    return {true, nullptr};
}

}  // namespace koravex
