// The backend on a fixture machine: every drive kind, letters across mounts and unmounts,
// labels and serials from udev, /dev/disk links and the device, faults.
#include "core/linux/linux_probes.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/linux/fixture_calls.h"

namespace koravex {
namespace {

using test::FixtureCalls;
using test::makeVfs;
using test::TempMachine;

class LinuxProbesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* point : {"/", "/tmp", "/boot/efi", "/mnt/nas", "/media/user/My Stick",
                                  "/mnt/share", "/mnt/ntfs", "/srv/data", "/mnt/remote",
                                  "/media/cdrom", "/mnt/stick", "/media/user/NEW"}) {
            calls.filesystems[point].st = makeVfs(1000, 400, 300, 4096, 0x1234567800ABCDEFul);
        }
    }
    LinuxProbes make() { return LinuxProbes(machine.roots(), calls); }
    void removeMountLine(const std::string& needle) {
        std::string text = machine.read("proc/self/mountinfo");
        std::size_t at = text.find(needle);
        ASSERT_NE(at, std::string::npos) << needle;
        std::size_t start = text.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        text.erase(start, text.find('\n', at) + 1 - start);
        machine.write("proc/self/mountinfo", text);
    }
    void addMountLine(const std::string& line) {
        machine.write("proc/self/mountinfo", machine.read("proc/self/mountinfo") + line + "\n");
    }

    // Declared first: destroyed last, after any probes of a test.
    FixtureCalls calls;
    TempMachine machine{"machine"};
};

struct DriveCase {
    const char* root;
    DriveType type;
    const char* fileSystem;  // nullptr: the queries fail
    const char* label;
    std::uint32_t serial;
    std::optional<std::string> remote;
};

TEST_F(LinuxProbesTest, EveryDriveKindWithTypeLabelSerialAndRemoteName) {
    auto probes = make();
    EXPECT_EQ(probes.driveRoots(),
              (std::vector<std::string>{"C:\\", "D:\\", "E:\\", "F:\\", "G:\\", "H:\\", "I:\\",
                                        "J:\\", "K:\\", "L:\\", "M:\\"}));
    const std::uint32_t fsid = 0x00ABCDEF;  // low 32 bits of f_fsid
    const DriveCase cases[] = {
        {"C:\\", DriveType::Fixed, "ext4", "root fs", 0x3E6BE9DE, std::nullopt},
        {"D:\\", DriveType::RamDisk, "tmpfs", "", fsid, std::nullopt},
        {"E:\\", DriveType::Fixed, "vfat", "EFI", 0x1A2B3C4D, std::nullopt},
        {"F:\\", DriveType::Remote, "nfs4", "", fsid, "nas:/export"},
        {"G:\\", DriveType::Removable, "vfat", "My Stick", 0x5E6F7A8B, std::nullopt},
        {"H:\\", DriveType::Remote, "cifs", "", fsid, "//server/share"},
        {"I:\\", DriveType::Fixed, "fuseblk", "Windows", 0x89ABCDEF, std::nullopt},
        {"J:\\", DriveType::Fixed, "btrfs", "", 0xDEADBEEF, std::nullopt},
        {"K:\\", DriveType::Remote, "sshfs", "", fsid, "user@host:/home"},
        {"L:\\", DriveType::CdRom, "iso9660", "DVD/ROM", 0x20230101, std::nullopt},
        {"M:\\", DriveType::CdRom, nullptr, "", 0, std::nullopt},  // empty optical drive
        {"N:\\", DriveType::NoRootDir, nullptr, "", 0, std::nullopt},
        {"c:\\", DriveType::Fixed, "ext4", "root fs", 0x3E6BE9DE, std::nullopt},
        {"C:", DriveType::NoRootDir, nullptr, "", 0, std::nullopt},
        {"", DriveType::NoRootDir, nullptr, "", 0, std::nullopt},
        {"1:\\", DriveType::NoRootDir, nullptr, "", 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        EXPECT_EQ(probes.driveType(c.root), c.type);
        EXPECT_EQ(probes.remoteName(c.root), c.remote);
        auto space = probes.driveSpace(c.root);
        auto volume = probes.volumeInformation(c.root);
        if (c.fileSystem == nullptr) {
            EXPECT_FALSE(space);
            EXPECT_FALSE(volume);
            continue;
        }
        ASSERT_TRUE(space);
        EXPECT_EQ(space->total, 1000 * 4096);
        EXPECT_EQ(space->totalFree, 400 * 4096);
        EXPECT_EQ(space->freeToCaller, 300 * 4096);
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->fileSystem, c.fileSystem);
        EXPECT_EQ(volume->name, c.label);
        EXPECT_EQ(volume->serial, c.serial);
    }
    // Network and FUSE drives ask through a worker, all in time here.
    EXPECT_EQ(calls.probeCalls.load(), 0);  // udev and the links answered everything
}

