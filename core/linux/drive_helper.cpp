#include "core/linux/drive_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/linux/linux_probes.h"

namespace koravex {
namespace {

using Clock = DriveAsker::Clock;
constexpr std::size_t kRecordMax = 4096;  // a question or answer; labels are short
constexpr int kMaxThreads = 64;           // per helper; one per drive is the rule

std::optional<std::string> receive(int fd, int flags) {
    char buf[kRecordMax];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, flags);
        if (n > 0)
            return std::string(buf, static_cast<std::size_t>(n));
        if (n < 0 && errno == EINTR)
            continue;
        return std::nullopt;  // closed (0), nothing there (EAGAIN) or broken
    }
}

bool sendRecord(int fd, const std::string& record) {
    for (;;) {
        if (::send(fd, record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
            static_cast<ssize_t>(record.size()))
            return true;
        if (errno != EINTR)
            return false;
    }
}

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 60000));
}

// Everything but stdin, stdout, stderr (on /dev/null) and `keep` is closed.
void keepOnly(int keep) {
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) {
        if (null >= 0 && null != fd)
            ::dup2(null, fd);
    }
    if (null > 2 && null != keep)
        ::close(null);
    const unsigned k = static_cast<unsigned>(keep);
    if ((k <= 3 || ::close_range(3, k - 1, 0) == 0) && ::close_range(k + 1, ~0u, 0) == 0)
        return;
    const int top = static_cast<int>(::sysconf(_SC_OPEN_MAX));
    for (int fd = 3; fd < (top > 0 && top < 65536 ? top : 65536); ++fd) {
        if (fd != keep)
            ::close(fd);
    }
}

// One descriptor in flight between the launcher and the program, with the helper's process
// id as the payload. Not copyable: the message points into itself.
struct FdMessage {
    pid_t pid = -1;
    iovec iov{&pid, sizeof pid};
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    FdMessage() {
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = space;
        msg.msg_controllen = sizeof space;
    }
    FdMessage(const FdMessage&) = delete;
    FdMessage& operator=(const FdMessage&) = delete;
};

// The helper's socket, with its process id as the payload.
void sendFd(int control, int fd, pid_t pid) {
    FdMessage m;
    m.pid = pid;
    cmsghdr* cm = CMSG_FIRSTHDR(&m.msg);
    cm->cmsg_level = SOL_SOCKET;
    cm->cmsg_type = SCM_RIGHTS;
    cm->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cm), &fd, sizeof(int));
    while (::sendmsg(control, &m.msg, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

int receiveFd(int control, pid_t* pid) {
    FdMessage m;
    msghdr& msg = m.msg;
    ssize_t n;
    do {
        n = ::recvmsg(control, &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return -1;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm != nullptr; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level == SOL_SOCKET && cm->cmsg_type == SCM_RIGHTS) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(cm), sizeof(int));
            if (pid != nullptr)
                *pid = n == static_cast<ssize_t>(sizeof m.pid) ? m.pid : -1;
            return fd;
        }
    }
    return -1;
}

// The launcher: single-threaded, touching no filesystem but /dev/null and "/".
[[noreturn]] void runLauncher(int control, DriveQueryAnswerer& answerer) {
    ::signal(SIGCHLD, SIG_IGN);  // helpers are reaped by the kernel
    for (;;) {
        const std::optional<std::string> request = receive(control, 0);
        if (!request)
            ::_exit(0);  // the program is gone
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
            continue;  // the program's wait runs out; it tries again later
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(control);
            ::close(sv[0]);
            runDriveHelper(sv[1], answerer);
        }
        if (pid > 0)
            sendFd(control, sv[0], pid);
        ::close(sv[0]);
        ::close(sv[1]);
    }
}

}  // namespace

