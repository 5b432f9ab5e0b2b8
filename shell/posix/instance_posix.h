#pragma once
// The single instance's POSIX ground, without Qt: the instance mutex is an flock on a lock
// file in the instance directory (the kernel frees it when the holder dies, however it dies),
// and the running instance listens on a Unix socket beside it. Every descriptor is opened
// close-on-exec, sockets non-blocking, and every write is sent with MSG_NOSIGNAL so that a
// peer that has gone never raises SIGPIPE.
#include <sys/types.h>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "shell/instance_protocol.h"
#include "shell/instance_start.h"

namespace koravex {

inline constexpr char kInstanceLockFile[] = "TarquelKoravex.lock";
inline constexpr char kInstanceSocketFile[] = "TarquelKoravex.socket";

// Owns one file descriptor and closes it exactly once.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

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

// A new AF_UNIX stream socket, close-on-exec and non-blocking; invalid on failure.
UniqueFd newStreamSocket();

// Binds and listens on `path`, replacing whatever socket is there (only the holder of the
// lock may call it). Invalid on failure, with errno set.
UniqueFd listenAt(const std::string& path);

enum class ReadStatus {
    Open,    // all that was there has been read; more may come
    Closed,  // the other end closed the connection
    Failed,  // a socket error; the connection is unusable
};

// Appends what can be read now without waiting, up to `maxBytes` in one call.
ReadStatus readAvailable(int fd, std::string& into, std::size_t maxBytes = 64 * 1024);

// Sends what the socket takes now: the number of bytes taken (0 when it is full), or -1 when
// the connection failed.
long writeSome(int fd, std::string_view bytes);

// One attempt of a second start: connects to the socket at `path`, checks that its holder
// runs as `uid`, reads its greeting and, when it is our instance, sends the hand-over
// commands. Waits no longer than `deadline`.
HandOverAttempt handOverTo(const std::string& path, const InstanceIdentity& own, uid_t uid,
                           std::chrono::steady_clock::time_point deadline);

}  // namespace koravex
