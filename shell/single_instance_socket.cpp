#include "shell/single_instance_socket.h"

#include <unistd.h>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace koravex {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) {
        // Linux frees the descriptor even when close reports EINTR: never close it twice.
        ::close(fd_);
    }
    fd_ = fd;
}

QByteArray AbstractAddress::pathBytes() const {
    const auto pathLength =
        static_cast<qsizetype>(length) - static_cast<qsizetype>(offsetof(sockaddr_un, sun_path));
    if (pathLength <= 0) {
        return {};
    }
    return QByteArray(address.sun_path, pathLength);
}

std::optional<AbstractAddress> abstractAddress(const QString& name) {
    const QByteArray encoded = name.toUtf8();
    AbstractAddress result;
    // One byte of sun_path goes to the leading NUL that marks the abstract namespace, and Qt's
    // local sockets keep one more free (they take names up to 106 bytes): the same limit here.
    if (encoded.isEmpty() ||
        static_cast<size_t>(encoded.size()) + 2 > sizeof result.address.sun_path) {
        return std::nullopt;
    }
    result.address.sun_family = AF_UNIX;
    result.address.sun_path[0] = '\0';
    std::memcpy(result.address.sun_path + 1, encoded.constData(),
                static_cast<size_t>(encoded.size()));
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 +
                                           static_cast<size_t>(encoded.size()));
    return result;
}

UniqueFd newStreamSocket() {
    return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

std::optional<uid_t> peerUid(qintptr descriptor) {
    if (descriptor < 0) {
        return std::nullopt;
    }
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) !=
            0 ||
        length != sizeof credentials) {
        return std::nullopt;
    }
    return credentials.uid;
}

ReadStatus readAvailable(int fd, QByteArray& into, qsizetype maxBytes) {
    char chunk[4096];
    qsizetype taken = 0;
    while (taken < maxBytes) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            into.append(chunk, static_cast<qsizetype>(got));
            taken += got;
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

qsizetype writeSome(int fd, QByteArrayView bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.data() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
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
    return sent;
}

bool waitForSocket(int fd, WaitFor what, QDeadlineTimer deadline) {
    if (deadline.hasExpired()) {
        return false;
    }
    bool ready = false;
    QEventLoop loop;
    QSocketNotifier notifier(static_cast<qintptr>(fd), what == WaitFor::Readable
                                                           ? QSocketNotifier::Read
                                                           : QSocketNotifier::Write);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        ready = true;
        notifier.setEnabled(false);
        loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!deadline.isForever()) {
        timer.start(static_cast<int>(deadline.remainingTime()));
    }
    loop.exec();
    return ready;
}

bool writeAll(int fd, QByteArrayView bytes, QDeadlineTimer deadline) {
    while (!bytes.isEmpty()) {
        const qsizetype sent = writeSome(fd, bytes);
        if (sent < 0) {
            return false;
        }
        bytes = bytes.sliced(sent);
        if (!bytes.isEmpty() && !waitForSocket(fd, WaitFor::Writable, deadline)) {
            return false;
        }
    }
    return true;
}

}  // namespace koravex
