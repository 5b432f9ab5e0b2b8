// The helper process that makes the drive calls: its records, a drive stuck in it beside
// healthy ones, a helper that dies or stops, and what a helper inherits.
#include "core/linux/drive_helper.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/linux/linux_probes.h"
#include "tests/linux/fixture_calls.h"

namespace koravex {
namespace {

using namespace std::chrono_literals;
using Clock = DriveAsker::Clock;
using test::FixtureCalls;
using test::makeVfs;
using test::TempMachine;

TEST(DriveRecordsTest, QuestionsAndAnswersSurviveTheSocket) {
    DriveCandidate c;
    c.key = "net:nfs:nas:/export";
    c.kind = DriveKind::Network;
    c.mounted = true;
    c.mountId = 77;
    c.major = 0;
    c.minor = 53;
    c.fsType = "nfs";
    c.source = "nas:/export";
    c.mountPoints = {"/mnt/nas with blank", "/mnt/bind"};
    const auto q = decodeQuestion(encodeQuestion(42, c));
    ASSERT_TRUE(q);
    EXPECT_EQ(q->first, 42u);
    EXPECT_EQ(q->second.key, c.key);
    EXPECT_EQ(q->second.kind, DriveKind::Network);
    EXPECT_EQ(q->second.mountId, 77u);
    EXPECT_EQ(q->second.minor, 53u);
    EXPECT_EQ(q->second.source, c.source);
    // Only the drive's own mount point is asked about.
    EXPECT_EQ(q->second.mountPoints, std::vector<std::string>{"/mnt/nas with blank"});

    const DriveReply replies[] = {
        {7, {DriveSpace{1, 2, 3}, VolumeInfo{std::string("lab\0el", 6), 0xFFFFFFFFu, "ext4"}}},
        {8, {std::nullopt, VolumeInfo{"", 0, "vfat"}}},
        {9, {DriveSpace{-1, INT64_MAX, 0}, std::nullopt}},
        {10, {}, true},
    };
    for (const DriveReply& r : replies) {
        const auto back = decodeReply(encodeReply(r));
        ASSERT_TRUE(back) << r.id;
        EXPECT_EQ(back->id, r.id);
        EXPECT_EQ(back->answer, r.answer);
        EXPECT_EQ(back->lost, r.lost);
    }
    EXPECT_EQ(decodePing(encodePing(5)), 5u);
}

TEST(DriveRecordsTest, MalformedRecordsAreRejected) {
    const std::string reply = encodeReply({7, {DriveSpace{1, 2, 3}, VolumeInfo{"x", 1, "y"}}});
    DriveCandidate c;
    c.key = "k";
    c.mountPoints = {"/"};
    const std::string question = encodeQuestion(1, c);
    std::string hugeLength = question;
    hugeLength[9] = '\xff';  // the key's length, far beyond the record
    std::string badKind = question;
    badKind[9 + 4 + 1] = 9;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"reply cut short", reply.substr(0, reply.size() - 1)},
        {"reply with a tail", reply + "x"},
        {"question as reply", question},
        {"length beyond the end", hugeLength},
        {"no such drive kind", badKind},
        {"unknown flags", std::string(1, 'A') + std::string(8, '\0') + "\x10"},
    };
    for (const auto& c2 : cases) {
        EXPECT_FALSE(decodeReply(c2.bytes)) << c2.name;
        if (std::string_view(c2.name) != "question as reply") {
            EXPECT_FALSE(decodeQuestion(c2.bytes)) << c2.name;
        }
    }
    EXPECT_TRUE(decodeQuestion(question));
    EXPECT_FALSE(decodePing(reply));
}

