#pragma once
// One instance per user. The instance "mutex" is a Unix socket in the abstract namespace,
// named from "TarquelKoravex" and the user id: binding it takes the mutex, and the kernel
// frees the name when the holder dies, so a start after a crash simply runs. A second start
// connects, reads the running instance's greeting and hands over (see instance_protocol.h).
//
// Abstract names are shared by every user of the machine, so both ends check the uid of the
// process at the other end (SO_PEERCRED). A name held by a process of another user is passed
// over for the next slot, so that no other user can keep a user's program from starting.
//
// The sockets are plain POSIX ones on the same addresses QLocalServer uses with its
// abstract-namespace option (see single_instance_socket.h).
#include <sys/types.h>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "shell/instance_protocol.h"
#include "shell/single_instance_socket.h"

class QSocketNotifier;

namespace koravex {

inline constexpr char kInstanceBaseName[] = "TarquelKoravex";
inline constexpr int kInstanceSlots = 4;
inline constexpr std::chrono::milliseconds kHandOverTimeout{1000};

// "<base>-<uid>" for slot 0, "<base>-<uid>-<slot>" after it.
QString instanceSocketName(const QString& base, uid_t uid, int slot);

// What a starting process compares with the running instance's greeting, byte for byte.
struct InstanceIdentity {
    QByteArray windowClass;
    QByteArray executablePath;
};

// The executable path of this process as the kernel gives it (/proc/self/exe).
QByteArray ownExecutablePath();

// Why listen() failed.
enum class InstanceListenError {
    None,
    AddressInUse,  // the name is held (by our instance, another program or another user)
    BadName,       // empty, or too long for a socket address
    Other,         // no socket could be made or bound for another reason
};

// The running instance's end: answers every peer of the allowed uid with the greeting and
// passes the commands it sends on. Peers of other uids, over-long lines and unknown commands
// are dropped or ignored.
class InstanceServer : public QObject {
    Q_OBJECT
  public:
    explicit InstanceServer(uid_t allowedUid, QObject* parent = nullptr);
    ~InstanceServer() override;

    // True when this process now holds the name. A server listens on one name only.
    bool listen(const QString& name);
    InstanceListenError serverError() const { return error_; }
    int serverErrno() const { return errno_; }  // the failed call's errno, 0 when none
    QString fullServerName() const { return name_; }
    int connectedPeers() const { return peers_; }

    std::function<InstanceGreeting()> greeting;
    std::function<void(InstanceCommand)> onCommand;

    static constexpr int kMaxPeers = 8;
    static constexpr std::chrono::milliseconds kPeerLifetime{3000};

    // After the process ran out of descriptors, accepting waits this long before it tries again.
    static constexpr std::chrono::milliseconds kAcceptRetry{200};

  private:
    class Peer;
    void acceptPending();
    void servePeer(UniqueFd descriptor);
    void peerClosed() { --peers_; }
    void fail(InstanceListenError error, int code);

    UniqueFd listener_;
    QSocketNotifier* acceptNotifier_ = nullptr;  // a child of this object
    QString name_;
    InstanceListenError error_ = InstanceListenError::None;
    int errno_ = 0;
    uid_t allowedUid_;
    int peers_ = 0;
};

enum class HandOverResult {
    HandedOver,    // a matching instance answered and was told to come forward
    NoMatch,       // the name's holder did not answer as our instance in time
    ForeignOwner,  // the name is held by a process of another user
    Vanished,      // nobody holds the name any more
};

// The starting process's end: connects to `name`, checks that its holder runs as `ownUid`,
// waits up to `timeout` for the greeting, compares it with `own` and on a match sends
// "activate" (only when the window is hidden) and "raise".
HandOverResult handOver(const QString& name, const InstanceIdentity& own, uid_t ownUid,
                        std::chrono::milliseconds timeout);

struct InstanceClaim {
    bool runHere = false;                    // false: another instance runs, end now
    std::unique_ptr<InstanceServer> server;  // the held name; null when none could be bound
};

// The start-up decision: bind the first free slot, or hand over to our running instance.
// Having bound a slot, the later slots are asked too, since our instance may have taken one
// of them while a process of another user held this one.
InstanceClaim claimInstance(const QString& base, const InstanceIdentity& own, uid_t ownUid,
                            std::chrono::milliseconds timeout = kHandOverTimeout);

}  // namespace koravex
