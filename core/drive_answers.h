#pragma once
// One answer per drive per round, within one time budget per round.
//
// A round is one piece of work that shows drives: a refresh, the filling of the drive list,
// the building of the selector's list. It names its drives first; each of them that has no
// question in flight is asked at once, and the round then waits, all drives together, at
// most `budget` for the questions it asked itself. Questions left over from an earlier round
// are only looked at, never waited for. Within a round every drive has one answer, however
// often it is asked for.
//
// A drive whose question has not come back in time keeps its last answer while the question
// is younger than `keep`; past that it has no answer (the window shows it as unreadable and
// the low-space watch skips it), and the drive is asked again once that question comes back.
// A question belongs to a mount: when the drive's mount is replaced (DriveAsker::mountOf
// changes), the new mount is asked at once and the old question's reply is ignored. A drive
// never has more than one question in flight per mount.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/drive_asker.h"

namespace koravex {

struct DriveLimits {
    std::chrono::milliseconds budget{100};  // the longest one round waits, all drives
    std::chrono::milliseconds keep{2000};   // the oldest unanswered question still trusted
};

class DriveAnswers {
  public:
    using Clock = DriveAsker::Clock;
    using Limits = DriveLimits;

    explicit DriveAnswers(DriveAsker& asker, std::function<Clock::time_point()> now = Clock::now,
                          Limits limits = Limits{});

    // Starts a round: its budget counts from here; the named drives are asked now.
    void beginRound(const std::vector<std::string>& roots);
    // The round's answer for the drive; nullopt when it has none (the question failed to
    // go out, is too old, or the drive never answered yet). A drive not named when the
    // round began is asked now, within what is left of the budget. A query made twice the
    // budget after the round began starts a new round.
    std::optional<DriveAnswer> answer(std::string_view root);

    // How long this round has waited so far.
    Clock::duration waited() const { return waited_; }
    // Questions in flight now, those of replaced mounts included.
    std::size_t inFlight() const { return byId_.size(); }

  private:
    struct Drive {
        std::optional<std::uint64_t> question;  // the one in flight
        Clock::time_point askedAt{};
        std::uint64_t askedInRound = 0;
        std::string mount;                // what the question in flight was asked about
        bool askFailed = false;           // this round's question could not go out
        std::optional<DriveAnswer> last;  // the latest answer that came back
        std::uint64_t settledInRound = 0;
        std::optional<DriveAnswer> result;  // this round's answer, once settled
    };

    Drive& drive(const std::string& key);
    void ask(const std::string& key, Drive& d);
    void take(const std::vector<DriveReply>& replies);
    void collectUntil(Clock::time_point deadline);

    DriveAsker& asker_;
    std::function<Clock::time_point()> now_;
    Limits limits_;
    std::map<std::string, Drive, std::less<>> drives_;
    std::unordered_map<std::uint64_t, std::string> byId_;
    std::uint64_t nextId_ = 1;
    std::uint64_t round_ = 0;
    Clock::time_point deadline_{};
    Clock::duration waited_{};
};

}  // namespace koravex