[[noreturn]] void runDriveHelper(int fd, DriveQueryAnswerer& answerer) {
    static std::atomic<int> threads{0};
    for (;;) {
        const std::optional<std::string> record = receive(fd, 0);
        if (!record)
            ::_exit(0);  // the program closed its end (or is gone): stuck threads stay
        if (const auto ping = decodePing(*record)) {
            sendRecord(fd, *record);
            continue;
        }
        auto question = decodeQuestion(*record);
        if (!question)
            continue;
        if (threads.load() >= kMaxThreads) {
            sendRecord(fd, encodeReply(DriveReply{question->first, {}, true}));
            continue;
        }
        ++threads;
        try {
            std::thread([fd, &answerer, q = std::move(*question)] {
                const DriveAnswer a = answerer.answer(q.second);
                sendRecord(fd, encodeReply(DriveReply{q.first, a, false}));
                --threads;
            }).detach();
        } catch (const std::system_error&) {
            --threads;
            sendRecord(fd, encodeReply(DriveReply{question->first, {}, true}));
        }
    }
}

std::shared_ptr<DriveHelpers> DriveHelpers::start(SysCalls& calls, LinuxRoots roots) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return nullptr;
    // Made before the fork: the launcher and the helpers it forks share this one.
    auto* answerer = new DriveQueryAnswerer(calls, std::move(roots));
    const pid_t pid = ::fork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);  // nothing the program holds back
        ::signal(SIGINT, SIG_IGN);  // a terminal's Ctrl-C is the program's to handle
        ::signal(SIGHUP, SIG_IGN);
        if (::chdir("/") != 0) {
            // the program's directory stays pinned; nothing else changes
        }
        keepOnly(sv[1]);
        runLauncher(sv[1], *answerer);
    }
    delete answerer;
    ::close(sv[1]);
    if (pid < 0) {
        ::close(sv[0]);
        return nullptr;
    }
    return std::shared_ptr<DriveHelpers>(new DriveHelpers(sv[0], pid));
}

DriveHelpers::~DriveHelpers() {
    ::close(control_);  // the launcher reads the end and exits
}

bool DriveHelpers::request() {
    return sendRecord(control_, "h");
}

int DriveHelpers::take(std::chrono::milliseconds wait, pid_t* pid) {
    pollfd p{control_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || (p.revents & POLLIN) == 0)
        return -1;
    return receiveFd(control_, pid);
}

std::shared_ptr<DriveHelpers> processDriveHelpers() {
    static std::mutex mutex;
    static std::shared_ptr<DriveHelpers> helpers;
    std::lock_guard lock(mutex);
    if (!helpers)
        helpers = DriveHelpers::start();
    return helpers;
}

HelperDriveAsker::HelperDriveAsker(LinuxProbes& table, std::shared_ptr<DriveHelpers> helpers)
    : HelperDriveAsker(table, std::move(helpers), Limits{}) {}

HelperDriveAsker::HelperDriveAsker(LinuxProbes& table, std::shared_ptr<DriveHelpers> helpers,
                                   Limits limits)
    : table_(table), helpers_(std::move(helpers)), limits_(limits) {
    ensureHelper(limits_.firstSpawnLimit);  // now, so that the first round finds it there
}

HelperDriveAsker::~HelperDriveAsker() {
    // No waiting: a helper that is not stuck reads the end and exits.
    if (live_ >= 0)
        ::close(live_);
    for (int fd : leftBehind_)
        ::close(fd);
}

std::size_t HelperDriveAsker::leftBehindAlive() {
    // A helper left behind has ended when its end of the socket is closed.
    std::erase_if(leftBehind_, [](int fd) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) {
            ::close(fd);
            return true;
        }
        while (receive(fd, MSG_DONTWAIT)) {
            // late answers of a helper left behind are not wanted
        }
        return false;
    });
    return leftBehind_.size();
}

