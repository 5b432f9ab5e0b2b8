#pragma once
// The running instance's end on POSIX: holds the lock and answers every connection of its own
// user on the instance socket with the greeting, passing the commands it sends on. However
// many connections a process of the user opens, the newest are always served: beyond
// kMaxPeers, or when the process runs out of descriptors, the oldest are closed.
#include <QSocketNotifier>
#include <list>
#include <memory>

#include "shell/posix/instance_posix.h"

namespace koravex {

class InstanceServer : public InstanceGuard {
    Q_OBJECT
  public:
    InstanceServer(UniqueFd lock, uid_t allowedUid) : lock_(std::move(lock)), uid_(allowedUid) {}

    // Listens on the socket at `path`; false with errno set when it cannot.
    bool listen(const std::string& path);
    int connectedPeers() const { return static_cast<int>(peers_.size()); }

    static constexpr int kMaxPeers = 64;

  private:
    struct Peer {
        UniqueFd fd;  // declared first: the notifier goes before the descriptor is closed
        std::unique_ptr<QSocketNotifier> reader;
        std::string pending;  // an unfinished line
    };
    void acceptPending();
    void readPeer(const Peer* peer);
    void closePeer(std::list<Peer>::iterator peer);

    UniqueFd lock_;
    UniqueFd listener_;
    std::unique_ptr<QSocketNotifier> acceptNotifier_;
    uid_t uid_;
    std::list<Peer> peers_;  // oldest first
};

}  // namespace koravex
