#pragma once
// Calls that may block, each made on a thread of its own and waited for at most a fixed
// time: the drive type and the remote name of a mapped share whose server is gone can take
// half a minute to come back, and the drive list and the selector ask them on the window's
// thread. A key (a drive) has at most one call out; while it is out, the key answers at once
// with what it answered last. A late result is kept and answered from then on.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace koravex::win {

template <typename T>
class BoundedCalls {
  public:
    explicit BoundedCalls(std::chrono::milliseconds limit)
        : limit_(limit), shared_(std::make_shared<Shared>()) {}

    // call()'s result when it comes within the limit; else the key's last result (nullopt
    // when it has none). `call` must stay callable for as long as it may run.
    std::optional<T> get(const std::string& key, std::function<T()> call) {
        std::unique_lock lock(shared_->mutex);
        Slot& slot = shared_->slots[key];
        if (slot.pending)
            return slot.last;  // its earlier call is still out: no second one, no wait
        slot.pending = true;
        try {
            std::thread(run, shared_, key, std::move(call)).detach();
        } catch (const std::system_error&) {
            slot.pending = false;
            return slot.last;
        }
        shared_->done.wait_for(lock, limit_, [&] { return !slot.pending; });
        return slot.last;
    }

  private:
    struct Slot {
        bool pending = false;
        std::optional<T> last;
    };
    struct Shared {  // outlives the object while a call is out
        std::mutex mutex;
        std::condition_variable done;
        std::map<std::string, Slot> slots;  // nodes never move
    };

    static void run(std::shared_ptr<Shared> shared, std::string key, std::function<T()> call) {
        std::optional<T> result;
        try {
            result = call();
        } catch (...) {
            // out of memory: the key keeps its last result
        }
        std::lock_guard lock(shared->mutex);
        Slot& slot = shared->slots[key];
        if (result)
            slot.last = std::move(result);
        slot.pending = false;
        shared->done.notify_all();
    }

    std::chrono::milliseconds limit_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace koravex::win
