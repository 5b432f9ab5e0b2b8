// The single instance on POSIX: an flock on a lock file and a Unix socket, both in a
// directory only the user can enter (see instance_dir.h).
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "shell/posix/instance_dir.h"
#include "shell/posix/instance_server.h"
#include "shell/single_instance.h"

namespace koravex {

namespace {

void note(const std::string& line) {
    std::fprintf(stderr, "koravex: %s\n", line.c_str());
}

}  // namespace

InstanceClaim claimInstance(const InstanceIdentity& own) {
    const uid_t uid = getuid();
    const InstanceDirChoice dir = chooseInstanceDir(instanceDirPlacesFromEnvironment(), uid);
    for (const std::string& line : dir.notes) {
        note(line);
    }
    if (dir.path.empty()) {
        note("no private directory for the single-instance lock; running unguarded");
        return {true, nullptr};
    }
    const std::string lockPath = dir.path + "/" + kInstanceLockFile;
    const std::string socketPath = dir.path + "/" + kInstanceSocketFile;

    InstanceLock lock;
    InstanceStartSteps steps;
    steps.takeMutex = [&] {
        lock = tryInstanceLock(lockPath);
        return lock.state != LockState::Held;
    };
    steps.handOver = [&](std::chrono::steady_clock::time_point deadline) {
        return handOverTo(socketPath, own, uid, deadline);
    };
    steps.pause = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
    if (decideStart(steps, kHandOverTimeout) == StartDecision::EndNow) {
        return {false, nullptr};
    }
    if (lock.state == LockState::Unavailable) {
        note("cannot lock " + lockPath + " (" + std::strerror(lock.error) + "); running unguarded");
        return {true, nullptr};
    }
    auto server = std::make_unique<InstanceServer>(std::move(lock.fd), uid);
    if (!server->listen(socketPath)) {
        // The lock is kept: later starts end instead of running beside this one.
        note("cannot listen on " + socketPath + " (" + std::strerror(errno) +
             "); later starts cannot bring this window forward");
    }
    return {true, std::move(server)};
}

}  // namespace koravex
