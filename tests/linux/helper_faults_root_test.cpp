// The drive launcher and helpers failing for real while drives are refreshed as the window
// refreshes them (every 100 ms), in a mount namespace of the test's own: a launcher that
// cannot make a helper (its descriptor limit lowered with prlimit, as an administrator or a
// starved machine would), a launcher that is killed, a helper that sends a reply cut short
// or oversized, a tmpfs drive whose source is 4,090 bytes long, and a FUSE drive stuck in a
// call that is lazily unmounted and mounted again. For each: how long a refresh waited (the
// window's thread), that the drive's figures came back, and how long that took. Needs root.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>

#include "core/budgeted_probes.h"
#include "core/linux/drive_helper.h"
#include "core/linux/linux_probes.h"
#include "core/refresh.h"

namespace koravex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

std::string g_skip;

// One refresh's budget, and what a loaded machine may add to it (see fuse_drives_test.cpp).
constexpr Ms kBudget{100};
constexpr Ms kSlack{250};
constexpr Ms kInterval{100};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool mountedAt(const std::string& point) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(" " + point + " ") != std::string::npos)
            return true;
    }
    return false;
}

// The id of the mount on top at `point`, from the kernel's table.
unsigned mountIdAt(const std::string& point) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    unsigned id = 0;
    while (std::getline(in, line)) {
        if (line.find(" " + point + " ") != std::string::npos)
            id = static_cast<unsigned>(std::stoul(line));
    }
    return id;
}

// The real kernel, with a helper's replies spoilt while the file `gate` exists.
class SpoilingCalls : public SysCalls {
  public:
    std::string gate;
    bool oversized = false;  // else cut short by one byte
    ssize_t sendRecord(int fd, const char* data, std::size_t size) override {
        if (size > 4 && data[4] == 'A' && ::access(gate.c_str(), F_OK) == 0) {
            std::string r(data, size);
            if (oversized) {
                r.resize(kHelperRecordMax + 1, 'x');
                const auto length = static_cast<std::uint32_t>(r.size());
                std::memcpy(r.data(), &length, sizeof length);
            } else {
                r.pop_back();
            }
            SysCalls::sendRecord(fd, r.data(), r.size());
            return static_cast<ssize_t>(size);
        }
        return SysCalls::sendRecord(fd, data, size);
    }
};

class HelperFaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!g_skip.empty())
            GTEST_SKIP() << g_skip;
        char tmpl[] = "/mnt/koravex-faults.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        probes_.reset();
        for (pid_t pid : daemons_) {
            ::kill(pid, SIGKILL);  // aborts the connection: stuck calls come back
            ::waitpid(pid, nullptr, 0);
        }
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    bool mountTmpfs(const std::string& point, const std::string& source) {
        fs::create_directories(point);
        if (::mount(source.c_str(), point.c_str(), "tmpfs", 0, "size=4m") != 0)
            return false;
        mounts_.push_back(point);
        return true;
    }
    // A FUSE drive named `name` whose statfs answers at once, or never.
    pid_t mountFuse(const std::string& point, const std::string& name, bool never) {
        fs::create_directories(point);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!never)
                ::setenv("KORAVEX_FUSE_DELAY_MS", "0", 1);
            const std::string option = "fsname=" + name;
            ::execl(KORAVEX_STUCK_FUSE, KORAVEX_STUCK_FUSE, "-f", "-o", option.c_str(),
                    point.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        daemons_.push_back(pid);
        mounts_.push_back(point);
        for (int i = 0; i < 500 && !mountedAt(point); ++i)
            std::this_thread::sleep_for(10ms);
        return mountedAt(point) ? pid : -1;
    }

    void makeProbes(SysCalls& calls = defaultSysCalls()) {
        helpers_ = DriveHelpers::start(calls);
        auto table = std::make_unique<LinuxProbes>();
        table_ = table.get();
        auto asker = std::make_unique<HelperDriveAsker>(*table, helpers_);
        asker_ = asker.get();
        probes_ = std::make_unique<BudgetedProbes>(std::move(table), std::move(asker));
    }
    std::string rootAt(const std::string& point) {
        for (const std::string& root : table_->driveRoots()) {
            const auto c = table_->locate(root);
            if (c && !c->mountPoints.empty() && c->mountPoints.front() == point)
                return root;
        }
        return {};
    }

    // Refreshes the drive shown (and ticked) every interval until `until` says the run is
    // done or `limit` passes; `until` sees the refresh's label9 and the time since the start.
    // Returns whether it ended by `until`.
    bool refreshUntil(const std::string& root, Clock::duration limit,
                      const std::function<bool(const std::string&, Clock::duration)>& until) {
        RefreshInputs in;
        in.unit = UnitScale::Bytes;
        in.driveLetter = root[0];
        in.alertOn = true;
        in.threshold = "1";
        in.drives.push_back({root, true});
        const auto start = Clock::now();
        while (Clock::now() - start < limit) {
            const auto before = Clock::now();
            const DisplayModel m = runRefresh(*probes_, in);
            const auto blocked = Clock::now() - before;
            worst_ = std::max(worst_, blocked);
            ++refreshes_;
            EXPECT_LE(blocked, kBudget + kSlack) << "refresh at " << ms(before - start) << " ms";
            last_ = m.label9;
            if (until(m.label9, before - start))
                return true;
            std::this_thread::sleep_for(kInterval);
        }
        return false;
    }
    void report(const char* what, Clock::duration back) {
        std::cout << "[ FIGURES  ] " << what << ": " << refreshes_
                  << " refreshes, the window's thread waited at most " << ms(worst_)
                  << " ms per refresh; figures back " << ms(back) << " ms after the fault ended\n";
    }

    std::string dir_;
    std::vector<std::string> mounts_;
    std::vector<pid_t> daemons_;
    std::shared_ptr<DriveHelpers> helpers_;
    LinuxProbes* table_ = nullptr;
    HelperDriveAsker* asker_ = nullptr;
    std::unique_ptr<BudgetedProbes> probes_;
    Clock::duration worst_{};
    int refreshes_ = 0;
    std::string last_;
};

