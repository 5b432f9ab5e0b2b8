// The window's small parts on their own: the long refresh timer, the spin buttons' step,
// the balloon text's cut, the colour dialog's place and the figure labels' width rule.
#include <QSignalSpy>
#include <QtTest>
#include <climits>

#include "ui/color_choice.h"
#include "ui/figure_label.h"
#include "ui/main_window.h"
#include "ui/refresh_timer.h"
#include "ui/spin_buttons.h"

using namespace koravex;

class WindowPartsTest : public QObject {
    Q_OBJECT
  private slots:
    void timerWaitsInParts_data();
    void timerWaitsInParts();
    void timerDisabledIgnoresRunOut();
    void timerIntervalChangeRestarts();
    void stepFrom_data();
    void stepFrom();
    void balloonTextCut_data();
    void balloonTextCut();
    void colourDialogPlace_data();
    void colourDialogPlace();
    void figureWidthKept_data();
    void figureWidthKept();
};

void WindowPartsTest::timerWaitsInParts_data() {
    QTest::addColumn<quint32>("interval");
    QTest::addColumn<QList<int>>("waits");
    QTest::newRow("default") << 5000u << QList<int>{5000};
    QTest::newRow("one") << 1u << QList<int>{1};
    QTest::newRow("INT_MAX") << 2147483647u << QList<int>{INT_MAX};
    QTest::newRow("INT_MAX+1") << 2147483648u << QList<int>{INT_MAX, 1};
    QTest::newRow("-5 typed") << 4294967291u << QList<int>{INT_MAX, 2147483644};
    QTest::newRow("largest") << 4294967295u << QList<int>{INT_MAX, INT_MAX, 1};
}

void WindowPartsTest::timerWaitsInParts() {
    QFETCH(quint32, interval);
    QFETCH(QList<int>, waits);
    RefreshTimer timer;
    QSignalSpy fired(&timer, &RefreshTimer::fired);
    timer.setIntervalMs(interval);
    timer.setEnabled(true);
    QList<int> seen;
    for (int i = 0; i < 5 && fired.isEmpty(); ++i) {
        QVERIFY(timer.isActive());
        QVERIFY(timer.isSingleShot());
        seen << timer.interval();
        timer.waitElapsed();
    }
    QCOMPARE(seen, waits);
    QCOMPARE(fired.size(), 1);
    // Nobody restarted it: the next full interval starts by itself.
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), waits.front());
}

void WindowPartsTest::timerDisabledIgnoresRunOut() {
    RefreshTimer timer;
    QSignalSpy fired(&timer, &RefreshTimer::fired);
    timer.setIntervalMs(0);
    timer.setEnabled(true);
    QVERIFY(timer.isEnabled());
    QVERIFY(!timer.isActive());  // 0: no timer at all
    timer.waitElapsed();
    QCOMPARE(fired.size(), 0);
    timer.setIntervalMs(100);
    QVERIFY(timer.isActive());
    timer.setEnabled(false);
    QVERIFY(!timer.isActive());
    timer.waitElapsed();
    QCOMPARE(fired.size(), 0);
}

void WindowPartsTest::timerIntervalChangeRestarts() {
    RefreshTimer timer;
    timer.setIntervalMs(4294967295u);
    timer.setEnabled(true);
    timer.waitElapsed();  // one part gone
    QCOMPARE(timer.pendingMs(), 1u);
    const int starts = timer.countdownStarts();
    timer.setIntervalMs(4294967295u);  // the same value: the countdown starts afresh
    QCOMPARE(timer.countdownStarts(), starts + 1);
    QCOMPARE(timer.pendingMs(), 4294967295ull - INT_MAX);
    // Enabling an enabled timer changes nothing.
    timer.setEnabled(true);
    QCOMPARE(timer.countdownStarts(), starts + 1);
}

void WindowPartsTest::stepFrom_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("expected");
    QTest::newRow("up") << "5000" << 5000 << 1 << 5001;
    QTest::newRow("down") << "5000" << 5000 << -1 << 4999;
    QTest::newRow("typed inside is the start") << "250" << 5000 << 1 << 251;
    QTest::newRow("top stops") << "30000" << 30000 << 1 << 30000;
    QTest::newRow("bottom stops") << "100" << 100 << -1 << 100;
    QTest::newRow("above the range") << "99999" << 5000 << 1 << 30000;
    QTest::newRow("far above the 32-bit range") << "99999999999" << 5000 << -1 << 29999;
    QTest::newRow("negative") << "-5" << 5000 << 1 << 101;
    QTest::newRow("empty: last position") << "" << 700 << 1 << 701;
    QTest::newRow("hex: last position") << "$64" << 700 << -1 << 699;
}

