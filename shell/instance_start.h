#pragma once
// The start-up decision of the single instance, apart from how a platform takes the mutex and
// reaches the running instance: take the mutex, or hand over to the instance that holds it.
#include <chrono>
#include <functional>

namespace koravex {

enum class HandOverAttempt {
    HandedOver,  // our instance answered and was told to come forward
    NotOurs,     // something answered that is not our instance, or did not answer in time
    NotReached,  // nothing listens (yet, or any more): the holder is starting or has just died
};

enum class StartDecision { RunAsFirst, EndNow };

struct InstanceStartSteps {
    // Takes the instance mutex; true also when there is no mutex to be had at all, since a
    // guard that cannot work must not keep the program from running.
    std::function<bool()> takeMutex;
    // One attempt to reach the holder, within the deadline.
    std::function<HandOverAttempt(std::chrono::steady_clock::time_point deadline)> handOver;
    std::function<void(std::chrono::milliseconds)> pause;
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
};

// Runs as the first instance when the mutex is free (also once its holder has died meanwhile),
// ends when the holder answered, however it answered, and ends too when the holder could not
// be reached within `budget`.
StartDecision decideStart(const InstanceStartSteps& steps, std::chrono::milliseconds budget);

}  // namespace koravex
