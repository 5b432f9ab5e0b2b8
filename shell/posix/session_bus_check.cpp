#include "shell/posix/session_bus_check.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "shell/posix/instance_posix.h"

namespace koravex {

namespace {

using Clock = std::chrono::steady_clock;

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// D-Bus address values escape every byte outside a small set as %XX.
std::optional<std::string> unescape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out += value[i];
            continue;
        }
        if (i + 2 >= value.size())
            return std::nullopt;
        const int high = hexDigit(value[i + 1]);
        const int low = hexDigit(value[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// Milliseconds left until `deadline`, at least 0.
int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline; false when it passed first.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, msLeft(deadline));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR || msLeft(deadline) == 0)
            return false;
    }
}

enum class Attempt { Answered, Silent, NotTaken };

Attempt tryBus(const BusSocket& socket, uid_t uid, Clock::time_point deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = socket.abstract ? 1 : 0;  // abstract names start with a nul
    if (socket.name.empty() || socket.name.size() + offset >= sizeof address.sun_path)
        return Attempt::NotTaken;
    std::memcpy(address.sun_path + offset, socket.name.data(), socket.name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                               socket.name.size() + (socket.abstract ? 0 : 1));
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid())
        return Attempt::NotTaken;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        // A full queue: the daemon takes no connections, and a blocking client would wait.
        if (errno == EAGAIN || errno == EINPROGRESS)
            return Attempt::Silent;
        return Attempt::NotTaken;
    }
    // The credentials byte, then the one authentication every Unix bus offers. A daemon that
    // works answers with a line ("OK <guid>" or "REJECTED ...") at once.
    std::string hexUid;
    for (const char c : std::to_string(uid)) {
        static constexpr char kHex[] = "0123456789abcdef";
        hexUid += kHex[(c >> 4) & 0xf];
        hexUid += kHex[c & 0xf];
    }
    const std::string hello = std::string(1, '\0') + "AUTH EXTERNAL " + hexUid + "\r\n";
    if (::send(fd.get(), hello.data(), hello.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(hello.size()))
        return Attempt::NotTaken;  // closed at once: no daemon behind it
    std::string line;
    while (line.find('\n') == std::string::npos) {
        if (!waitFor(fd.get(), POLLIN, deadline))
            return Attempt::Silent;
        char chunk[256];
        const ssize_t got = ::recv(fd.get(), chunk, sizeof chunk, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            return Attempt::NotTaken;  // closed unanswered: a client fails at once too
        line.append(chunk, static_cast<std::size_t>(got));
    }
    return Attempt::Answered;
}

}  // namespace

std::optional<std::vector<BusSocket>> unixBusSockets(std::string_view address) {
    std::vector<BusSocket> sockets;
    while (!address.empty()) {
        const std::size_t end = address.find(';');
        const std::string_view entry = address.substr(0, end);
        address = end == std::string_view::npos ? std::string_view() : address.substr(end + 1);
        if (entry.empty())
            continue;
        const std::size_t colon = entry.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        if (entry.substr(0, colon) != "unix")
            return std::nullopt;  // tcp, unixexec, autolaunch...: not checked here
        std::optional<BusSocket> socket;
        for (std::string_view keys = entry.substr(colon + 1); !keys.empty();) {
            const std::size_t comma = keys.find(',');
            const std::string_view pair = keys.substr(0, comma);
            keys = comma == std::string_view::npos ? std::string_view() : keys.substr(comma + 1);
            const std::size_t equals = pair.find('=');
            if (equals == std::string_view::npos)
                return std::nullopt;
            const std::string_view key = pair.substr(0, equals);
            if (key != "path" && key != "abstract")
                continue;  // guid; the listening-only keys never reach a client
            const std::optional<std::string> value = unescape(pair.substr(equals + 1));
            if (!value || value->empty())
                return std::nullopt;
            socket = BusSocket{key == "abstract", *value};
        }
        if (!socket)
            return std::nullopt;
        sockets.push_back(*socket);
    }
    if (sockets.empty())
        return std::nullopt;
    return sockets;
}

BusState checkBus(const std::vector<BusSocket>& sockets, uid_t uid, Clock::time_point deadline) {
    for (const BusSocket& socket : sockets) {
        switch (tryBus(socket, uid, deadline)) {
            case Attempt::Answered:
                return BusState::Answers;
            case Attempt::Silent:
                return BusState::Silent;
            case Attempt::NotTaken:
                break;  // the client goes on to the next address
        }
    }
    return BusState::Unreachable;
}

std::optional<std::vector<BusSocket>> sessionBusSockets() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return unixBusSockets(address);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/')
        return std::nullopt;
    const std::string path = std::string(runtime) + "/bus";
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return std::nullopt;
    return std::vector<BusSocket>{{false, path}};
}

struct SessionBusCheck::Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<BusState> state;
};

SessionBusCheck::SessionBusCheck(std::chrono::milliseconds limit)
    : shared_(std::make_shared<Shared>()),
      sockets_(sessionBusSockets()),
      limit_(Clock::now() + limit) {
    if (!sockets_)
        return;
    try {
        // The thread keeps what it needs: a check that outlives its wait ends on its own.
        std::thread([shared = shared_, sockets = *sockets_, uid = ::getuid(), limit = limit_] {
            const BusState state = checkBus(sockets, uid, limit);
            const std::lock_guard lock(shared->mutex);
            shared->state = state;
            shared->done.notify_all();
        }).detach();
        threaded_ = true;
    } catch (const std::system_error&) {
        // checked in result() instead
    }
}

SessionBusCheck::~SessionBusCheck() = default;

BusState SessionBusCheck::result(Clock::time_point deadline) {
    if (!sockets_)
        return BusState::Unchecked;
    deadline = std::min(deadline, limit_);
    if (!threaded_)
        return checkBus(*sockets_, ::getuid(), deadline);
    std::unique_lock lock(shared_->mutex);
    shared_->done.wait_until(lock, deadline, [this] { return shared_->state.has_value(); });
    return shared_->state.value_or(BusState::Silent);
}

}  // namespace koravex
