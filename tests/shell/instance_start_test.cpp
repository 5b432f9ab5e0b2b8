// The start-up decision, on a scripted mutex and hand-over with a clock of its own: when a start
// runs, when it ends, and that the whole wait for the holder stays within one budget.
#include <QTest>

#include "shell/instance_protocol.h"

using namespace koravex;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Q_DECLARE_METATYPE(HandOverAttempt)

class InstanceStartTest : public QObject {
    Q_OBJECT
  private slots:
    void decision_data();
    void decision();
};

void InstanceStartTest::decision_data() {
    QTest::addColumn<QList<bool>>("mutexFree");            // the last answer repeats
    QTest::addColumn<QList<HandOverAttempt>>("attempts");  // the last answer repeats
    QTest::addColumn<int>("handOverCostMs");               // time each attempt takes
    QTest::addColumn<bool>("runs");
    QTest::addColumn<int>("handOvers");  // -1: as many as fit the budget
    using M = QList<bool>;
    using A = QList<HandOverAttempt>;
    const auto handed = HandOverAttempt::HandedOver;
    const auto notOurs = HandOverAttempt::NotOurs;
    const auto notReached = HandOverAttempt::NotReached;
    QTest::newRow("free mutex: run, ask nobody") << M{true} << A{handed} << 0 << true << 0;
    QTest::newRow("held, our instance answers") << M{false} << A{handed} << 5 << false << 1;
    QTest::newRow("held by something else: end, do nothing")
        << M{false} << A{notOurs} << 5 << false << 1;
    QTest::newRow("holder silent for the whole budget")
        << M{false} << A{notOurs} << 1000 << false << 1;
    QTest::newRow("holder died meanwhile: run as the first")
        << M{false, false, true} << A{notReached} << 1 << true << 2;
    QTest::newRow("holder starting: reached on the third try")
        << M{false} << A{notReached, notReached, handed} << 1 << false << 3;
    QTest::newRow("never reached: end at the deadline")
        << M{false} << A{notReached} << 3 << false << -1;
}

void InstanceStartTest::decision() {
    QFETCH(QList<bool>, mutexFree);
    QFETCH(QList<HandOverAttempt>, attempts);
    QFETCH(int, handOverCostMs);
    QFETCH(bool, runs);
    QFETCH(int, handOvers);

    const Clock::time_point start{};
    Clock::time_point now = start;
    qsizetype mutexAsked = 0;
    qsizetype handOverAsked = 0;
    QList<Clock::time_point> deadlines;
    InstanceStartSteps steps;
    steps.now = [&] { return now; };
    steps.pause = [&](std::chrono::milliseconds pause) {
        QVERIFY(pause > 0ms);
        now += pause;
    };
    steps.takeMutex = [&] { return mutexFree[std::min(mutexAsked++, mutexFree.size() - 1)]; };
    steps.handOver = [&](Clock::time_point deadline) {
        deadlines.append(deadline);
        now = std::max(now, std::min(now + std::chrono::milliseconds(handOverCostMs), deadline));
        return attempts[std::min(handOverAsked++, attempts.size() - 1)];
    };

    QCOMPARE(decideStart(steps, 1000ms), runs);
    if (handOvers >= 0) {
        QCOMPARE(handOverAsked, handOvers);
    } else {
        QVERIFY2(handOverAsked > 10, "a holder not yet listening is asked again");
    }
    // One budget for the whole start, not one per attempt.
    for (const Clock::time_point deadline : deadlines) {
        QCOMPARE(deadline, start + 1000ms);
    }
    QVERIFY(now - start <= 1000ms);
    QCOMPARE(mutexAsked, handOverAsked + (runs ? 1 : 0));
}

QTEST_GUILESS_MAIN(InstanceStartTest)
#include "instance_start_test.moc"
