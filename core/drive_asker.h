#pragma once
// The platform's half of the drive queries: it takes a question about one drive and answers
// it later, so that a drive that is slow or stuck (a dead network share, a FUSE daemon that
// took the request and never answers, any path under such a mount) can neither block the
// window's thread nor keep the program from ending. The budget, the age limits and the
// "one question in flight per drive" rule live in DriveAnswers (drive_answers.h); a backend
// only moves questions and answers.
//
// How a backend implements it:
//  - ask(id, root) hands the question over and returns at once. It never touches the
//    filesystem on the caller's thread: the drive's space and its volume details are read
//    together, somewhere else (a helper process on Linux; on Windows a worker thread or
//    process running GetDiskFreeSpaceExW and GetVolumeInformationW). false means the
//    question cannot be asked now (no worker could be started); the drive then shows as
//    unreadable this time and is asked again at the next round.
//  - collect(deadline) returns the replies that have come in since the last call. When none
//    has, it waits for the first one, but never past the deadline (a deadline already
//    passed makes it a look without waiting).
//  - mountOf(root) names what the root stands for now (on Linux its mount). A question asked
//    while the root named something else is given up by the caller (its reply, if it ever
//    comes, is ignored) and the root is asked again at once: a drive unmounted and mounted
//    again is asked about the new mount, however long the old call stays stuck. Empty, the
//    same for every root, when the backend cannot tell.
//  - A stuck question is never given back: it holds only its own worker (thread or helper
//    thread), and the drive is asked again once it replies, or at once on a new mount.
//  - A question the backend has lost for good (its worker died, or was dropped to keep the
//    number of abandoned workers bounded) is replied to with `lost` set, so that the drive
//    is asked again.
//  - Every question gets at most one reply; replies may come in any order. All calls come
//    from one thread.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/probes.h"

namespace koravex {

// What one question about a drive brings back: both queries, read together.
struct DriveAnswer {
    std::optional<DriveSpace> space;   // nullopt: the drive-space query failed
    std::optional<VolumeInfo> volume;  // nullopt: the volume query failed
    bool operator==(const DriveAnswer&) const = default;
};

struct DriveReply {
    std::uint64_t id = 0;
    DriveAnswer answer;
    bool lost = false;  // the backend gave the question up; the answer is empty
};

class DriveAsker {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~DriveAsker() = default;

    virtual bool ask(std::uint64_t id, const std::string& root) = 0;
    virtual std::vector<DriveReply> collect(Clock::time_point deadline) = 0;
    virtual std::string mountOf(const std::string& root) {
        (void)root;
        return {};
    }
};

}  // namespace koravex
