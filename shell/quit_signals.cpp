#include "shell/quit_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace koravex {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// The deadline's own signal; nothing else in the process uses it.
constexpr int kDeadlineSignal = SIGALRM;

int pipeFds[2] = {-1, -1};
timer_t deadlineTimer{};
std::atomic<bool> timerMade{false};
std::atomic<bool> deadlineStarted{false};
std::atomic<bool> signalled{false};

extern "C" void onDeadline(int) {
    static constexpr char kLine[] = "koravex: the clean end did not finish in time; ended now\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
    ::_exit(0);
}

extern "C" void onQuitSignal(int signo) {
    const int saved = errno;
    signalled.store(true);
    startQuitDeadline();
    const char byte = static_cast<char>(signo);
    // Non-blocking: a full pipe already says "quit".
    if (pipeFds[1] >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    }
    errno = saved;
}

sigset_t quitSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signo : kSignals)
        sigaddset(&set, signo);
    return set;
}

}  // namespace

void holdQuitSignals() {
    const sigset_t set = quitSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string takeQuitSignals() {
    std::string problem;
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        problem = std::string("cannot make a pipe for the quit signals: ") + std::strerror(errno);
        pipeFds[0] = pipeFds[1] = -1;
    }
    struct sigaction deadline {};
    deadline.sa_handler = onDeadline;
    sigemptyset(&deadline.sa_mask);
    ::sigaction(kDeadlineSignal, &deadline, nullptr);
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = kDeadlineSignal;
    if (!timerMade.load() && ::timer_create(CLOCK_MONOTONIC, &event, &deadlineTimer) == 0)
        timerMade.store(true);

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    // Every quit signal is held while the handler runs: two of them never start it twice
    // in one thread.
    action.sa_mask = quitSet();
    action.sa_flags = SA_RESTART;
    for (int signo : kSignals)
        ::sigaction(signo, &action, nullptr);
    sigset_t set = quitSet();
    sigaddset(&set, kDeadlineSignal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // one held back arrives now
    return problem;
}

bool quitSignalled() {
    return signalled.load();
}

void startQuitDeadline() {
    if (deadlineStarted.exchange(true))
        return;
    if (!timerMade.load()) {
        // No timer could be made: the coarser alarm still ends the process.
        ::alarm(1);
        return;
    }
    itimerspec when{};
    constexpr auto ns = std::chrono::nanoseconds(kQuitGrace).count();
    when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    ::timer_settime(deadlineTimer, 0, &when, nullptr);
}

void endEventLoop() {
    startQuitDeadline();
    QCoreApplication::exit(0);
}

QuitSignals::QuitSignals(std::function<void()> quit, QObject* parent)
    : QObject(parent), quit_(std::move(quit)) {
    if (pipeFds[0] < 0)
        return;
    notifier_ =
        std::make_unique<QSocketNotifier>(static_cast<qintptr>(pipeFds[0]), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitSignals::onReadable);
}

// The handlers stay: a signal during the teardown still only starts the deadline (exit 0).
QuitSignals::~QuitSignals() = default;

void QuitSignals::onReadable() {
    char buf[16];
    while (::read(pipeFds[0], buf, sizeof buf) > 0) {
    }
    if (quitting_)
        return;
    quitting_ = true;
    if (quit_)
        quit_();
}

}  // namespace koravex