bool readable(const std::string& label9) {
    return label9.starts_with("Свободно на диске: ");
}
bool unreadable(const std::string& label9) {
    return label9 == kCannotDetermine;
}

std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> out;
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child = 0;
    while (in >> child)
        out.push_back(child);
    return out;
}

bool gone(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    const auto paren = stat.rfind(')');
    return stat.empty() || (paren != std::string::npos && stat.compare(paren, 3, ") Z") == 0);
}

// The launcher cannot make a helper (no descriptor for the socket pair) when its helper is
// killed; the drive reads as unreadable, and comes back once the limit is raised again.
// A launcher that is killed with its helper is reaped and replaced.
TEST_F(HelperFaultsTest, LauncherThatCannotServeOrIsKilled) {
    const struct {
        const char* name;
        bool kill;
    } cases[] = {{"launcher at 3 descriptors", false}, {"launcher killed", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string point = dir_ + (c.kill ? "/killed" : "/limited");
        ASSERT_TRUE(mountTmpfs(point, "koravex-launcher-test"));
        worst_ = {};
        refreshes_ = 0;
        makeProbes();
        const std::string root = rootAt(point);
        ASSERT_FALSE(root.empty());
        ASSERT_TRUE(refreshUntil(root, 5s, [](const std::string& t, auto) { return readable(t); }))
            << last_;
        const pid_t launcher = helpers_->launcherPid();
        const pid_t helper = asker_->helperPid();
        ASSERT_GT(helper, 0);
        rlimit was{};
        ASSERT_EQ(::prlimit(launcher, RLIMIT_NOFILE, nullptr, &was), 0);
        if (c.kill) {
            ASSERT_EQ(::kill(launcher, SIGKILL), 0);
        } else {
            const rlimit low{3, was.rlim_max};  // the soft limit: no capability needed back
            ASSERT_EQ(::prlimit(launcher, RLIMIT_NOFILE, &low, nullptr), 0);
        }
        ASSERT_EQ(::kill(helper, SIGKILL), 0);
        Clock::duration faultEnded{};
        if (!c.kill) {
            // Unreadable while no helper can be made, asked again and again meanwhile.
            ASSERT_TRUE(refreshUntil(root, 5s,
                                     [&](const std::string& t, auto) {
                                         return unreadable(t) && asker_->failedRequests() >= 3;
                                     }))
                << last_ << ", failed requests " << asker_->failedRequests();
            EXPECT_EQ(childrenOf(launcher), std::vector<pid_t>{});
            ASSERT_EQ(::prlimit(launcher, RLIMIT_NOFILE, &was, nullptr), 0)
                << std::strerror(errno) << ", launcher now " << helpers_->launcherPid();
        }
        const auto restored = Clock::now();
        ASSERT_TRUE(refreshUntil(root, 5s, [](const std::string& t, auto) { return readable(t); }))
            << "the figures never came back: " << last_;
        faultEnded = Clock::now() - restored;
        EXPECT_EQ(last_, "Свободно на диске: 4 194 304 B");
        EXPECT_EQ(asker_->helpersStarted(), 2);
        if (c.kill) {
            EXPECT_NE(helpers_->launcherPid(), launcher);
            EXPECT_TRUE(gone(launcher));
            EXPECT_FALSE(fs::exists("/proc/" + std::to_string(launcher))) << "not reaped";
        } else {
            EXPECT_EQ(helpers_->launcherPid(), launcher);
        }
        report(c.name, faultEnded);
        probes_.reset();
    }
}

// A helper whose reply is cut short or oversized is replaced at once; while every helper
// spoils its replies the drive is unreadable, and its figures come back when they stop.
TEST_F(HelperFaultsTest, HelperSendingARecordThatCannotBeRead) {
    const struct {
        const char* name;
        bool oversized;
    } cases[] = {{"reply cut short", false}, {"reply oversized", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string point = dir_ + (c.oversized ? "/oversized" : "/cut");
        ASSERT_TRUE(mountTmpfs(point, "koravex-spoil-test"));
        SpoilingCalls calls;
        calls.gate = dir_ + "/spoil";
        calls.oversized = c.oversized;
        std::ofstream(calls.gate).put('x');
        worst_ = {};
        refreshes_ = 0;
        makeProbes(calls);
        const std::string root = rootAt(point);
        ASSERT_FALSE(root.empty());
        ASSERT_TRUE(refreshUntil(root, 5s, [&](const std::string& t, auto) {
            return unreadable(t) && asker_->badRecords() >= 2;
        })) << last_;
        EXPECT_GE(asker_->helpersStarted(), 2);
        fs::remove(calls.gate);
        const auto restored = Clock::now();
        ASSERT_TRUE(refreshUntil(root, 5s, [](const std::string& t, auto) { return readable(t); }))
            << "the figures never came back: " << last_;
        report(c.name, Clock::now() - restored);
        probes_.reset();
    }
}

// A tmpfs drive whose source is 4,090 bytes long (and one of 4,095, the kernel's most):
// readable at once, from the first helper.
TEST_F(HelperFaultsTest, LongMountSourceIsReadable) {
    for (std::size_t length : {std::size_t{4090}, std::size_t{4095}}) {
        SCOPED_TRACE(length);
        const std::string point = dir_ + "/long" + std::to_string(length);
        ASSERT_TRUE(mountTmpfs(point, std::string(length, 's')));
        worst_ = {};
        refreshes_ = 0;
        makeProbes();
        const std::string root = rootAt(point);
        ASSERT_FALSE(root.empty());
        ASSERT_EQ(table_->locate(root)->source.size(), length);
        const auto start = Clock::now();
        ASSERT_TRUE(refreshUntil(root, 3s, [](const std::string& t, auto) { return readable(t); }))
            << last_;
        EXPECT_LE(refreshes_, 2);
        EXPECT_EQ(asker_->helpersStarted(), 1);
        EXPECT_EQ(asker_->badRecords(), 0);
        report(length == 4090 ? "4,090-byte source" : "4,095-byte source", Clock::now() - start);
        probes_.reset();
    }
}

// A FUSE drive whose daemon never answers is shown; it is lazily unmounted (its call stays
// stuck) and a healthy filesystem of the same name is mounted there: the same drive letter,
// a new mount, asked at once and shown at the next refresh.
TEST_F(HelperFaultsTest, LazilyUnmountedAndRemountedDrive) {
    const std::string point = dir_ + "/remount";
    const pid_t stuck = mountFuse(point, "koravex-remount", true);
    ASSERT_GT(stuck, 0);
    makeProbes();
    const std::string root = rootAt(point);
    ASSERT_FALSE(root.empty());
    const unsigned oldMount = mountIdAt(point);
    // Past the 2 s a question is trusted: the drive reads as unreadable, its call stuck.
    ASSERT_TRUE(refreshUntil(root, 5s, [](const std::string& t, Clock::duration at) {
        return unreadable(t) && at > 2100ms;
    })) << last_;
    ASSERT_EQ(::umount2(point.c_str(), MNT_DETACH), 0);
    ASSERT_GT(mountFuse(point, "koravex-remount", false), 0);
    const auto remounted = Clock::now();
    EXPECT_NE(mountIdAt(point), oldMount);
    int after = 0;
    ASSERT_TRUE(refreshUntil(root, 3s,
                             [&](const std::string& t, auto) {
                                 ++after;
                                 return readable(t);
                             }))
        << "the new mount was not asked: " << last_;
    EXPECT_LE(after, 2) << "refreshes after the remount before the figures were shown";
    EXPECT_EQ(probes_->answers().inFlight(), 1u);  // the old call, still stuck
    report("lazily unmounted and remounted", Clock::now() - remounted);
}

}  // namespace
}  // namespace koravex

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using koravex::g_skip;
    if (::geteuid() != 0) {
        g_skip = "needs root: mounts tmpfs and FUSE drives, lowers another process's limits";
    } else if (!std::filesystem::exists("/dev/fuse")) {
        g_skip = "no /dev/fuse on this machine";
    } else if (::unshare(CLONE_NEWNS) != 0 ||
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        g_skip = std::string("cannot make a mount namespace of its own: ") + std::strerror(errno);
    }
    return RUN_ALL_TESTS();
}
