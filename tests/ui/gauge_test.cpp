// Pixel checks of the gauge pictures and the property write rules (offscreen platform).
#include <QFontInfo>
#include <QFontMetrics>
#include <QtTest>
#include <limits>

#include "ui/gauge.h"

using namespace koravex;

namespace {

constexpr std::uint32_t kBlue = 0xFF0000;     // the program's used-part colour (BGR)
constexpr std::uint32_t kFuchsia = 0xFF00FF;  // the program's free-part colour
const QColor kFace(0xEF, 0xEF, 0xEF);         // the surroundings of a pie
constexpr int kMax = std::numeric_limits<std::int32_t>::max();

QFont programFont() {
    return QFont(QStringLiteral("MS Sans Serif"), 8);
}

QRgb rgbOf(std::uint32_t bgr) {
    return qRgb(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

GaugeLook look(GaugeKind kind, GaugeBorder border, std::int32_t progress, bool text = false) {
    GaugeLook l;
    l.kind = kind;
    l.border = border;
    l.progress = progress;
    l.showText = text;
    l.foreColor = kBlue;
    l.backColor = kFuchsia;
    return l;
}

QImage render(const GaugeLook& l, int w, int h) {
    return renderGauge(l, w, h, kFace, programFont());
}

bool isFore(const QImage& img, int x, int y) {
    return img.pixel(x, y) == rgbOf(kBlue);
}

// Every pixel of the one-pixel ring is black.
bool ringIsBlack(const QImage& img) {
    for (int x = 0; x < img.width(); ++x) {
        if (img.pixel(x, 0) != qRgb(0, 0, 0) || img.pixel(x, img.height() - 1) != qRgb(0, 0, 0)) {
            return false;
        }
    }
    for (int y = 0; y < img.height(); ++y) {
        if (img.pixel(0, y) != qRgb(0, 0, 0) || img.pixel(img.width() - 1, y) != qRgb(0, 0, 0)) {
            return false;
        }
    }
    return true;
}

}  // namespace

class GaugeTest : public QObject {
    Q_OBJECT
  private slots:
    void fontResolves();
    void percent_data();
    void percent();
    void fillWidth_data();
    void fillWidth();
    void fillWidthMatchesIntegerRuleAt154();
    void integerRuleMatchesX87();
    void barColumns_data();
    void barColumns();
    void textColoursOverBar();
    void textInShortBarIsClipped();
    void pieStart_data();
    void pieStart();
    void pieQuadrants_data();
    void pieQuadrants();
    void pieKeepsToItsBox();
    void tinyPieCoincidentPoints();
    void otherKinds();
    void tinySizes();
    void writeRules_data();
    void writeRules();
    void crossingWritesFail_data();
    void crossingWritesFail();
    void hiddenGaugePaintsWhenShown();
    void widgetPaintsItsPicture();
};

void GaugeTest::fontResolves() {
    QVERIFY(!QFontInfo(programFont()).family().isEmpty());
}

void GaugeTest::percent_data() {
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero total") << 0 << 0 << 0 << 0;
    QTest::newRow("half") << 0 << 100 << 50 << 50;
    QTest::newRow("truncated") << 0 << 3 << 2 << 66;
    QTest::newRow("offset range") << -10 << -5 << -7 << 60;
    QTest::newRow("no overflow in product") << 0 << kMax << kMax - 1 << 99;
    QTest::newRow("range wider than 2^31") << -kMax << kMax << kMax / 2 << 74;
    QTest::newRow("widest range, middle") << -kMax - 1 << kMax << -1 << 49;
    QTest::newRow("widest range, near top") << -kMax - 1 << kMax << kMax - 5 << 99;
}

void GaugeTest::percent() {
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, progress);
    GaugeLook l;
    l.minValue = minValue;
    l.maxValue = maxValue;
    l.progress = progress;
    QTEST(gaugePercent(l), "expected");
}

void GaugeTest::fillWidth_data() {
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("extent");
    QTest::addColumn<int>("expected");
    QTest::newRow("whole product falls short") << 5 << 100 << 4;
    QTest::newRow("zero") << 0 << 154 << 0;
    QTest::newRow("full") << 100 << 154 << 154;
    QTest::newRow("no extent") << 50 << 0 << 0;
}

void GaugeTest::fillWidth() {
    QFETCH(int, percent);
    QFETCH(int, extent);
    QTEST(gaugeFillWidth(percent, extent), "expected");
    QTEST(extendedFillWidth(percent, extent), "expected");
}

void GaugeTest::fillWidthMatchesIntegerRuleAt154() {
    for (int p = 0; p <= 100; ++p) {
        QCOMPARE(gaugeFillWidth(p, 154), 154 * p / 100);
        QCOMPARE(extendedFillWidth(p, 154), 154 * p / 100);
    }
}

void GaugeTest::integerRuleMatchesX87() {
    if (std::numeric_limits<long double>::digits != 64) {
        QSKIP("long double is not the x87 extended format here");
    }
    int shortBy1 = 0;
    for (int w = 0; w <= 4000; ++w) {
        for (int p = 0; p <= 100; ++p) {
            const int f = gaugeFillWidth(p, w);
            QCOMPARE(extendedFillWidth(p, w), f);
            shortBy1 += f != w * p / 100;
        }
    }
    QVERIFY(shortBy1 > 0);  // the cases that fall one short are really exercised
    const int big = std::numeric_limits<std::int32_t>::max();
    QCOMPARE(extendedFillWidth(100, big), gaugeFillWidth(100, big));
    QCOMPARE(extendedFillWidth(37, big), gaugeFillWidth(37, big));
}

void GaugeTest::barColumns_data() {
    QTest::addColumn<int>("border");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("filled");
    const int none = int(GaugeBorder::bsNone);
    const int single = int(GaugeBorder::bsSingle);
    QTest::newRow("153 at 0") << none << 153 << 0 << 0;
    QTest::newRow("153 at 50") << none << 153 << 50 << 77;
    QTest::newRow("153 at 99") << none << 153 << 99 << 152;
    QTest::newRow("153 at 100") << none << 153 << 100 << 153;
    QTest::newRow("99 at 5") << none << 99 << 5 << 4;
    QTest::newRow("ring, 155 at 50") << single << 155 << 50 << 76;
    QTest::newRow("ring, 155 at 100") << single << 155 << 100 << 153;
}

void GaugeTest::barColumns() {
    QFETCH(int, border);
    QFETCH(int, width);
    QFETCH(int, percent);
    QFETCH(int, filled);
    const auto b = GaugeBorder(border);
    const int h = b == GaugeBorder::bsSingle ? 14 : 12;
    const QImage img = render(look(GaugeKind::gkHorizontalBar, b, percent), width, h);
    const int edge = b == GaugeBorder::bsSingle ? 1 : 0;
    for (int y = edge; y < h - edge; ++y) {
        for (int x = edge; x < width - edge; ++x) {
            const bool done = x < edge + filled;
            QVERIFY2(img.pixel(x, y) == rgbOf(done ? kBlue : kFuchsia),
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }
    if (b == GaugeBorder::bsSingle) {
        QVERIFY(ringIsBlack(img));
    }
}

void GaugeTest::textColoursOverBar() {
    // "50%" sits across the edge of the done part: yellow over blue, green over fuchsia.
    const QImage img =
        render(look(GaugeKind::gkHorizontalBar, GaugeBorder::bsNone, 50, true), 153, 12);
    int yellow = 0, green = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            const bool done = x < 77;
            if (c == rgbOf(0x00FFFF)) {
                QVERIFY2(done, "yellow text pixel over the rest");
                ++yellow;
            } else if (c == rgbOf(0x00FF00)) {
                QVERIFY2(!done, "green text pixel over the done part");
                ++green;
            } else {
                QCOMPARE(c, rgbOf(done ? kBlue : kFuchsia));
            }
        }
    }
    QVERIFY(yellow > 10);
    QVERIFY(green > 10);
}

void GaugeTest::textInShortBarIsClipped() {
    const QFont font = programFont();
    const int textHeight = QFontMetrics(font).height();
    const GaugeLook bar = look(GaugeKind::gkHorizontalBar, GaugeBorder::bsNone, 50, true);
    const QPoint at = gaugeTextOrigin(bar, 153, 12, font);
    QCOMPARE(at.y(), (12 + 1 - textHeight) / 2);
    if (textHeight == 13) {
        QCOMPARE(at.y(), 0);  // and its 13th row falls below the bar
    }
    QCOMPARE(at.x(), (153 + 1 - QFontMetrics(font).horizontalAdvance(QStringLiteral("50%"))) / 2);

    // Text larger than a ringed bar starts before R and is cut at R: the ring stays black.
    GaugeLook small = look(GaugeKind::gkHorizontalBar, GaugeBorder::bsSingle, 100, true);
    small.foreColor = 0x000000;
    const QPoint o = gaugeTextOrigin(small, 16, 8, font);
    QVERIFY(o.x() < 1 && o.y() < 1);
    const QImage img = render(small, 16, 8);
    QVERIFY(ringIsBlack(img));
    int white = 0;
    for (int y = 1; y < 7; ++y) {
        for (int x = 1; x < 15; ++x) {
            white += img.pixel(x, y) == qRgb(255, 255, 255);
        }
    }
    QVERIFY(white > 0);
}

void GaugeTest::pieStart_data() {
    QTest::addColumn<int>("percent");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("0") << 0 << QPoint(72, 0);
    QTest::newRow("1") << 1 << QPoint(77, 0);
    QTest::newRow("25") << 25 << QPoint(144, 48);
    QTest::newRow("50") << 50 << QPoint(72, 96);
    QTest::newRow("75") << 75 << QPoint(0, 48);
    QTest::newRow("100") << 100 << QPoint(72, 0);
}

void GaugeTest::pieStart() {
    QFETCH(int, percent);
    QTEST(gaugePieStart(percent, 145 / 2, 97 / 2), "expected");
}

void GaugeTest::pieQuadrants_data() {
    // Points well inside each quarter of the 145 x 97 pie, then two beside twelve o'clock.
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("done");  // top-right, bottom-right, bottom-left, top-left, near 12
    QTest::newRow("0") << 0 << QStringLiteral("------");
    QTest::newRow("1") << 1 << QStringLiteral("----x-");
    QTest::newRow("25") << 25 << QStringLiteral("x---x-");
    QTest::newRow("50") << 50 << QStringLiteral("xx--x-");
    QTest::newRow("75") << 75 << QStringLiteral("xxx-x-");
    QTest::newRow("100") << 100 << QStringLiteral("xxxxxx");
}

void GaugeTest::pieQuadrants() {
    QFETCH(int, percent);
    QFETCH(QString, done);
    const QImage img = render(look(GaugeKind::gkPie, GaugeBorder::bsNone, percent), 145, 97);
    const QPoint probes[] = {{108, 24}, {108, 72}, {36, 72}, {36, 24}, {74, 5}, {70, 5}};
    for (int i = 0; i < 6; ++i) {
        const QRgb want = rgbOf(done[i] == u'x' ? kBlue : kFuchsia);
        QVERIFY2(img.pixel(probes[i]) == want, qPrintable(QStringLiteral("probe %1").arg(i)));
    }
    QCOMPARE(img.pixel(0, 0), kFace.rgb());  // outside the ellipse: the surroundings
}

void GaugeTest::pieKeepsToItsBox() {
    // The outline touches every side of the box and nothing outside the ellipse is drawn.
    for (const auto border : {GaugeBorder::bsNone, GaugeBorder::bsSingle}) {
        const QImage img = render(look(GaugeKind::gkPie, border, 0), 145, 97);
        const int e = border == GaugeBorder::bsSingle ? 1 : 0;
        const int cx = e + (145 - 2 * e - 1) / 2;
        const int cy = e + (97 - 2 * e - 1) / 2;
        QVERIFY(isFore(img, e, cy) && isFore(img, 144 - e, cy));
        QVERIFY(isFore(img, cx, e) && isFore(img, cx, 96 - e));
        QCOMPARE(img.pixel(e, e), kFace.rgb());
        QCOMPARE(img.pixel(144 - e, 96 - e), kFace.rgb());
        QCOMPARE(img.pixel(cx, cy), rgbOf(kFuchsia));
        if (e == 1) {
            QVERIFY(ringIsBlack(img));
        }
    }
}

void GaugeTest::tinyPieCoincidentPoints() {
    // On a 10 x 10 pie both 1 % and 99 % round onto the top centre: full only for 99 %.
    QCOMPARE(gaugePieStart(1, 5, 5), QPoint(5, 0));
    QCOMPARE(gaugePieStart(99, 5, 5), QPoint(5, 0));
    const QImage low = render(look(GaugeKind::gkPie, GaugeBorder::bsNone, 1), 10, 10);
    const QImage high = render(look(GaugeKind::gkPie, GaugeBorder::bsNone, 99), 10, 10);
    QCOMPARE(low.pixel(4, 6), rgbOf(kFuchsia));
    QCOMPARE(high.pixel(4, 6), rgbOf(kBlue));
}

void GaugeTest::otherKinds() {
    // Vertical bar 20 x 50: H = 51; 50 % fills 25 rows from the bottom, 100 % all 50 rows.
    const QImage half = render(look(GaugeKind::gkVerticalBar, GaugeBorder::bsNone, 50), 20, 50);
    QVERIFY(isFore(half, 10, 25) && isFore(half, 10, 49) && !isFore(half, 10, 24));
    const QImage full = render(look(GaugeKind::gkVerticalBar, GaugeBorder::bsNone, 100), 20, 50);
    QVERIFY(isFore(full, 10, 0));

    // Text kind: only the background, whatever the progress.
    const QImage text = render(look(GaugeKind::gkText, GaugeBorder::bsNone, 100), 30, 10);
    QCOMPARE(text.pixel(29, 9), rgbOf(kFuchsia));
    QCOMPARE(text.pixel(0, 0), rgbOf(kFuchsia));

    // Needle: upright at 50 %, lying left at 0 %, from the dial's bottom centre.
    const QImage up = render(look(GaugeKind::gkNeedle, GaugeBorder::bsNone, 50), 61, 40);
    const QImage left = render(look(GaugeKind::gkNeedle, GaugeBorder::bsNone, 0), 61, 40);
    QVERIFY(isFore(up, 30, 20));
    QCOMPARE(left.pixel(30, 20), rgbOf(kFuchsia));
    QCOMPARE(up.pixel(0, 0), kFace.rgb());
}

void GaugeTest::tinySizes() {
    // Degenerate rectangles (a ring with nothing inside, one-pixel pies) paint without fault.
    for (int kind = 0; kind <= int(GaugeKind::gkNeedle); ++kind) {
        for (const auto border : {GaugeBorder::bsNone, GaugeBorder::bsSingle}) {
            for (const int size : {0, 1, 2, 3}) {
                for (const int percent : {0, 1, 50, 100}) {
                    const QImage img =
                        render(look(GaugeKind(kind), border, percent, true), size, size);
                    QCOMPARE(img.width(), size);
                    if (size > 0 && border == GaugeBorder::bsSingle) {
                        QVERIFY(ringIsBlack(img));
                    }
                }
            }
        }
    }
}

void GaugeTest::writeRules_data() {
    // A script of writes on a visible gauge: "n" MinValue, "x" MaxValue, "p" Progress,
    // "k" Kind, "t" ShowText, "b" BorderStyle, "f" ForeColor, "g" BackColor.
    QTest::addColumn<QString>("ops");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("paints");
    QTest::newRow("equal writes") << QStringLiteral("n0 x100 p0 k1 t1 b1 f0 g16777215") << 0 << 0;
    QTest::newRow("different writes") << QStringLiteral("k3 t0 b0 f255 g0") << 0 << 5;
    QTest::newRow("same percentage") << QStringLiteral("x1000 p500 p505 p509") << 509 << 2;
    QTest::newRow("new percentage") << QStringLiteral("x1000 p500 p510") << 510 << 3;
    QTest::newRow("clamped above") << QStringLiteral("p150") << 100 << 1;
    QTest::newRow("clamped below, unchanged") << QStringLiteral("n10 p-5 p3") << 10 << 1;
    QTest::newRow("lowered maximum") << QStringLiteral("x1000 p500 x10") << 10 << 3;
    QTest::newRow("maximum equal to minimum") << QStringLiteral("p40 x0") << 0 << 2;
}

void GaugeTest::writeRules() {
    QFETCH(QString, ops);
    QWidget page;
    page.resize(200, 120);
    Gauge gauge(&page);
    gauge.resize(153, 12);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const int before = gauge.paintCount();
    for (const QString& op : ops.split(u' ')) {
        const int v = op.mid(1).toInt();
        switch (op[0].toLatin1()) {
            case 'n':
                gauge.setMinValue(v);
                break;
            case 'x':
                gauge.setMaxValue(v);
                break;
            case 'p':
                gauge.setProgress(v);
                break;
            case 'k':
                gauge.setKind(GaugeKind(v));
                break;
            case 't':
                gauge.setShowText(v != 0);
                break;
            case 'b':
                gauge.setBorderStyle(GaugeBorder(v));
                break;
            case 'f':
                gauge.setForeColor(std::uint32_t(v));
                break;
            case 'g':
                gauge.setBackColor(std::uint32_t(v));
                break;
        }
    }
    QTEST(gauge.progress(), "progress");
    QTEST(gauge.paintCount() - before, "paints");  // counted before any event is processed
}

void GaugeTest::crossingWritesFail_data() {
    QTest::addColumn<bool>("writeMin");
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("min above max")
        << true << 0 << 100 << 101 << QStringLiteral("Value must be between -2147483647 and 99");
    QTest::newRow("max below min")
        << false << 0 << 100 << -1 << QStringLiteral("Value must be between 1 and 2147483647");
    QTest::newRow("negative min") << false << -50 << 100 << -51
                                  << QStringLiteral("Value must be between -49 and 2147483647");
    QTest::newRow("max at limit") << true << -kMax - 1 << -kMax - 1 << 0
                                  << QStringLiteral(
                                         "Value must be between -2147483647 and -2147483649");
}

void GaugeTest::crossingWritesFail() {
    QFETCH(bool, writeMin);
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, value);
    QFETCH(QString, message);
    QWidget page;
    Gauge gauge(&page);
    gauge.setMinValue(minValue);
    gauge.setMaxValue(maxValue);
    gauge.setProgress(maxValue);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const int paints = gauge.paintCount();
    try {
        writeMin ? gauge.setMinValue(value) : gauge.setMaxValue(value);
        QFAIL("no error");
    } catch (const InvalidOperation& e) {
        QCOMPARE(QString::fromUtf8(e.what()), message);
    }
    QCOMPARE(gauge.minValue(), minValue);
    QCOMPARE(gauge.maxValue(), maxValue);
    QCOMPARE(gauge.progress(), maxValue);
    QCOMPARE(gauge.paintCount(), paints);
}

