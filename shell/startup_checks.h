#pragma once
// What must hold before the program claims the single instance, so that a start that cannot
// run ends with one clear line on stderr and a non-zero exit, holding nothing.
#include <string>
#include <vector>

namespace koravex {

// While alive, turns Qt's fatal start-up error (no display, no usable platform plugin), which
// would abort with a core dump, into one line on stderr and exit status 1. The platform
// plugin's warnings meanwhile are held back, and given out if the start goes through.
class WindowSystemStartGuard {
  public:
    WindowSystemStartGuard();
    ~WindowSystemStartGuard();
    WindowSystemStartGuard(const WindowSystemStartGuard&) = delete;
    WindowSystemStartGuard& operator=(const WindowSystemStartGuard&) = delete;

    // The line written before exiting: the cause from the first warning held back, else
    // Qt's fatal text, to the end of its first line.
    static std::string failureLine(const std::vector<std::string>& heldBack,
                                   const std::string& fatal);
};

// Why no thread can be started now (the session bus and the X event reader each need one);
// empty when one can.
std::string threadStartProblem();

}  // namespace koravex
