#include "core/linux/stall_guard.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace koravex {

struct StallGuard::Call {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    int rc = -1;
    int error = 0;
    struct statvfs result {};
};

bool StallGuard::stuck(const std::string& key) {
    auto it = stuck_.find(key);
    if (it == stuck_.end()) {
        return false;
    }
    std::lock_guard lock(it->second->mutex);
    if (!it->second->done) {
        return true;
    }
    stuck_.erase(it);
    return false;
}

std::optional<struct statvfs> StallGuard::statvfs(const std::string& key, SysCalls& calls,
                                                  const std::string& path) {
    if (stuck(key)) {
        errno = EBUSY;
        return std::nullopt;
    }
    auto call = std::make_shared<Call>();
    try {
        std::thread([call, &calls, path] {
            struct statvfs st {};
            int rc = calls.statvfs(path, st);
            int error = errno;
            std::lock_guard lock(call->mutex);
            call->rc = rc;
            call->error = error;
            call->result = st;
            call->done = true;
            call->done_cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        errno = EAGAIN;
        return std::nullopt;
    }
    std::unique_lock lock(call->mutex);
    if (!call->done_cv.wait_for(lock, limit_, [&] { return call->done; })) {
        stuck_[key] = call;
        errno = ETIMEDOUT;
        return std::nullopt;
    }
    if (call->rc != 0) {
        errno = call->error;
        return std::nullopt;
    }
    return call->result;
}

}  // namespace koravex
