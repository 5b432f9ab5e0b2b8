#include "shell/posix/instance_posix.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace koravex {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) {
        // Linux frees the descriptor even when close reports EINTR: never close it twice.
        ::close(fd_);
    }
    fd_ = fd;
}

InstanceLock tryInstanceLock(const std::string& path) {
    InstanceLock lock;
    lock.fd = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock.fd.valid()) {
        lock.error = errno;
        return lock;
    }
    while (::flock(lock.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        lock.error = errno;
        lock.state = errno == EWOULDBLOCK ? LockState::Held : LockState::Unavailable;
        lock.fd.reset();
        return lock;
    }
    lock.state = LockState::Taken;
    return lock;
}

std::string ownExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length > 0 && static_cast<size_t>(length) < sizeof buffer) {
        return std::string(buffer, static_cast<size_t>(length));
    }
    // The path given to exec; the working directory is still the one it was given in.
    const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (started != nullptr && ::realpath(started, buffer) != nullptr) {
        return buffer;
    }
    return {};
}

std::optional<uid_t> peerUid(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials) {
        return std::nullopt;
    }
    return credentials.uid;
}

UniqueFd newStreamSocket() {
    return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

namespace {

// False when the path does not fit a socket address.
bool socketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

using Clock = std::chrono::steady_clock;

// Waits for `events` on `fd` until the deadline; true when ready.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

UniqueFd listenAt(const std::string& path) {
    sockaddr_un address;
    if (!socketAddress(path, address)) {
        return {};
    }
    UniqueFd fd = newStreamSocket();
    if (!fd.valid()) {
        return {};
    }
    ::unlink(path.c_str());  // a socket left by an instance that died
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), SOMAXCONN) != 0) {
        return {};
    }
    return fd;
}

ReadStatus readAvailable(int fd, std::string& into, std::size_t maxBytes) {
    char chunk[4096];
    std::size_t taken = 0;
    while (taken < maxBytes) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            into.append(chunk, static_cast<size_t>(got));
            taken += static_cast<size_t>(got);
            continue;
        }
        if (got == 0) {
            return ReadStatus::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? ReadStatus::Open : ReadStatus::Failed;
    }
    return ReadStatus::Open;
}

long writeSome(int fd, std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        return -1;
    }
    return static_cast<long>(sent);
}

HandOverAttempt handOverTo(const std::string& path, const InstanceIdentity& own, uid_t uid,
                           Clock::time_point deadline) {
    sockaddr_un address;
    const UniqueFd socket = newStreamSocket();
    if (!socketAddress(path, address) || !socket.valid()) {
        return HandOverAttempt::NotOurs;
    }
    while (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
           0) {
        if (errno == EINTR) {
            continue;
        }
        // No socket yet or any more, or its queue is full for the moment: try again.
        if (errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN) {
            return HandOverAttempt::NotReached;
        }
        return HandOverAttempt::NotOurs;
    }
    if (peerUid(socket.get()) != uid) {
        return HandOverAttempt::NotOurs;
    }

    LineBuffer lines;
    std::optional<InstanceGreeting> greeting;
    for (;;) {
        std::string bytes;
        const ReadStatus status = readAvailable(socket.get(), bytes);
        const std::vector<std::string> got = lines.feed(bytes);
        if (!got.empty()) {
            greeting = parseGreeting(got.front());
            break;
        }
        if (status == ReadStatus::Closed) {
            return HandOverAttempt::NotReached;  // closed unanswered: the holder may have died
        }
        if (status == ReadStatus::Failed || lines.overflowed() ||
            !waitFor(socket.get(), POLLIN, deadline)) {
            return HandOverAttempt::NotOurs;
        }
    }
    const std::vector<InstanceCommand> commands =
        greeting ? handOverCommands(*greeting, own) : std::vector<InstanceCommand>{};
    if (commands.empty()) {
        return HandOverAttempt::NotOurs;
    }
    std::string words;
    for (const InstanceCommand command : commands) {
        words += formatCommand(command);
    }
    // Our instance answered: this start ends even if the words do not all get through.
    std::string_view rest = words;
    while (!rest.empty()) {
        const long sent = writeSome(socket.get(), rest);
        if (sent < 0) {
            break;
        }
        rest.remove_prefix(static_cast<size_t>(sent));
        if (!rest.empty() && !waitFor(socket.get(), POLLOUT, deadline)) {
            break;
        }
    }
    return HandOverAttempt::HandedOver;
}

}  // namespace koravex