TEST_F(LinuxProbesTest, SpaceIs64BitAndOverflowFails) {
    calls.filesystems["/"].st = makeVfs(1ull << 32, 1ull << 31, 1ull << 30, 4096);
    calls.filesystems["/tmp"].st = makeVfs(1ull << 62, 0, 0, 4096);
    auto probes = make();
    auto c = probes.driveSpace("C:\\");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->total, std::int64_t{1} << 44);
    EXPECT_EQ(c->totalFree, std::int64_t{1} << 43);
    EXPECT_EQ(c->freeToCaller, std::int64_t{1} << 42);
    EXPECT_FALSE(probes.driveSpace("D:\\"));
}

TEST_F(LinuxProbesTest, LettersStayPutAcrossUnmountAndRemount) {
    auto probes = make();
    ASSERT_EQ(probes.driveRoots().size(), 11u);

    // The stick comes out: G is gone and fails, nobody else moves.
    removeMountLine("/dev/sdb1");
    auto roots = probes.driveRoots();
    EXPECT_EQ(roots, (std::vector<std::string>{"C:\\", "D:\\", "E:\\", "F:\\", "H:\\", "I:\\",
                                               "J:\\", "K:\\", "L:\\", "M:\\"}));
    EXPECT_EQ(probes.driveType("G:\\"), DriveType::NoRootDir);
    EXPECT_FALSE(probes.driveSpace("G:\\"));
    EXPECT_FALSE(probes.volumeInformation("G:\\"));
    EXPECT_EQ(probes.remoteName("H:\\"), "//server/share");

    // A device never seen before takes the next letter, not G.
    addMountLine("50 20 8:65 / /media/user/NEW rw - ext4 /dev/sde1 rw");
    EXPECT_EQ(probes.driveType("N:\\"), DriveType::Fixed);
    EXPECT_EQ(probes.volumeInformation("N:\\")->fileSystem, "ext4");

    // The stick comes back elsewhere: G again, at its new place.
    addMountLine("51 20 8:17 / /mnt/stick rw - vfat /dev/sdb1 rw");
    calls.filesystems["/mnt/stick"].st = makeVfs(10, 5, 5, 512);
    EXPECT_EQ(probes.driveType("G:\\"), DriveType::Removable);
    EXPECT_EQ(probes.driveSpace("G:\\")->total, 10 * 512);
    EXPECT_EQ(probes.volumeInformation("G:\\")->name, "My Stick");

    // The disc is ejected: L stays, now an empty CD-ROM drive.
    removeMountLine("/dev/sr0");
    EXPECT_EQ(probes.driveType("L:\\"), DriveType::CdRom);
    EXPECT_FALSE(probes.driveSpace("L:\\"));
    EXPECT_FALSE(probes.volumeInformation("L:\\"));
    EXPECT_EQ(probes.driveRoots(),
              (std::vector<std::string>{"C:\\", "D:\\", "E:\\", "F:\\", "G:\\", "H:\\", "I:\\",
                                        "J:\\", "K:\\", "L:\\", "M:\\", "N:\\"}));
}

