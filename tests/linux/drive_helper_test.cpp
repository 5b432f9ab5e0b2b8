// The helper process that makes the drive calls: its records (every size up to the limit
// and beyond, and records that say another length), a drive stuck in it beside healthy ones,
// a helper that dies, stops or sends a record that cannot be read, a launcher that cannot
// make a socket or a process, dies or stops, and what a launcher and a helper inherit.
#include "core/linux/drive_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "core/linux/linux_probes.h"
#include "tests/linux/fixture_calls.h"

#if defined(__SANITIZE_THREAD__)
#define KORAVEX_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORAVEX_UNDER_TSAN 1
#endif
#endif

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
    const std::size_t keyLength = kHelperRecordHeader + 8;  // after the id
    std::string hugeLength = question;
    hugeLength[keyLength] = '\xff';  // the key's length, far beyond the record
    std::string badKind = question;
    badKind[keyLength + 4 + 1] = 9;
    std::string unknownFlags = reply;
    unknownFlags[keyLength] = '\x10';
    std::string wrongLength = reply;
    wrongLength[0] = static_cast<char>(wrongLength[0] + 1);  // says one byte more than it has
    std::string wrongKind = reply;
    wrongKind[4] = 'Z';
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
        {"unknown flags", unknownFlags},
        {"length one more than the record", wrongLength},
        {"unknown kind", wrongKind},
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

// A record of `size` bytes as the socket carries it: its length (`said`, by default its own
// size), its kind, and filler.
std::string recordOfSize(std::size_t size, std::optional<std::uint32_t> said = std::nullopt,
                         char kind = 'P') {
    std::string r(size, 'x');
    const std::uint32_t length = said ? *said : static_cast<std::uint32_t>(size);
    std::memcpy(r.data(), &length, std::min(size, sizeof length));
    if (size > 4)
        r[4] = kind;
    return r;
}

struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fd), 0); }
    ~SocketPair() {
        for (int f : fd) {
            if (f >= 0)
                ::close(f);
        }
    }
    bool send(const std::string& r) const {
        return ::send(fd[0], r.data(), r.size(), MSG_DONTWAIT) == static_cast<ssize_t>(r.size());
    }
};

TEST(HelperRecordTest, EveryRecordSizeIsReadWholeUpToTheLimitAndNoneBeyond) {
    std::vector<std::size_t> sizes;
    for (std::size_t n = kHelperRecordHeader; n <= 9000; ++n)
        sizes.push_back(n);  // every size across the old 4,096-byte buffer and two pages
    for (std::size_t n = 9001; n < kHelperRecordMax - 1; n += 4093)
        sizes.push_back(n);
    for (std::size_t n :
         {kHelperRecordMax - 1, kHelperRecordMax, kHelperRecordMax + 1, kHelperRecordMax + 4096})
        sizes.push_back(n);
    SocketPair pair;
    for (std::size_t n : sizes) {
        const std::string record = recordOfSize(n);
        ASSERT_TRUE(pair.send(record)) << n << ": " << std::strerror(errno);
        const HelperRead r = readHelperRecord(pair.fd[1], false);
        if (n <= kHelperRecordMax) {
            ASSERT_EQ(r.kind, HelperRead::Record) << n << " " << r.why;
            ASSERT_EQ(r.bytes.size(), n);
            ASSERT_TRUE(r.bytes == record) << n;
        } else {
            EXPECT_EQ(r.kind, HelperRead::Bad) << n;
            EXPECT_EQ(r.why, "oversized") << n;
        }
    }
    EXPECT_EQ(readHelperRecord(pair.fd[1], false).kind, HelperRead::Nothing);
}

