// The Windows icon file of the executable, read back both by hand and by Qt's own ICO reader:
// the directory, each image's header and size, the 256-colour image's palette and mask
// against the drawing, and the icon tool's --ico output.
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>

#include "tools/make_icons/ico_file.h"
#include "ui/app_icons.h"

using namespace koravex;

namespace {

std::uint32_t le(const QByteArray& bytes, qsizetype at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes.at(at + i));
    }
    return value;
}

struct DirEntry {
    int size;  // 256 where the directory says 0
    int bits;
    std::uint32_t bytes;
    std::uint32_t offset;
};

std::vector<DirEntry> directory(const QByteArray& file) {
    std::vector<DirEntry> entries;
    if (file.size() < 6 || le(file, 0, 2) != 0 || le(file, 2, 2) != 1) {
        return entries;
    }
    const int count = static_cast<int>(le(file, 4, 2));
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= file.size(); ++i) {
        const qsizetype at = 6 + 16 * i;
        const int size = static_cast<std::uint8_t>(file.at(at));
        entries.push_back({size == 0 ? 256 : size, static_cast<int>(le(file, at + 6, 2)),
                           le(file, at + 8, 4), le(file, at + 12, 4)});
    }
    return entries;
}

// The 8-bit image decoded by hand: colour from the palette, alpha 0 where the mask is set.
QImage decodeIndexed(const QByteArray& file, const DirEntry& e) {
    const qsizetype base = e.offset;
    const int n = e.size;
    const qsizetype palette = base + 40;
    const qsizetype pixels = palette + 256 * 4;
    const int xorStride = ((n * 8 + 31) / 32) * 4;
    const qsizetype mask = pixels + xorStride * n;
    const int andStride = ((n + 31) / 32) * 4;
    QImage out(n, n, QImage::Format_ARGB32);
    for (int y = 0; y < n; ++y) {
        const int row = n - 1 - y;  // bottom row first
        for (int x = 0; x < n; ++x) {
            const int index = static_cast<std::uint8_t>(file.at(pixels + row * xorStride + x));
            const qsizetype c = palette + 4 * index;
            const bool clear = (static_cast<std::uint8_t>(file.at(mask + row * andStride + x / 8)) &
                                (0x80 >> (x % 8))) != 0;
            out.setPixel(x, y,
                         qRgba(static_cast<std::uint8_t>(file.at(c + 2)),
                               static_cast<std::uint8_t>(file.at(c + 1)),
                               static_cast<std::uint8_t>(file.at(c)), clear ? 0 : 255));
        }
    }
    return out;
}

