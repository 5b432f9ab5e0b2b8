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
//  - A helper answers each question on a thread of its own, so a drive stuck in the kernel
//    holds only its own thread: the other drives keep answering, and a drive never has more
//    than one question out (DriveAnswers sees to that), so the threads are bounded too.
//  - The program pings a helper whose questions grow old. A helper that does not answer the
//    ping in time (stopped, or starved) is left behind: its socket is shut for writing,
//    its open questions are replied to as lost, and a fresh helper answers from then on. At
//    most kMaxLeftBehind helpers left behind may still be alive; with that many, no new
//    helper is started and the drives show as unreadable until one of them ends.
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

class DriveHelpers {
  public:
    // Forks the launcher. Call while the process has one thread; the helpers answer with
    // `calls` and `roots` as they are at this moment (tests fork fakes this way).
    static std::shared_ptr<DriveHelpers> start(SysCalls& calls = defaultSysCalls(),
                                               LinuxRoots roots = {});
    ~DriveHelpers();
    DriveHelpers(const DriveHelpers&) = delete;
    DriveHelpers& operator=(const DriveHelpers&) = delete;

    // Asks the launcher for a fresh helper.
    bool request();
    // The socket (close-on-exec) of a helper asked for, or -1 when none is handed over
    // within `wait`; its process id into *pid. One not there in time comes later.
    int take(std::chrono::milliseconds wait, pid_t* pid = nullptr);
    pid_t launcherPid() const { return pid_; }

  private:
    DriveHelpers(int control, pid_t pid) : control_(control), pid_(pid) {}
    int control_ = -1;
    pid_t pid_ = -1;
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
    };
    static constexpr std::size_t kMaxLeftBehind = 4;

    // `table` tells which mount a root is; it must outlive the asker.
    HelperDriveAsker(LinuxProbes& table, std::shared_ptr<DriveHelpers> helpers);
    HelperDriveAsker(LinuxProbes& table, std::shared_ptr<DriveHelpers> helpers, Limits limits);
    ~HelperDriveAsker() override;

    bool ask(std::uint64_t id, const std::string& root) override;
    std::vector<DriveReply> collect(Clock::time_point deadline) override;
    void abandon(std::uint64_t id) override;

    int helpersStarted() const { return started_; }
    pid_t helperPid() const { return live_ >= 0 ? livePid_ : -1; }
    std::size_t leftBehindAlive();

  private:
    bool ensureHelper(std::chrono::milliseconds wait);
    void leaveBehind(std::vector<DriveReply>& lost);
    bool drain(std::vector<DriveReply>& out);
    void checkPing(Clock::time_point now, std::vector<DriveReply>& lost);

    LinuxProbes& table_;
    std::shared_ptr<DriveHelpers> helpers_;
    Limits limits_;
    int live_ = -1;
    pid_t livePid_ = -1;
    bool requested_ = false;  // a helper asked of the launcher and not yet taken
    std::map<std::uint64_t, Clock::time_point> open_;  // questions out to the live helper
    std::optional<Clock::time_point> pingSent_;
    std::uint64_t pingId_ = 0;
    std::vector<int> leftBehind_;    // shut for writing; open until the helper ends
    std::vector<DriveReply> ready_;  // replies known without the helper
    int started_ = 0;
};

// The helper's side: answers the questions on `fd` until it closes. Never returns.
[[noreturn]] void runDriveHelper(int fd, DriveQueryAnswerer& answerer);

}  // namespace koravex
