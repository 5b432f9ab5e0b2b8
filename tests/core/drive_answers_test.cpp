// The drive answers of successive rounds against drives that answer late or never.
#include "core/drive_answers.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/budgeted_probes.h"
#include "core/refresh.h"
#include "tests/core/fake_drive_asker.h"
#include "tests/support/fake_probes.h"

namespace koravex {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;
constexpr std::int64_t kMiB = 1048576;

DriveAnswer readable(std::int64_t freeMb) {
    return DriveAnswer{DriveSpace{freeMb * kMiB, 1000 * kMiB, freeMb * kMiB},
                       VolumeInfo{"data", 0xA1B2u, "ext4"}};
}

struct Rounds {
    FakeClock clock;
    FakeDriveAsker asker{clock};
    DriveAnswers answers{asker, [this] { return clock.now; }};

    // One refresh of one drive, then the timer's interval.
    std::optional<DriveAnswer> round(const std::string& root, Ms interval = 100ms) {
        answers.beginRound({root});
        std::optional<DriveAnswer> a = answers.answer(root);
        lastWait = answers.waited();
        clock.advance(interval);
        return a;
    }
    DriveAsker::Clock::duration lastWait{};
};

TEST(DriveAnswersTest, SlowAndStuckDrivesAtEveryRefresh) {
    // 40 refreshes at a 100 ms interval (about 4 s) of one drive answering after `delay`.
    const struct {
        const char* name;
        std::optional<Ms> delay;   // nullopt: never
        int firstReadable;         // first refresh showing the figures, -1 never
        int firstUnreadableAfter;  // first refresh after firstReadable without figures, -1 none
        int maxAsks;
    } cases[] = {
        {"answers at once", 0ms, 0, -1, 40},
        // Asked at 0 (the refresh waits until 100), back at 450: the refresh at 500 shows it.
        {"450 ms", 450ms, 4, -1, 12},
        // Back at 600, shown by the refresh at 600; from then on at every interval.
        {"600 ms", 600ms, 5, -1, 10},
        // Figures come at 3 s, and stay while the next question is younger than 2 s.
        {"3 s", 3000ms, 29, -1, 2},
        {"never", std::nullopt, -1, -1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rounds r;
        r.asker.drives["F:\\"] = {readable(50), c.delay};
        int firstReadable = -1;
        int unreadableAfter = -1;
        for (int k = 0; k < 40; ++k) {
            const std::optional<DriveAnswer> a = r.round("F:\\");
            EXPECT_LE(r.lastWait, 100ms) << "refresh " << k;
            if (a && a->space) {
                EXPECT_EQ(*a, readable(50));
                if (firstReadable < 0)
                    firstReadable = k;
            } else if (firstReadable >= 0 && unreadableAfter < 0) {
                unreadableAfter = k;
            }
        }
        EXPECT_EQ(firstReadable, c.firstReadable);
        EXPECT_EQ(unreadableAfter, c.firstUnreadableAfter);
        EXPECT_LE(r.asker.asks, c.maxAsks);
        EXPECT_LE(r.asker.outstanding(), 1u);
    }
}

TEST(DriveAnswersTest, StuckQuestionFailsAfterTwoSecondsAndIsNotAskedAgain) {
    Rounds r;
    r.asker.drives["F:\\"] = {readable(50), 0ms};
    ASSERT_TRUE(r.round("F:\\"));
    r.asker.drives["F:\\"].delay = std::nullopt;  // the daemon stops answering
    int kept = 0;
    int failed = 0;
    for (int k = 0; k < 30; ++k) {  // 3 s
        const auto a = r.round("F:\\");
        if (a) {
            EXPECT_EQ(*a, readable(50));  // what it showed, while the question is young
            ++kept;
        } else {
            ++failed;
        }
    }
    // The question asked at the first of these refreshes is 2 s old at the 21st.
    EXPECT_EQ(kept, 19);
    EXPECT_EQ(failed, 11);
    EXPECT_EQ(r.asker.asksOf["F:\\"], 2);  // not asked again while stuck
    // The daemon answers again: the figures are back within two refreshes.
    r.asker.drives["F:\\"].delay = 0ms;
    r.asker.answerOutstanding("F:\\", r.clock.now);
    EXPECT_TRUE(r.round("F:\\"));
    EXPECT_TRUE(r.round("F:\\"));
}

// A question belongs to a mount: a drive unmounted and mounted again (a lazily unmounted FUSE
// drive whose call stays stuck, a share mounted anew) is asked about the new mount at once,
// whatever the old question does, and the old one's late reply is not shown.
TEST(DriveAnswersTest, ReplacedMountIsAskedAtOnce) {
    const struct {
        const char* name;
        std::optional<Ms> oldDelay;  // the old mount's question: nullopt never answers
        int refreshesBefore;         // refreshes of the old mount before it is replaced
        const char* newMount;        // "" : the drive is gone
        std::optional<DriveAnswer> shown;
    } cases[] = {
        {"stuck, replaced after 3 s", std::nullopt, 30, "2", readable(20)},
        {"stuck, replaced while young", std::nullopt, 3, "2", readable(20)},
        {"slow, replaced before it answered", 450ms, 2, "2", readable(20)},
        {"stuck, then unmounted for good", std::nullopt, 30, "", DriveAnswer{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rounds r;
        r.asker.mounts["F:\\"] = "1";
        r.asker.drives["F:\\"] = {readable(10), 0ms};
        ASSERT_EQ(r.round("F:\\"), readable(10));
        r.asker.drives["F:\\"].delay = c.oldDelay;
        for (int k = 0; k < c.refreshesBefore; ++k)
            r.round("F:\\");
        ASSERT_EQ(r.asker.asksOf["F:\\"], 2);  // the old mount: asked once more, still out

        r.asker.mounts["F:\\"] = c.newMount;
        if (*c.newMount == '\0') {
            r.asker.drives.erase("F:\\");
            r.asker.mounts.erase("F:\\");
        } else {
            r.asker.drives["F:\\"] = {readable(20), 0ms};
        }
        EXPECT_EQ(r.round("F:\\"), c.shown) << "the refresh right after the new mount";
        EXPECT_LE(r.lastWait, 100ms);
        EXPECT_EQ(r.asker.asksOf["F:\\"], 3);
        // The old call comes back at last, with the old mount's figures: not shown.
        r.asker.answerOutstanding("F:\\", r.clock.now, readable(10));
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(r.round("F:\\"), c.shown) << "refresh " << k << " after the old reply";
        EXPECT_EQ(r.answers.inFlight(), 0u);
    }
}

TEST(DriveAnswersTest, OneBudgetForAllDrivesOfARound) {
    // Three stuck drives, a slow one and a healthy one: one round waits the budget once.
    Rounds r;
    for (const char* root : {"F:\\", "G:\\", "H:\\"})
        r.asker.drives[root] = {readable(1), std::nullopt};
    r.asker.drives["S:\\"] = {readable(2), 450ms};
    r.asker.drives["C:\\"] = {readable(3), 1ms};
    const std::vector<std::string> roots{"F:\\", "G:\\", "H:\\", "S:\\", "C:\\"};
    for (int k = 0; k < 30; ++k) {
        r.answers.beginRound(roots);
        for (const std::string& root : roots)
            r.answers.answer(root);
        EXPECT_LE(r.answers.waited(), 100ms) << "round " << k;
        EXPECT_EQ(r.answers.answer("C:\\"), readable(3)) << "round " << k;
        r.clock.advance(100ms);
    }
    EXPECT_EQ(r.asker.asksOf["F:\\"], 1);
    EXPECT_FALSE(r.answers.answer("F:\\"));
    EXPECT_EQ(r.answers.answer("S:\\"), readable(2));
}

TEST(DriveAnswersTest, OneQuestionPerDrivePerRound) {
    Rounds r;
    r.asker.drives["C:\\"] = {readable(5), 0ms};
    r.answers.beginRound({"C:\\", "c:\\", "C:\\"});
    for (const char* root : {"C:\\", "c:\\", "C:\\", "c:\\"})
        EXPECT_EQ(r.answers.answer(root), readable(5));
    EXPECT_EQ(r.asker.asks, 1);
    // A drive not named when the round began is asked once too.
    r.asker.drives["D:\\"] = {readable(6), 0ms};
    EXPECT_EQ(r.answers.answer("D:\\"), readable(6));
    EXPECT_EQ(r.answers.answer("d:\\"), readable(6));
    EXPECT_EQ(r.asker.asks, 2);
}

TEST(DriveAnswersTest, CallerNamingNoRoundsStillGetsFreshAnswers) {
    Rounds r;
    r.asker.drives["C:\\"] = {readable(5), 0ms};
    EXPECT_EQ(r.answers.answer("C:\\"), readable(5));
    r.asker.drives["C:\\"].answer = readable(6);
    r.clock.advance(1ms);
    EXPECT_EQ(r.answers.answer("C:\\"), readable(5));  // the same round
    r.clock.advance(300ms);
    EXPECT_EQ(r.answers.answer("C:\\"), readable(6));
    EXPECT_EQ(r.asker.asks, 2);
}

TEST(DriveAnswersTest, QuestionsThatCannotGoOutOrAreLost) {
    const struct {
        const char* name;
        bool refuse;
        bool lose;
    } cases[] = {{"refused", true, false}, {"lost", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rounds r;
        r.asker.drives["E:\\"] = {readable(7), std::nullopt};
        r.asker.refuse = c.refuse;
        EXPECT_FALSE(r.round("E:\\"));
        if (c.lose)
            r.asker.lose("E:\\");
        r.asker.refuse = false;
        r.asker.drives["E:\\"].delay = 0ms;
        EXPECT_EQ(r.round("E:\\"), readable(7));  // asked again at the next round
        EXPECT_EQ(r.asker.asksOf["E:\\"], c.refuse ? 1 : 2);
    }
}

TEST(DriveAnswersTest, RefreshAsksEachDriveOnceAndWatchGoesOnBesideAStuckOne) {
    FakeClock clock;
    auto asker = std::make_unique<FakeDriveAsker>(clock);
    FakeDriveAsker& fake = *asker;
    fake.drives["D:\\"] = {readable(10), 0ms};
    fake.drives["F:\\"] = {readable(50), std::nullopt};  // stuck from the start
    auto inner = std::make_unique<FakeProbes>();
    BudgetedProbes probes(std::move(inner), std::move(asker), [&clock] { return clock.now; });
    RefreshInputs in;
    in.driveLetter = 'd';
    in.alertOn = true;
    in.drives = {{"D:\\", true}, {"F:\\", true}};
    FakeProbes direct;  // the same drive answered at once, for the expected texts
    direct.drives["D:\\"] = {DriveType::Fixed, readable(10).space, readable(10).volume, {}};
    const DisplayModel expected = runRefresh(direct, in);
    for (int k = 0; k < 25; ++k) {
        const auto before = clock.now;
        const DisplayModel m = runRefresh(probes, in);
        EXPECT_LE(clock.now - before, 100ms) << "refresh " << k;
        ASSERT_EQ(m.alerts.size(), 1u) << "refresh " << k;
        EXPECT_EQ(m.alerts[0].root, "D:\\");
        EXPECT_EQ(m.label9, expected.label9);
        EXPECT_EQ(m.label13, expected.label13);
        clock.advance(100ms);
    }
    EXPECT_EQ(fake.asksOf["D:\\"], 25);  // shown, tested and checked: one question a refresh
    EXPECT_EQ(fake.asksOf["F:\\"], 1);
    in.driveLetter = 'F';
    EXPECT_EQ(runRefresh(probes, in).label9, kCannotDetermine);
}

}  // namespace
}  // namespace koravex