QByteArray toolIco(const QString& dir) {
    const QString path = dir + QStringLiteral("/koravex.ico");
    QProcess tool;
    tool.start(QStringLiteral(KORAVEX_MAKE_ICONS), {QStringLiteral("--ico"), path});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0) {
        return {};
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class IcoFileTest : public QObject {
    Q_OBJECT
  private slots:
    void toolWritesTheSizesAndDepths();
    void imagesAreWhereTheDirectorySays();
    void indexedImageFollowsTheDrawing();
    void qtReadsEveryImage();
    void rejectsImagesWithoutAnIconShape_data();
    void rejectsImagesWithoutAnIconShape();

  private:
    QByteArray ico();
    QTemporaryDir dir_;
    QByteArray ico_;
};

QByteArray IcoFileTest::ico() {
    if (ico_.isEmpty()) {
        ico_ = toolIco(dir_.path());
    }
    return ico_;
}

void IcoFileTest::toolWritesTheSizesAndDepths() {
    const std::vector<DirEntry> entries = directory(ico());
    const std::vector<std::pair<int, int>> expected{
        {16, 32}, {32, 8}, {32, 32}, {48, 32}, {256, 32}};
    QCOMPARE(entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(entries[i].size, expected[i].first);
        QCOMPARE(entries[i].bits, expected[i].second);
    }
}

void IcoFileTest::imagesAreWhereTheDirectorySays() {
    const QByteArray file = ico();
    const std::vector<DirEntry> entries = directory(file);
    QVERIFY(!entries.empty());
    std::uint32_t next = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const DirEntry& e : entries) {
        QCOMPARE(e.offset, next);  // packed in order, none overlapping
        QVERIFY(e.offset + e.bytes <= static_cast<std::uint32_t>(file.size()));
        next = e.offset + e.bytes;
        if (e.size == 256) {
            QVERIFY(file.mid(e.offset, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8));
            continue;
        }
        QCOMPARE(le(file, e.offset, 4), 40u);  // header size
        QCOMPARE(le(file, e.offset + 4, 4), static_cast<std::uint32_t>(e.size));
        QCOMPARE(le(file, e.offset + 8, 4), static_cast<std::uint32_t>(2 * e.size));
        QCOMPARE(le(file, e.offset + 14, 2), static_cast<std::uint32_t>(e.bits));
        const std::uint32_t palette = e.bits == 8 ? 1024 : 0;
        const auto rows = static_cast<std::uint32_t>(((e.size * e.bits + 31) / 32) * 4);
        const auto maskRows = static_cast<std::uint32_t>(((e.size + 31) / 32) * 4);
        QCOMPARE(e.bytes, 40 + palette + (rows + maskRows) * static_cast<std::uint32_t>(e.size));
    }
    QCOMPARE(next, static_cast<std::uint32_t>(file.size()));
}

void IcoFileTest::indexedImageFollowsTheDrawing() {
    const QByteArray file = ico();
    const std::vector<DirEntry> entries = directory(file);
    QVERIFY(entries.size() > 1 && entries[1].bits == 8);
    const QImage decoded = decodeIndexed(file, entries[1]);
    const QImage drawn = drawApplicationIcon(32).convertToFormat(QImage::Format_ARGB32);
    int worst = 0;
    int opaque = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const QRgb want = drawn.pixel(x, y);
            const QRgb got = decoded.pixel(x, y);
            QCOMPARE(qAlpha(got) == 0, qAlpha(want) < 128);
            if (qAlpha(want) >= 128) {
                ++opaque;
                worst = std::max({worst, std::abs(qRed(got) - qRed(want)),
                                  std::abs(qGreen(got) - qGreen(want)),
                                  std::abs(qBlue(got) - qBlue(want))});
            }
        }
    }
    QVERIFY(opaque > 32 * 32 / 2);
    // A palette made from the picture's own colours keeps every pixel close to the drawing.
    QVERIFY2(worst <= 40, qPrintable(QStringLiteral("worst channel error %1").arg(worst)));
}

void IcoFileTest::qtReadsEveryImage() {
    QByteArray file = ico();
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    if (!reader.canRead()) {
        QSKIP("Qt's ICO image plugin is not installed");
    }
    const std::vector<DirEntry> entries = directory(file);
    QCOMPARE(reader.imageCount(), static_cast<int>(entries.size()));
    const QImage indexed = decodeIndexed(file, entries[1]);
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), entries[i].size);
        QCOMPARE(image.height(), entries[i].size);
        if (i == 1) {
            QCOMPARE(image.convertToFormat(QImage::Format_ARGB32), indexed);
        }
    }
}

void IcoFileTest::rejectsImagesWithoutAnIconShape_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("not square") << QSize(32, 16);
    QTest::newRow("too large") << QSize(512, 512);
    QTest::newRow("empty") << QSize(0, 0);
}

void IcoFileTest::rejectsImagesWithoutAnIconShape() {
    QFETCH(QSize, size);
    QImage image;
    if (!size.isEmpty()) {
        image = QImage(size, QImage::Format_ARGB32);
        image.fill(Qt::red);
    }
    QVERIFY(encodeIco({{drawApplicationIcon(16), IcoFormat::Argb32}, {image, IcoFormat::Png}})
                .isEmpty());
}

QTEST_MAIN(IcoFileTest)
#include "ico_file_test.moc"
