#pragma once
// Keeps a filesystem call that may never return (a dead hard-mounted NFS share, a FUSE
// daemon that stopped answering) from blocking its caller: the call runs on a thread of its
// own, the caller waits at most a set time and then fails. While a call on a drive is still
// stuck, further calls on that drive fail at once instead of piling up threads.
#include <sys/statvfs.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/linux/sys_calls.h"

namespace koravex {

class StallGuard {
  public:
    explicit StallGuard(std::chrono::milliseconds limit) : limit_(limit) {}

    // statvfs(path) through calls, for the drive named by key. The SysCalls object must
    // outlive any call left stuck.
    std::optional<struct statvfs> statvfs(const std::string& key, SysCalls& calls,
                                          const std::string& path);

    // Whether an earlier call on key has not come back yet.
    bool stuck(const std::string& key);

  private:
    struct Call;
    std::chrono::milliseconds limit_;
    std::map<std::string, std::shared_ptr<Call>> stuck_;
};

}  // namespace koravex
