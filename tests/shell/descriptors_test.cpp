// The start's descriptor check, in a child process per case (limits cannot be raised back):
// a low soft limit under a higher hard one is raised, and the start goes on; a hard limit that
// leaves too few free gives one reason, counting what is already open.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QTest>
#include <cstdio>
#include <string>

#include "shell/posix/descriptors_posix.h"

using namespace koravex;

class DescriptorsTest : public QObject {
    Q_OBJECT
  private slots:
    void limits_data();
    void limits();
};

void DescriptorsTest::limits_data() {
    QTest::addColumn<int>("soft");
    QTest::addColumn<int>("hard");
    QTest::addColumn<int>("extraOpen");    // descriptors opened before the check
    QTest::addColumn<QString>("problem");  // what the reason starts with; empty: none
    QTest::addColumn<int>("softAfter");
    const int enough = kDescriptorsNeeded + 64;
    QTest::newRow("raised to what is needed") << 12 << 1000 << 0 << "" << enough;
    QTest::newRow("raised as far as the hard limit") << 12 << 40 << 0 << "" << 40;
    QTest::newRow("hard limit too low") << 12 << 12 << 0 << "too few file descriptors: " << 12;
    QTest::newRow("enough, but taken by open ones")
        << 30 << 30 << 20 << "too few file descriptors: " << 30;
    QTest::newRow("plenty: not even counted") << 200 << 200 << 0 << "" << 200;
}

void DescriptorsTest::limits() {
    QFETCH(int, soft);
    QFETCH(int, hard);
    QFETCH(int, extraOpen);
    QFETCH(QString, problem);
    QFETCH(int, softAfter);
    rlimit own{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &own), 0);
    if (own.rlim_max < static_cast<rlim_t>(hard))
        QSKIP("the test's own hard limit is lower than the case's");
    int out[2];
    QCOMPARE(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        for (int i = 0; i < extraOpen; ++i)
            (void)::dup(0);
        const rlimit limit{static_cast<rlim_t>(soft), static_cast<rlim_t>(hard)};
        std::string result =
            ::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? descriptorProblem() : "setrlimit failed";
        rlimit after{};
        ::getrlimit(RLIMIT_NOFILE, &after);
        result = std::to_string(after.rlim_cur) + "|" + result;
        (void)!::write(out[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string got;
    char chunk[512];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        got.append(chunk, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    const QString text = QString::fromStdString(got);
    QCOMPARE(text.section(QLatin1Char('|'), 0, 0).toInt(), softAfter);
    const QString reason = text.section(QLatin1Char('|'), 1);
    if (problem.isEmpty())
        QVERIFY2(reason.isEmpty(), qPrintable(reason));
    else
        QVERIFY2(reason.startsWith(problem), qPrintable(reason));
}

QTEST_GUILESS_MAIN(DescriptorsTest)
#include "descriptors_test.moc"