TEST(HelperRecordTest, RecordThatSaysAnotherLengthIsAnErrorAndIsConsumed) {
    const struct {
        const char* name;
        std::string bytes;
        const char* why;
    } cases[] = {
        {"four bytes", std::string(4, '\x04'), "cut short"},
        {"one byte", "P", "cut short"},
        {"says 200, has 100", recordOfSize(100, 200), "cut short"},
        {"says 4097, has 4096 (cut at the old buffer)", recordOfSize(4096, 4097), "cut short"},
        {"says 50, has 100", recordOfSize(100, 50), "longer than its length"},
        {"says 0", recordOfSize(64, 0), "longer than its length"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocketPair pair;
        ASSERT_TRUE(pair.send(c.bytes));
        ASSERT_TRUE(pair.send(encodePing(9)));
        const HelperRead bad = readHelperRecord(pair.fd[1], false);
        EXPECT_EQ(bad.kind, HelperRead::Bad);
        EXPECT_EQ(bad.why, c.why);
        const HelperRead next = readHelperRecord(pair.fd[1], false);
        ASSERT_EQ(next.kind, HelperRead::Record);
        EXPECT_EQ(decodePing(next.bytes), 9u);
        ::close(pair.fd[0]);
        pair.fd[0] = -1;
        EXPECT_EQ(readHelperRecord(pair.fd[1], false).kind, HelperRead::Closed);
    }
}

// Sources and mount points up to the kernel's limits (PATH_MAX each) and far beyond make
// questions that decode whole up to the record limit; a question beyond it is no record.
TEST(DriveRecordsTest, QuestionsOfEverySizeUpToTheLimit) {
    DriveCandidate c;
    c.key = "ram:/mnt/t";
    c.kind = DriveKind::Ram;
    c.mounted = true;
    c.fsType = "tmpfs";
    c.mountPoints = {"/mnt/t"};
    std::size_t decoded = 0;
    for (std::size_t n = 0; n <= kHelperRecordMax; n += n < 9000 ? 1 : 61) {
        c.source.assign(n, 's');
        const std::string q = encodeQuestion(n, c);
        const auto back = decodeQuestion(q);
        if (q.size() <= kHelperRecordMax) {
            ASSERT_TRUE(back) << n;
            ASSERT_EQ(back->first, n);
            ASSERT_EQ(back->second.source.size(), n);
            ASSERT_EQ(back->second.mountPoints, c.mountPoints);
            ++decoded;
        } else {
            ASSERT_FALSE(back) << n;
        }
    }
    EXPECT_GT(decoded, 9000u);
    // The largest a mount can have: key, type, source and mount point of PATH_MAX each.
    c.key.assign(8200, 'k');
    c.fsType.assign(4095, 't');
    c.source.assign(4095, 's');
    c.mountPoints = {"/" + std::string(4094, 'm')};
    EXPECT_TRUE(decodeQuestion(encodeQuestion(1, c)));
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
// Faults of the launcher and of a helper, injected through the seam: the counts are copied
// into the launcher when it is forked (set them before), and a helper spoils its replies
// while the file `spoilGate` exists.
class GatedCalls : public FixtureCalls {
  public:
    std::string gatedPath;
    std::string gate;
    int statvfs(const std::string& path, struct statvfs& out) override {
        while (path == gatedPath && ::access(gate.c_str(), F_OK) == 0)
            std::this_thread::sleep_for(1ms);
        return FixtureCalls::statvfs(path, out);
    }

    const pid_t program = ::getpid();
    int launcherSocketFailures = 0;  // the launcher's socketpair fails (EMFILE)
    int launcherForkFailures = 0;    // the launcher's fork fails (EAGAIN)
    int programForkFailures = 0;     // forking a launcher from the program fails
    int socketPair(int sv[2]) override {
        if (::getpid() != program && launcherSocketFailures > 0) {
            --launcherSocketFailures;
            errno = EMFILE;
            return -1;
        }
        return FixtureCalls::socketPair(sv);
    }
    pid_t fork() override {
        int& failures = ::getpid() == program ? programForkFailures : launcherForkFailures;
        if (failures > 0) {
            --failures;
            errno = EAGAIN;
            return -1;
        }
        return FixtureCalls::fork();
    }

    enum class Spoil { CutShort, Oversized, LongerThanItSays, Undecodable };
    Spoil spoil = Spoil::CutShort;
    std::string spoilGate;
    ssize_t sendRecord(int fd, const char* data, std::size_t size) override {
        if (size > 4 && data[4] == 'A' && !spoilGate.empty() &&
            ::access(spoilGate.c_str(), F_OK) == 0) {
            std::string r(data, size);
            switch (spoil) {
                case Spoil::CutShort:
                    r.pop_back();
                    break;
                case Spoil::Oversized:
                    r.resize(kHelperRecordMax + 1, 'x');
                    break;
                case Spoil::LongerThanItSays:
                    r.push_back('x');
                    break;
                case Spoil::Undecodable:
                    r[kHelperRecordHeader + 8] = '\x7f';  // flags no answer has
                    break;
            }
            if (spoil == Spoil::Oversized) {
                const auto length = static_cast<std::uint32_t>(r.size());
                std::memcpy(r.data(), &length, sizeof length);
            }
            const ssize_t n = FixtureCalls::sendRecord(fd, r.data(), r.size());
            return n == static_cast<ssize_t>(r.size()) ? static_cast<ssize_t>(size) : -1;
        }
        return FixtureCalls::sendRecord(fd, data, size);
    }
};

bool processGone(pid_t pid) {
    return !std::filesystem::exists("/proc/" + std::to_string(pid));
}
// Until the asker has seen its helper's socket close (it leaves that helper behind).
bool helperSeenGone(HelperDriveAsker& asker) {
    for (int i = 0; i < 2500 && asker.helperPid() > 0; ++i) {
        asker.collect(Clock::time_point::min());
        if (asker.helperPid() > 0)
            std::this_thread::sleep_for(2ms);
    }
    return asker.helperPid() < 0;
}

// Gone, or a zombie nobody reaped yet; false when still running after 5 s.
bool waitDead(pid_t pid) {
    for (int i = 0; i < 2500; ++i) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        const auto paren = stat.rfind(')');
        if (stat.empty() || (paren != std::string::npos && stat.compare(paren, 3, ") Z") == 0))
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

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

// A question stuck in the kernel beside one that is slow: the wait for the slow one pings
// the helper once per pingAfter, not in a stream of round trips.
TEST_F(DriveHelperTest, StuckQuestionMakesOnePingPerInterval) {
    LinuxProbes table(machine.roots(), calls);
    HelperDriveAsker::Limits limits = patient();
    limits.pingAfter = 20ms;
    HelperDriveAsker asker(table, helpers, limits);
    ASSERT_TRUE(asker.ask(1, "F:\\"));  // stuck on the gate
    std::this_thread::sleep_for(30ms);  // older than pingAfter
    const auto start = Clock::now();
    while (Clock::now() - start < 400ms)
        asker.collect(start + 400ms);
    EXPECT_GE(asker.pingsSent(), 5);
    EXPECT_LE(asker.pingsSent(), 25) << "pings in 400 ms at one per 20 ms";
    EXPECT_EQ(asker.helpersStarted(), 1);
}

// Questions about mounts with the longest sources and mount points the kernel lets a mount
// have: answered whole by the helper.
TEST_F(DriveHelperTest, LongSourcesAndMountPointsAreAnswered) {
    const struct {
        std::size_t source;
        std::size_t point;
    } cases[] = {{3990, 10}, {4090, 10}, {4095, 10}, {4095, 4000}};
    std::string mountinfo = machine.read("proc/self/mountinfo");
    std::vector<std::string> points;
    int id = 60;
    for (const auto& c : cases) {
        const std::string point = "/mnt/" + std::string(c.point, 'p') + std::to_string(id);
        mountinfo += std::to_string(id) + " 20 0:" + std::to_string(id) + " / " + point +
                     " rw shared:" + std::to_string(id) + " - tmpfs " + std::string(c.source, 's') +
                     " rw,size=2048k\n";
        calls.filesystems[point].st = makeVfs(512, 100 + id, 100 + id, 4096, 0x42);
        points.push_back(point);
        ++id;
    }
    machine.write("proc/self/mountinfo", mountinfo);
    helpers = DriveHelpers::start(calls, machine.roots());  // with those filesystems
    LinuxProbes table(machine.roots(), calls);
    HelperDriveAsker asker(table, helpers, patient());
    std::uint64_t q = 100;
    for (std::size_t k = 0; k < points.size(); ++k) {
        SCOPED_TRACE(points[k].size());
        std::string root;
        for (const std::string& r : table.driveRoots()) {
            const auto c = table.locate(r);
            if (c && !c->mountPoints.empty() && c->mountPoints.front() == points[k]) {
                root = r;
                EXPECT_EQ(c->source.size(), cases[k].source);
            }
        }
        ASSERT_FALSE(root.empty());
        ASSERT_TRUE(asker.ask(++q, root));
        const auto r = await(asker, q, 5s);
        ASSERT_TRUE(r);
        ASSERT_FALSE(r->lost);
        ASSERT_TRUE(r->answer.space);
        EXPECT_EQ(r->answer.space->totalFree, (100 + 60 + static_cast<std::int64_t>(k)) * 4096);
    }
    EXPECT_EQ(asker.helpersStarted(), 1);
    EXPECT_EQ(asker.badRecords(), 0);
}

// A helper that receives a record it cannot read ends (its socket shut first).
TEST_F(DriveHelperTest, HelperEndsOnARecordItCannotRead) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"cut short", encodePing(1).substr(0, 8)},
        {"oversized", recordOfSize(kHelperRecordMax + 1)},
        {"longer than it says", encodePing(1) + "x"},
        {"undecodable question", recordOfSize(40, std::nullopt, 'Q')},
        {"no such kind", recordOfSize(40, std::nullopt, 'Z')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(helpers->request());
        const DriveHelpers::Handed h = helpers->take(5s);
        ASSERT_GE(h.fd, 0) << std::strerror(h.error);
        ASSERT_EQ(::send(h.fd, c.bytes.data(), c.bytes.size(), 0),
                  static_cast<ssize_t>(c.bytes.size()));
        pollfd p{h.fd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1) << "the helper neither answered nor ended";
        EXPECT_EQ(readHelperRecord(h.fd, false).kind, HelperRead::Closed);
        ::close(h.fd);
    }
}

// A helper whose reply cannot be read is replaced, its questions lost; the drive answers
// again from the next helper once replies are whole.
TEST_F(DriveHelperTest, HelperSendingARecordThatCannotBeReadIsReplaced) {
    using Spoil = GatedCalls::Spoil;
    const struct {
        const char* name;
        Spoil spoil;
    } cases[] = {{"cut short", Spoil::CutShort},
                 {"oversized", Spoil::Oversized},
                 {"longer than it says", Spoil::LongerThanItSays},
                 {"undecodable", Spoil::Undecodable}};
    calls.spoilGate = (gateDir / "spoil").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls.spoil = c.spoil;
        helpers = DriveHelpers::start(calls, machine.roots());
        std::ofstream(calls.spoilGate).put('x');
        LinuxProbes table(machine.roots(), calls);
        HelperDriveAsker asker(table, helpers, patient());
        ASSERT_TRUE(asker.ask(1, "C:\\"));
        const auto lost = await(asker, 1, 5s);
        ASSERT_TRUE(lost);
        EXPECT_TRUE(lost->lost);
        EXPECT_EQ(asker.badRecords(), 1);
        std::filesystem::remove(calls.spoilGate);
        ASSERT_TRUE(asker.ask(2, "C:\\"));
        const auto back = await(asker, 2, 5s);
        ASSERT_TRUE(back);
        EXPECT_FALSE(back->lost);
        EXPECT_TRUE(back->answer.space);
        EXPECT_EQ(asker.helpersStarted(), 2);
    }
}

