#pragma once
// The running instance's end on POSIX: holds the lock and answers every connection of its own
// user on the instance socket with the greeting, passing the commands it sends on. However
// many connections a process of the user opens, the newest are always served: beyond
// kMaxPeers, or when the process runs out of descriptors, the oldest are closed.
#include <sys/types.h>
#include <chrono>
#include <list>
#include <string>

#include "shell/posix/instance_posix.h"
#include "shell/single_instance.h"

class QSocketNotifier;

namespace koravex {

class InstanceServer : public InstanceGuard {
    Q_OBJECT
  public:
    InstanceServer(UniqueFd lock, uid_t allowedUid, QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens on the socket at `path`; false with errno set when it cannot.
    bool listen(const std::string& path);
    int connectedPeers() const { return static_cast<int>(peers_.size()); }

    static constexpr int kMaxPeers = 64;
    static constexpr std::chrono::milliseconds kPeerLifetime{2000};
    // Out of descriptors with no peer to close, accepting waits this long before it tries again.
    static constexpr std::chrono::milliseconds kAcceptRetry{200};

  private:
    class Peer;
    void acceptPending();
    void closeOldestPeer();
    void peerClosed(Peer* peer) { peers_.remove(peer); }

    UniqueFd lock_;
    UniqueFd listener_;
    QSocketNotifier* acceptNotifier_ = nullptr;  // a child of this object
    uid_t allowedUid_;
    std::list<Peer*> peers_;  // oldest first; children of this object
};

}  // namespace koravex