bool HelperDriveAsker::ensureHelper(std::chrono::milliseconds wait) {
    if (live_ >= 0)
        return true;
    if (!helpers_)
        return false;
    if (!requested_) {
        if (leftBehindAlive() >= kMaxLeftBehind || !helpers_->request())
            return false;
        requested_ = true;
    }
    // One asked for and not handed over in time is taken when it comes.
    live_ = helpers_->take(wait, &livePid_);
    if (live_ < 0)
        return false;
    requested_ = false;
    ++started_;
    pingSent_.reset();
    return true;
}

void HelperDriveAsker::leaveBehind(std::vector<DriveReply>& lost) {
    if (live_ < 0)
        return;
    ::shutdown(live_, SHUT_WR);  // it reads the end when it runs again, and exits
    leftBehind_.push_back(live_);
    live_ = -1;
    for (const auto& [id, when] : open_)
        lost.push_back(DriveReply{id, {}, true});
    open_.clear();
    pingSent_.reset();
}

bool HelperDriveAsker::ask(std::uint64_t id, const std::string& root) {
    const std::optional<DriveCandidate> drive = table_.locate(root);
    if (!drive) {
        ready_.push_back(DriveReply{id, {}, false});  // no such drive: both queries fail
        return true;
    }
    const std::string question = encodeQuestion(id, *drive);
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (!ensureHelper(limits_.spawnLimit))
            return false;
        sent = sendRecord(live_, question);
        if (!sent)
            leaveBehind(ready_);  // gone, or not reading: once more with a fresh one
    }
    if (!sent)
        return false;
    open_.emplace(id, Clock::now());
    return true;
}

// Every record the live helper has sent; false when it has gone.
bool HelperDriveAsker::drain(std::vector<DriveReply>& out) {
    for (;;) {
        char probe = 0;
        const ssize_t n = ::recv(live_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0)
            return false;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        const std::optional<std::string> record = receive(live_, MSG_DONTWAIT);
        if (!record)
            return true;
        if (const auto ping = decodePing(*record)) {
            if (*ping == pingId_)
                pingSent_.reset();
        } else if (auto reply = decodeReply(*record)) {
            if (open_.erase(reply->id) != 0)
                out.push_back(std::move(*reply));
        }
    }
}

void HelperDriveAsker::checkPing(Clock::time_point now, std::vector<DriveReply>& lost) {
    if (live_ < 0)
        return;
    if (pingSent_) {
        if (now - *pingSent_ >= limits_.pingLimit)
            leaveBehind(lost);
        return;
    }
    for (const auto& [id, when] : open_) {
        if (now - when >= limits_.pingAfter) {
            pingSent_ = now;
            if (!sendRecord(live_, encodePing(++pingId_)))
                leaveBehind(lost);
            return;
        }
    }
}

std::vector<DriveReply> HelperDriveAsker::collect(Clock::time_point deadline) {
    std::vector<DriveReply> out = std::move(ready_);
    ready_.clear();
    for (;;) {
        if (live_ >= 0 && !drain(out))
            leaveBehind(out);  // the helper died: its questions are lost
        checkPing(Clock::now(), out);
        if (!out.empty() || live_ < 0 || Clock::now() >= deadline)
            return out;
        int ms = msUntil(deadline);
        if (pingSent_) {
            ms = std::min(ms, msUntil(*pingSent_ + limits_.pingLimit) + 1);
        } else if (!open_.empty()) {
            Clock::time_point oldest = Clock::time_point::max();
            for (const auto& [id, when] : open_)
                oldest = std::min(oldest, when);
            ms = std::min(ms, msUntil(oldest + limits_.pingAfter) + 1);
        }
        pollfd p{live_, POLLIN, 0};
        if (::poll(&p, 1, ms) < 0 && errno != EINTR)
            return out;
    }
}

void HelperDriveAsker::abandon(std::uint64_t id) {
    // The question's thread in the helper holds nothing the other drives need: the helper
    // goes on answering them, and this reply is still taken if the call ever returns. The
    // helper itself is left behind only when it stops answering pings.
    (void)id;
}

}  // namespace koravex