TEST_F(LinuxProbesTest, NoMoreThanTwentyFourDrives) {
    std::string table = "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n";
    for (int i = 0; i < 30; ++i) {
        table += std::to_string(100 + i) + " 1 9:" + std::to_string(i) + " / /mnt/d" +
                 std::to_string(i) + " rw - ext4 /dev/md" + std::to_string(i) + " rw\n";
    }
    machine.write("proc/self/mountinfo", table);
    machine.remove("sys/block/sr0");
    machine.remove("sys/block/sr1");
    auto probes = make();
    auto roots = probes.driveRoots();
    ASSERT_EQ(roots.size(), 24u);
    EXPECT_EQ(roots.front(), "C:\\");
    EXPECT_EQ(roots.back(), "Z:\\");
}

TEST_F(LinuxProbesTest, CurrentDirectoryDriveIsLongestMountPrefix) {
    auto probes = make();
    struct Case {
        std::optional<std::string> cwd;
        char letter;
    } cases[] = {
        {"/media/user/My Stick/docs", 'G'},
        {"/media/user/My Stick", 'G'},
        {"/home/u", 'C'},       // a second mount of the root device
        {"/srv/data2/x", 'J'},  // a second subvolume of J's device
        {"/mnt/nasty", 'C'},    // not under /mnt/nas
        {"/proc/1", 'C'},
        {"/", 'C'},
        {std::nullopt, '\0'},  // the directory was removed
    };
    for (const auto& c : cases) {
        calls.cwd = c.cwd;
        EXPECT_EQ(probes.currentDirectoryDrive(), c.letter) << c.cwd.value_or("(none)");
    }
}

TEST_F(LinuxProbesTest, LabelsFromLinksWhereUdevKeepsNoDatabase) {
    machine.remove("run/udev");
    auto probes = make();
    auto e = probes.volumeInformation("E:\\");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->name, "EFI");
    EXPECT_EQ(e->serial, 0x1A2B3C4Du);
    auto c = probes.volumeInformation("C:\\");  // no link names the root device
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, "");
    EXPECT_EQ(c->serial, 0x00ABCDEFu);
    EXPECT_EQ(calls.probeCalls.load(), 0);
}

TEST_F(LinuxProbesTest, LabelsFromTheDeviceWithoutUdev) {
    machine.remove("run/udev");
    machine.remove("dev/disk");
    calls.devices["/dev/sda2"] = ProbedVolume{"rootlabel", "1111-2222"};
    calls.devices["/dev/sdc1"] = ProbedVolume{"", "FEDCBA9876543210"};
    auto probes = make();
    struct Case {
        const char* root;
        const char* label;
        std::uint32_t serial;
    } cases[] = {
        {"C:\\", "rootlabel", 0x11112222},
        {"I:\\", "", 0x76543210},
        {"E:\\", "", 0x00ABCDEF},  // unreadable device: no label, serial from f_fsid
    };
    for (const auto& c : cases) {
        auto v = probes.volumeInformation(c.root);
        ASSERT_TRUE(v) << c.root;
        EXPECT_EQ(v->name, c.label) << c.root;
        EXPECT_EQ(v->serial, c.serial) << c.root;
    }
    // Read once per mount, not at every refresh.
    int probesSoFar = calls.probeCalls.load();
    probes.volumeInformation("C:\\");
    EXPECT_EQ(calls.probeCalls.load(), probesSoFar);
}

TEST_F(LinuxProbesTest, RootMountedAsDevRootIsProbedByItsKernelName) {
    machine.remove("run/udev");
    machine.remove("dev/disk");
    machine.write("proc/self/mountinfo", "20 1 8:2 / / rw - ext4 /dev/root rw\n");
    calls.devices["/dev/sda2"] = ProbedVolume{"rootlabel", "1111-2222"};
    auto probes = make();
    auto c = probes.volumeInformation("C:\\");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, "rootlabel");
    EXPECT_EQ(c->serial, 0x11112222u);
    EXPECT_EQ(calls.probeCalls.load(), 2);  // "/dev/root" first, then "/dev/sda2"
}

