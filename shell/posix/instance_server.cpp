#include "shell/posix/instance_server.h"

#include <sys/socket.h>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>

namespace koravex {

// One accepted connection: greets, reads command lines, and closes on the end of the
// connection, an error, an over-long line or the end of its lifetime.
class InstanceServer::Peer : public QObject {
  public:
    Peer(UniqueFd descriptor, InstanceServer& server, std::string greeting)
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
        server_.peers_.push_back(this);
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
        server_.peerClosed(this);
        deleteLater();
    }

  private:
    void writeOutput() {
        if (!fd_.valid()) {
            return;
        }
        const long sent = writeSome(fd_.get(), pending_);
        if (sent < 0) {
            close();
            return;
        }
        pending_.erase(0, static_cast<size_t>(sent));
        writer_.setEnabled(!pending_.empty());
    }

    void readInput() {
        if (!fd_.valid()) {
            return;
        }
        std::string bytes;
        const ReadStatus status = readAvailable(fd_.get(), bytes);
        for (const std::string& line : lines_.feed(bytes)) {
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
    std::string pending_;
    LineBuffer lines_;
};

InstanceServer::InstanceServer(UniqueFd lock, uid_t allowedUid, QObject* parent)
    : InstanceGuard(parent), lock_(std::move(lock)), allowedUid_(allowedUid) {}

InstanceServer::~InstanceServer() {
    // The peers go first, their descriptors with them; none of them calls back on the way.
    const std::list<Peer*> peers = std::move(peers_);
    for (Peer* peer : peers) {
        delete peer;
    }
    delete acceptNotifier_;
}

bool InstanceServer::listen(const std::string& path) {
    listener_ = listenAt(path);
    if (!listener_.valid()) {
        return false;
    }
    acceptNotifier_ =
        new QSocketNotifier(static_cast<qintptr>(listener_.get()), QSocketNotifier::Read, this);
    connect(acceptNotifier_, &QSocketNotifier::activated, this, &InstanceServer::acceptPending);
    return true;
}

void InstanceServer::closeOldestPeer() {
    peers_.front()->close();  // takes itself off the list
}

void InstanceServer::acceptPending() {
    // A flood is taken in portions, so that the event loop goes on meanwhile.
    for (int taken = 0; taken < 2 * kMaxPeers; ++taken) {
        UniqueFd peer(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!peer.valid()) {
            const int code = errno;
            if (code == EINTR || code == ECONNABORTED) {
                continue;
            }
            if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) {
                if (!peers_.empty()) {
                    closeOldestPeer();
                    continue;
                }
                // The connection stays queued; asking again at once would only spin.
                acceptNotifier_->setEnabled(false);
                QTimer::singleShot(kAcceptRetry, this,
                                   [this] { acceptNotifier_->setEnabled(true); });
            }
            return;
        }
        if (peerUid(peer.get()) != allowedUid_) {
            continue;  // closed here, unanswered
        }
        if (static_cast<int>(peers_.size()) >= kMaxPeers) {
            closeOldestPeer();
        }
        new Peer(std::move(peer), *this, greeting ? formatGreeting(greeting()) : std::string());
    }
}

}  // namespace koravex
