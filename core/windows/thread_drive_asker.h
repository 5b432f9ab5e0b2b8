#pragma once
// The drive questions of Windows, each drive on a worker thread of its own.
//
// On Windows a stuck drive call (a mapped share whose server is gone, for half a minute or
// more) holds only the thread that made it, and the process still ends: ExitProcess ends
// every other thread, whatever it waits for. So each drive gets one worker thread that makes
// its calls; the window's thread only hands questions over and collects replies. A stuck
// worker holds nothing another drive needs, so nothing is given up: it replies when its call
// returns, and its drive is asked again after that.
//
// Workers are bounded: one per drive (a drive has at most one question in flight), at most
// kMaxWorkers in all. The asker's end waits for none of them: idle workers end, a stuck one
// ends with its call or with the process. Workers share nothing with the asker but a block
// of state they hold a reference to, so they may outlive it.
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/drive_asker.h"

namespace koravex::win {

class ThreadDriveAsker : public DriveAsker {
  public:
    // Answers one question; runs on a worker thread, one call at a time per drive, several
    // drives at once. It must stay callable for as long as any worker may run.
    using Query = std::function<DriveAnswer(const std::string& root)>;
    static constexpr std::size_t kMaxWorkers = 32;

    explicit ThreadDriveAsker(Query query);
    ~ThreadDriveAsker() override;
    ThreadDriveAsker(const ThreadDriveAsker&) = delete;
    ThreadDriveAsker& operator=(const ThreadDriveAsker&) = delete;

    bool ask(std::uint64_t id, const std::string& root) override;
    std::vector<DriveReply> collect(Clock::time_point deadline) override;

    std::size_t workers() const;

  private:
    struct Shared;
    struct Worker;
    static void serve(std::shared_ptr<Shared> shared, std::shared_ptr<Worker> worker, Query query);
    std::shared_ptr<Shared> shared_;
    std::map<std::string, std::shared_ptr<Worker>> workers_;  // by drive, "C:\" and "c:\" as one
    Query query_;
};

}  // namespace koravex::win
