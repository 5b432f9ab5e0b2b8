// The program's pictures: sizes, palettes, transparency, and the icon writer tool.
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include "ui/app_icons.h"
#include "ui/drive_item_painter.h"

using namespace koravex;

namespace {

int opaquePixels(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) == 255 ? 1 : 0;
        }
    }
    return count;
}

// Whether some opaque pixel has roughly this hue family.
bool hasColour(const QImage& source, bool (*match)(const QColor&)) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            if (c.alpha() == 255 && match(c)) {
                return true;
            }
        }
    }
    return false;
}

bool isGreen(const QColor& c) {
    return c.green() > 150 && c.red() < 120 && c.blue() < 120;
}
bool isYellow(const QColor& c) {
    return c.red() > 200 && c.green() > 160 && c.blue() < 100;
}
bool isRed(const QColor& c) {
    return c.red() > 180 && c.green() < 100 && c.blue() < 100;
}
bool isWhite(const QColor& c) {
    return c.red() > 230 && c.green() > 230 && c.blue() > 230;
}

const DriveIcon kSelectorIcons[] = {DriveIcon::Floppy, DriveIcon::Hard, DriveIcon::Network,
                                    DriveIcon::CdRom, DriveIcon::Ram};

}  // namespace

class AppIconsTest : public QObject {
    Q_OBJECT
  private slots:
    void applicationIconAtEverySize_data() {
        QTest::addColumn<int>("size");
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QTest::newRow(qPrintable(QString::number(size))) << size;
        }
    }
    void applicationIconAtEverySize() {
        QFETCH(int, size);
        const QImage icon = drawApplicationIcon(size);
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        // Rounded corners are see-through; the middle is solid.
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(icon.pixel(size - 1, size - 1)), 0);
        QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);
        QVERIFY(opaquePixels(icon) > size * size * 3 / 4);
        // The dial's three bands and the white needle survive even at 16 pixels.
        QVERIFY(hasColour(icon, isGreen));
        QVERIFY(hasColour(icon, isYellow));
        QVERIFY(hasColour(icon, isRed));
        QVERIFY(hasColour(icon, isWhite));
    }

    void applicationIconBadSizes() {
        QCOMPARE(drawApplicationIcon(0).size(), QSize(1, 1));
        QCOMPARE(drawApplicationIcon(-5).size(), QSize(1, 1));
    }

    void applicationIconOffersTheThemeSizes() {
        const QList<QSize> sizes = applicationIcon().availableSizes();
        for (int size : {16, 22, 32, 48, 256}) {
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        }
    }

    // The icon is drawn at the size asked for, the same picture as drawn directly, and kept
    // once drawn; a copy of the icon (as the tray keeps one) draws the same.
    void applicationIconDrawnOnDemand_data() {
        QTest::addColumn<int>("size");
        for (int size : {16, 22, 24, 37, 256})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }
    void applicationIconDrawnOnDemand() {
        QFETCH(int, size);
        const QIcon icon = applicationIcon();
        const QPixmap first = icon.pixmap(QSize(size, size));
        QCOMPARE(first.size(), QSize(size, size));
        QCOMPARE(first.toImage().convertToFormat(QImage::Format_ARGB32),
                 drawApplicationIcon(size).convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(icon.pixmap(QSize(size, size)).cacheKey(), first.cacheKey());
        const QIcon copy = icon;  // NOLINT(performance-unnecessary-copy-initialization)
        QCOMPARE(copy.pixmap(QSize(size, size)).toImage(), first.toImage());
        // Painted into a wider place, it stays square and centred.
        QImage canvas(size + 10, size, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        icon.paint(&p, canvas.rect());
        p.end();
        QCOMPARE(qAlpha(canvas.pixel(2, size / 2)), 0);
        QCOMPARE(canvas.pixel(5 + size / 2, size / 2), first.toImage().pixel(size / 2, size / 2));
        QVERIFY(!icon.isNull());
    }

    // 16 x 11, only the 16 classic colours, the key colour in the bottom-left corner, and a
    // picture that differs from the other four.
    void selectorImages() {
        QSet<QRgb> vga;  // the eight dark and eight bright colours, silver among them
        for (int r : {0, 1}) {
            for (int g : {0, 1}) {
                for (int b : {0, 1}) {
                    vga.insert(qRgb(r * 128, g * 128, b * 128));
                    vga.insert(qRgb(r * 255, g * 255, b * 255));
                }
            }
        }
        vga.insert(qRgb(192, 192, 192));
        QCOMPARE(vga.size(), 16);
        QList<QImage> seen;
        for (DriveIcon kind : kSelectorIcons) {
            const QImage image =
                selectorImage(kind).toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(image.size(), QSize(16, 11));
            QSet<QRgb> colours;
            for (int y = 0; y < 11; ++y) {
                for (int x = 0; x < 16; ++x) {
                    colours.insert(image.pixel(x, y) | 0xff000000u);
                }
            }
            QVERIFY(colours.size() <= 16);
            for (QRgb c : colours) {
                QVERIFY2(vga.contains(c), qPrintable(QString::number(c, 16)));
            }
            const QImage keyed = keyedFromBottomLeft(selectorImage(kind)).toImage();
            QCOMPARE(qAlpha(keyed.pixel(0, 10)), 0);
            const int solid = opaquePixels(keyed);
            QVERIFY2(solid > 40 && solid < 16 * 11, qPrintable(QString::number(solid)));
            for (const QImage& other : seen) {
                QVERIFY(other != image);
            }
            seen << image;
        }
    }

    void keyingLeavesOtherColoursAlone() {
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(qRgb(10, 20, 30));
        image.setPixel(0, 2, qRgb(255, 0, 255));
        image.setPixel(3, 0, qRgb(255, 0, 255));
        const QImage keyed = keyedFromBottomLeft(QPixmap::fromImage(image)).toImage();
        QCOMPARE(qAlpha(keyed.pixel(0, 2)), 0);
        QCOMPARE(qAlpha(keyed.pixel(3, 0)), 0);  // same colour elsewhere: also transparent
        QCOMPARE(keyed.pixel(1, 1), qRgb(10, 20, 30));
        QVERIFY(keyedFromBottomLeft(QPixmap()).isNull());
    }

    void driveListImages() {
        QList<QImage> seen;
        for (int index = 0; index < 3; ++index) {
            const QImage image = driveListImage(index).toImage();
            QCOMPARE(image.size(), QSize(32, 32));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QVERIFY(opaquePixels(image) > 250);
            for (const QImage& other : seen) {
                QVERIFY(other != image);
            }
            seen << image;
        }
        // Outside the three kinds: an empty picture, never another kind's.
        for (int index : {-1, 3}) {
            const QImage image = driveListImage(index).toImage();
            QCOMPARE(image.size(), QSize(32, 32));
            QCOMPARE(opaquePixels(image), 0);
        }
    }

    void iconWriterTool_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no arguments") << QStringList{} << 2;
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--big")} << 2;
        QTest::newRow("size not a number")
            << QStringList{QStringLiteral("--png"), QStringLiteral("3x"), QStringLiteral("f.png")}
            << 2;
        QTest::newRow("size zero")
            << QStringList{QStringLiteral("--png"), QStringLiteral("0"), QStringLiteral("f.png")}
            << 2;
        QTest::newRow("size too big")
            << QStringList{QStringLiteral("--png"), QStringLiteral("4096"), QStringLiteral("f.png")}
            << 2;
        QTest::newRow("unwritable folder")
            << QStringList{QStringLiteral("/proc/koravex-icons")} << 1;
    }
    void iconWriterTool() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QProcess tool;
        tool.start(QStringLiteral(KORAVEX_MAKE_ICONS), arguments);
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), exitCode);
        QVERIFY(!tool.readAllStandardError().isEmpty());
    }

    void iconWriterWritesTheTheme() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess tool;
        tool.start(QStringLiteral(KORAVEX_MAKE_ICONS), {dir.path()});
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitCode(), 0);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString file = dir.filePath(QStringLiteral("%1x%1/apps/koravex.png").arg(size));
            QImage written(file);
            QVERIFY2(!written.isNull(), qPrintable(file));
            QCOMPARE(written.size(), QSize(size, size));
            QCOMPARE(written.convertToFormat(QImage::Format_ARGB32),
                     drawApplicationIcon(size).convertToFormat(QImage::Format_ARGB32));
        }
        const QString single = dir.filePath(QStringLiteral("one.png"));
        tool.start(QStringLiteral(KORAVEX_MAKE_ICONS),
                   {QStringLiteral("--png"), QStringLiteral("32"), single});
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(QImage(single).size(), QSize(32, 32));
    }
};

QTEST_MAIN(AppIconsTest)
#include "app_icons_test.moc"