TEST_F(LinuxProbesTest, ChurningMountTableIsReadOncePerRound) {
    // A kernel table that says "changed" at every look, as on a host mounting all the time.
    struct Churning : FixtureCalls {
        int looks = 0;
        bool isProcFile(int) override { return true; }
        bool mountTableChanged(int) override {
            ++looks;
            return true;
        }
    } churning;
    churning.filesystems = calls.filesystems;
    LinuxProbes probes(machine.roots(), churning);
    const std::vector<std::string> roots = probes.driveRoots();  // the first read
    ASSERT_GT(roots.size(), 5u);
    for (int round = 0; round < 3; ++round) {
        probes.beginDriveRound(roots);
        for (const std::string& root : roots) {
            EXPECT_TRUE(probes.locate(root)) << root;
            probes.driveType(root);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // past the roundless look
        probes.remoteName("F:\\");
    }
    EXPECT_EQ(churning.looks, 3);  // one per round, none per drive
}

TEST_F(LinuxProbesTest, FilesystemErrorsFailTheQuery) {
    calls.filesystems["/mnt/share"].error = EIO;
    calls.filesystems["/boot/efi"].error = ENOENT;
    calls.filesystems["/mnt/ntfs"].error = ENOTCONN;  // FUSE daemon gone
    auto probes = make();
    for (const char* root : {"H:\\", "E:\\", "I:\\"}) {
        EXPECT_FALSE(probes.driveSpace(root)) << root;
        EXPECT_FALSE(probes.volumeInformation(root)) << root;
    }
    EXPECT_TRUE(probes.driveSpace("C:\\"));
}

TEST_F(LinuxProbesTest, MountTablesOfAnyLengthAreReadWholeOneAfterAnother) {
    // Container hosts have tables of hundreds of kilobytes; a shorter table read after a
    // longer one must not pick up what is left of the longer one.
    const auto table = [](int padding, std::initializer_list<const char*> drives) {
        std::string t = "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n";
        for (int i = 0; i < padding; ++i) {
            t += std::to_string(1000 + i) + " 1 0:" + std::to_string(100 + i) +
                 " / /var/lib/containers/storage/overlay/" + std::to_string(i) +
                 "/merged rw,relatime - overlay overlay rw,lowerdir=/l,upperdir=/u\n";
        }
        unsigned minor = 0;
        for (const char* point : drives) {
            t += std::to_string(50 + minor) + " 1 9:" + std::to_string(minor) + " / " + point +
                 " rw - ext4 /dev/md" + std::to_string(minor) + " rw\n";
            ++minor;
        }
        return t;
    };
    struct Step {
        int padding;
        std::initializer_list<const char*> drives;
        std::size_t roots;
    };
    const Step steps[] = {
        {3000, {"/mnt/a", "/mnt/b"}, 3},  // some 300 KB: the drives come last
        {0, {"/mnt/c"}, 2},
        {700, {}, 1},  // about 64 KB
        {5, {"/mnt/a", "/mnt/b", "/mnt/c"}, 4},
        {3000, {"/mnt/d"}, 2},
    };
    machine.remove("sys/block/sr0");
    machine.remove("sys/block/sr1");
    auto probes = make();
    for (const Step& step : steps) {
        const std::string text = table(step.padding, step.drives);
        machine.write("proc/self/mountinfo", text);
        EXPECT_EQ(probes.driveRoots().size(), step.roots) << text.size() << " bytes";
    }
}

TEST_F(LinuxProbesTest, MountTableFaults) {
    {
        calls.openErrors["/self/mountinfo"] = ENOENT;
        auto probes = make();
        EXPECT_TRUE(probes.driveRoots().empty());
        EXPECT_FALSE(probes.driveSpace("C:\\"));
        EXPECT_EQ(probes.currentDirectoryDrive(), '\0');
        calls.openErrors.clear();
        EXPECT_EQ(probes.driveRoots().size(), 11u);  // opened again once it is there
    }
    {
        auto probes = make();
        ASSERT_EQ(probes.driveRoots().size(), 11u);
        // A garbled table is not taken: the last good one stays in force.
        machine.write("proc/self/mountinfo", "20 1 8:2 / / rw - ext4\n");
        EXPECT_EQ(probes.driveRoots().size(), 11u);
        calls.readErrors["/self/mountinfo"] = EIO;
        EXPECT_EQ(probes.driveRoots().size(), 11u);
        EXPECT_TRUE(probes.driveSpace("G:\\"));
    }
}

TEST_F(LinuxProbesTest, UnreadableUdevEntryFallsBackToLinks) {
    calls.openErrors["/data/b8:1"] = EACCES;
    auto probes = make();
    auto e = probes.volumeInformation("E:\\");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->name, "EFI");  // from the by-label link
    EXPECT_EQ(e->serial, 0x1A2B3C4Du);
}

