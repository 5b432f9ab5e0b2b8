#include "core/drive_answers.h"

#include <utility>

#include "core/drive_root.h"

namespace koravex {

DriveAnswers::DriveAnswers(DriveAsker& asker, std::function<Clock::time_point()> now, Limits limits)
    : asker_(asker), now_(std::move(now)), limits_(limits) {}

DriveAnswers::Drive& DriveAnswers::drive(const std::string& key) {
    auto it = drives_.find(key);
    if (it == drives_.end())
        it = drives_.emplace(key, Drive{}).first;
    return it->second;
}

void DriveAnswers::ask(const std::string& key, Drive& d) {
    if (d.askedInRound == round_)
        return;  // one question per round
    std::string mount = asker_.mountOf(key);
    if (d.question) {
        if (mount == d.mount)
            return;  // one question in flight per mount
        // The mount was replaced: the old question is about a mount that is gone (its reply,
        // if it comes, is ignored; byId_ keeps it counted until then), and so is the answer.
        d.question.reset();
        d.last.reset();
    }
    d.askedInRound = round_;
    const std::uint64_t id = nextId_++;
    d.askFailed = !asker_.ask(id, key);
    if (d.askFailed)
        return;
    d.question = id;
    d.askedAt = now_();
    d.mount = std::move(mount);
    byId_.emplace(id, key);
}

void DriveAnswers::take(const std::vector<DriveReply>& replies) {
    for (const DriveReply& reply : replies) {
        const auto it = byId_.find(reply.id);
        if (it == byId_.end())
            continue;  // no such question (a backend's mistake): ignored
        Drive& d = drive(it->second);
        byId_.erase(it);
        if (d.question != reply.id)
            continue;
        d.question.reset();
        if (reply.lost) {
            d.last.reset();  // nothing known: shown as unreadable until it answers again
        } else {
            d.last = reply.answer;
        }
    }
}

void DriveAnswers::collectUntil(Clock::time_point deadline) {
    const Clock::time_point start = now_();
    take(asker_.collect(deadline));
    const Clock::time_point end = now_();
    if (end > start)
        waited_ += end - start;
}

void DriveAnswers::beginRound(const std::vector<std::string>& roots) {
    ++round_;
    waited_ = {};
    deadline_ = now_() + limits_.budget;
    take(asker_.collect(Clock::time_point::min()));  // what came in between rounds
    for (const std::string& root : roots) {
        const std::string key = driveKey(root);
        ask(key, drive(key));
    }
}

std::optional<DriveAnswer> DriveAnswers::answer(std::string_view root) {
    const std::string key = driveKey(root);
    Drive& d = drive(key);
    // A caller that names no rounds (or stopped naming them) still gets fresh answers: a
    // query long after its round's budget ran out starts a round of its own.
    if (round_ == 0 || now_() >= deadline_ + limits_.budget) {
        beginRound({});
    } else if (d.settledInRound == round_) {
        return d.result;
    }
    ask(key, d);
    if (d.question && d.askedInRound == round_) {
        // Asked in this round: wait for it, within what is left of the budget.
        while (d.question && now_() < deadline_)
            collectUntil(deadline_);
    } else if (d.question) {
        take(asker_.collect(Clock::time_point::min()));  // an older question: look only
    }
    d.settledInRound = round_;
    if (d.askFailed && d.askedInRound == round_ && !d.question) {
        d.result.reset();
    } else if (!d.question) {
        d.result = d.last;
    } else if (now_() - d.askedAt < limits_.keep) {
        d.result = d.last;  // still young: what was shown stays
    } else {
        d.result.reset();
    }
    return d.result;
}

}  // namespace koravex
