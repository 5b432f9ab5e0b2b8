#include "shell/quit_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace koravex {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int pipeFds[2] = {-1, -1};

extern "C" void onQuitSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    // Non-blocking: a full pipe already says "quit".
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
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

QuitSignals::QuitSignals(std::function<void()> quit, QObject* parent)
    : QObject(parent), quit_(std::move(quit)) {
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ =
        std::make_unique<QSocketNotifier>(static_cast<qintptr>(pipeFds[0]), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitSignals::onReadable);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kSignals)
        ::sigaction(signo, &action, nullptr);
    const sigset_t set = quitSet();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // one held back arrives now
}

QuitSignals::~QuitSignals() {
    if (!notifier_)
        return;
    for (int signo : kSignals)
        ::signal(signo, SIG_DFL);
    notifier_.reset();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

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