// Asks until a question goes out (the drive reads as unreadable meanwhile); how long it took.
Clock::duration askUntilSent(HelperDriveAsker& asker, std::uint64_t id, Clock::duration limit) {
    const auto start = Clock::now();
    while (!asker.ask(id, "C:\\")) {
        if (Clock::now() - start > limit)
            return Clock::duration::max();
        std::this_thread::sleep_for(5ms);
    }
    return Clock::now() - start;
}

// The launcher answers every request; one that failed is asked again after a back-off (50,
// 100, 200 ms ...) until a helper can be made.
TEST_F(DriveHelperTest, FailedRequestsAreAskedAgainWithABackOff) {
    const struct {
        const char* name;
        int socketFailures;
        int forkFailures;
    } cases[] = {{"no socket pair", 3, 0}, {"no process", 0, 3}, {"both", 2, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls.launcherSocketFailures = c.socketFailures;
        calls.launcherForkFailures = c.forkFailures;
        helpers = DriveHelpers::start(calls, machine.roots());
        calls.launcherSocketFailures = 0;
        calls.launcherForkFailures = 0;
        LinuxProbes table(machine.roots(), calls);
        HelperDriveAsker asker(table, helpers, patient());  // its first request fails here
        EXPECT_EQ(asker.helperPid(), -1);
        const auto took = askUntilSent(asker, 1, 10s);
        ASSERT_NE(took, Clock::duration::max()) << "never asked again";
        const int failures = c.socketFailures + c.forkFailures;
        EXPECT_EQ(asker.failedRequests(), failures);
        // 50 + 100 + 200 (+ 400) ms of back-off, counted from the first failure.
        EXPECT_GE(took, std::chrono::milliseconds(50 * ((1 << failures) - 1) - 50));
        const auto r = await(asker, 1, 5s);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r->answer.space);
        EXPECT_EQ(asker.helpersStarted(), 1);
        EXPECT_EQ(helpers->launchersStarted(), 1);
    }
}