// The helper answers each question on a thread of its own, all through one answerer.
TEST(DriveQueryAnswererTest, ManyThreadsAtOnceGetTheSameAnswers) {
    FixtureCalls calls;
    TempMachine machine{"machine"};
    for (const char* point : {"/", "/mnt/share", "/media/user/My Stick"})
        calls.filesystems[point].st = makeVfs(1000, 400, 300, 4096, 0x42);
    LinuxProbes table(machine.roots(), calls);
    std::vector<DriveCandidate> drives;
    for (const std::string& root : table.driveRoots()) {
        if (auto c = table.locate(root))
            drives.push_back(*c);
    }
    ASSERT_GE(drives.size(), 3u);
    DriveQueryAnswerer answerer(calls, machine.roots());
    std::vector<DriveAnswer> expected;
    for (const DriveCandidate& c : drives)
        expected.push_back(DriveQueryAnswerer(calls, machine.roots()).answer(c));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < 50; ++k) {
                for (std::size_t d = 0; d < drives.size(); ++d) {
                    if (!(answerer.answer(drives[d]) == expected[d]))
                        ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// statvfs of one mount point waits while a file exists: a stuck drive that the test can
// free from outside the helper process.
class GatedCalls : public FixtureCalls {
  public:
    std::string gatedPath;
    std::string gate;
    int statvfs(const std::string& path, struct statvfs& out) override {
        while (path == gatedPath && ::access(gate.c_str(), F_OK) == 0)
            std::this_thread::sleep_for(1ms);
        return FixtureCalls::statvfs(path, out);
    }
};

std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> out;
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child = 0;
    while (in >> child)
        out.push_back(child);
    return out;
}

// The program waits 20 ms for a fresh helper; a loaded test machine can take longer to fork
// one, which is not what these tests are about.
HelperDriveAsker::Limits patient() {
    HelperDriveAsker::Limits limits;
    limits.spawnLimit = std::chrono::seconds(5);
    return limits;
}

class DriveHelperTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* point : {"/", "/mnt/nas", "/mnt/share", "/tmp"})
            calls.filesystems[point].st = makeVfs(1000, 400, 300, 4096, 0x42);
        gateDir =
            std::filesystem::temp_directory_path() / ("koravex-gate-" + std::to_string(::getpid()));
        std::filesystem::create_directories(gateDir);
        calls.gatedPath = "/mnt/nas";  // drive F
        calls.gate = (gateDir / "stuck").string();
        std::ofstream(calls.gate).put('x');
        helpers = DriveHelpers::start(calls, machine.roots());
        ASSERT_TRUE(helpers);
    }
    void TearDown() override {
        std::filesystem::remove_all(gateDir);  // frees a helper stuck on the gate
    }

    // Collects until the reply for `id` comes or the deadline passes.
    std::optional<DriveReply> await(HelperDriveAsker& asker, std::uint64_t id,
                                    Clock::duration limit) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            for (DriveReply& r : asker.collect(deadline)) {
                if (r.id == id)
                    return r;
            }
        }
        return std::nullopt;
    }

    GatedCalls calls;
    TempMachine machine{"machine"};
    std::filesystem::path gateDir;
    std::shared_ptr<DriveHelpers> helpers;
};

TEST_F(DriveHelperTest, StuckDriveHoldsNeitherTheCallerNorTheOtherDrives) {
    LinuxProbes table(machine.roots(), calls);
    HelperDriveAsker asker(table, helpers, patient());
    ASSERT_EQ(asker.helpersStarted(), 1);
    ASSERT_TRUE(asker.ask(1, "F:\\"));  // stuck on the gate

    const auto start = Clock::now();
    EXPECT_TRUE(asker.collect(Clock::now() + 50ms).empty());
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 50ms);
    EXPECT_LT(waited, 1000ms);  // bounded by the deadline, not by the drive

    // The other drives answer meanwhile, from the same helper.
    for (std::uint64_t id : {2, 3}) {
        ASSERT_TRUE(asker.ask(id, id == 2 ? "C:\\" : "c:\\"));
        const auto r = await(asker, id, 5s);
        ASSERT_TRUE(r);
        ASSERT_TRUE(r->answer.space);
        EXPECT_EQ(r->answer.space->total, 1000 * 4096);
        ASSERT_TRUE(r->answer.volume);
    }
    // No such drive: an empty answer at once, without the helper.
    ASSERT_TRUE(asker.ask(4, "Q:\\"));
    const auto none = await(asker, 4, 1s);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->answer, DriveAnswer{});
    EXPECT_FALSE(none->lost);

    // The drive comes back: its one question is answered.
    std::filesystem::remove(calls.gate);
    const auto back = await(asker, 1, 5s);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->lost);
    EXPECT_TRUE(back->answer.space);
    EXPECT_EQ(asker.helpersStarted(), 1);
}

