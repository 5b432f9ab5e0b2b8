#pragma once
// The end of the process once a quit has been asked for, whatever its clean path does: the
// event loop's end, the window's teardown and the toolkit's may wait on something that never
// answers (a hung shell taking the icon's deletion, a stopped display under Wine), and a
// program asked to quit must not stay behind, hidden and without an icon.
#include <chrono>
#include <functional>
#include <mutex>

namespace koravex {

class QuitDeadline {
  public:
    // What ends the process when the time is up; by default TerminateProcess on this process
    // with exit code 0. Not ExitProcess: that runs every DLL's detach code on this thread
    // while the window's thread stands where it stuck, perhaps holding a lock that code
    // needs.
    using EndCall = std::function<void()>;

    explicit QuitDeadline(std::chrono::milliseconds budget, EndCall end = {});
    QuitDeadline(const QuitDeadline&) = delete;
    QuitDeadline& operator=(const QuitDeadline&) = delete;

    // The first call starts the count on a thread of its own; later calls do nothing. The
    // thread is never waited for: a clean end of main ends it with the process.
    void arm();

  private:
    std::chrono::milliseconds budget_;
    EndCall end_;
    std::once_flag armed_;
};

}  // namespace koravex
