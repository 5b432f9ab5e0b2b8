// Drive calls that fail, vanish or never return, through the Windows backend's worker
// threads and the round's time budget: what a refresh shows, and that it never waits.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/refresh.h"
#include "core/windows/thread_drive_asker.h"
#include "core/windows/windows_probes.h"
#include "tests/windows/fake_win_calls.h"

namespace koravex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using win::ThreadDriveAsker;
using win::testing::FakeWinCalls;
using win::testing::fill;

// Holds calls until it is opened.
class Gate {
  public:
    void wait() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        opened_.wait(lock, [&] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    int waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
    int waiting_ = 0;
};

// C: answers, D: has no medium, E: has vanished (its letter is gone from the system), F:
// is a share whose server is gone: its calls return only when the gate opens.
struct Machine {
    FakeWinCalls calls;
    Gate gate;
    bool blockNames = false;  // F:'s type and remote name wait for the gate too

    Machine() {
        calls.type = [this](const std::wstring& root) -> UINT {
            if (root[0] == L'F' && blockNames)
                gate.wait();
            switch (root[0]) {
                case L'C':
                    return DRIVE_FIXED;
                case L'D':
                    return DRIVE_CDROM;
                case L'F':
                    return DRIVE_REMOTE;
                default:
                    return DRIVE_NO_ROOT_DIR;
            }
        };
        calls.space = [this](const std::wstring& root, ULARGE_INTEGER* caller,
                             ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) -> BOOL {
            if (root[0] == L'D' || root[0] == L'E') {
                ::SetLastError(root[0] == L'D' ? ERROR_NOT_READY : ERROR_PATH_NOT_FOUND);
                return FALSE;
            }
            if (root[0] == L'F')
                gate.wait();
            caller->QuadPart = totalFree->QuadPart = 300ull << 20;
            total->QuadPart = 1000ull << 20;
            return TRUE;
        };
        calls.volume = [this](const std::wstring& root, wchar_t* name, DWORD nameLength,
                              DWORD* serial, wchar_t* fs, DWORD fsLength) -> BOOL {
            if (root[0] == L'D' || root[0] == L'E') {
                ::SetLastError(root[0] == L'D' ? ERROR_NOT_READY : ERROR_PATH_NOT_FOUND);
                return FALSE;
            }
            if (root[0] == L'F')
                gate.wait();
            fill(name, nameLength,
                 root[0] == L'C' ? L"\x0421\x0438\x0441\x0442\x0435\x043C\x0430" : L"share");
            fill(fs, fsLength, L"NTFS");
            *serial = 0xC0FFEEu;
            return TRUE;
        };
        calls.connection = [this](const std::wstring& local, wchar_t* remote,
                                  DWORD* length) -> DWORD {
            if (local != L"F:")
                return ERROR_NOT_CONNECTED;
            if (blockNames)
                gate.wait();
            fill(remote, *length, L"\\\\files\\gone");
            return NO_ERROR;
        };
    }
};

DisplayModel refresh(Probes& probes, char letter, Clock::duration* took = nullptr) {
    RefreshInputs in;
    in.unit = UnitScale::Megabytes;
    in.driveLetter = letter;
    const auto start = Clock::now();
    DisplayModel m = runRefresh(probes, in);
    if (took)
        *took = Clock::now() - start;
    return m;
}

// Refreshes until `done` holds of the model (the first answer of a drive may come a refresh
// late on a busy machine), at most 50 times.
template <typename Done>
DisplayModel refreshUntil(Probes& probes, char letter, Done done) {
    DisplayModel m;
    for (int i = 0; i < 50; ++i) {
        m = refresh(probes, letter);
        if (done(m))
            break;
        std::this_thread::sleep_for(20ms);
    }
    return m;
}

constexpr DriveLimits kLimits{100ms, 1000ms};
// Far above the budget and far below a call that never returns: a refresh slower than this
// waited for a drive.
constexpr auto kFrozen = 1500ms;

TEST(WindowsDriveFailures, NoMediumAndVanishedShowTheFailureText) {
    Machine machine;
    auto probes = makeWindowsProbes(machine.calls, kLimits);
    const DisplayModel c = refreshUntil(
        *probes, 'C', [](const DisplayModel& m) { return m.label12 != kCannotDetermine; });
    EXPECT_EQ(c.label9, "Свободно на диске:   300 MB");
    EXPECT_EQ(c.label10, "Всего на диске  1 000 MB");
    EXPECT_EQ(c.label12, "Система");
    EXPECT_EQ(c.label13, "Серийный номер: C0FFEE");
    for (char letter : {'D', 'E'}) {
        Clock::duration took{};
        const DisplayModel m = refresh(*probes, letter, &took);
        EXPECT_LT(took, kFrozen) << letter;
        for (const std::string* text : {&m.label9, &m.label10, &m.label11, &m.label12, &m.label13})
            EXPECT_EQ(*text, kCannotDetermine) << letter;
        EXPECT_EQ(m.gauge1, (GaugeSetting{0, 0})) << letter;
    }
}

TEST(WindowsDriveFailures, AShareThatNeverAnswersFreezesNothingAndComesBack) {
    Machine machine;
    auto probes = makeWindowsProbes(machine.calls, kLimits);

    Clock::duration took{};
    DisplayModel m = refresh(*probes, 'F', &took);
    EXPECT_LT(took, kFrozen);
    EXPECT_EQ(m.label9, kCannotDetermine);  // never answered yet
    // Past the age limit the drive is unreadable; other drives answer all along.
    refreshUntil(*probes, 'C', [](const DisplayModel& c) { return c.label12 == "Система"; });
    const auto start = Clock::now();
    while (Clock::now() - start < kLimits.keep + 200ms) {
        m = refresh(*probes, 'F', &took);
        EXPECT_LT(took, kFrozen);
        EXPECT_EQ(refresh(*probes, 'C').label12, "Система");
    }
    EXPECT_EQ(m.label9, kCannotDetermine);
    EXPECT_EQ(m.label12, kCannotDetermine);
    EXPECT_EQ(machine.gate.waiting(), 1);  // one question in flight, not one per refresh

    // The server is back: the figures return within a few refreshes.
    machine.gate.open();
    m = refreshUntil(*probes, 'F', [](const DisplayModel& f) { return f.label12 == "share"; });
    EXPECT_EQ(m.label12, "share");
    EXPECT_EQ(m.label9, "Свободно на диске:   300 MB");
}

TEST(WindowsDriveFailures, TypeAndRemoteNameOfADeadShareWaitOnlyBriefly) {
    Machine machine;
    machine.blockNames = true;
    auto probes = makeWindowsProbes(machine.calls, kLimits);

    const auto start = Clock::now();
    EXPECT_EQ(probes->driveType("F:\\"), DriveType::Unknown);  // not known yet
    EXPECT_EQ(probes->driveType("F:\\"), DriveType::Unknown);  // its call is still out
    EXPECT_FALSE(probes->remoteName("F:\\"));
    EXPECT_LT(Clock::now() - start, kFrozen);
    EXPECT_EQ(probes->driveType("C:\\"), DriveType::Fixed);  // the others answer all along
    for (int i = 0; i < 100 && machine.gate.waiting() < 2; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(machine.gate.waiting(), 2);  // one type call and one name call, not three

    machine.gate.open();
    DriveType type = DriveType::Unknown;
    std::optional<std::string> remote;
    for (int i = 0; i < 50 && (type != DriveType::Remote || !remote); ++i) {
        std::this_thread::sleep_for(20ms);
        type = probes->driveType("F:\\");
        remote = probes->remoteName("F:\\");
    }
    EXPECT_EQ(type, DriveType::Remote);
    EXPECT_EQ(remote, "\\\\files\\gone");
}

TEST(WindowsDriveWorkers, OneWorkerPerDriveBoundedAndNeverJoined) {
    auto gate = std::make_shared<Gate>();  // shared with the worker, which outlives the test
    auto asker = std::make_unique<ThreadDriveAsker>([gate](const std::string& root) {
        if (root == "S:\\")
            gate->wait();
        return DriveAnswer{DriveSpace{1, 2, 3}, std::nullopt};
    });
    ASSERT_TRUE(asker->ask(1, "S:\\"));
    ASSERT_TRUE(asker->ask(2, "c:\\"));
    EXPECT_FALSE(asker->ask(3, "s:\\"));  // the stuck drive's question is still out
    auto replies = asker->collect(Clock::now() + 2s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].id, 2u);
    EXPECT_EQ(replies[0].answer.space, (DriveSpace{1, 2, 3}));
    ASSERT_TRUE(asker->ask(4, "C:\\"));  // the same drive in the other case: its worker
    EXPECT_EQ(asker->workers(), 2u);
    EXPECT_EQ(asker->collect(Clock::now() + 2s).size(), 1u);

    // A deadline that has passed is a look, not a wait.
    const auto before = Clock::now();
    EXPECT_TRUE(asker->collect(Clock::time_point::min()).empty());
    EXPECT_TRUE(asker->collect(Clock::now() + 50ms).empty());
    EXPECT_LT(Clock::now() - before, kFrozen);

    // The workers are bounded: a drive beyond the bound is not asked.
    for (std::size_t i = asker->workers(); i < ThreadDriveAsker::kMaxWorkers; ++i) {
        std::string root = std::to_string(i);
        root += ":\\";
        ASSERT_TRUE(asker->ask(100 + i, root));
    }
    EXPECT_FALSE(asker->ask(999, "Y:\\"));

    // Ending the asker waits for no worker, not even the stuck one; when its call returns
    // later, it finds its own state still there.
    const auto endStart = Clock::now();
    asker.reset();
    EXPECT_LT(Clock::now() - endStart, kFrozen);
    gate->open();
}

}  // namespace
}  // namespace koravex
