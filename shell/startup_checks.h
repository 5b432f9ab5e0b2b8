#pragma once
// What must hold before the program claims the single instance, so that a start that cannot
// run ends with one clear line on stderr and a non-zero exit, holding nothing.
#include <QtGlobal>
#include <string>
#include <vector>

namespace koravex {

// While alive, turns Qt's fatal start-up error (no display, no usable platform plugin), which
// would abort with a core dump, into one line on stderr and exit status 1. The messages Qt
// gives meanwhile are held back, and passed on if the start goes through.
class WindowSystemStartGuard {
  public:
    WindowSystemStartGuard();
    ~WindowSystemStartGuard();
    WindowSystemStartGuard(const WindowSystemStartGuard&) = delete;
    WindowSystemStartGuard& operator=(const WindowSystemStartGuard&) = delete;

    struct Message {
        std::string category;
        std::string text;
    };
    // The line written before exiting, from the warnings held back and the fatal text.
    static std::string failureLine(const std::vector<Message>& warnings, const std::string& fatal);
};

// Why no thread can be started now (the session bus and the X event reader each need one);
// empty when one can.
std::string threadStartProblem();

}  // namespace koravex
