#include "shell/single_instance.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>

namespace koravex {

QString instanceSocketName(const QString& base, uid_t uid, int slot) {
    QString name = base + QLatin1Char('-') + QString::number(uid);
    if (slot > 0) {
        name += QLatin1Char('-') + QString::number(slot);
    }
    return name;
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

// One accepted connection: greets, reads command lines, and closes on the end of the
// connection, an error, an over-long line or the end of its lifetime.
class InstanceServer::Peer : public QObject {
  public:
    Peer(UniqueFd descriptor, InstanceServer& server, QByteArray greeting)
        : QObject(&server),
          fd_(std::move(descriptor)),
          reader_(static_cast<qintptr>(fd_.get()), QSocketNotifier::Read),
          writer_(static_cast<qintptr>(fd_.get()), QSocketNotifier::Write),
          server_(server),
          pending_(std::move(greeting)) {
        writer_.setEnabled(false);
        connect(&reader_, &QSocketNotifier::activated, this, &Peer::readInput);
        connect(&writer_, &QSocketNotifier::activated, this, &Peer::writeOutput);
        lifetime_.setSingleShot(true);
        connect(&lifetime_, &QTimer::timeout, this, &Peer::close);
        lifetime_.start(kPeerLifetime);
        writeOutput();
    }

    // Closes the connection at once; the object goes later (this may run inside its slots).
    void close() {
        if (!fd_.valid()) {
            return;
        }
        reader_.setEnabled(false);
        writer_.setEnabled(false);
        lifetime_.stop();
        fd_.reset();
        server_.peerClosed();
        deleteLater();
    }

  private:
    void writeOutput() {
        if (!fd_.valid()) {
            return;
        }
        const qsizetype sent = writeSome(fd_.get(), pending_);
        if (sent < 0) {
            close();
            return;
        }
        pending_.remove(0, sent);
        writer_.setEnabled(!pending_.isEmpty());
    }

    void readInput() {
        if (!fd_.valid()) {
            return;
        }
        QByteArray bytes;
        const ReadStatus status = readAvailable(fd_.get(), bytes);
        for (const QByteArray& line : lines_.feed(bytes)) {
            const std::optional<InstanceCommand> command = parseCommand(line);
            if (command && server_.onCommand) {
                server_.onCommand(*command);
            }
        }
        if (status != ReadStatus::Open || lines_.overflowed()) {
            close();
        }
    }

    UniqueFd fd_;  // declared first: the notifiers go before the descriptor is closed
    QSocketNotifier reader_;
    QSocketNotifier writer_;
    QTimer lifetime_;
    InstanceServer& server_;
    QByteArray pending_;
    LineBuffer lines_;
};

InstanceServer::InstanceServer(uid_t allowedUid, QObject* parent)
    : QObject(parent), allowedUid_(allowedUid) {}

InstanceServer::~InstanceServer() {
    // The peers go first, their descriptors with them; none of them calls back on the way.
    const QObjectList children = this->children();
    for (QObject* child : children) {
        delete dynamic_cast<Peer*>(child);
    }
    delete acceptNotifier_;
}

void InstanceServer::fail(InstanceListenError error, int code) {
    error_ = error;
    errno_ = code;
}

bool InstanceServer::listen(const QString& name) {
    if (listener_.valid()) {
        fail(InstanceListenError::Other, EISCONN);
        return false;
    }
    const std::optional<AbstractAddress> address = abstractAddress(name);
    if (!address) {
        fail(InstanceListenError::BadName, EINVAL);
        return false;
    }
    UniqueFd fd = newStreamSocket();
    if (!fd.valid()) {
        fail(InstanceListenError::Other, errno);
        return false;
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address->address), address->length) !=
        0) {
        const int code = errno;
        fail(code == EADDRINUSE ? InstanceListenError::AddressInUse : InstanceListenError::Other,
             code);
        return false;
    }
    if (::listen(fd.get(), 2 * kMaxPeers) != 0) {
        fail(InstanceListenError::Other, errno);
        return false;
    }
    listener_ = std::move(fd);
    name_ = name;
    fail(InstanceListenError::None, 0);
    acceptNotifier_ =
        new QSocketNotifier(static_cast<qintptr>(listener_.get()), QSocketNotifier::Read, this);
    connect(acceptNotifier_, &QSocketNotifier::activated, this, &InstanceServer::acceptPending);
    return true;
}

