#pragma once
// The single instance's POSIX ground, without Qt: the instance mutex is an flock on a lock
// file in the instance directory (the kernel frees it when the holder dies, however it dies),
// and the running instance listens on a Unix socket beside it. Descriptors are close-on-exec
// and writes use MSG_NOSIGNAL, so that a peer that has gone never raises SIGPIPE.
#include <sys/types.h>
#include <unistd.h>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

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

enum class LockState {
    Taken,        // this process holds the mutex now (the descriptor keeps it)
    Held,         // another process holds it
    Unavailable,  // the lock file cannot be opened or locked at all (`error` says why)
};

struct InstanceLock {
    LockState state = LockState::Taken;
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