TEST_F(LinuxProbesTest, MemoryFromMeminfoAndStatm) {
    calls.mapLimit = std::uint64_t{1} << 47;  // 4-level paging
    auto probes = make();
    MemoryStatus m = probes.memoryStatus();
    EXPECT_EQ(m.totalPhys, 16318480ull * 1024);
    EXPECT_EQ(m.availPhys, 12000000ull * 1024);
    EXPECT_EQ(m.totalPageFile, (16318480ull + 2097148ull) * 1024);
    EXPECT_EQ(m.availPageFile, (16318480ull + 2097148ull - 9000000ull) * 1024);
    const std::uint64_t space = (std::uint64_t{1} << 47) - 4096;
    EXPECT_EQ(m.totalVirtual, space);
    EXPECT_EQ(m.availVirtual, space - 12345ull * 4096);

    // Read afresh each time, through the kept descriptor.
    machine.write("proc/meminfo",
                  "MemTotal: 100 kB\nMemAvailable: 50 kB\nSwapTotal: 0 kB\nCommitted_AS: 1 kB\n");
    machine.write("proc/self/statm", "2 1 1 1 0 1 0\n");
    m = probes.memoryStatus();
    EXPECT_EQ(m.totalPhys, 100u * 1024);
    EXPECT_EQ(m.availPhys, 50u * 1024);
    EXPECT_EQ(m.availPageFile, 99u * 1024);
    EXPECT_EQ(m.availVirtual, space - 2 * 4096);
}

TEST_F(LinuxProbesTest, MemoryFaultsGiveZerosThenRecover) {
    auto probes = make();
    calls.readErrors["/meminfo"] = EIO;
    calls.readErrors["/statm"] = EIO;
    MemoryStatus m = probes.memoryStatus();
    EXPECT_EQ(m.totalPhys, 0u);
    EXPECT_EQ(m.availPhys, 0u);
    EXPECT_EQ(m.totalPageFile, 0u);
    EXPECT_EQ(m.availVirtual, 0u);
    EXPECT_NE(m.totalVirtual, 0u);  // found at start, not read again
    calls.readErrors.clear();
    m = probes.memoryStatus();
    EXPECT_EQ(m.totalPhys, 16318480ull * 1024);
    EXPECT_NE(m.availVirtual, 0u);

    machine.write("proc/meminfo", "garbage\x01\xff\n:::\n");
    m = probes.memoryStatus();
    EXPECT_EQ(m.totalPhys, 0u);
    EXPECT_EQ(m.totalPageFile, 0u);
}

TEST_F(LinuxProbesTest, MissingSysfsLeavesTypesSound) {
    machine.remove("sys");
    auto probes = make();
    // Without sysfs there is no optical list and no removable flag: the stick is fixed,
    // the mounted disc an ordinary block device, the empty drive is not known.
    EXPECT_EQ(probes.driveType("G:\\"), DriveType::Fixed);
    EXPECT_EQ(probes.driveRoots().size(), 10u);
}

}  // namespace
}  // namespace koravex
