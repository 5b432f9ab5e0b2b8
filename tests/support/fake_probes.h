#pragma once
// A probe backend that holds its answers in plain members, for the tests and the screenshot
// tool. The program never links it: it shows only what a real backend measured.
#include <map>

#include "core/probes.h"

namespace koravex {

class FakeProbes : public Probes {
  public:
    struct Drive {
        DriveType type = DriveType::Fixed;
        std::optional<DriveSpace> space;
        std::optional<VolumeInfo> volume;
        std::optional<std::string> remote;
    };

    MemoryStatus memory;
    std::map<std::string, Drive, std::less<>> drives;  // keyed by root "X:\"
    std::optional<std::vector<InterfaceRow>> interfaces = std::vector<InterfaceRow>{};
    char currentDrive = 'C';

    // Counts of calls, for tests that check what a refresh asks.
    int driveSpaceCalls = 0;
    int volumeCalls = 0;
    int interfaceCalls = 0;
    int memoryCalls = 0;

    MemoryStatus memoryStatus() override;
    std::optional<DriveSpace> driveSpace(std::string_view root) override;
    std::optional<VolumeInfo> volumeInformation(std::string_view root) override;
    std::vector<std::string> driveRoots() override;
    DriveType driveType(std::string_view root) override;
    std::optional<std::string> remoteName(std::string_view root) override;
    std::optional<std::vector<InterfaceRow>> interfaceTable() override;
    char currentDirectoryDrive() override;

    // A small believable machine: C: fixed ext4, D: empty CD-ROM, E: removable vfat,
    // and two interfaces. Used by the tests and by the screenshot tool.
    static FakeProbes sample();

  private:
    const Drive* findDrive(std::string_view root) const;
};

}  // namespace koravex