void InstanceServer::acceptPending() {
    for (;;) {
        UniqueFd peer(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!peer.valid()) {
            const int code = errno;
            if (code == EINTR || code == ECONNABORTED) {
                continue;
            }
            if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) {
                // The connection stays queued; asking again at once would only spin.
                acceptNotifier_->setEnabled(false);
                QTimer::singleShot(kAcceptRetry, this,
                                   [this] { acceptNotifier_->setEnabled(true); });
            }
            return;
        }
        const std::optional<uid_t> uid = peerUid(peer.get());
        if (!uid || *uid != allowedUid_ || peers_ >= kMaxPeers) {
            continue;  // closed here, unanswered
        }
        servePeer(std::move(peer));
    }
}

void InstanceServer::servePeer(UniqueFd descriptor) {
    ++peers_;
    new Peer(std::move(descriptor), *this, greeting ? formatGreeting(greeting()) : QByteArray());
}

namespace {

// Reads until the first complete line, the end of the connection or the deadline, waiting in
// a local event loop so that work of this thread (a server among it) goes on meanwhile.
std::optional<QByteArray> readFirstLine(int fd, QDeadlineTimer deadline) {
    LineBuffer lines;
    for (;;) {
        QByteArray bytes;
        const ReadStatus status = readAvailable(fd, bytes);
        const QList<QByteArray> got = lines.feed(bytes);
        if (!got.isEmpty()) {
            return got.front();
        }
        if (status != ReadStatus::Open || lines.overflowed() ||
            !waitForSocket(fd, WaitFor::Readable, deadline)) {
            return std::nullopt;
        }
    }
}

enum class ConnectResult { Connected, Refused, Failed };

// Connects `fd` to `address`. A full backlog is tried again until the deadline.
ConnectResult connectBefore(int fd, const AbstractAddress& address, QDeadlineTimer deadline) {
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) ==
            0) {
            return ConnectResult::Connected;
        }
        const int code = errno;
        if (code == EINTR) {
            continue;
        }
        if (code == ECONNREFUSED || code == ENOENT) {
            return ConnectResult::Refused;
        }
        if (code == EINPROGRESS) {
            int error = 0;
            socklen_t length = sizeof error;
            if (!waitForSocket(fd, WaitFor::Writable, deadline) ||
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                return ConnectResult::Failed;
            }
            if (error == 0) {
                return ConnectResult::Connected;
            }
            return error == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
        }
        if (code != EAGAIN || deadline.hasExpired()) {
            return ConnectResult::Failed;
        }
        // The holder's queue is full: let it (perhaps this very thread) take some first.
        QEventLoop pause;
        const std::chrono::milliseconds left{deadline.remainingTime()};
        QTimer::singleShot(std::min(left, std::chrono::milliseconds{10}), &pause,
                           &QEventLoop::quit);
        pause.exec();
    }
}

}  // namespace

HandOverResult handOver(const QString& name, const InstanceIdentity& own, uid_t ownUid,
                        std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    const std::optional<AbstractAddress> address = abstractAddress(name);
    if (!address) {
        return HandOverResult::NoMatch;
    }
    const UniqueFd socket = newStreamSocket();
    if (!socket.valid()) {
        return HandOverResult::NoMatch;
    }
    switch (connectBefore(socket.get(), *address, deadline)) {
        case ConnectResult::Connected:
            break;
        case ConnectResult::Refused:
            return HandOverResult::Vanished;
        case ConnectResult::Failed:
            return HandOverResult::NoMatch;
    }
    const std::optional<uid_t> holder = peerUid(socket.get());
    if (!holder) {
        return HandOverResult::NoMatch;
    }
    if (*holder != ownUid) {
        return HandOverResult::ForeignOwner;
    }

    const std::optional<QByteArray> line = readFirstLine(socket.get(), deadline);
    const std::optional<InstanceGreeting> greeting =
        line ? parseGreeting(*line) : std::optional<InstanceGreeting>{};
    if (!greeting || greeting->windowClass != own.windowClass ||
        greeting->executablePath != own.executablePath) {
        return HandOverResult::NoMatch;
    }

    QByteArray commands;
    if (!greeting->visible) {
        commands += formatCommand(InstanceCommand::Activate);
    }
    commands += formatCommand(InstanceCommand::Raise);
    // The instance answered as ours: this start ends even if the words do not all get through.
    writeAll(socket.get(), commands, deadline);
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
            if (server->serverError() != InstanceListenError::AddressInUse) {
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