void GaugeTest::hiddenGaugePaintsWhenShown() {
    QWidget page;
    Gauge gauge(&page);
    gauge.setProgress(40);
    gauge.setKind(GaugeKind::gkPie);
    QCOMPARE(gauge.paintCount(), 0);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTRY_VERIFY(gauge.paintCount() > 0);
}

void GaugeTest::widgetPaintsItsPicture() {
    // The gauge shows renderGauge's picture with its parent's colour and font.
    QWidget page;
    QPalette pal = page.palette();
    pal.setColor(QPalette::Window, kFace);
    page.setPalette(pal);
    page.setFont(programFont());
    Gauge gauge(&page);
    QCOMPARE(gauge.size(), QSize(100, 100));
    gauge.resize(145, 97);
    gauge.setKind(GaugeKind::gkPie);
    gauge.setBorderStyle(GaugeBorder::bsNone);
    gauge.setForeColor(kBlue);
    gauge.setBackColor(kFuchsia);
    gauge.setMaxValue(400);
    gauge.setProgress(100);
    const QImage shown = gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
    GaugeLook expected = look(GaugeKind::gkPie, GaugeBorder::bsNone, 100, true);
    expected.maxValue = 400;
    QCOMPARE(shown, renderGauge(expected, 145, 97, kFace, programFont()));
}

QTEST_MAIN(GaugeTest)
#include "gauge_test.moc"
