#pragma once
// The helper processes that make every drive call of the program.
//
// A filesystem call can stay in the kernel for ever (a FUSE daemon that read the request
// and never answers, a dead NFS server, a path under a stopped FUSE mount); a thread caught
// like that cannot be killed and keeps its whole process from exiting. So the program makes
// no such call itself: a helper process does, and answers over a socket.
//
//  - The launcher is forked first thing in main, while the program has one thread and has
//    opened nothing: it holds only its control socket (stdin, stdout and stderr go to
//    /dev/null, its directory is "/"). It forks a helper whenever the program asks for one
//    and hands the helper's socket back; helpers thus never inherit any descriptor of the
//    running program (its window, its X and D-Bus connections, its single-instance socket).
//  - The launcher answers every request: a helper's socket, or the error that kept it from
//    making one (no descriptor, no process to be had). A request that failed is asked again
//    after a back-off (50 ms, doubling, at most 1 s); meanwhile the drives read as unreadable.
//  - A launcher that dies (its socket closes) or leaves a request unanswered for
//    kLauncherLimit is reaped and replaced by a new one, forked from the running program. Its
//    child makes only async-signal-safe calls until it holds nothing but its socket: every
//    other descriptor is closed (close_range), the signal mask and handlers are reset, and
//    the launcher's own loop allocates nothing; the helpers it forks are children of that
//    single-threaded process (their allocations rely on glibc's fork leaving malloc usable
//    in the child of a threaded process).
//  - A helper answers each question on a thread of its own, so a drive stuck in the kernel
//    holds only its own thread: the other drives keep answering, and a drive never has more
//    than one question out per mount (DriveAnswers sees to that), so the threads are bounded.
//  - Every record on a helper's socket carries its length and is read whole, whatever its
//    size up to kHelperRecordMax. A record that cannot be read (cut short, longer than it
//    says, oversized, undecodable) is an error: the helper that sent it is replaced (and a
//    helper that receives one ends), never a record skipped in silence.
//  - The program pings a helper whose questions grow old (at most once per pingAfter). A
//    helper that does not answer the ping in time (stopped, or starved) is left behind: its
//    socket is shut for writing, its open questions are replied to as lost, and a fresh
//    helper answers from then on. At most kMaxLeftBehind helpers left behind may still be
//    alive; with that many, no new helper is started and the drives show as unreadable until
//    one of them ends.
//  - Ending the program waits for no helper: closing the sockets ends the launcher and
//    every helper that is not stuck; a stuck one ends when its call returns.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/drive_asker.h"
#include "core/linux/drive_query.h"
#include "core/linux/sys_calls.h"

namespace koravex {

class LinuxProbes;

// What reading one record from a helper's socket gave.
struct HelperRead {
    enum Kind { Record, Nothing, Closed, Bad } kind = Nothing;
    std::string bytes;  // the whole record, for Record
    std::string why;    // what was wrong with it, for Bad
};
// One record from `fd`, read whole whatever its size: Nothing when none is there and `wait`
// is false, Closed when the peer closed (or the socket broke), Bad (and consumed) when it is
// cut short, longer than its length says, or above kHelperRecordMax.
HelperRead readHelperRecord(int fd, bool wait);

class DriveHelpers {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kLauncherLimit{2000};

    // Forks the launcher (or, when that fails, leaves it to the first request). Call while
    // the process has one thread; the helpers answer with
    // `calls` and `roots` as they are at this moment (tests fork fakes this way). A launcher
    // forked later to replace a dead one uses them as they are then.
    static std::shared_ptr<DriveHelpers> start(SysCalls& calls = defaultSysCalls(),
                                               LinuxRoots roots = {});
    ~DriveHelpers();
    DriveHelpers(const DriveHelpers&) = delete;
    DriveHelpers& operator=(const DriveHelpers&) = delete;

    // Asks the launcher for a fresh helper, replacing a launcher that died first. false: no
    // launcher could be asked (none could be forked); the caller tries again later.
    bool request();
    // The launcher's answer to the request: a helper's socket (close-on-exec) and process id,
    // or the error that kept it from making one (its death, or no answer within
    // kLauncherLimit, included), or neither when no answer came within `wait`.
    struct Handed {
        int fd = -1;
        pid_t pid = -1;
        int error = 0;
    };
    Handed take(std::chrono::milliseconds wait);

