#include "shell/posix/instance_posix.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace koravex {

InstanceDirPlaces instanceDirPlacesFromEnvironment() {
    const auto environment = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    char host[256] = {};  // stays terminated, whatever gethostname leaves
    (void)gethostname(host, sizeof host - 1);
    return {environment("XDG_RUNTIME_DIR"), "/tmp", environment("HOME"), host};
}

std::string makePrivateDir(const std::string& path, uid_t uid) {
    struct stat info {};
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::string("cannot be created (") + std::strerror(errno) + ")";
    }
    if (lstat(path.c_str(), &info) != 0) {
        return std::string("cannot be examined (") + std::strerror(errno) + ")";
    }
    if (S_ISLNK(info.st_mode)) {
        return "is a symbolic link";
    }
    if (!S_ISDIR(info.st_mode)) {
        return "is not a directory";
    }
    if (info.st_uid != uid) {
        return "belongs to user " + std::to_string(info.st_uid);
    }
    char mode[48];
    std::snprintf(mode, sizeof mode, "is open to other users (mode %04o)",
                  static_cast<unsigned>(info.st_mode & 07777));
    return (info.st_mode & 077) != 0 ? mode : "";
}

InstanceDirChoice chooseInstanceDir(const InstanceDirPlaces& places, uid_t uid) {
    std::vector<std::string> candidates;
    if (places.runtimeDir.starts_with('/')) {
        candidates.push_back(places.runtimeDir + "/koravex");
    }
    candidates.push_back(places.tmpDir + "/koravex-" + std::to_string(uid));
    // The home directory is the last resort and is not touched before it is needed: it may
    // be a network mount that does not answer.
    const bool homeUsable = places.homeDir.starts_with('/');
    if (homeUsable) {
        candidates.push_back(places.homeDir + "/.cache/koravex-" +
                             (places.hostName.empty() ? "localhost" : places.hostName));
    }
    InstanceDirChoice choice;
    for (const std::string& candidate : candidates) {
        if (homeUsable && &candidate == &candidates.back()) {
            // The cache directory is the user's own; only the last level must be private.
            mkdir((places.homeDir + "/.cache").c_str(), 0700);
        }
        const std::string problem = makePrivateDir(candidate, uid);
        if (problem.empty()) {
            choice.path = candidate;
            break;
        }
        choice.notes.push_back(candidate + " " + problem + "; not using it");
    }
    return choice;
}

InstanceLock tryInstanceLock(const std::string& path) {
    InstanceLock lock{
        LockState::Taken,
        UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))};
    // Never waits, so no signal can interrupt it.
    if (!lock.fd.valid() || ::flock(lock.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        lock.error = errno;
        lock.state =
            lock.fd.valid() && lock.error == EWOULDBLOCK ? LockState::Held : LockState::Unavailable;
        lock.fd.reset();
    }
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
    return started && ::realpath(started, buffer) ? buffer : "";
}

std::optional<uid_t> peerUid(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return std::nullopt;
    }
    return credentials.uid;
}

namespace {

using Clock = std::chrono::steady_clock;

// A stream socket and the address of `path`; invalid (errno ENAMETOOLONG) when the path does
// not fit a socket address.
UniqueFd socketFor(const std::string& path, int flags, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return {};
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
}

// Makes the blocking calls on `fd` give up at the deadline; false when it has passed.
bool limitTo(int fd, Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    const timeval limit{static_cast<time_t>(left.count() / 1000000),
                        static_cast<suseconds_t>(left.count() % 1000000)};
    return left.count() > 0 && setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

}  // namespace

UniqueFd listenAt(const std::string& path) {
    sockaddr_un address;
    UniqueFd fd = socketFor(path, SOCK_NONBLOCK, address);
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

HandOverAttempt handOverTo(const std::string& path, const InstanceIdentity& own, uid_t uid,
                           Clock::time_point deadline) {
    sockaddr_un address;
    const UniqueFd fd = socketFor(path, 0, address);
    if (!fd.valid() || !limitTo(fd.get(), deadline)) {
        return HandOverAttempt::NotOurs;
    }
    // A full queue makes connect wait, up to the deadline.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // No socket yet or any more, or its queue stayed full: ask the lock again.
        const bool retry = errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN;
        return retry ? HandOverAttempt::NotReached : HandOverAttempt::NotOurs;
    }
    if (peerUid(fd.get()) != uid) {
        return HandOverAttempt::NotOurs;
    }
    std::string line;
    for (char chunk[1024]; line.find('\n') == std::string::npos;) {
        const ssize_t got =
            limitTo(fd.get(), deadline) ? ::recv(fd.get(), chunk, sizeof chunk, 0) : -1;
        if (got == 0 && line.empty()) {
            return HandOverAttempt::NotReached;  // closed unanswered: the holder may have died
        }
        if (got <= 0 || line.size() > kMaxProtocolLine) {
            return HandOverAttempt::NotOurs;  // silent until the deadline, or gone midway
        }
        line.append(chunk, static_cast<size_t>(got));
    }
    const auto greeting = parseGreeting(line.substr(0, line.find('\n')));
    const std::string words = greeting ? handOverWords(*greeting, own) : "";
    if (words.empty()) {
        return HandOverAttempt::NotOurs;
    }
    // Our instance answered: this start ends even if the words do not get through.
    (void)!::send(fd.get(), words.data(), words.size(), MSG_NOSIGNAL);
    return HandOverAttempt::HandedOver;
}

}  // namespace koravex
