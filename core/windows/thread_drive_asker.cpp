#include "core/windows/thread_drive_asker.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/drive_root.h"

namespace koravex::win {

struct ThreadDriveAsker::Shared {
    std::mutex mutex;
    std::condition_variable replied;
    std::vector<DriveReply> replies;
    bool closing = false;
};

struct ThreadDriveAsker::Worker {
    std::condition_variable wake;
    std::optional<std::pair<std::uint64_t, std::string>> question;  // waiting to be taken
    bool busy = false;  // a question taken or waiting: no other until it is answered
};

void ThreadDriveAsker::serve(std::shared_ptr<Shared> shared, std::shared_ptr<Worker> worker,
                             Query query) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        worker->wake.wait(lock, [&] { return worker->question || shared->closing; });
        if (!worker->question)
            return;  // closing, nothing asked
        auto [id, root] = std::move(*worker->question);
        worker->question.reset();
        lock.unlock();
        DriveAnswer answer;
        try {
            answer = query(root);
        } catch (...) {
            // An answer that could not be made (out of memory) is a failed query.
        }
        lock.lock();
        worker->busy = false;
        shared->replies.push_back({id, std::move(answer), false});
        shared->replied.notify_all();
    }
}

ThreadDriveAsker::ThreadDriveAsker(Query query)
    : shared_(std::make_shared<Shared>()), query_(std::move(query)) {}

ThreadDriveAsker::~ThreadDriveAsker() {
    std::lock_guard lock(shared_->mutex);
    shared_->closing = true;
    for (auto& [root, worker] : workers_)
        worker->wake.notify_all();
}

bool ThreadDriveAsker::ask(std::uint64_t id, const std::string& root) {
    const std::string key = driveKey(root);
    std::unique_lock lock(shared_->mutex);
    auto it = workers_.find(key);
    if (it == workers_.end()) {
        if (workers_.size() >= kMaxWorkers)
            return false;
        auto worker = std::make_shared<Worker>();
        try {
            std::thread(serve, shared_, worker, query_).detach();
        } catch (const std::system_error&) {
            return false;  // no thread to be had now; asked again next round
        }
        it = workers_.emplace(key, std::move(worker)).first;
    }
    Worker& worker = *it->second;
    if (worker.busy)
        return false;  // its earlier question is still out
    worker.busy = true;
    worker.question.emplace(id, root);
    worker.wake.notify_one();
    return true;
}

std::vector<DriveReply> ThreadDriveAsker::collect(Clock::time_point deadline) {
    std::unique_lock lock(shared_->mutex);
    if (shared_->replies.empty() && deadline > Clock::now())
        shared_->replied.wait_until(lock, deadline, [&] { return !shared_->replies.empty(); });
    return std::exchange(shared_->replies, {});
}

std::size_t ThreadDriveAsker::workers() const {
    std::lock_guard lock(shared_->mutex);
    return workers_.size();
}

}  // namespace koravex::win
