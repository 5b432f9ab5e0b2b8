// Real filesystems as drives: loop-mounted ext4 and vfat images with labels. Needs root
// (loop devices, mount). Slow and stuck FUSE drives are in fuse_drives_test.cpp.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "core/linux/linux_probes.h"
#include "core/linux/mountinfo_parse.h"
#include "core/linux/sys_calls.h"
#include "tests/support/statmount_abi.h"

namespace koravex {
namespace {

namespace fs = std::filesystem;

bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string shellOut(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p) != nullptr) {
            out += buf;
        }
        ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

bool kernelHas(const std::string& fsType) {
    std::ifstream in("/proc/filesystems");
    std::string line;
    while (std::getline(in, line)) {
        if (line.ends_with("\t" + fsType)) {
            return true;
        }
    }
    return false;
}

// The drive letter whose root is new since `before`.
std::vector<std::string> added(const std::vector<std::string>& before,
                               const std::vector<std::string>& after) {
    std::vector<std::string> out;
    for (const auto& r : after) {
        if (std::find(before.begin(), before.end(), r) == before.end()) {
            out.push_back(r);
        }
    }
    return out;
}

// A scratch directory under /mnt; everything mounted or attached below it goes at the end,
// whatever happened in the test.
class RootDrivesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: loop devices and mount (CI runs these as root)";
        }
        char tmpl[] = "/mnt/koravex-test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (dir_.empty()) {
            return;
        }
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
            shell("umount -l '" + *it + "' 2>/dev/null");
        }
        for (const auto& loop : loops_) {
            shell("losetup -d " + loop + " 2>/dev/null");
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // An image of `megabytes` made by mkfs, attached to a loop device.
    std::string makeLoop(const std::string& name, const std::string& mkfs, int megabytes) {
        std::string image = dir_ + "/" + name + ".img";
        if (!shell("truncate -s " + std::to_string(megabytes) + "M '" + image + "' && " + mkfs +
                   " '" + image + "' >/dev/null 2>&1")) {
            return {};
        }
        std::string loop = shellOut("losetup -f --show '" + image + "'");
        if (!loop.empty()) {
            loops_.push_back(loop);
        }
        return loop;
    }
    bool mountAt(const std::string& device, const std::string& point,
                 const std::string& options = "") {
        fs::create_directories(point);
        mounts_.push_back(point);
        return shell("mount " + options + " " + device + " '" + point + "'");
    }
    bool unmount(const std::string& point) { return shell("umount '" + point + "'"); }

    std::string dir_;
    std::vector<std::string> mounts_;
    std::vector<std::string> loops_;
};

// The kernel's own record of a mount, asked of statmount(2) one mount at a time: what the
// mount table's text says, without its escapes.
struct KernelMount {
    unsigned major = 0;
    unsigned minor = 0;
    std::string point;
    std::string type;
    std::string source;
};

// Every mount of this namespace by the id mountinfo shows; nullopt where the kernel has no
// listmount and statmount that tells it knows the source field (before Linux 6.15).
std::optional<std::map<unsigned, KernelMount>> kernelMounts() {
    std::vector<std::uint64_t> ids(1 << 16);
    koravex_mnt_request list{24, 0, KORAVEX_LIST_FROM_ROOT, 0};
    const long n = ::syscall(KORAVEX_NR_LISTMOUNT, &list, ids.data(), ids.size(), 0);
    if (n < 0) {
        return std::nullopt;
    }
    const std::uint64_t want = KORAVEX_SM_SB_BASIC | KORAVEX_SM_MNT_BASIC | KORAVEX_SM_MNT_POINT |
                               KORAVEX_SM_FS_TYPE | KORAVEX_SM_FS_SUBTYPE | KORAVEX_SM_SB_SOURCE |
                               KORAVEX_SM_SUPPORTED;
    std::vector<std::uint64_t> buf(8192);
    auto* sm = reinterpret_cast<koravex_mount_status*>(buf.data());
    const char* str = reinterpret_cast<const char*>(sm + 1);
    std::map<unsigned, KernelMount> out;
    for (long i = 0; i < n; ++i) {
        koravex_mnt_request ask{24, 0, ids[static_cast<std::size_t>(i)], want};
        if (::syscall(KORAVEX_NR_STATMOUNT, &ask, sm, buf.size() * 8, 0) != 0) {
            return std::nullopt;
        }
        if ((sm->supported_mask & KORAVEX_SM_SB_SOURCE) == 0) {
            return std::nullopt;  // a kernel that cannot say the source
        }
        if ((sm->mask & KORAVEX_SM_MNT_POINT) == 0) {
            continue;  // not below this process's root: mountinfo leaves it out too
        }
        KernelMount m;
        m.major = sm->sb_dev_major;
        m.minor = sm->sb_dev_minor;
        m.point = str + sm->mnt_point;
        m.type = str + sm->fs_type;
        if (sm->mask & KORAVEX_SM_FS_SUBTYPE) {
            m.type += std::string(".") + (str + sm->fs_subtype);
        }
        m.source = (sm->mask & KORAVEX_SM_SB_SOURCE) ? str + sm->sb_source : "none";
        out[sm->mnt_id_old] = std::move(m);
    }
    return out;
}

