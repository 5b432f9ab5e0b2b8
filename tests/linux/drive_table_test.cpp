#include "core/linux/drive_table.h"

#include <gtest/gtest.h>

#include "core/linux/drive_letters.h"

namespace koravex {
namespace {

// The texts are literals: an entry's views outlive the call.
MountEntry mount(unsigned id, unsigned major, unsigned minor, const char* point, const char* type,
                 const char* source) {
    return MountEntry{id, major, minor, point, type, source};
}

struct KindCase {
    MountEntry entry;
    bool isDrive;
    DriveKind kind;
};

TEST(DriveTableTest, WhichMountsAreDrives) {
    const KindCase cases[] = {
        {mount(2, 8, 1, "/boot", "ext4", "/dev/sda1"), true, DriveKind::Block},
        {mount(2, 7, 3, "/mnt/img", "ext4", "/dev/loop3"), true, DriveKind::Block},
        {mount(2, 7, 0, "/snap/core/1", "squashfs", "/dev/loop0"), false, DriveKind::Other},
        {mount(2, 8, 5, "/mnt/sq", "squashfs", "/dev/sda5"), true, DriveKind::Block},
        {mount(2, 11, 0, "/media/cd", "iso9660", "/dev/sr0"), true, DriveKind::Optical},
        {mount(2, 0, 40, "/srv/nfs", "nfs", "srv:/x"), true, DriveKind::Network},
        {mount(2, 0, 40, "/srv/nfs4", "nfs4", "srv:/x"), true, DriveKind::Network},
        {mount(2, 0, 41, "/srv/smb", "cifs", "//srv/x"), true, DriveKind::Network},
        {mount(2, 0, 41, "/srv/smb3", "smb3", "//srv/x"), true, DriveKind::Network},
        {mount(2, 0, 42, "/srv/ceph", "ceph", "mon:/"), true, DriveKind::Network},
        {mount(2, 0, 43, "/srv/gl", "glusterfs", "g:/v"), true, DriveKind::Network},
        {mount(2, 0, 44, "/srv/9p", "9p", "host"), true, DriveKind::Network},
        {mount(2, 0, 45, "/home/u/r", "fuse.sshfs", "u@h:/"), true, DriveKind::Network},
        {mount(2, 0, 46, "/mnt/fs", "fuse.koravex", "koravex"), true, DriveKind::Fuse},
        {mount(2, 0, 46, "/run/user/1/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse"), false,
         DriveKind::Other},
        {mount(2, 0, 46, "/run/user/1/doc", "fuse.portal", "portal"), false, DriveKind::Other},
        {mount(2, 8, 33, "/win", "fuseblk", "/dev/sdc1"), true, DriveKind::Block},
        {mount(2, 0, 47, "/tmp", "tmpfs", "tmpfs"), true, DriveKind::Ram},
        {mount(2, 0, 47, "/mnt/ram", "ramfs", "ramfs"), true, DriveKind::Ram},
        {mount(2, 0, 47, "/media/ram", "tmpfs", "tmpfs"), true, DriveKind::Ram},
        {mount(2, 0, 47, "/run/media/u/r", "tmpfs", "tmpfs"), true, DriveKind::Ram},
        {mount(2, 0, 47, "/tmp/sub", "tmpfs", "tmpfs"), false, DriveKind::Other},
        {mount(2, 0, 47, "/mntx", "tmpfs", "tmpfs"), false, DriveKind::Other},
        {mount(2, 0, 47, "/run", "tmpfs", "tmpfs"), false, DriveKind::Other},
        {mount(2, 0, 47, "/dev/shm", "tmpfs", "tmpfs"), false, DriveKind::Other},
        {mount(2, 0, 5, "/proc", "proc", "proc"), false, DriveKind::Other},
        {mount(2, 0, 6, "/sys", "sysfs", "sysfs"), false, DriveKind::Other},
        {mount(2, 0, 7, "/dev", "devtmpfs", "udev"), false, DriveKind::Other},
        {mount(2, 0, 8, "/sys/fs/cgroup", "cgroup2", "cgroup2"), false, DriveKind::Other},
        {mount(2, 0, 9, "/var/lib/docker/x", "overlay", "overlay"), false, DriveKind::Other},
        {mount(2, 0, 10, "/mnt/auto", "autofs", "systemd-1"), false, DriveKind::Other},
    };
    const std::vector<OpticalDevice> optical{{"sr0", 11, 0}};
    for (const auto& c : cases) {
        std::vector<MountEntry> table{mount(1, 254, 0, "/", "ext4", "/dev/vda"), c.entry};
        auto drives = selectDrives(table, optical);
        // The root is always there; the optical device appears unmounted unless mounted.
        std::size_t extra = c.entry.source == "/dev/sr0" ? 0 : 1;
        ASSERT_EQ(drives.size(), (c.isDrive ? 2u : 1u) + extra) << c.entry.mountPoint;
        EXPECT_TRUE(drives[0].isRoot);
        if (c.isDrive) {
            EXPECT_EQ(drives[1].kind, c.kind) << c.entry.mountPoint;
            EXPECT_EQ(drives[1].mountPoints.front(), c.entry.mountPoint);
        }
    }
}

TEST(DriveTableTest, RootFirstOneDrivePerDeviceEmptyOpticalLast) {
    std::vector<MountEntry> table{
        mount(20, 0, 26, "/tmp", "tmpfs", "tmpfs"),
        mount(21, 8, 2, "/", "ext4", "/dev/sda2"),
        mount(22, 8, 17, "/media/a", "vfat", "/dev/sdb1"),
        mount(23, 8, 17, "/media/b", "vfat", "/dev/sdb1"),   // bind mount
        mount(24, 8, 2, "/home", "ext4", "/dev/sda2"),       // root device again
        mount(25, 0, 45, "/srv/d", "btrfs", "/dev/sdd"),     // subvolume
        mount(26, 0, 46, "/srv/e", "btrfs", "/dev/sdd"),     // another subvolume
        mount(27, 0, 26, "/mnt/tmpbind", "tmpfs", "tmpfs"),  // the /tmp RAM disk again
        mount(28, 0, 40, "/mnt/n1", "nfs4", "nas:/e"),
        mount(29, 0, 41, "/mnt/n2", "nfs4", "nas:/e"),  // same export twice
    };
    auto drives = selectDrives(table, {{"sr0", 11, 0}, {"sr1", 11, 1}});
    std::vector<std::string> points;
    for (const auto& d : drives) {
        points.push_back(d.mounted ? d.mountPoints.front() : d.source);
    }
    EXPECT_EQ(points, (std::vector<std::string>{"/", "/tmp", "/media/a", "/srv/d", "/mnt/n1",
                                                "/dev/sr0", "/dev/sr1"}));
    EXPECT_EQ(drives[0].mountPoints, (std::vector<std::string>{"/", "/home"}));
    EXPECT_EQ(drives[1].mountPoints, (std::vector<std::string>{"/tmp", "/mnt/tmpbind"}));
    EXPECT_EQ(drives[2].mountPoints, (std::vector<std::string>{"/media/a", "/media/b"}));
    EXPECT_EQ(drives[3].mountPoints, (std::vector<std::string>{"/srv/d", "/srv/e"}));
    EXPECT_FALSE(drives[5].mounted);
    EXPECT_EQ(drives[5].kind, DriveKind::Optical);
}

TEST(DriveTableTest, TopmostRootWinsAndOddRootStillDriveC) {
    std::vector<MountEntry> table{mount(1, 0, 1, "/", "rootfs", "rootfs"),
                                  mount(2, 0, 30, "/", "overlay", "overlay")};
    auto drives = selectDrives(table, {});
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_TRUE(drives[0].isRoot);
    EXPECT_EQ(drives[0].fsType, "overlay");
    EXPECT_EQ(drives[0].kind, DriveKind::Other);
    EXPECT_TRUE(selectDrives({}, {}).empty());
}

TEST(DriveTableTest, FileSystemNamesAndPaths) {
    EXPECT_EQ(fileSystemName("fuse.sshfs"), "sshfs");
    EXPECT_EQ(fileSystemName("fuse."), "fuse.");
    EXPECT_EQ(fileSystemName("fuseblk"), "fuseblk");
    EXPECT_EQ(fileSystemName("ext4"), "ext4");
    struct Case {
        const char* path;
        const char* dir;
        bool within;
    } cases[] = {{"/mnt/a/b", "/mnt/a", true}, {"/mnt/a", "/mnt/a", true},
                 {"/mnt/ab", "/mnt/a", false}, {"/anything", "/", true},
                 {"/mnt", "/mnt/a", false},    {"relative", "/", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(pathWithin(c.path, c.dir), c.within) << c.path << " in " << c.dir;
    }
}

DriveCandidate candidate(std::string key, bool isRoot = false) {
    DriveCandidate c;
    c.key = std::move(key);
    c.isRoot = isRoot;
    return c;
}

TEST(DriveLettersTest, StableForTheRun) {
    DriveLetters letters;
    // Each step: the drives present, and the letters they must get.
    struct Step {
        std::vector<std::string> keys;  // first is the root
        std::string want;
    } steps[] = {
        {{"root", "usb", "cd"}, "CDE"},
        {{"root", "cd"}, "CE"},                  // the stick is out: E stays E
        {{"root", "cd", "new", "usb"}, "CEFD"},  // a new device takes F, the stick is D again
        {{"other-root", "root", "usb"}, "CGD"},  // old root device elsewhere gets a new letter
    };
    for (const auto& s : steps) {
        std::vector<DriveCandidate> drives;
        for (std::size_t i = 0; i < s.keys.size(); ++i) {
            drives.push_back(candidate(s.keys[i], i == 0));
        }
        auto got = letters.assign(drives);
        EXPECT_EQ(std::string(got.begin(), got.end()), s.want);
    }
}

TEST(DriveLettersTest, RunsOutAfterZ) {
    DriveLetters letters;
    std::vector<DriveCandidate> drives{candidate("root", true)};
    for (int i = 0; i < 25; ++i) {
        drives.push_back(candidate("dev" + std::to_string(i)));
    }
    auto got = letters.assign(drives);
    ASSERT_EQ(got.size(), 26u);
    EXPECT_EQ(got[0], 'C');
    EXPECT_EQ(got[1], 'D');
    EXPECT_EQ(got[23], 'Z');
    EXPECT_EQ(got[24], '\0');  // the 25th drive gets no letter
    EXPECT_EQ(got[25], '\0');
}

}  // namespace
}  // namespace koravex
