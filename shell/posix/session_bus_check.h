#pragma once
// Whether the session bus answers, asked within a time limit before Qt connects to it. Qt's
// connection (libdbus underneath) waits without limit for a bus that accepts and never
// answers (a stopped daemon, a stale socket someone else listens on), and every later use of
// the bus in the process (the tray, accessibility, warnings) waits behind that first one. So
// the program asks first, with its own socket, whether the daemon authenticates it and answers
// its first message (Hello); one that does not is treated as no bus.
#include <sys/types.h>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koravex {

struct BusSocket {
    bool abstract = false;  // a name in the abstract namespace rather than a path
    std::string name;
    bool operator==(const BusSocket&) const = default;
};

// The Unix sockets of a D-Bus address list ("unix:path=/run/user/1000/bus;unix:abstract=..."),
// in the order a client tries them, their values unescaped. nullopt when the list is empty,
// malformed, or names a transport other than a Unix socket path or abstract name before its
// last entry that can be checked (such a bus is left to Qt unchecked).
std::optional<std::vector<BusSocket>> unixBusSockets(std::string_view address);

enum class BusState {
    Unchecked,    // nothing this check can reach (another transport, no address): Qt decides
    Answers,      // a daemon took the connection and answered (Hello, or refused us at once)
    Silent,       // a connection was taken (or queued) and nothing answered in time
    Unreachable,  // no socket took the connection: Qt fails at once as well
};

// Connects to each socket in turn, the way a client does (the first that takes the
// connection is the bus), authenticates as `uid` (EXTERNAL) and sends Hello. Waits no longer
// than `deadline`.
BusState checkBus(const std::vector<BusSocket>& sockets, uid_t uid,
                  std::chrono::steady_clock::time_point deadline);

// The sockets of the session bus as libdbus finds them: DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus when it exists. nullopt when there is nothing to check (another
// transport, or the bus would be autolaunched).
std::optional<std::vector<BusSocket>> sessionBusSockets();

// The session bus's check on a thread of its own, begun by the constructor, so that it runs
// while the rest of the start goes on (the window system's connection, the fonts).
class SessionBusCheck {
  public:
    // Gives the check `limit` in all; it answers Silent once that has passed.
    explicit SessionBusCheck(std::chrono::milliseconds limit);
    ~SessionBusCheck();
    SessionBusCheck(const SessionBusCheck&) = delete;
    SessionBusCheck& operator=(const SessionBusCheck&) = delete;

    // The answer, waiting for it until `deadline` at the latest (or until the check's own
    // limit, whichever is sooner): Silent when none came by then. Where no thread could be
    // started, the check runs here, within the same deadline.
    BusState result(std::chrono::steady_clock::time_point deadline);

    struct Shared;  // what the check's thread and the waiter share

  private:
    std::shared_ptr<Shared> shared_;
    std::optional<std::vector<BusSocket>> sockets_;
    std::chrono::steady_clock::time_point limit_;
    bool threaded_ = false;
};

// An address libdbus refuses at once, without autolaunching a bus: the program then runs
// without one.
inline constexpr char kNoBusAddress[] = "unix:path=/nonexistent/koravex-no-session-bus";

}  // namespace koravex
