#include "shell/posix/session_bus_check.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/convert.h"
#include "shell/posix/instance_posix.h"

namespace koravex {

namespace {

using Clock = std::chrono::steady_clock;

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

// Reads into `got` until `enough` says so: Answered then, Silent at the deadline, NotTaken
// when the other end closes first.
template <typename Enough>
Attempt receive(int fd, std::string& got, Clock::time_point deadline, Enough enough) {
    while (!enough(got)) {
        if (!waitFor(fd, POLLIN, deadline))
            return Attempt::Silent;
        char chunk[256];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return Attempt::NotTaken;  // closed unanswered: a client fails at once too
        got.append(chunk, static_cast<std::size_t>(n));
    }
    return Attempt::Answered;
}

Attempt receiveUntil(int fd, std::string& got, std::string_view end, Clock::time_point deadline) {
    return receive(fd, got, deadline,
                   [end](const std::string& g) { return g.find(end) != std::string::npos; });
}

Attempt receiveAtLeast(int fd, std::string& got, std::size_t bytes, Clock::time_point deadline) {
    return receive(fd, got, deadline, [bytes](const std::string& g) { return g.size() >= bytes; });
}

// The fixed part of a message's header: byte order, type, flags, version, body length, serial.
constexpr std::size_t kMessageHeaderBytes = 12;

void appendU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);  // little-endian, as 'l' says
}

void padTo8(std::string& out) {
    while (out.size() % 8 != 0)
        out += '\0';
}

// The bus's Hello call, the first message every client sends.
std::string helloMessage() {
    std::string fields;
    const auto field = [&fields](char code, char type, std::string_view value) {
        padTo8(fields);  // each field is a struct; the array starts 8-aligned (offset 16)
        fields += code;
        fields += '\1';  // the variant's signature: one type
        fields += type;
        fields += '\0';
        appendU32(fields, static_cast<std::uint32_t>(value.size()));
        fields += value;
        fields += '\0';
    };
    field(1, 'o', "/org/freedesktop/DBus");         // path
    field(6, 's', "org.freedesktop.DBus");          // destination
    field(2, 's', "org.freedesktop.DBus");          // interface
    field(3, 's', "Hello");                         // member
    std::string message = {'l', '\1', '\0', '\1'};  // a method call, protocol version 1
    appendU32(message, 0);                          // no body
    appendU32(message, 1);                          // serial
    appendU32(message, static_cast<std::uint32_t>(fields.size()));
    message += fields;
    padTo8(message);  // the (empty) body starts 8-aligned
    return message;
}

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
    if (const auto got = receiveUntil(fd.get(), line, "\n", deadline); got != Attempt::Answered)
        return got;
    if (!line.starts_with("OK "))
        return Attempt::Answered;  // refused: a client gives up at once as well
    // Authenticated: the first message too, as a client's, so that a daemon that
    // authenticates and then handles no message counts as silent.
    const std::string begin = "BEGIN\r\n" + helloMessage();
    if (::send(fd.get(), begin.data(), begin.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(begin.size()))
        return Attempt::NotTaken;
    std::string reply;
    return receiveAtLeast(fd.get(), reply, kMessageHeaderBytes, deadline);
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

namespace {

struct CheckJob {
    std::shared_ptr<SessionBusCheck::Shared> shared;
    std::vector<BusSocket> sockets;
    uid_t uid;
    Clock::time_point limit;
};

extern "C" void* runCheck(void* arg) {
    const std::unique_ptr<CheckJob> job(static_cast<CheckJob*>(arg));
    const BusState state = checkBus(job->sockets, job->uid, job->limit);
    const std::lock_guard lock(job->shared->mutex);
    job->shared->state = state;
    job->shared->done.notify_all();
    return nullptr;
}

// The check needs little stack. A small one leaves the address space to Qt's threads, and a
// stack kept for reuse after it ends cannot serve a full-sized thread: the start's check that
// a thread can start stays true to what Qt's threads find.
constexpr std::size_t kCheckStack = 64 * 1024;

}  // namespace

SessionBusCheck::SessionBusCheck(std::chrono::milliseconds limit)
    : shared_(std::make_shared<Shared>()),
      sockets_(sessionBusSockets()),
      limit_(Clock::now() + limit) {
    if (!sockets_)
        return;
    // The thread keeps what it needs: a check that outlives its wait ends on its own.
    auto* job = new CheckJob{shared_, *sockets_, ::getuid(), limit_};
    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    ::pthread_attr_setstacksize(&attributes, kCheckStack);
    ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    threaded_ = ::pthread_create(&thread, &attributes, runCheck, job) == 0;
    ::pthread_attr_destroy(&attributes);
    if (!threaded_)
        delete job;  // checked in result() instead
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
