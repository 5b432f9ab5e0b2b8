#pragma once
// The single instance's POSIX ground, without Qt: a directory only its user can enter; in it
// the instance mutex, an flock on a lock file (the kernel frees it when the holder dies,
// however it dies), and the running instance's Unix socket. Descriptors are close-on-exec and
// writes use MSG_NOSIGNAL, so that a peer that has gone never raises SIGPIPE.
#include <sys/types.h>
#include <unistd.h>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell/instance_protocol.h"

namespace koravex {

// Owns one file descriptor and closes it exactly once.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);  // Linux frees the descriptor even when close reports EINTR
        }
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() { *this = UniqueFd(); }

  private:
    int fd_ = -1;
};

// The instance directory: "koravex" in $XDG_RUNTIME_DIR, else "koravex-UID" in /tmp (the way
// terminal multiplexers keep their sockets), else "koravex-HOST" in ~/.cache. A place is used
// only when it is a real directory (never a symbolic link) owned by the user, with no access
// for group or others; anything else there (planted by another user, say) is passed over.
struct InstanceDirPlaces {
    std::string runtimeDir;  // $XDG_RUNTIME_DIR; empty when unset
    std::string tmpDir = "/tmp";
    std::string homeDir;   // $HOME; empty when unset
    std::string hostName;  // a home may be shared by several machines
};

InstanceDirPlaces instanceDirPlacesFromEnvironment();

// Creates `path` with mode 0700 unless it exists; then says why it is no private directory of
// `uid` ("is a symbolic link", "belongs to user 1001", ...), or nothing when it is one.
std::string makePrivateDir(const std::string& path, uid_t uid);

struct InstanceDirChoice {
    std::string path;                // empty when no place could be used
    std::vector<std::string> notes;  // one line for each place passed over
};

InstanceDirChoice chooseInstanceDir(const InstanceDirPlaces& places, uid_t uid);

enum class LockState {
    Taken,        // this process holds the mutex now (the descriptor keeps it)
    Held,         // another process holds it
    Unavailable,  // the lock file cannot be opened or locked at all (`error` says why)
};

struct InstanceLock {
    LockState state = LockState::Unavailable;
    UniqueFd fd;
    int error = 0;
};

// Takes the flock on `path` without waiting. A symbolic link there is not followed.
InstanceLock tryInstanceLock(const std::string& path);

// The uid of the process at the other end of a connected Unix socket.
std::optional<uid_t> peerUid(int fd);

// A non-blocking socket listening at `path`, replacing whatever socket is there (only the
// holder of the lock may call it). Invalid on failure, with errno set.
UniqueFd listenAt(const std::string& path);

// One attempt of a second start: connects to the socket at `path`, checks that its holder
// runs as `uid`, reads its greeting and, when it is our instance, sends the hand-over
// commands. Waits no longer than `deadline`.
HandOverAttempt handOverTo(const std::string& path, const InstanceIdentity& own, uid_t uid,
                           std::chrono::steady_clock::time_point deadline);

}  // namespace koravex
