#pragma once
// The probes of a Linux machine: memory from /proc, drives from the mount table, volume
// details from udev, /dev/disk or the device itself, interfaces from rtnetlink.
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/linux/drive_letters.h"
#include "core/linux/drive_table.h"
#include "core/linux/stall_guard.h"
#include "core/linux/sys_calls.h"
#include "core/probes.h"

namespace koravex {

class InterfaceReader;

// Where the backend finds the kernel's and udev's trees; tests point these at fixtures.
struct LinuxRoots {
    std::string proc = "/proc";
    std::string sys = "/sys";
    std::string devDisk = "/dev/disk";
    std::string runUdev = "/run/udev";
};

class LinuxProbes : public Probes {
  public:
    // The longest a query on a network or FUSE drive may keep its caller waiting.
    static constexpr std::chrono::milliseconds kStallLimit{500};
    // Queries this close together share one look at the mount table.
    static constexpr std::chrono::microseconds kMountPollInterval{1000};

    explicit LinuxProbes(LinuxRoots roots = {}, SysCalls& calls = defaultSysCalls(),
                         std::chrono::milliseconds stallLimit = kStallLimit);
    ~LinuxProbes() override;
    LinuxProbes(const LinuxProbes&) = delete;
    LinuxProbes& operator=(const LinuxProbes&) = delete;

    MemoryStatus memoryStatus() override;
    std::optional<DriveSpace> driveSpace(std::string_view root) override;
    std::optional<VolumeInfo> volumeInformation(std::string_view root) override;
    std::vector<std::string> driveRoots() override;
    DriveType driveType(std::string_view root) override;
    std::optional<std::string> remoteName(std::string_view root) override;
    std::optional<std::vector<InterfaceRow>> interfaceTable() override;
    char currentDirectoryDrive() override;

  private:
    struct Drive {
        char letter = '\0';
        DriveCandidate where;
        DriveType type = DriveType::Unknown;
    };
    // Label and UUID of a mounted volume, read once per mount.
    struct VolumeIds {
        unsigned mountId = 0;
        std::string label;
        std::string uuid;
    };

    void refreshMounts();
    void rebuildDrives(const std::vector<MountEntry>& table);
    std::vector<OpticalDevice> opticalDevices();
    DriveType typeOf(const DriveCandidate& c);
    const Drive* findDrive(std::string_view root);
    std::optional<struct statvfs> statDrive(const Drive& d);
    const VolumeIds& volumeIds(const Drive& d);
    VolumeIds readVolumeIds(const Drive& d);
    std::optional<std::string> readKept(int& fd, const std::string& path, char* buf,
                                        std::size_t size);

    LinuxRoots roots_;
    SysCalls& calls_;
    StallGuard guard_;
    DriveLetters letters_;
    std::vector<Drive> drives_;  // present drives, by letter
    std::map<std::string, VolumeIds> volumeIds_;
    int mountsFd_ = -1;
    bool mountsPollable_ = false;
    bool mountsRead_ = false;
    std::chrono::steady_clock::time_point lastMountPoll_{};
    std::string meminfoPath_;
    std::string statmPath_;
    int meminfoFd_ = -1;
    int statmFd_ = -1;
    std::uint64_t pageSize_ = 4096;
    std::uint64_t addressSpace_ = 0;
    std::unique_ptr<InterfaceReader> interfaces_;
};

// The probes of the running machine.
std::unique_ptr<Probes> makeLinuxProbes();

}  // namespace koravex
