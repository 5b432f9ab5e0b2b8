// The gauges and the colour swatches on a screen with more device pixels than gauge pixels.
// Run with QT_SCALE_FACTOR=2 (the ctest entry sets it); the rendering checks take the ratio as
// an argument and hold on any screen.
#include <QBackingStore>
#include <QPainter>
#include <QtTest>

#include "ui/gauge.h"
#include "ui/paint_box.h"

using namespace koravex;

namespace {

constexpr std::uint32_t kBlue = 0xFF0000;
constexpr std::uint32_t kFuchsia = 0xFF00FF;
const QColor kFace(0xEF, 0xEF, 0xEF);

QFont programFont() {
    return QFont(QStringLiteral("MS Sans Serif"), 8);
}

GaugeLook look(GaugeKind kind, GaugeBorder border, std::int32_t progress, bool text) {
    GaugeLook l;
    l.kind = kind;
    l.border = border;
    l.progress = progress;
    l.showText = text;
    l.foreColor = kBlue;
    l.backColor = kFuchsia;
    return l;
}

QImage render(const GaugeLook& l, int w, int h, qreal ratio) {
    return renderGauge(l, w, h, kFace, programFont(), ratio);
}

// The 1x picture with every pixel made a 2x2 block: what a pixel-doubling screen shows.
QImage doubled(const QImage& img) {
    QImage out = img.scaled(img.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    out.setDevicePixelRatio(1);
    return out;
}

// 2x2 device blocks whose four pixels are not all the same colour.
int mixedBlocks(const QImage& img) {
    int mixed = 0;
    for (int y = 0; y + 1 < img.height(); y += 2)
        for (int x = 0; x + 1 < img.width(); x += 2) {
            const QRgb c = img.pixel(x, y);
            mixed += img.pixel(x + 1, y) != c || img.pixel(x, y + 1) != c ||
                     img.pixel(x + 1, y + 1) != c;
        }
    return mixed;
}

// The pixels where two pictures differ (the text's, when one is drawn with it and one not).
QRect differingPixels(const QImage& a, const QImage& b) {
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

class GaugeHiDpiTest : public QObject {
    Q_OBJECT
  private slots:
    void imageHasDevicePixels_data();
    void imageHasDevicePixels();
    void barsKeepTheirColumns_data();
    void barsKeepTheirColumns();
    void pieEdgesAtDeviceResolution_data();
    void pieEdgesAtDeviceResolution();
    void textAtDeviceResolution();
    void widgetShowsDevicePixels();
    void screenFollowsEveryWrite_data();
    void screenFollowsEveryWrite();
    void swatchFillsEveryDevicePixel();
};

void GaugeHiDpiTest::imageHasDevicePixels_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QSize>("pixels");
    QTest::newRow("1x") << 1.0 << QSize(153, 12);
    QTest::newRow("1.5x") << 1.5 << QSize(230, 18);
    QTest::newRow("2x") << 2.0 << QSize(306, 24);
    QTest::newRow("3x") << 3.0 << QSize(459, 36);
}

void GaugeHiDpiTest::imageHasDevicePixels() {
    QFETCH(qreal, ratio);
    QFETCH(QSize, pixels);
    const QImage img =
        render(look(GaugeKind::gkHorizontalBar, GaugeBorder::bsNone, 50, true), 153, 12, ratio);
    QCOMPARE(img.size(), pixels);
    QCOMPARE(img.devicePixelRatio(), ratio);
    QCOMPARE(img.deviceIndependentSize().toSize(), QSize(153, 12));
}

void GaugeHiDpiTest::barsKeepTheirColumns_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("border");
    QTest::addColumn<int>("percent");
    for (const int p : {0, 1, 50, 99, 100}) {
        QTest::addRow("bar, no border, %d%%", p)
            << int(GaugeKind::gkHorizontalBar) << int(GaugeBorder::bsNone) << p;
        QTest::addRow("bar, border, %d%%", p)
            << int(GaugeKind::gkHorizontalBar) << int(GaugeBorder::bsSingle) << p;
        QTest::addRow("vertical, border, %d%%", p)
            << int(GaugeKind::gkVerticalBar) << int(GaugeBorder::bsSingle) << p;
    }
}

void GaugeHiDpiTest::barsKeepTheirColumns() {
    // Bars are rectangles in gauge pixels: at 2x each one is exactly a 2x2 block of the 1x
    // picture, so fill width and border stay what they were.
    QFETCH(int, kind);
    QFETCH(int, border);
    QFETCH(int, percent);
    const GaugeLook l = look(GaugeKind(kind), GaugeBorder(border), percent, false);
    const QImage one = render(l, 153, 12, 1.0);
    QImage two = render(l, 153, 12, 2.0);
    two.setDevicePixelRatio(1);
    QCOMPARE(two, doubled(one));
}

void GaugeHiDpiTest::pieEdgesAtDeviceResolution_data() {
    QTest::addColumn<int>("border");
    QTest::addColumn<int>("percent");
    for (const int p : {0, 1, 25, 42, 50, 99, 100}) {
        QTest::addRow("no border, %d%%", p) << int(GaugeBorder::bsNone) << p;
        QTest::addRow("border, %d%%", p) << int(GaugeBorder::bsSingle) << p;
    }
}

void GaugeHiDpiTest::pieEdgesAtDeviceResolution() {
    QFETCH(int, border);
    QFETCH(int, percent);
    const GaugeLook l = look(GaugeKind::gkPie, GaugeBorder(border), percent, false);
    const QImage one = render(l, 145, 97, 1.0);
    QImage two = render(l, 145, 97, 2.0);
    two.setDevicePixelRatio(1);
    // The same picture: a 1x pixel well inside a region of one colour (its 5x5 neighbourhood
    // alike) is that colour in all its four device pixels at 2x. Only a wedge thinner than a
    // gauge pixel, which the finer grid resolves, may tell them apart.
    int checked = 0;
    int differ = 0;
    for (int y = 2; y + 2 < one.height(); ++y)
        for (int x = 2; x + 2 < one.width(); ++x) {
            const QRgb c = one.pixel(x, y);
            bool interior = true;
            for (int dy = -2; dy <= 2 && interior; ++dy)
                for (int dx = -2; dx <= 2 && interior; ++dx)
                    interior = one.pixel(x + dx, y + dy) == c;
            if (!interior)
                continue;
            ++checked;
            for (int k = 0; k < 4; ++k)
                if (two.pixel(2 * x + k % 2, 2 * y + k / 2) != c) {
                    ++differ;
                    break;
                }
        }
    QVERIFY2(differ * 200 <= checked,
             qPrintable(QStringLiteral("%1 of %2").arg(differ).arg(checked)));
    QVERIFY(checked > 145 * 97 / 2);
    // Not the 1x picture blown up: the ellipse's outline and the wedge's edges fall between
    // gauge pixels (a doubled picture has no 2x2 block of two colours).
    QVERIFY2(mixedBlocks(two) >= 100, qPrintable(QString::number(mixedBlocks(two))));
    QVERIFY(two != doubled(one));
}

void GaugeHiDpiTest::textAtDeviceResolution() {
    // The percentage is drawn with the font at the screen's resolution, in the same place.
    QVERIFY(!QFontInfo(programFont()).family().isEmpty());
    const GaugeLook plain = look(GaugeKind::gkHorizontalBar, GaugeBorder::bsNone, 42, false);
    GaugeLook withText = plain;
    withText.showText = true;
    const QRect text1 =
        differingPixels(render(withText, 153, 30, 1.0), render(plain, 153, 30, 1.0));
    QImage two = render(withText, 153, 30, 2.0);
    QImage twoPlain = render(plain, 153, 30, 2.0);
    two.setDevicePixelRatio(1);
    twoPlain.setDevicePixelRatio(1);
    const QRect text2 = differingPixels(two, twoPlain);
    QVERIFY(!text1.isEmpty());
    QVERIFY(!text2.isEmpty());
    // Same place and size in gauge pixels (glyph hinting may move an edge by a pixel).
    const QPointF centre1 = QRectF(text1).center();
    const QPointF centre2 = QRectF(text2).center() / 2;
    QVERIFY2(qAbs(centre1.x() - centre2.x()) <= 1.5 && qAbs(centre1.y() - centre2.y()) <= 1.5,
             qPrintable(QStringLiteral("1x %1,%2  2x %3,%4")
                            .arg(centre1.x())
                            .arg(centre1.y())
                            .arg(centre2.x())
                            .arg(centre2.y())));
    QVERIFY2(qAbs(text2.width() - 2 * text1.width()) <= 4 &&
                 qAbs(text2.height() - 2 * text1.height()) <= 4,
             qPrintable(QStringLiteral("1x %1x%2  2x %3x%4")
                            .arg(text1.width())
                            .arg(text1.height())
                            .arg(text2.width())
                            .arg(text2.height())));
    // Glyph edges at device resolution: the strokes are not made of 2x2 blocks.
    QImage mask(two.size(), QImage::Format_RGB32);
    for (int y = 0; y < two.height(); ++y)
        for (int x = 0; x < two.width(); ++x)
            mask.setPixel(x, y, two.pixel(x, y) == twoPlain.pixel(x, y) ? 0 : 0xFFFFFF);
    QVERIFY2(mixedBlocks(mask) >= 10, qPrintable(QString::number(mixedBlocks(mask))));
    // Every text pixel is still the exact complement of the colour beneath it.
    for (int y = text2.top(); y <= text2.bottom(); ++y)
        for (int x = text2.left(); x <= text2.right(); ++x)
            if (two.pixel(x, y) != twoPlain.pixel(x, y))
                QCOMPARE(two.pixel(x, y) & 0xFFFFFF, ~twoPlain.pixel(x, y) & 0xFFFFFF);
}

void GaugeHiDpiTest::widgetShowsDevicePixels() {
    // On the screen of this run the gauge widget shows the picture at the screen's ratio.
    QWidget page;
    QPalette pal = page.palette();
    pal.setColor(QPalette::Window, kFace);
    page.setPalette(pal);
    page.setFont(programFont());
    Gauge gauge(&page);
    gauge.resize(145, 97);
    gauge.setKind(GaugeKind::gkPie);
    gauge.setBorderStyle(GaugeBorder::bsNone);
    gauge.setForeColor(kBlue);
    gauge.setBackColor(kFuchsia);
    gauge.setProgress(42);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const qreal ratio = gauge.devicePixelRatioF();
    QCOMPARE(ratio,
             qgetenv("QT_SCALE_FACTOR").isEmpty() ? 1.0 : qgetenv("QT_SCALE_FACTOR").toDouble());
    const QImage shown = gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(145, 97) * ratio);
    GaugeLook expected = look(GaugeKind::gkPie, GaugeBorder::bsNone, 42, true);
    QCOMPARE(shown, render(expected, 145, 97, ratio));
}

