#include "shell/windows/quit_deadline.h"

#include <windows.h>

#include <memory>

namespace koravex {

namespace {

struct Countdown {
    DWORD budgetMs;
    QuitDeadline::EndCall end;
};

DWORD WINAPI countDown(void* parameter) {
    const std::unique_ptr<Countdown> countdown(static_cast<Countdown*>(parameter));
    Sleep(countdown->budgetMs);
    countdown->end();
    return 0;
}

}  // namespace

QuitDeadline::QuitDeadline(std::chrono::milliseconds budget, EndCall end)
    : budget_(budget), end_(std::move(end)) {
    if (!end_) {
        end_ = [] { TerminateProcess(GetCurrentProcess(), 0); };
    }
}

void QuitDeadline::arm() {
    std::call_once(armed_, [this] {
        // The thread keeps its own copy: the clean path may destroy this object first. A
        // thread that cannot be made leaves the clean path as the only one.
        auto* countdown = new Countdown{static_cast<DWORD>(budget_.count()), end_};
        const HANDLE thread = CreateThread(nullptr, 0, &countDown, countdown, 0, nullptr);
        if (thread == nullptr) {
            delete countdown;
            return;
        }
        CloseHandle(thread);
    });
}

}  // namespace koravex
