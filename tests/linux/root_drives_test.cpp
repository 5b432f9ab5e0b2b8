// Real filesystems as drives: loop-mounted ext4 and vfat images with labels. Needs root
// (loop devices, mount). Slow and stuck FUSE drives are in fuse_drives_test.cpp.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/linux/linux_probes.h"

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
