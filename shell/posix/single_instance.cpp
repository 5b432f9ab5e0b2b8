#include "shell/posix/single_instance.h"

#include <sys/socket.h>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace koravex {

bool InstanceServer::listen(const std::string& path) {
    listener_ = listenAt(path);
    if (!listener_.valid()) {
        return false;
    }
    acceptNotifier_ = std::make_unique<QSocketNotifier>(listener_.get(), QSocketNotifier::Read);
    connect(acceptNotifier_.get(), &QSocketNotifier::activated, this,
            &InstanceServer::acceptPending);
    return true;
}

void InstanceServer::closePeer(std::list<Peer>::iterator peer) {
    // This may run inside the notifier's own signal: it goes later.
    QSocketNotifier* reader = peer->reader.release();
    reader->setEnabled(false);
    reader->setParent(this);  // goes with the server if the event loop ends first
    reader->deleteLater();
    peers_.erase(peer);
}

void InstanceServer::acceptPending() {
    // A flood is taken in portions, so that the event loop goes on meanwhile.
    for (int taken = 0; taken < 2 * kMaxPeers; ++taken) {
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd.valid()) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM) {
                return;
            }
            if (peers_.empty()) {
                // The connection stays queued; asking again at once would only spin.
                acceptNotifier_->setEnabled(false);
                QTimer::singleShot(200, this, [this] { acceptNotifier_->setEnabled(true); });
                return;
            }
            closePeer(peers_.begin());
            continue;
        }
        // The greeting fits the empty send buffer of a new connection.
        const std::string hello = greeting ? formatGreeting(greeting()) : std::string();
        if (peerUid(fd.get()) != uid_ ||
            ::send(fd.get(), hello.data(), hello.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(hello.size())) {
            continue;  // closed here
        }
        if (connectedPeers() >= kMaxPeers) {
            closePeer(peers_.begin());
        }
        Peer& peer = peers_.emplace_back();
        peer.fd = std::move(fd);
        peer.reader = std::make_unique<QSocketNotifier>(peer.fd.get(), QSocketNotifier::Read);
        connect(peer.reader.get(), &QSocketNotifier::activated, this,
                [this, p = &peer] { readPeer(p); });
    }
}

void InstanceServer::readPeer(const Peer* peer) {
    const auto it =
        std::find_if(peers_.begin(), peers_.end(), [&](const Peer& p) { return &p == peer; });
    if (it == peers_.end()) {
        return;
    }
    char chunk[1024];
    const ssize_t got = ::recv(it->fd.get(), chunk, sizeof chunk, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    std::string& pending = it->pending;
    pending.append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
    std::vector<InstanceCommand> commands;
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;
         pending.erase(0, end + 1)) {
        if (const auto command = parseCommand(std::string_view(pending).substr(0, end))) {
            commands.push_back(*command);
        }
    }
    // Closed, failed, or a line that would grow without end: the connection is done. It goes
    // before the commands run, since they may run the event loop.
    if (got <= 0 || pending.size() > kMaxProtocolLine) {
        closePeer(it);
    }
    for (const InstanceCommand command : commands) {
        if (onCommand) {
            onCommand(command);
        }
    }
}

InstanceClaim claimInstance(const InstanceIdentity& own) {
    const auto note = [](const std::string& line) {
        std::fprintf(stderr, "koravex: %s\n", line.c_str());
    };
    const uid_t uid = getuid();
    const InstanceDirChoice dir = chooseInstanceDir(instanceDirPlacesFromEnvironment(), uid);
    for (const std::string& line : dir.notes) {
        note(line);
    }
    if (dir.path.empty()) {
        note("no private directory for the single-instance lock; running unguarded");
        return {true, nullptr};
    }
    const std::string base = dir.path + "/" + kInstanceMutexName;
    const std::string lockPath = base + ".lock";
    const std::string socketPath = base + ".socket";

    InstanceLock lock;
    InstanceStartSteps steps;
    steps.takeMutex = [&] {
        lock = tryInstanceLock(lockPath);
        return lock.state != LockState::Held;
    };
    steps.handOver = [&](std::chrono::steady_clock::time_point deadline) {
        return handOverTo(socketPath, own, uid, deadline);
    };
    steps.pause = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
    if (!decideStart(steps, kHandOverTimeout)) {
        return {false, nullptr};
    }
    if (lock.state == LockState::Unavailable) {
        note("cannot lock " + lockPath + " (" + std::strerror(lock.error) + "); running unguarded");
        return {true, nullptr};
    }
    auto server = std::make_unique<InstanceServer>(std::move(lock.fd), uid);
    if (!server->listen(socketPath)) {
        // The lock is kept: later starts end instead of running beside this one.
        note("cannot listen on " + socketPath + " (" + std::strerror(errno) +
             "); later starts cannot bring this window forward");
    }
    return {true, std::move(server)};
}

}  // namespace koravex
