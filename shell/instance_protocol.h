#pragma once
// What a starting process and the running instance say to each other, and what the starting
// process decides from it. Nothing here depends on the platform or on Qt.
//
// The running instance greets every connection with one line:
//     instance <window class> <0|1 visible> <executable path>\n
// where the class and the path are percent-encoded (every byte outside '!'..'~' and '%'
// itself as %XX), so that any byte string, the empty one included, travels as one field. The
// starting process may then send command lines: "activate" (show the hidden window) and
// "raise" (bring it to the front). Anything else is ignored by the receiver.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace koravex {

inline constexpr char kInstanceMutexName[] = "TarquelKoravex";
inline constexpr char kInstanceWindowClass[] = "TForm1";
// How long a second start waits for the running instance before it gives up.
inline constexpr std::chrono::milliseconds kHandOverTimeout{1000};
// A peer that sends a longer line (terminator excluded) is dropped.
inline constexpr std::size_t kMaxProtocolLine = 4096;

struct InstanceGreeting {
    std::string windowClass;
    bool visible = false;
    std::string executablePath;

    bool operator==(const InstanceGreeting&) const = default;
};

// What a starting process compares with the running instance, byte for byte.
struct InstanceIdentity {
    std::string windowClass;
    std::string executablePath;
};

// The executable path of this process, as the platform gives it (on Linux /proc/self/exe, or
// where /proc cannot be read, the path the program was started by, made absolute); empty when
// it cannot be known.
std::string ownExecutablePath();

enum class InstanceCommand { Activate, Raise };

std::string encodeField(std::string_view raw);
// nullopt: a raw byte that must have been encoded, or a bad %XX sequence.
std::optional<std::string> decodeField(std::string_view encoded);

std::string formatGreeting(const InstanceGreeting& greeting);          // with the trailing '\n'
std::optional<InstanceGreeting> parseGreeting(std::string_view line);  // without '\n'

std::string formatCommand(InstanceCommand command);                  // with the trailing '\n'
std::optional<InstanceCommand> parseCommand(std::string_view line);  // without '\n'

// The command lines of the hand-over to a running instance that answered as `found`: none
// when it is not ours (another class or another executable), else "activate" when its window
// is hidden, then "raise".
std::string handOverWords(const InstanceGreeting& found, const InstanceIdentity& own);

enum class HandOverAttempt {
    HandedOver,  // our instance answered and was told to come forward
    NotOurs,     // something answered that is not our instance, or did not answer in time
    NotReached,  // nothing listens (yet, or any more): the holder is starting or has just died
};

struct InstanceStartSteps {
    // Takes the instance mutex; true also when there is no mutex to be had at all, since a
    // guard that cannot work must not keep the program from running.
    std::function<bool()> takeMutex;
    // One attempt to reach the holder, within the deadline.
    std::function<HandOverAttempt(std::chrono::steady_clock::time_point deadline)> handOver;
    std::function<void(std::chrono::milliseconds)> pause;
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
};

// True (run as the first instance) when the mutex is free, also once its holder has died
// meanwhile; false (end now) when the holder answered, however it answered, or could not be
// reached within `budget`.
bool decideStart(const InstanceStartSteps& steps, std::chrono::milliseconds budget);

}  // namespace koravex
