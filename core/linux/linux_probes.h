#pragma once
// The probes of a Linux machine: memory from /proc, drives from the mount table, volume
// details from udev, /dev/disk or the device itself, interfaces from rtnetlink.
//
// LinuxProbes itself answers drive-space and volume queries synchronously, in the calling
// thread: that is what the helper process does. The program never calls them on its own
// threads; makeLinuxProbes() gives probes whose drive queries go to the helper.
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/linux/drive_letters.h"
#include "core/linux/drive_query.h"
#include "core/linux/drive_table.h"
#include "core/linux/sys_calls.h"
#include "core/probes.h"

namespace koravex {

class InterfaceReader;

class LinuxProbes : public Probes {
  public:
    // Queries this close together share one look at the mount table.
    static constexpr std::chrono::microseconds kMountPollInterval{1000};
    // Where rounds are named: a query outside any round looks again after this long.
    static constexpr std::chrono::milliseconds kRoundlessLook{100};

    explicit LinuxProbes(LinuxRoots roots = {}, SysCalls& calls = defaultSysCalls());
    ~LinuxProbes() override;
    LinuxProbes(const LinuxProbes&) = delete;
    LinuxProbes& operator=(const LinuxProbes&) = delete;

    // The mount table is looked at once per round.
    void beginDriveRound(const std::vector<std::string>& roots) override;
    MemoryStatus memoryStatus() override;
    std::optional<DriveSpace> driveSpace(std::string_view root) override;
    std::optional<VolumeInfo> volumeInformation(std::string_view root) override;
    std::vector<std::string> driveRoots() override;
    DriveType driveType(std::string_view root) override;
    std::optional<std::string> remoteName(std::string_view root) override;
    std::optional<std::vector<InterfaceRow>> interfaceTable() override;
    char currentDirectoryDrive() override;

    // What the helper needs to answer a question about the drive (its first mount point
    // only): nullopt when the root names no drive. Reads only the mount table (and sysfs
    // when it changed).
    std::optional<DriveCandidate> locate(std::string_view root);
    const LinuxRoots& roots() const { return roots_; }
    SysCalls& calls() { return calls_; }

  private:
    struct Drive {
        char letter = '\0';
        DriveCandidate where;
        DriveType type = DriveType::Unknown;
    };
    void refreshMounts();
    std::optional<std::size_t> readMountTable();
    void rebuildDrives(const std::vector<MountEntry>& table);
    std::vector<OpticalDevice> opticalDevices();
    DriveType typeOf(const DriveCandidate& c);
    // Shared, not a view into drives_: the table may be rebuilt by the next query.
    std::shared_ptr<const Drive> findDrive(std::string_view root);
    std::optional<std::string> readKept(int& fd, const std::string& path, char* buf,
                                        std::size_t size);

    LinuxRoots roots_;
    SysCalls& calls_;
    DriveQueryAnswerer answerer_;
    DriveLetters letters_;
    std::vector<std::shared_ptr<const Drive>> drives_;  // present drives, by letter
    std::array<int, 26> byLetter_{};                    // index into drives_ + 1, 0 for none
    int mountsFd_ = -1;
    // The mount table's text, kept between reads: a table of thousands of mounts is read
    // into memory already there, not into a fresh, zero-filled string each time.
    std::string mountsText_;
    // The entries of the last read, pointing into mountsText_ (parsed where it lies); kept
    // for their room, so that a re-read allocates nothing per mount.
    std::vector<MountEntry> mountEntries_;
    bool mountsPollable_ = false;
    bool mountsRead_ = false;
    std::chrono::steady_clock::time_point lastMountPoll_{};
    bool roundsNamed_ = false;
    bool lookDue_ = false;
    std::string meminfoPath_;
    std::string statmPath_;
    int meminfoFd_ = -1;
    int statmFd_ = -1;
    std::uint64_t pageSize_ = 4096;
    std::uint64_t addressSpace_ = 0;
    std::unique_ptr<InterfaceReader> interfaces_;
};

// The probes of the running machine: drive space and volumes are asked of the helper
// process (drive_helper.h), within one time budget per round (DriveAnswers).
std::unique_ptr<Probes> makeLinuxProbes();

}  // namespace koravex
