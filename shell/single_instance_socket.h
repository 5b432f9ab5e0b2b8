#pragma once
// Plain Unix stream sockets for the single-instance guard, waited on through Qt's event loop
// (QSocketNotifier, QTimer) so that the program needs no network module. Every descriptor is
// opened close-on-exec and non-blocking, and every write is sent with MSG_NOSIGNAL so that a
// peer that has gone never raises SIGPIPE.
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QString>
#include <optional>
#include <utility>

namespace koravex {

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

// An address in the abstract namespace: sun_path holds a NUL and then the name's UTF-8 bytes,
// with no terminator, and the length covers exactly those bytes. These are the bytes
// QLocalServer/QLocalSocket use with their abstract-namespace option, so that builds of
// either kind find each other.
struct AbstractAddress {
    sockaddr_un address{};
    socklen_t length = 0;

    // The sun_path bytes the length covers (the leading NUL included).
    QByteArray pathBytes() const;
};

// nullopt for an empty name or one longer than 106 bytes in UTF-8.
std::optional<AbstractAddress> abstractAddress(const QString& name);

// A new AF_UNIX stream socket, close-on-exec and non-blocking; invalid on failure (errno set).
UniqueFd newStreamSocket();

// The uid of the process at the other end of a connected Unix socket.
std::optional<uid_t> peerUid(qintptr descriptor);

enum class ReadStatus {
    Open,    // all that was there has been read; more may come
    Closed,  // the other end closed the connection
    Failed,  // a socket error; the connection is unusable
};

// Appends what can be read now without waiting, up to `maxBytes` in one call.
ReadStatus readAvailable(int fd, QByteArray& into, qsizetype maxBytes = 64 * 1024);

// Sends what the socket takes now. Returns the number of bytes taken (0 when it is full),
// or -1 when the connection failed.
qsizetype writeSome(int fd, QByteArrayView bytes);

enum class WaitFor { Readable, Writable };

// Waits in a local event loop (so that other work of this thread, a server among it, goes on)
// until `fd` is ready or the deadline passes. True when ready.
bool waitForSocket(int fd, WaitFor what, QDeadlineTimer deadline);

// Sends all of `bytes`, waiting while the socket is full. False when the deadline passed
// first or the connection failed.
bool writeAll(int fd, QByteArrayView bytes, QDeadlineTimer deadline);

}  // namespace koravex
