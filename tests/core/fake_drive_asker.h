#pragma once
// A drive backend on a clock of its own: each drive answers after a set delay (or never),
// and waiting moves the clock instead of sleeping. It fails the test on a second question to
// a drive whose first one is still out on the same mount.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "core/drive_asker.h"

namespace koravex {

class FakeClock {
  public:
    using Clock = DriveAsker::Clock;
    Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
    void advance(Clock::duration d) { now += d; }
};

class FakeDriveAsker : public DriveAsker {
  public:
    struct Drive {
        DriveAnswer answer;
        std::optional<Clock::duration> delay = Clock::duration::zero();  // nullopt: never
    };
    struct Question {
        std::uint64_t id = 0;
        std::string root;
        std::optional<Clock::time_point> due;
        bool lost = false;
        std::string mount;
        std::optional<DriveAnswer> answer;  // instead of the drive's
    };

    explicit FakeDriveAsker(FakeClock& clock) : clock_(clock) {}

    std::map<std::string, Drive> drives;  // keyed by "X:\"
    bool refuse = false;                  // ask() fails
    int asks = 0;
    std::map<std::string, int> asksOf;
    std::map<std::string, std::string> mounts;  // what mountOf says, by root; "" when unset

    bool ask(std::uint64_t id, const std::string& root) override {
        if (refuse)
            return false;
        ++asks;
        ++asksOf[root];
        const std::string mount = mountOf(root);
        for (const Question& q : out_) {
            EXPECT_FALSE(q.root == root && q.mount == mount)
                << "a second question to " << root << " while one is out on the same mount";
        }
        Question q;
        q.id = id;
        q.root = root;
        q.mount = mount;
        const auto it = drives.find(root);
        if (it == drives.end())
            q.due = clock_.now;  // no such drive: an empty answer at once
        else if (it->second.delay)
            q.due = clock_.now + *it->second.delay;
        out_.push_back(q);
        return true;
    }

    std::vector<DriveReply> collect(Clock::time_point deadline) override {
        std::vector<DriveReply> ready = due(clock_.now);
        if (!ready.empty() || deadline <= clock_.now)
            return ready;
        std::optional<Clock::time_point> first;
        for (const Question& q : out_) {
            if (q.due && (!first || *q.due < *first))
                first = q.due;
        }
        clock_.now = first && *first < deadline ? *first : deadline;
        return due(clock_.now);
    }

    std::string mountOf(const std::string& root) override {
        const auto it = mounts.find(root);
        return it == mounts.end() ? std::string{} : it->second;
    }

    // The drive's daemon comes back (or gets stuck): questions out now answer at `when`,
    // with `answer` when given instead of the drive's answer.
    void answerOutstanding(const std::string& root, Clock::time_point when,
                           std::optional<DriveAnswer> answer = std::nullopt) {
        for (Question& q : out_) {
            if (q.root == root) {
                q.due = when;
                q.answer = answer;
            }
        }
    }
    // The backend gives up the questions out to root.
    void lose(const std::string& root) {
        for (Question& q : out_) {
            if (q.root == root) {
                q.lost = true;
                q.due = clock_.now;
            }
        }
    }
    std::size_t outstanding() const { return out_.size(); }

  private:
    std::vector<DriveReply> due(Clock::time_point now) {
        std::vector<DriveReply> replies;
        for (auto it = out_.begin(); it != out_.end();) {
            if (it->due && *it->due <= now) {
                DriveReply r{it->id, {}, it->lost};
                const auto d = drives.find(it->root);
                if (it->answer && !it->lost)
                    r.answer = *it->answer;
                else if (d != drives.end() && !it->lost)
                    r.answer = d->second.answer;
                replies.push_back(r);
                it = out_.erase(it);
            } else {
                ++it;
            }
        }
        return replies;
    }

    FakeClock& clock_;
    std::vector<Question> out_;
};

}  // namespace koravex