TEST_F(DriveHelperTest, HelperThatDiesOrStopsIsReplacedAndItsQuestionsLost) {
    const struct {
        const char* name;
        int signal;
    } cases[] = {{"killed", SIGKILL}, {"stopped", SIGSTOP}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinuxProbes table(machine.roots(), calls);
        HelperDriveAsker::Limits limits = patient();
        limits.pingAfter = 50ms;
        limits.pingLimit = 200ms;
        HelperDriveAsker asker(table, helpers, limits);
        const pid_t helper = asker.helperPid();
        ASSERT_GT(helper, 0);
        ASSERT_TRUE(asker.ask(10, "F:\\"));  // stuck in that helper
        ASSERT_EQ(::kill(helper, c.signal), 0);
        struct Continue {
            pid_t pid;
            ~Continue() { ::kill(pid, SIGCONT); }
        } resume{helper};
        const auto lost = await(asker, 10, 3s);
        ASSERT_TRUE(lost);
        EXPECT_TRUE(lost->lost);
        // A fresh helper answers the next question (asked again until one is there).
        bool asked = false;
        for (int i = 0; i < 300 && !asked; ++i) {
            asked = asker.ask(11, "C:\\");
            if (!asked)
                std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(asked);
        const auto fresh = await(asker, 11, 3s);
        ASSERT_TRUE(fresh);
        EXPECT_TRUE(fresh->answer.space);
        EXPECT_EQ(asker.helpersStarted(), 2);
        if (c.signal == SIGSTOP) {
            EXPECT_EQ(asker.leftBehindAlive(), 1u);
            ::kill(helper, SIGCONT);  // it reads the end of its socket and exits
            for (int i = 0; i < 300 && asker.leftBehindAlive() != 0; ++i)
                std::this_thread::sleep_for(10ms);
            EXPECT_EQ(asker.leftBehindAlive(), 0u);
        }
    }
}

TEST_F(DriveHelperTest, HelpersInheritNothingButTheirSocket) {
    const int leaked = ::open("/dev/zero", O_RDONLY);  // not close-on-exec
    ASSERT_GE(leaked, 0);
    auto own = DriveHelpers::start(calls, machine.roots());
    ::close(leaked);
    ASSERT_TRUE(own);
    LinuxProbes table(machine.roots(), calls);
    HelperDriveAsker asker(table, own, patient());
    EXPECT_EQ(childrenOf(own->launcherPid()), std::vector<pid_t>{asker.helperPid()});
    // What a process holds open: stdin, stdout, stderr and its sockets.
    struct Held {
        std::vector<std::string> low;  // fds 0 to 2
        std::vector<std::string> others;
    };
    const auto held = [](pid_t pid) {
        Held h;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
            const int fd = std::stoi(entry.path().filename().string());
            (fd <= 2 ? h.low : h.others)
                .push_back(std::filesystem::read_symlink(entry.path()).string());
        }
        return h;
    };
    for (pid_t pid : {own->launcherPid(), asker.helperPid()}) {
        // Just after a fork, the pair of sockets being handed over is still open in both.
        Held h = held(pid);
        for (int i = 0; i < 200 && h.others.size() != 1; ++i) {
            std::this_thread::sleep_for(10ms);
            h = held(pid);
        }
        EXPECT_EQ(h.low, std::vector<std::string>(3, "/dev/null")) << pid;
        ASSERT_EQ(h.others.size(), 1u) << pid << ": " << h.others.back();
        EXPECT_TRUE(h.others.front().starts_with("socket:")) << pid << " " << h.others.front();
        EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd"), "/");
    }
}

}  // namespace
}  // namespace koravex
