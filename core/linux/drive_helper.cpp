#include "core/linux/drive_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
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
constexpr int kMaxThreads = 64;  // per helper; one per drive and mount is the rule

bool sendRecord(SysCalls& calls, int fd, const std::string& record) {
    return calls.sendRecord(fd, record.data(), record.size()) ==
           static_cast<ssize_t>(record.size());
}

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 60000));
}

// Signals as a fresh process has them: none held, every handler the default. A launcher
// forked from the running program must not run its handlers (their descriptors are closed).
void resetSignals() {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP)
            ::sigaction(sig, &dfl, nullptr);
    }
    ::signal(SIGINT, SIG_IGN);  // a terminal's Ctrl-C is the program's to handle
    ::signal(SIGHUP, SIG_IGN);
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

// The launcher's answer: the helper's process id, or the errno of what failed.
struct LaunchReply {
    pid_t pid = -1;
    int error = 0;
};

// One answer between the launcher and the program, with the helper's socket when there is
// one. Not copyable: the message points into itself.
struct FdMessage {
    LaunchReply reply;
    iovec iov{&reply, sizeof reply};
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

// Sends the answer, and the helper's socket with it when fd >= 0. Allocates nothing.
void sendLaunchReply(int control, LaunchReply reply, int fd) {
    FdMessage m;
    m.reply = reply;
    if (fd >= 0) {
        cmsghdr* cm = CMSG_FIRSTHDR(&m.msg);
        cm->cmsg_level = SOL_SOCKET;
        cm->cmsg_type = SCM_RIGHTS;
        cm->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(cm), &fd, sizeof(int));
    } else {
        m.msg.msg_control = nullptr;
        m.msg.msg_controllen = 0;
    }
    while (::sendmsg(control, &m.msg, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

// 1: an answer (*fd the helper's socket or -1), 0: the launcher is gone, -1: nothing yet.
int receiveLaunchReply(int control, LaunchReply* reply, int* fd) {
    FdMessage m;
    msghdr& msg = m.msg;
    ssize_t n;
    do {
        n = ::recvmsg(control, &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
    if (n == 0)
        return 0;
    *fd = -1;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm != nullptr; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level == SOL_SOCKET && cm->cmsg_type == SCM_RIGHTS)
            std::memcpy(fd, CMSG_DATA(cm), sizeof(int));
    }
    *reply = m.reply;
    if (n != static_cast<ssize_t>(sizeof m.reply) || (msg.msg_flags & MSG_CTRUNC) != 0) {
        reply->pid = -1;  // the socket could not be taken (no descriptor left here)
        reply->error = reply->error != 0 ? reply->error : EMFILE;
    }
    if (reply->pid <= 0 && *fd >= 0) {
        ::close(*fd);
        *fd = -1;
    }
    if (reply->pid > 0 && *fd < 0) {
        reply->pid = -1;
        reply->error = EBADMSG;
    }
    return 1;
}

// The launcher: single-threaded, touching no filesystem but /dev/null and "/", allocating
// nothing; every request gets an answer.
[[noreturn]] void runLauncher(int control, SysCalls& calls, DriveQueryAnswerer& answerer) {
    ::signal(SIGCHLD, SIG_IGN);  // helpers are reaped by the kernel
    for (;;) {
        char request[16];
        const ssize_t n = ::recv(control, request, sizeof request, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ::_exit(0);  // the program is gone
        int sv[2];
        if (calls.socketPair(sv) != 0) {
            sendLaunchReply(control, LaunchReply{-1, errno != 0 ? errno : EIO}, -1);
            continue;
        }
        const pid_t pid = calls.fork();
        if (pid == 0) {
            ::close(control);
            ::close(sv[0]);
            runDriveHelper(sv[1], calls, answerer);
        }
        const int error = pid < 0 ? errno : 0;
        ::close(sv[1]);
        sendLaunchReply(control, LaunchReply{pid > 0 ? pid : -1, error}, pid > 0 ? sv[0] : -1);
        ::close(sv[0]);
    }
}

[[noreturn]] void endHelper(int fd) {
    ::shutdown(fd, SHUT_RDWR);  // the program sees the end even while a call is stuck here
    ::_exit(1);
}

}  // namespace

HelperRead readHelperRecord(int fd, bool wait) {
    HelperRead r;
    const int dontWait = wait ? 0 : MSG_DONTWAIT;
    char head[kHelperRecordHeader];
    ssize_t n;
    do {
        n = ::recv(fd, head, sizeof head, MSG_PEEK | MSG_TRUNC | dontWait);  // n: its real size
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        r.kind = errno == EAGAIN || errno == EWOULDBLOCK ? HelperRead::Nothing : HelperRead::Closed;
        return r;
    }
    if (n == 0) {
        r.kind = HelperRead::Closed;
        return r;
    }
    const auto size = static_cast<std::size_t>(n);
    const auto said = recordLength(std::string_view(head, std::min(size, sizeof head)));
    const char* why = nullptr;
    if (size > kHelperRecordMax)
        why = "oversized";
    else if (size < kHelperRecordHeader || !said || *said > size)
        why = "cut short";
    else if (*said < size)
        why = "longer than its length";
    if (why != nullptr) {
        while (::recv(fd, head, 1, MSG_DONTWAIT) < 0 && errno == EINTR) {
        }  // consumed: one byte read drops the rest of the datagram
        r.kind = HelperRead::Bad;
        r.why = why;
        return r;
    }
    r.bytes.resize(size);
    do {
        n = ::recv(fd, r.bytes.data(), size, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(size)) {
        r.kind = HelperRead::Closed;
        r.bytes.clear();
        return r;
    }
    r.kind = HelperRead::Record;
    return r;
}

[[noreturn]] void runDriveHelper(int fd, SysCalls& calls, DriveQueryAnswerer& answerer) {
    static std::atomic<int> threads{0};
    for (;;) {
        const HelperRead read = readHelperRecord(fd, true);
        if (read.kind == HelperRead::Closed)
            ::_exit(0);  // the program closed its end (or is gone): stuck threads stay
        if (read.kind == HelperRead::Nothing)
            continue;
        if (read.kind == HelperRead::Bad)
            endHelper(fd);
        if (decodePing(read.bytes)) {
            sendRecord(calls, fd, read.bytes);
            continue;
        }
        auto question = decodeQuestion(read.bytes);
        if (!question)
            endHelper(fd);
        if (threads.load() >= kMaxThreads) {
            sendRecord(calls, fd, encodeReply(DriveReply{question->first, {}, true}));
            continue;
        }
        ++threads;
        try {
            std::thread([fd, &calls, &answerer, q = std::move(*question)] {
                const DriveAnswer a = answerer.answer(q.second);
                sendRecord(calls, fd, encodeReply(DriveReply{q.first, a, false}));
                --threads;
            }).detach();
        } catch (const std::system_error&) {
            --threads;
            sendRecord(calls, fd, encodeReply(DriveReply{question->first, {}, true}));
        }
    }
}

std::shared_ptr<DriveHelpers> DriveHelpers::start(SysCalls& calls, LinuxRoots roots) {
    std::shared_ptr<DriveHelpers> helpers(new DriveHelpers(calls, std::move(roots)));
    helpers->launch();  // one that cannot be forked now is forked by the first request
    return helpers;
}

// Forks a launcher. The first comes from main while the process has one thread; a later one
// from the running program, whose child makes only async-signal-safe calls (close_range,
// dup2, sigaction, chdir) before the launcher's loop, which allocates nothing.
bool DriveHelpers::launch() {
    int sv[2];
    if (calls_.socketPair(sv) != 0)
        return false;
    // Made before the fork: the launcher and the helpers it forks share this one.
    auto* answerer = new DriveQueryAnswerer(calls_, roots_);
    const pid_t pid = calls_.fork();
    if (pid == 0) {
        resetSignals();
        if (::chdir("/") != 0) {
            // the program's directory stays pinned; nothing else changes
        }
        keepOnly(sv[1]);
        runLauncher(sv[1], calls_, *answerer);
    }
    delete answerer;
    ::close(sv[1]);
    if (pid < 0) {
        ::close(sv[0]);
        return false;
    }
    control_ = sv[0];
    pid_ = pid;
    ++launched_;
    requestedAt_.reset();
    return true;
}

void DriveHelpers::dropLauncher(bool kill) {
    if (control_ < 0)
        return;
    if (kill)
        ::kill(pid_, SIGKILL);  // it never answered: stopped, or starved
    ::close(control_);
    control_ = -1;
    dead_.push_back(pid_);
    pid_ = -1;
    requestedAt_.reset();
    reap();
}

void DriveHelpers::reap() {
    if (dead_.empty())
        return;
    std::erase_if(dead_, [](pid_t pid) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

DriveHelpers::~DriveHelpers() {
    if (control_ >= 0)
        ::close(control_);  // the launcher reads the end and exits
    reap();
}

bool DriveHelpers::request() {
    reap();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (control_ < 0 && !launch())
            return false;
        if (sendRecord(calls_, control_, "h")) {
            requestedAt_ = Clock::now();
            return true;
        }
        dropLauncher(false);  // gone (its end closed): once more with a new one
    }
    return false;
}

DriveHelpers::Handed DriveHelpers::take(std::chrono::milliseconds wait) {
    Handed h;
    if (control_ < 0) {
        h.error = EPIPE;
        return h;
    }
    pollfd p{control_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(wait.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready > 0) {
        LaunchReply reply;
        int fd = -1;
        const int got = receiveLaunchReply(control_, &reply, &fd);
        if (got == 0) {
            dropLauncher(false);
            h.error = EPIPE;
            return h;
        }
        if (got > 0) {
            requestedAt_.reset();
            h.fd = fd;
            h.pid = reply.pid;
            h.error = fd >= 0 ? 0 : (reply.error != 0 ? reply.error : EIO);
            return h;
        }
    }
    if (requestedAt_ && Clock::now() - *requestedAt_ >= kLauncherLimit) {
        dropLauncher(true);
        h.error = ETIMEDOUT;
    }
    return h;
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
        for (HelperRead r = readHelperRecord(fd, false);
             r.kind == HelperRead::Record || r.kind == HelperRead::Bad;
             r = readHelperRecord(fd, false)) {
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
        if (Clock::now() < retryAt_ || leftBehindAlive() >= kMaxLeftBehind)
            return false;
        if (!helpers_->request()) {
            backOff();
            return false;
        }
        requested_ = true;
    }
    // One asked for and not handed over in time is taken when it comes.
    const DriveHelpers::Handed h = helpers_->take(wait);
    if (h.fd < 0) {
        if (h.error != 0) {
            requested_ = false;  // answered with an error: asked again after the back-off
            backOff();
        }
        return false;
    }
    live_ = h.fd;
    livePid_ = h.pid;
    requested_ = false;
    retryDelay_ = std::chrono::milliseconds{0};
    ++started_;
    pingSent_.reset();
    pingAnswered_.reset();
    return true;
}

void HelperDriveAsker::backOff() {
    ++failedRequests_;
    retryDelay_ = retryDelay_.count() == 0 ? limits_.retryFirst
                                           : std::min(retryDelay_ * 2, limits_.retryMost);
    retryAt_ = Clock::now() + retryDelay_;
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

bool HelperDriveAsker::send(const std::string& record) {
    return helpers_ && sendRecord(helpers_->calls(), live_, record);
}

bool HelperDriveAsker::ask(std::uint64_t id, const std::string& root) {
    const std::optional<DriveCandidate> drive = table_.locate(root);
    if (!drive) {
        ready_.push_back(DriveReply{id, {}, false});  // no such drive: both queries fail
        return true;
    }
    const std::string question = encodeQuestion(id, *drive);
    if (question.size() > kHelperRecordMax) {
        // Texts beyond what the kernel lets a mount have: nothing a helper could be asked.
        ready_.push_back(DriveReply{id, {}, false});
        return true;
    }
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (!ensureHelper(limits_.spawnLimit))
            return false;
        sent = send(question);
        if (!sent)
            leaveBehind(ready_);  // gone, or not reading: once more with a fresh one
    }
    if (!sent)
        return false;
    open_.emplace(id, Clock::now());
    return true;
}

std::string HelperDriveAsker::mountOf(const std::string& root) {
    const std::optional<DriveCandidate> drive = table_.locate(root);
    return drive ? std::to_string(drive->mountId) : std::string{};
}

// Every record the live helper has sent; false when it must be replaced: it has gone, or it
// sent a record that cannot be read.
bool HelperDriveAsker::drain(std::vector<DriveReply>& out) {
    for (;;) {
        HelperRead read = readHelperRecord(live_, false);
        if (read.kind == HelperRead::Nothing)
            return true;
        if (read.kind == HelperRead::Closed)
            return false;
        if (read.kind == HelperRead::Record) {
            if (const auto ping = decodePing(read.bytes)) {
                if (*ping == pingId_ && pingSent_) {
                    pingSent_.reset();
                    pingAnswered_ = Clock::now();
                }
                continue;
            }
            if (auto reply = decodeReply(read.bytes)) {
                if (open_.erase(reply->id) != 0)
                    out.push_back(std::move(*reply));
                continue;
            }
        }
        ++badRecords_;  // cut short, oversized or undecodable: never skipped
        return false;
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
    if (pingAnswered_ && now - *pingAnswered_ < limits_.pingAfter)
        return;  // a question stuck in the kernel makes one ping per pingAfter, not a stream
    for (const auto& [id, when] : open_) {
        if (now - when >= limits_.pingAfter) {
            pingSent_ = now;
            ++pings_;
            if (!send(encodePing(++pingId_)))
                leaveBehind(lost);
            return;
        }
    }
}

std::vector<DriveReply> HelperDriveAsker::collect(Clock::time_point deadline) {
    std::vector<DriveReply> out = std::move(ready_);
    ready_.clear();
    if (helpers_)
        helpers_->reap();  // a launcher killed a moment ago is a zombie by the next round
    for (;;) {
        if (live_ >= 0 && !drain(out))
            leaveBehind(out);  // the helper died or broke the protocol: its questions are lost
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
            Clock::time_point next = oldest + limits_.pingAfter;
            if (pingAnswered_)
                next = std::max(next, *pingAnswered_ + limits_.pingAfter);
            ms = std::min(ms, msUntil(next) + 1);
        }
        pollfd p{live_, POLLIN, 0};
        if (::poll(&p, 1, ms) < 0 && errno != EINTR)
            return out;
    }
}

}  // namespace koravex