void WindowPartsTest::stepFrom() {
    QFETCH(QString, text);
    QFETCH(int, last);
    QFETCH(int, delta);
    QFETCH(int, expected);
    QCOMPARE(UpDown::stepFrom(text, last, 100, 30000, delta), expected);
}

void WindowPartsTest::balloonTextCut_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString cyr =
        QStringLiteral("На диске: C:\\ осталось меньше 5 Mb дискового пространства");
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");  // one character, two units
    QTest::newRow("short") << cyr << cyr;
    QTest::newRow("exactly 255") << QString(255, QLatin1Char('a'))
                                 << QString(255, QLatin1Char('a'));
    QTest::newRow("256 cut") << QString(256, QLatin1Char('a')) << QString(255, QLatin1Char('a'));
    QTest::newRow("pair at the end kept whole")
        << QString(254, QLatin1Char('a')) + smile + QStringLiteral("b")
        << QString(254, QLatin1Char('a')) + smile;
    QTest::newRow("pair past the end dropped whole")
        << QString(255, QLatin1Char('a')) + smile << QString(255, QLatin1Char('a'));
}

void WindowPartsTest::balloonTextCut() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(balloonText(text), expected);
}

void WindowPartsTest::colourDialogPlace_data() {
    QTest::addColumn<QRect>("monitor");
    QTest::addColumn<QSize>("dialog");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("first monitor") << QRect(0, 0, 1280, 800) << QSize(520, 380) << QPoint(380, 140);
    QTest::newRow("second monitor")
        << QRect(1280, 100, 1920, 1080) << QSize(520, 380) << QPoint(1280 + 700, 100 + 233);
    QTest::newRow("dialog taller than the monitor")
        << QRect(0, 0, 640, 300) << QSize(520, 390) << QPoint(60, -30);
}

void WindowPartsTest::colourDialogPlace() {
    QFETCH(QRect, monitor);
    QFETCH(QSize, dialog);
    QFETCH(QPoint, expected);
    QCOMPARE(colorDialogPlace(monitor, dialog), expected);
}

void WindowPartsTest::figureWidthKept_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("kept");
    QTest::newRow("digits move") << QStringLiteral(" 5 418 620 KB")
                                 << QStringLiteral(" 5 418 597 KB") << true;
    QTest::newRow("every digit") << QStringLiteral("0123456789") << QStringLiteral("9876543210")
                                 << true;
    QTest::newRow("after a prefix") << QStringLiteral("Свободно на диске:  44 040 192 KB")
                                    << QStringLiteral("Свободно на диске:  44 039 111 KB") << true;
    QTest::newRow("one digit more")
        << QStringLiteral(" 999 KB") << QStringLiteral(" 1 000 KB") << false;
    QTest::newRow("unit letter") << QStringLiteral(" 8 KB") << QStringLiteral(" 8 MB") << false;
    QTest::newRow("digit to blank") << QStringLiteral("1 0") << QStringLiteral("1  ") << false;
    QTest::newRow("first text") << QStringLiteral("Label2") << QStringLiteral(" 8 388 6") << false;
    QTest::newRow("letters only") << QStringLiteral("ext4") << QStringLiteral("vfat") << false;
    QTest::newRow("failure text") << QStringLiteral("Серийный номер: A1B2C3D")
                                  << QStringLiteral("Не возможно определить") << false;
}

void WindowPartsTest::figureWidthKept() {
    // With the window's font: a text judged the same width really is, to the pixel, and
    // a digit-only change is judged so (else every refresh measures again).
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, kept);
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    QVERIFY(!QFontInfo(font).family().isEmpty());
    QCOMPARE(sameWidthText(before, after, font), kept);
    FigureLabel label;
    label.setFont(font);
    label.setFigure(before);
    QLabel fresh;
    fresh.setFont(font);
    fresh.setText(after);
    label.setFigure(after);
    QCOMPARE(label.text(), after);
    QCOMPARE(label.size(), fresh.sizeHint());
}

QTEST_MAIN(WindowPartsTest)
#include "window_parts_test.moc"