// A launcher that dies is reaped and replaced (also when forking the new one fails at
// first); one that stops answering is killed after kLauncherLimit, reaped and replaced.
TEST_F(DriveHelperTest, DeadOrStoppedLauncherIsReapedAndReplaced) {
    const struct {
        const char* name;
        int signal;
        int programForkFailures;
        Clock::duration atLeast;
    } cases[] = {
        {"killed", SIGKILL, 0, 0ms},
        {"killed, the first new forks fail", SIGKILL, 2, 150ms},
        {"stopped", SIGSTOP, 0, DriveHelpers::kLauncherLimit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        helpers = DriveHelpers::start(calls, machine.roots());
        LinuxProbes table(machine.roots(), calls);
        HelperDriveAsker::Limits limits;  // the program's: no wait for a helper
        HelperDriveAsker asker(table, helpers, limits);
        const pid_t launcher = helpers->launcherPid();
        const pid_t helper = asker.helperPid();
        ASSERT_GT(helper, 0);
        ASSERT_EQ(::kill(launcher, c.signal), 0);
        ASSERT_EQ(::kill(helper, SIGKILL), 0);
        ASSERT_TRUE(helperSeenGone(asker));
        if (c.signal == SIGKILL) {
            ASSERT_TRUE(waitDead(launcher));
        }
        calls.programForkFailures = c.programForkFailures;
        const auto took = askUntilSent(asker, 1, 10s);
        ASSERT_NE(took, Clock::duration::max()) << "no helper after the launcher went";
        EXPECT_GE(took, c.atLeast);
        EXPECT_EQ(calls.programForkFailures, 0);
        const auto r = await(asker, 1, 5s);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r->answer.space);
        EXPECT_EQ(helpers->launchersStarted(), 2);
        EXPECT_NE(helpers->launcherPid(), launcher);
        EXPECT_EQ(asker.helpersStarted(), 2);
        // Reaped: no zombie of it is left.
        for (int i = 0; i < 500 && !processGone(launcher); ++i) {
            asker.collect(Clock::time_point::min());
            std::this_thread::sleep_for(2ms);
        }
        EXPECT_TRUE(processGone(launcher));
        std::cout << "[ FIGURES  ] launcher " << c.name << ": a question out again after "
                  << std::chrono::duration<double, std::milli>(took).count() << " ms\n";
    }
}