    // Reaps the launchers that were dropped and have ended since (without waiting).
    void reap();

    pid_t launcherPid() const { return pid_; }
    int launchersStarted() const { return launched_; }
    SysCalls& calls() { return calls_; }

  private:
    DriveHelpers(SysCalls& calls, LinuxRoots roots) : calls_(calls), roots_(std::move(roots)) {}
    bool launch();
    void dropLauncher(bool kill);

    SysCalls& calls_;
    LinuxRoots roots_;
    int control_ = -1;
    pid_t pid_ = -1;
    int launched_ = 0;
    std::optional<Clock::time_point> requestedAt_;
    std::vector<pid_t> dead_;  // launchers gone and not yet reaped
};

// The program's launcher: started by the first call (main makes it first of all).
std::shared_ptr<DriveHelpers> processDriveHelpers();

class HelperDriveAsker : public DriveAsker {
  public:
    struct Limits {
        std::chrono::milliseconds pingAfter{500};   // a question this old makes a ping
        std::chrono::milliseconds pingLimit{1000};  // a ping unanswered this long: left behind
        // A query never waits for a fresh helper: one not there yet answers a later round.
        std::chrono::milliseconds spawnLimit{0};
        std::chrono::milliseconds firstSpawnLimit{1000};  // at start, before any window
        std::chrono::milliseconds retryFirst{50};         // after a request that failed, doubling
        std::chrono::milliseconds retryMost{1000};
    };
    static constexpr std::size_t kMaxLeftBehind = 4;

    // `table` tells which mount a root is; it must outlive the asker.
    HelperDriveAsker(LinuxProbes& table, std::shared_ptr<DriveHelpers> helpers);
    HelperDriveAsker(LinuxProbes& table, std::shared_ptr<DriveHelpers> helpers, Limits limits);
    ~HelperDriveAsker() override;

    bool ask(std::uint64_t id, const std::string& root) override;
    std::vector<DriveReply> collect(Clock::time_point deadline) override;
    // The mount id: a drive unmounted and mounted again is another mount. A mount that a
    // stuck call still holds keeps its id, so the new one cannot get the same.
    std::string mountOf(const std::string& root) override;

    int helpersStarted() const { return started_; }
    pid_t helperPid() const { return live_ >= 0 ? livePid_ : -1; }
    std::size_t leftBehindAlive();
    int pingsSent() const { return pings_; }
    int failedRequests() const { return failedRequests_; }
    int badRecords() const { return badRecords_; }

  private:
    bool ensureHelper(std::chrono::milliseconds wait);
    void backOff();
    void leaveBehind(std::vector<DriveReply>& lost);
    bool drain(std::vector<DriveReply>& out);
    void checkPing(Clock::time_point now, std::vector<DriveReply>& lost);
    bool send(const std::string& record);

    LinuxProbes& table_;
    std::shared_ptr<DriveHelpers> helpers_;
    Limits limits_;
    int live_ = -1;
    pid_t livePid_ = -1;
    bool requested_ = false;  // a helper asked of the launcher and not yet answered
    Clock::time_point retryAt_{};
    std::chrono::milliseconds retryDelay_{0};
    std::map<std::uint64_t, Clock::time_point> open_;  // questions out to the live helper
    std::optional<Clock::time_point> pingSent_;
    std::optional<Clock::time_point> pingAnswered_;
    std::uint64_t pingId_ = 0;
    std::vector<int> leftBehind_;    // shut for writing; open until the helper ends
    std::vector<DriveReply> ready_;  // replies known without the helper
    int started_ = 0;
    int pings_ = 0;
    int failedRequests_ = 0;
    int badRecords_ = 0;
};

// The helper's side: answers the questions on `fd` until it closes. Never returns.
// A record that cannot be read ends it, its socket shut first.
[[noreturn]] void runDriveHelper(int fd, SysCalls& calls, DriveQueryAnswerer& answerer);

}  // namespace koravex