void GaugeHiDpiTest::screenFollowsEveryWrite_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("border");
    QTest::addColumn<QSize>("size");
    QTest::newRow("bar of the memory tab")
        << int(GaugeKind::gkHorizontalBar) << int(GaugeBorder::bsNone) << QSize(153, 12);
    QTest::newRow("pie of the drives tab")
        << int(GaugeKind::gkPie) << int(GaugeBorder::bsNone) << QSize(145, 97);
    QTest::newRow("vertical bar, framed")
        << int(GaugeKind::gkVerticalBar) << int(GaugeBorder::bsSingle) << QSize(24, 61);
    QTest::newRow("small pie, framed")
        << int(GaugeKind::gkPie) << int(GaugeBorder::bsSingle) << QSize(31, 20);
    QTest::newRow("needle") << int(GaugeKind::gkNeedle) << int(GaugeBorder::bsSingle)
                            << QSize(60, 40);
    QTest::newRow("text") << int(GaugeKind::gkText) << int(GaugeBorder::bsNone) << QSize(40, 16);
}

void GaugeHiDpiTest::screenFollowsEveryWrite() {
    // The gauge keeps its pictures and repaints only what a new percentage changes: after
    // every write, what the screen holds is the whole picture drawn afresh.
    QFETCH(int, kind);
    QFETCH(int, border);
    QFETCH(QSize, size);
    QWidget page;
    QPalette pal = page.palette();
    pal.setColor(QPalette::Window, kFace);
    page.setPalette(pal);
    page.setFont(programFont());
    page.resize(200, 120);
    Gauge gauge(&page);
    gauge.setGeometry(QRect(QPoint(3, 5), size));
    gauge.setKind(GaugeKind(kind));
    gauge.setBorderStyle(GaugeBorder(border));
    gauge.setForeColor(kBlue);
    gauge.setBackColor(kFuchsia);
    gauge.setMaxValue(1000);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    // Progress in tenths of a percent; "f", "g", "s", "t" and "w" change the fore colour, the
    // back colour, the size, the text and the surroundings, after which percentages seen
    // before come back. A sweep over more percentages than a gauge keeps comes last, then
    // percentages whose pictures it made the gauge give up.
    QString sweep;
    for (int v = 0; v <= 1000; v += 50)
        sweep += QString::number(v) + (v < 1000 ? QStringLiteral(" ") : QString());
    const QStringList writes = QStringLiteral(
                                   "420 1000 427 421 70 0 5 999 500 420 f 421 500 g 0 420 s 427 "
                                   "421 t 420 1000 t 999 w 420 7 421 "
                                   "%1 7 427 421 70 999")
                                   .arg(sweep)
                                   .split(u' ');
    for (const QString& write : writes) {
        if (write == u'f') {
            gauge.setForeColor(0x00C000);
        } else if (write == u'g') {
            gauge.setBackColor(0x0000C0);
        } else if (write == u's') {
            gauge.resize(size + QSize(3, 2));
        } else if (write == u't') {
            gauge.setShowText(!gauge.showText());
        } else if (write == u'w') {
            pal.setColor(QPalette::Window, QColor(0x80, 0x90, 0xA0));
            page.setPalette(pal);
        } else {
            gauge.setProgress(write.toInt());
        }
        QCoreApplication::processEvents();
        const qreal ratio = gauge.devicePixelRatioF();
        const QRect device(gauge.pos() * ratio, gauge.size() * ratio);
        // What the window's buffer holds, in device pixels (the offscreen screen's grabWindow
        // reads only its logical size).
        QPaintDevice* buffer = page.backingStore()->paintDevice();
        QCOMPARE(buffer->devType(), int(QInternal::Image));
        QImage shown =
            static_cast<QImage*>(buffer)->convertToFormat(QImage::Format_RGB32).copy(device);
        shown.setDevicePixelRatio(ratio);
        GaugeLook expected =
            look(GaugeKind(kind), GaugeBorder(border), gauge.progress(), gauge.showText());
        expected.maxValue = 1000;
        expected.foreColor = gauge.foreColor();
        expected.backColor = gauge.backColor();
        const QImage drawn = renderGauge(expected, gauge.width(), gauge.height(),
                                         pal.color(QPalette::Window), programFont(), ratio);
        QVERIFY2(shown == drawn, qPrintable(QStringLiteral("after %1").arg(write)));
    }
}

void GaugeHiDpiTest::swatchFillsEveryDevicePixel() {
    QWidget page;
    PaintBox box(&page);
    box.setGeometry(4, 4, 15, 15);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const qreal ratio = box.devicePixelRatioF();
    box.fillWith(QColor(0xFF, 0x00, 0x00));
    QCOMPARE(box.surface().size(), QSize(15, 15) * ratio);
    QCOMPARE(box.surface().devicePixelRatio(), ratio);
    const QImage shown = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(15, 15) * ratio);
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            QVERIFY2(shown.pixel(x, y) == qRgb(0xFF, 0, 0),
                     qPrintable(QStringLiteral("device pixel %1,%2").arg(x).arg(y)));
}

QTEST_MAIN(GaugeHiDpiTest)
#include "gauge_hidpi_test.moc"