// What a process holds open: stdin, stdout, stderr and its sockets.
struct Held {
    std::vector<std::string> low;  // fds 0 to 2
    std::vector<std::string> others;
};
Held held(pid_t pid) {
    // Descriptors may close while they are listed (the pair being handed over): those that
    // vanish meanwhile are not counted.
    Held h;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const int fd = std::stoi(entry.path().filename().string());
        std::error_code gone;
        const auto target = std::filesystem::read_symlink(entry.path(), gone);
        if (!gone)
            (fd <= 2 ? h.low : h.others).push_back(target.string());
    }
    return h;
}
// The standard signals (1 to 31) a process catches with a handler of its own ("SigCgt" in
// its status); the C library's own real-time ones are not the program's.
std::uint64_t caught(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("SigCgt:"))
            return std::stoull(line.substr(7), nullptr, 16) & 0x7FFFFFFFu;
    }
    return ~std::uint64_t{0};
}
void expectHoldsOnlyItsSocket(pid_t pid) {
    // Just after a fork, the pair of sockets being handed over is still open in both.
    Held h = held(pid);
    for (int i = 0; i < 200 && h.others.size() != 1; ++i) {
        std::this_thread::sleep_for(10ms);
        h = held(pid);
    }
    EXPECT_EQ(h.low, std::vector<std::string>(3, "/dev/null")) << pid;
    std::string others;
    for (const std::string& o : h.others)
        others += o + " ";
    ASSERT_EQ(h.others.size(), 1u) << pid << ": " << others;
    EXPECT_TRUE(h.others.front().starts_with("socket:")) << pid << " " << h.others.front();
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd"), "/");
    EXPECT_EQ(caught(pid), 0u) << pid << ": runs a handler of the program's";
}

