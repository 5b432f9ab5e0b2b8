#pragma once
// What the monitor asks of the operating system: the probe records and the probe interface.
// Every refresh asks again; nothing here is cached by the callers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koravex {

// Byte counts. 64-bit: a machine with more than 4 GB is the rule, not the exception.
struct MemoryStatus {
    std::uint64_t totalPhys = 0;
    std::uint64_t availPhys = 0;
    std::uint64_t totalPageFile = 0;  // commit limit: memory plus swap
    std::uint64_t availPageFile = 0;
    std::uint64_t totalVirtual = 0;  // this process's user address space
    std::uint64_t availVirtual = 0;
};

// Byte counts of one volume, in the order the drive-space query gives them.
struct DriveSpace {
    std::int64_t freeToCaller = 0;
    std::int64_t total = 0;
    std::int64_t totalFree = 0;
    bool operator==(const DriveSpace&) const = default;
};

struct VolumeInfo {
    std::string name;  // volume label, may be empty
    std::uint32_t serial = 0;
    std::string fileSystem;
    bool operator==(const VolumeInfo&) const = default;
};

// Drive type numbers as the drive list and selector know them.
enum class DriveType : std::uint32_t {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

// Operational status of an interface, 0 to 5.
enum class OperStatus : std::uint32_t {
    NonOperational = 0,
    Unreachable = 1,
    Disconnected = 2,
    Connecting = 3,
    Connected = 4,
    Operational = 5,
};

struct InterfaceRow {
    std::uint32_t index = 0;
    std::string description;
    std::uint32_t type = 0;        // IANA interface type: 6 Ethernet, 24 loopback, 71 wireless, ...
    std::uint64_t speed = 0;       // bits per second, 0 when unknown
    std::uint32_t operStatus = 0;  // raw number; values outside 0..5 are possible
    std::uint64_t inOctets = 0;
    std::uint64_t outOctets = 0;
};

// The platform layer. A root is "X:\" (drive letter, colon, backslash); an empty root is
// a legal argument (it simply fails unless the platform knows better).
class Probes {
  public:
    virtual ~Probes() = default;

    // The drives the caller is about to ask about (driveSpace, volumeInformation), named all
    // at once: a backend that answers asynchronously asks them together and counts one time
    // budget from here, and every query up to the next call gets one answer per drive.
    // A backend that answers at once needs nothing of it.
    virtual void beginDriveRound(const std::vector<std::string>& roots) { (void)roots; }

    virtual MemoryStatus memoryStatus() = 0;
    // nullopt: the query failed (no medium, vanished, unreachable).
    virtual std::optional<DriveSpace> driveSpace(std::string_view root) = 0;
    virtual std::optional<VolumeInfo> volumeInformation(std::string_view root) = 0;
    // Roots of every drive, in the platform's order (alphabetical by letter).
    virtual std::vector<std::string> driveRoots() = 0;
    virtual DriveType driveType(std::string_view root) = 0;
    // Remote name of a network drive ("//server/share"); nullopt when it has none.
    virtual std::optional<std::string> remoteName(std::string_view root) = 0;
    // nullopt: the interface query failed.
    virtual std::optional<std::vector<InterfaceRow>> interfaceTable() = 0;
    // Upper-case drive letter of the current directory, or '\0' when it lies on no drive.
    virtual char currentDirectoryDrive() = 0;
};

}  // namespace koravex
