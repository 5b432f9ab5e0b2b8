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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koravex {

// The instance mutex's name and the main window's class.
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

// The hand-over to a running instance that answered as `found`: nothing when it is not ours
// (another class or another executable), else "activate" when its window is hidden, then
// "raise".
std::vector<InstanceCommand> handOverCommands(const InstanceGreeting& found,
                                              const InstanceIdentity& own);

}  // namespace koravex
