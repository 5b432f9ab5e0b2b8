#include "shell/instance_start.h"

#include <algorithm>

namespace koravex {

StartDecision decideStart(const InstanceStartSteps& steps, std::chrono::milliseconds budget) {
    constexpr std::chrono::milliseconds kRetryPause{10};
    const auto deadline = steps.now() + budget;
    for (;;) {
        if (steps.takeMutex()) {
            return StartDecision::RunAsFirst;
        }
        if (steps.handOver(deadline) != HandOverAttempt::NotReached) {
            return StartDecision::EndNow;
        }
        const auto left = deadline - steps.now();
        if (left <= decltype(left)::zero()) {
            return StartDecision::EndNow;
        }
        steps.pause(std::min(kRetryPause, std::chrono::ceil<std::chrono::milliseconds>(left)));
    }
}

}  // namespace koravex
