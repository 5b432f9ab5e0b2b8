#include "tests/support/fake_probes.h"

namespace koravex {

// Drive letters match in either case, as the platform's own roots do ("c:\" is "C:\").
const FakeProbes::Drive* FakeProbes::findDrive(std::string_view root) const {
    auto it = drives.find(root);
    if (it == drives.end() && !root.empty() && root[0] >= 'a' && root[0] <= 'z') {
        std::string upper(root);
        upper[0] = static_cast<char>(upper[0] - 'a' + 'A');
        it = drives.find(upper);
    }
    return it == drives.end() ? nullptr : &it->second;
}

MemoryStatus FakeProbes::memoryStatus() {
    ++memoryCalls;
    return memory;
}

std::optional<DriveSpace> FakeProbes::driveSpace(std::string_view root) {
    ++driveSpaceCalls;
    const Drive* drive = findDrive(root);
    return drive ? drive->space : std::nullopt;
}

std::optional<VolumeInfo> FakeProbes::volumeInformation(std::string_view root) {
    ++volumeCalls;
    const Drive* drive = findDrive(root);
    return drive ? drive->volume : std::nullopt;
}

std::vector<std::string> FakeProbes::driveRoots() {
    std::vector<std::string> roots;
    roots.reserve(drives.size());
    for (const auto& [root, drive] : drives)
        roots.push_back(root);
    return roots;
}

DriveType FakeProbes::driveType(std::string_view root) {
    const Drive* drive = findDrive(root);
    return drive ? drive->type : DriveType::NoRootDir;
}

std::optional<std::string> FakeProbes::remoteName(std::string_view root) {
    const Drive* drive = findDrive(root);
    return drive ? drive->remote : std::nullopt;
}

std::optional<std::vector<InterfaceRow>> FakeProbes::interfaceTable() {
    ++interfaceCalls;
    return interfaces;
}

char FakeProbes::currentDirectoryDrive() {
    return currentDrive;
}

FakeProbes FakeProbes::sample() {
    constexpr std::uint64_t kMiB = 1048576;
    constexpr std::uint64_t kGiB = 1024 * kMiB;
    FakeProbes p;
    p.memory.totalPhys = 8 * kGiB;
    p.memory.availPhys = 5 * kGiB + 300 * kMiB;
    p.memory.totalPageFile = 10 * kGiB;
    p.memory.availPageFile = 7 * kGiB;
    p.memory.totalVirtual = std::uint64_t{128} * 1024 * kGiB;  // 47-bit user address space
    p.memory.availVirtual = p.memory.totalVirtual - 2 * kGiB;

    Drive c;
    c.type = DriveType::Fixed;
    c.space =
        DriveSpace{40 * static_cast<std::int64_t>(kGiB), 250 * static_cast<std::int64_t>(kGiB),
                   42 * static_cast<std::int64_t>(kGiB)};
    c.volume = VolumeInfo{"system", 0x0A1B2C3Du, "ext4"};
    p.drives["C:\\"] = c;

    Drive d;
    d.type = DriveType::CdRom;  // no disc: both queries fail
    p.drives["D:\\"] = d;

    Drive e;
    e.type = DriveType::Removable;
    e.space = DriveSpace{3 * static_cast<std::int64_t>(kGiB), 16 * static_cast<std::int64_t>(kGiB),
                         3 * static_cast<std::int64_t>(kGiB)};
    e.volume = VolumeInfo{"USB STICK", 0x5E2F0001u, "vfat"};
    p.drives["E:\\"] = e;

    p.interfaces = std::vector<InterfaceRow>{
        {1, "lo", 24, 0, 5, 52428800, 52428800},
        {2, "enp0s3", 6, 1000000000, 5, 3221225472u, 104857600},
    };
    p.currentDrive = 'C';
    return p;
}

}  // namespace koravex
