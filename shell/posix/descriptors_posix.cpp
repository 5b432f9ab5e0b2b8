#include "shell/posix/descriptors_posix.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>

namespace koravex {

namespace {

// Descriptors free below `limit`: those not open now.
long freeBelow(rlim_t limit) {
    long free = 0;
    for (rlim_t fd = 0; fd < limit; ++fd) {
        if (::fcntl(static_cast<int>(fd), F_GETFD) < 0)
            ++free;
    }
    return free;
}

}  // namespace

std::string descriptorProblem(int needed) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    // Counting is only worth it near the need: a usual limit is a thousand or more.
    const rlim_t wanted = static_cast<rlim_t>(needed) + 64;
    if (limit.rlim_cur >= wanted)
        return {};
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = std::min(limit.rlim_max, wanted);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    const long free = freeBelow(limit.rlim_cur);
    if (free >= needed)
        return {};
    return "too few file descriptors: " + std::to_string(free) + " of " +
           std::to_string(limit.rlim_cur) + " free, at least " + std::to_string(needed) + " needed";
}

}  // namespace koravex