void onUsr2(int) {}

// The first launcher, forked at start, and one forked later from the running program (with
// descriptors open that are not close-on-exec, and a signal handler of its own) to replace
// a dead one: each, and each helper, holds nothing of the program's.
TEST_F(DriveHelperTest, HelpersInheritNothingButTheirSocket) {
    int leaked = ::open("/dev/zero", O_RDONLY);  // not close-on-exec
    ASSERT_GE(leaked, 0);
    auto own = DriveHelpers::start(calls, machine.roots());
    ::close(leaked);
    LinuxProbes table(machine.roots(), calls);
    HelperDriveAsker asker(table, own, patient());
    EXPECT_EQ(childrenOf(own->launcherPid()), std::vector<pid_t>{asker.helperPid()});
    for (pid_t pid : {own->launcherPid(), asker.helperPid()})
        expectHoldsOnlyItsSocket(pid);

    // The launcher dies; its replacement is forked from this process, now holding more.
    const pid_t first = own->launcherPid();
    struct sigaction usr2 {};
    usr2.sa_handler = onUsr2;
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGUSR2, &usr2, &before), 0);
    leaked = ::open("/dev/zero", O_RDONLY);
#ifndef KORAVEX_UNDER_TSAN
    // A second thread, as the program has. ThreadSanitizer cannot follow a threaded
    // process's fork down to a grandchild that starts threads of its own (its thread table
    // still holds the parent's threads), so its build forks from one thread here.
    std::thread busy([] { std::this_thread::sleep_for(100ms); });
#endif
    const pid_t helper = asker.helperPid();
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    ASSERT_EQ(::kill(helper, SIGKILL), 0);
    ASSERT_TRUE(waitDead(first));
    ASSERT_TRUE(helperSeenGone(asker));
    const bool asked = askUntilSent(asker, 1, 5s) != Clock::duration::max();
#ifndef KORAVEX_UNDER_TSAN
    busy.join();
#endif
    ::close(leaked);
    ::sigaction(SIGUSR2, &before, nullptr);
    ASSERT_TRUE(asked);
    ASSERT_NE(own->launcherPid(), first);
    EXPECT_EQ(childrenOf(own->launcherPid()), std::vector<pid_t>{asker.helperPid()});
    for (pid_t pid : {own->launcherPid(), asker.helperPid()})
        expectHoldsOnlyItsSocket(pid);
}

}  // namespace
}  // namespace koravex