// Mounts with blanks, tabs, new lines and backslashes in their paths and sources: the table
// parsed where it was read gives every mount as the kernel itself records it.
TEST_F(RootDrivesTest, ParsedMountTableIsTheKernelsOwnRecord) {
    struct Case {
        const char* point;   // below the scratch directory
        const char* source;  // nullptr: a bind mount of the scratch directory
        const char* type;
    } cases[] = {
        {"/plain", "koravex-ram", "tmpfs"},     {"/with blank", "ram with blank", "tmpfs"},
        {"/tab\there", "back\\slash", "tmpfs"}, {"/new\nline", "koravex-ramfs", "ramfs"},
        {"/bound", nullptr, nullptr},           {"/plain/bound inside", nullptr, nullptr},
    };
    std::vector<std::string> points;
    for (const auto& c : cases) {
        const std::string point = dir_ + c.point;
        fs::create_directories(point);
        mounts_.push_back(point);
        const int r = c.source != nullptr
                          ? ::mount(c.source, point.c_str(), c.type, 0, "size=1m")
                          : ::mount(dir_.c_str(), point.c_str(), nullptr, MS_BIND, nullptr);
        ASSERT_EQ(r, 0) << point << ": " << std::strerror(errno);
        points.push_back(point);
    }
    const auto text = defaultSysCalls().readFile("/proc/self/mountinfo", 16 << 20);
    ASSERT_TRUE(text);
    const auto table = parseMountinfo(*text);
    ASSERT_TRUE(table);
    // Ours are there, their paths decoded.
    for (std::size_t i = 0; i < points.size(); ++i) {
        const MountEntry* found = nullptr;
        for (const auto& e : table->entries()) {
            if (e.mountPoint == points[i]) {
                found = &e;
            }
        }
        ASSERT_NE(found, nullptr) << points[i];
        if (cases[i].source != nullptr) {
            EXPECT_EQ(found->source, cases[i].source);
            EXPECT_EQ(found->fsType, cases[i].type);
        }
    }
    const auto kernel = kernelMounts();
    if (!kernel) {
        GTEST_SKIP() << "no listmount/statmount with sources in this kernel (Linux 6.15 has them)";
    }
    // Every entry, ours and the system's, as the kernel records it.
    std::size_t matched = 0;
    for (const auto& e : table->entries()) {
        auto it = kernel->find(e.mountId);
        ASSERT_NE(it, kernel->end()) << e.mountPoint;
        const KernelMount& k = it->second;
        EXPECT_EQ(e.mountPoint, k.point);
        EXPECT_EQ(e.fsType, k.type) << e.mountPoint;
        EXPECT_EQ(e.source, k.source) << e.mountPoint;
        EXPECT_EQ(e.major, k.major) << e.mountPoint;
        EXPECT_EQ(e.minor, k.minor) << e.mountPoint;
        ++matched;
    }
    EXPECT_EQ(matched, kernel->size());
}

struct ImageCase {
    const char* fsType;
    const char* mkfs;
    const char* label;
    std::uint32_t serial;
};

TEST_F(RootDrivesTest, LoopImagesGetLettersTypesLabelsAndSerials) {
    const ImageCase cases[] = {
        {"ext4", "mkfs.ext4 -q -F -L KORAVEXEXT -U 3e6be9de-8139-11d1-9106-a43f08d823a6",
         "KORAVEXEXT", 0x3E6BE9DE},
        {"vfat", "mkfs.vfat -n KORAVEXFAT -i 1A2B3C4D", "KORAVEXFAT", 0x1A2B3C4D},
    };
    LinuxProbes probes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fsType);
        if (!kernelHas(c.fsType)) {
            std::cout << "[ SKIPPED  ] " << c.fsType
                      << ": this kernel cannot mount it (not in /proc/filesystems)\n";
            continue;
        }
        std::string loop = makeLoop(c.fsType, c.mkfs, 16);
        ASSERT_FALSE(loop.empty());
        auto before = probes.driveRoots();
        std::string point = dir_ + "/" + c.fsType + " drive";  // a blank, escaped as \040
        ASSERT_TRUE(mountAt(loop, point));
        auto fresh = added(before, probes.driveRoots());
        ASSERT_EQ(fresh.size(), 1u);
        const std::string root = fresh.front();
        EXPECT_EQ(probes.driveType(root), DriveType::Fixed);
        auto volume = probes.volumeInformation(root);
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->fileSystem, c.fsType);
        EXPECT_EQ(volume->name, c.label);
        EXPECT_EQ(volume->serial, c.serial);
        auto space = probes.driveSpace(root);
        ASSERT_TRUE(space);
        EXPECT_GT(space->total, 8 << 20);
        EXPECT_LE(space->totalFree, space->total);

        // The current directory inside the drive names its letter.
        auto cwd = fs::current_path();
        fs::current_path(point);
        EXPECT_EQ(probes.currentDirectoryDrive(), root[0]);
        fs::current_path(cwd);

        // Out and back elsewhere: same letter; while out, the queries fail.
        ASSERT_TRUE(unmount(point));
        EXPECT_EQ(probes.driveType(root), DriveType::NoRootDir);
        EXPECT_FALSE(probes.driveSpace(root));
        EXPECT_FALSE(probes.volumeInformation(root));
        std::string elsewhere = dir_ + "/" + c.fsType + "-again";
        ASSERT_TRUE(mountAt(loop, elsewhere));
        EXPECT_EQ(probes.driveType(root), DriveType::Fixed);
        ASSERT_TRUE(probes.volumeInformation(root));
        EXPECT_EQ(probes.volumeInformation(root)->name, c.label);
        EXPECT_TRUE(probes.driveSpace(root));
        ASSERT_TRUE(unmount(elsewhere));
    }
}

}  // namespace
}  // namespace koravex
