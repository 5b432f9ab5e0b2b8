// The drive selector: its letter, its items and how one item is drawn.
#include <QAbstractItemView>
#include <QApplication>
#include <QFontInfo>
#include <QPainter>
#include <QTest>

#include "tests/support/fake_probes.h"
#include "ui/drive_combo_box.h"
#include "ui/drive_item_painter.h"

using namespace koravex;

using DriveMap = std::map<std::string, FakeProbes::Drive, std::less<>>;
Q_DECLARE_METATYPE(DriveMap)

namespace {

FakeProbes::Drive drive(DriveType type, std::optional<std::string> label,
                        std::optional<std::string> remote = std::nullopt) {
    FakeProbes::Drive d;
    d.type = type;
    if (label) {
        d.volume = VolumeInfo{*label, 0x1234u, "ext4"};
    }
    d.remote = std::move(remote);
    return d;
}

QStringList itemTexts(const QComboBox& box) {
    QStringList texts;
    for (int i = 0; i < box.count(); ++i) {
        texts << box.itemText(i);
    }
    return texts;
}

// Bounding box of the pixels that differ from the background colour.
QRect inkBox(const QImage& image, QRgb background, int fromX = 0) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = fromX; x < image.width(); ++x) {
            if (image.pixel(x, y) != background) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

QPalette plainPalette() {
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

// A 16 x 11 red picture whose bottom-left pixel is blue: blue must come out transparent.
QPixmap probeIcon() {
    QImage image(16, 11, QImage::Format_RGB32);
    image.fill(Qt::red);
    image.setPixel(0, 10, qRgb(0, 0, 255));
    return QPixmap::fromImage(image);
}

QImage renderItem(const QSize& canvas, const QRect& rect, const QPixmap& icon, const QString& text,
                  DriveItemState state) {
    QImage image(canvas, QImage::Format_RGB32);
    image.fill(Qt::green);  // outside the item: must stay untouched
    QPainter painter(&image);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    painter.setFont(font);
    paintDriveItem(painter, rect, keyedFromBottomLeft(icon), text, plainPalette(), state);
    painter.end();
    return image;
}

}  // namespace

class DriveComboBoxTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QFont font(QStringLiteral("MS Sans Serif"));
        font.setPointSize(8);
        QApplication::setFont(font);
        QVERIFY2(!QFontInfo(font).family().isEmpty(), "no font installed: nothing is checkable");
    }

    void letterFollowsFirstShow_data() {
        QTest::addColumn<char>("start");
        QTest::addColumn<char>("afterShow");
        QTest::addColumn<QString>("selected");  // empty: no selection
        QTest::newRow("C drive") << 'C' << 'c' << QStringLiteral("c: [system]");
        QTest::newRow("removable E") << 'E' << 'e' << QStringLiteral("e:");
        QTest::newRow("network path, no drive") << '\0' << '\0' << QString();
        QTest::newRow("letter without a drive") << 'Z' << 'z' << QString();
    }
    void letterFollowsFirstShow() {
        QFETCH(char, start);
        QFETCH(char, afterShow);
        QFETCH(QString, selected);
        FakeProbes probes = FakeProbes::sample();
        probes.currentDrive = start;
        DriveComboBox box(probes);
        QCOMPARE(box.driveLetter(), start);
        QVERIFY(!box.isBuilt());
        QCOMPARE(box.count(), 0);
        box.show();
        QVERIFY(box.isBuilt());
        QCOMPARE(box.driveLetter(), afterShow);
        if (selected.isEmpty()) {
            QCOMPARE(box.currentIndex(), -1);
        } else {
            QCOMPARE(box.currentText(), selected);
        }
    }

    void itemsByDriveType_data() {
        QTest::addColumn<DriveMap>("drives");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<int>>("icons");
        using Drives = DriveMap;
        const int floppy = static_cast<int>(DriveIcon::Floppy);
        const int hard = static_cast<int>(DriveIcon::Hard);
        const int net = static_cast<int>(DriveIcon::Network);
        const int cd = static_cast<int>(DriveIcon::CdRom);
        const int ram = static_cast<int>(DriveIcon::Ram);
        QTest::newRow("every listed kind, in letter order")
            << Drives{{"R:\\", drive(DriveType::RamDisk, "RamDisk")},
                      {"A:\\", drive(DriveType::Removable, "FLOPPY")},
                      {"D:\\", drive(DriveType::CdRom, std::nullopt)},
                      {"C:\\", drive(DriveType::Fixed, "System")},
                      {"Z:\\", drive(DriveType::Remote, "share", "//Server/Public")}}
            << QStringList{QStringLiteral("a:"), QStringLiteral("c: [system]"),
                           QStringLiteral("d: []"), QStringLiteral("r: [ramdisk]"),
                           QStringLiteral("z: //server/public")}
            << QList<int>{floppy, hard, cd, ram, net};
        QTest::newRow("remote without a name falls back to the label")
            << Drives{{"N:\\", drive(DriveType::Remote, "Backup")}}
            << QStringList{QStringLiteral("n: [backup]")} << QList<int>{net};
        QTest::newRow("unknown and rootless drives are not listed")
            << Drives{{"C:\\", drive(DriveType::Fixed, "")},
                      {"F:\\", drive(DriveType::Unknown, "x")},
                      {"G:\\", drive(DriveType::NoRootDir, "y")}}
            << QStringList{QStringLiteral("c: []")} << QList<int>{hard};
        QTest::newRow("Cyrillic label in lower case, & kept")
            << Drives{{"C:\\", drive(DriveType::Fixed, "ДАННЫЕ & Co")}}
            << QStringList{QStringLiteral("c: [данные & co]")} << QList<int>{hard};
        QTest::newRow("no drives at all") << Drives{} << QStringList{} << QList<int>{};
    }
    void itemsByDriveType() {
        using Drives = DriveMap;
        QFETCH(Drives, drives);
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, icons);
        FakeProbes probes;
        probes.drives = drives;
        DriveComboBox box(probes);
        box.buildList();
        QCOMPARE(itemTexts(box), texts);
        QList<int> shown;
        for (int i = 0; i < box.count(); ++i) {
            shown << box.itemData(i, DriveComboBox::IconRole).toInt();
        }
        QCOMPARE(shown, icons);
    }

    void choosingAnItemSetsTheLetter() {
        FakeProbes probes = FakeProbes::sample();
        DriveComboBox box(probes);
        box.show();
        QCOMPARE(box.driveLetter(), 'c');
        box.setFocus();
        QTest::keyClick(&box, Qt::Key_Down);
        QCOMPARE(box.currentText(), QStringLiteral("d: []"));
        QCOMPARE(box.driveLetter(), 'd');
        box.setCurrentIndex(2);
        QCOMPARE(box.driveLetter(), 'e');
        box.setCurrentIndex(-1);  // losing the selection keeps the last letter
        QCOMPARE(box.driveLetter(), 'e');
    }

    void listIsNeverRebuilt() {
        FakeProbes probes = FakeProbes::sample();
        DriveComboBox box(probes);
        box.show();
        const QStringList first = itemTexts(box);
        probes.drives["F:\\"] = drive(DriveType::Fixed, "late");
        probes.drives.erase("D:\\");
        box.hide();
        box.show();
        box.buildList();
        QCOMPARE(itemTexts(box), first);
    }

    void itemHeightAndVisibleItems() {
        FakeProbes probes = FakeProbes::sample();
        DriveComboBox box(probes);
        box.show();
        const int lineHeight = QFontMetrics(box.font()).height();
        QCOMPARE(box.itemHeight(), std::max(lineHeight, 11));
        QCOMPARE(box.itemHeight(), 13);  // the window font: DejaVu Sans 8 pt at 96 dpi
        QCOMPARE(box.maxVisibleItems(), 8);
        QStyleOptionViewItem option;
        option.font = box.font();
        QCOMPARE(box.itemDelegate()->sizeHint(option, box.model()->index(0, 0)).height(), 13);

        QFont tiny = box.font();
        tiny.setPixelSize(6);
        box.setFont(tiny);
        QCOMPARE(box.itemHeight(), 11);  // never lower than the icons
    }

    // Where the icon's top goes: (item top + item bottom - icon height) div 2, bottom exclusive.
    void iconPlacement_data() {
        QTest::addColumn<QRect>("item");
        QTest::addColumn<int>("iconTop");
        QTest::newRow("13-pixel item at 0") << QRect(0, 0, 145, 13) << 1;
        QTest::newRow("13-pixel item at 13") << QRect(0, 13, 145, 13) << 14;
        QTest::newRow("odd room") << QRect(4, 3, 100, 16) << 5;
        QTest::newRow("item as high as the icon") << QRect(0, 26, 145, 11) << 26;
    }
    void iconPlacement() {
        QFETCH(QRect, item);
        QFETCH(int, iconTop);
        const QImage image =
            renderItem(QSize(160, 40), item, probeIcon(), QString(), DriveItemState{});
        const QRect red = inkBox(image.copy(item), qRgb(255, 255, 255));
        QCOMPARE(red.translated(item.topLeft()), QRect(item.left() + 2, iconTop, 16, 11));
        // The key colour (bottom-left) shows the background, the rest of that row is red.
        QCOMPARE(image.pixel(item.left() + 2, iconTop + 10), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(item.left() + 3, iconTop + 10), qRgb(255, 0, 0));
        // Nothing is painted outside the item.
        QCOMPARE(image.pixel(item.right() + 1, item.top()), qRgb(0, 255, 0));
        QCOMPARE(image.pixel(item.left(), item.top() + item.height()), qRgb(0, 255, 0));
    }

    void textPlacementAndColours_data() {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QRgb>("background");
        QTest::addColumn<QRgb>("ink");
        QTest::newRow("plain") << false << qRgb(255, 255, 255) << qRgb(0, 0, 0);
        QTest::newRow("selected") << true << qRgb(0, 0, 128) << qRgb(255, 255, 255);
    }
    void textPlacementAndColours() {
        QFETCH(bool, selected);
        QFETCH(QRgb, background);
        QFETCH(QRgb, ink);
        const QRect item(0, 0, 145, 13);
        const QImage image = renderItem(QSize(145, 13), item, QPixmap(), QStringLiteral("HHHH"),
                                        DriveItemState{selected, false});
        QCOMPARE(image.pixel(144, 0), background);
        // Without an icon the text starts at 6; with the 16-pixel icon at 22.
        const QRect bare = inkBox(image, background);
        QVERIFY2(bare.left() >= 6 && bare.left() <= 8, qPrintable(QString::number(bare.left())));
        const QImage withIcon = renderItem(QSize(145, 13), item, probeIcon(),
                                           QStringLiteral("HHHH"), DriveItemState{selected, false});
        const QRect text = inkBox(withIcon, background, 18);
        QVERIFY2(text.left() >= 22 && text.left() <= 24, qPrintable(QString::number(text.left())));
        // Vertically centred: the room above and below the capitals differs by at most 2.
        const int above = text.top();
        const int below = item.height() - 1 - text.bottom();
        QVERIFY2(std::abs(above - below) <= 2,
                 qPrintable(QStringLiteral("%1/%2").arg(above).arg(below)));
        // The stems of the H are drawn in the ink colour (antialiased: near it, not exact).
        const auto near = [](QRgb a, QRgb b) {
            return std::abs(qRed(a) - qRed(b)) < 90 && std::abs(qGreen(a) - qGreen(b)) < 90 &&
                   std::abs(qBlue(a) - qBlue(b)) < 90;
        };
        int inkPixels = 0;
        for (int y = text.top(); y <= text.bottom(); ++y) {
            for (int x = text.left(); x <= text.right(); ++x) {
                inkPixels += near(withIcon.pixel(x, y), ink) ? 1 : 0;
            }
        }
        QVERIFY2(inkPixels >= 16, qPrintable(QString::number(inkPixels)));
    }

    void ampersandIsDrawnLiterally() {
        const QRect item(0, 0, 145, 13);
        const QRgb white = qRgb(255, 255, 255);
        const QRect plain =
            inkBox(renderItem(item.size(), item, QPixmap(), QStringLiteral("ab"), {}), white);
        const QRect amp =
            inkBox(renderItem(item.size(), item, QPixmap(), QStringLiteral("a&b"), {}), white);
        QFont font(QStringLiteral("MS Sans Serif"));
        font.setPointSize(8);
        const int ampWidth = QFontMetrics(font).horizontalAdvance(QLatin1Char('&'));
        QVERIFY(ampWidth > 3);
        QCOMPARE(amp.left(), plain.left());
        QVERIFY2(amp.right() - plain.right() >= ampWidth - 1,
                 qPrintable(QStringLiteral("%1 vs %2").arg(amp.right()).arg(plain.right())));
        // No mnemonic underline under the b either: the lowest ink row stays the same.
        QCOMPARE(amp.bottom(),
                 inkBox(renderItem(item.size(), item, QPixmap(), QStringLiteral("a&"), {}), white)
                     .bottom());
    }

    void focusRectangleIsDotted() {
        const QRect item(0, 0, 40, 13);
        const QImage plain = renderItem(item.size(), item, QPixmap(), QString(), {false, false});
        const QImage focused = renderItem(item.size(), item, QPixmap(), QString(), {false, true});
        int changed = 0;
        int kept = 0;
        for (int x = 0; x < item.width(); ++x) {
            (focused.pixel(x, 0) != plain.pixel(x, 0) ? changed : kept)++;
            (focused.pixel(x, 12) != plain.pixel(x, 12) ? changed : kept)++;
        }
        for (int y = 1; y < 12; ++y) {
            (focused.pixel(0, y) != plain.pixel(0, y) ? changed : kept)++;
            (focused.pixel(39, y) != plain.pixel(39, y) ? changed : kept)++;
        }
        // Every other pixel of the outline, nothing inside.
        QVERIFY2(std::abs(changed - kept) <= 2,
                 qPrintable(QStringLiteral("%1/%2").arg(changed).arg(kept)));
        QCOMPARE(focused.pixel(0, 0), qRgb(0, 0, 0));  // white background inverted
        QCOMPARE(focused.pixel(1, 0), qRgb(255, 255, 255));
        QCOMPARE(focused.copy(1, 1, 38, 11), plain.copy(1, 1, 38, 11));
    }

    // The open list draws every item with the selector's own painter.
    void openListShowsIconsAndTexts() {
        FakeProbes probes = FakeProbes::sample();
        DriveComboBox box(probes);
        box.resize(145, 19);
        box.show();
        box.showPopup();
        QAbstractItemView* view = box.view();
        QTRY_VERIFY(view->isVisible());
        const QRect second = view->visualRect(box.model()->index(1, 0));
        QCOMPARE(second.height(), 13);
        const QImage shot =
            view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (const QByteArray dir = qgetenv("KORAVEX_RENDER_DIR"); !dir.isEmpty()) {
            box.view()->window()->grab().save(QString::fromLocal8Bit(dir) +
                                              QStringLiteral("/selector_open.png"));
        }
        // The CD-ROM item's icon: black outline pixel at its top row, key colour gone.
        const int iconTop = (second.top() + second.top() + second.height() - 11) / 2;
        QCOMPARE(shot.pixel(second.left() + 2 + 5, iconTop), qRgb(0, 0, 0));
        QVERIFY(shot.pixel(second.left() + 2, iconTop) != qRgb(255, 0, 255));
        box.hidePopup();
    }

    void openListShowsEightRowsAtMost_data() {
        QTest::addColumn<int>("drives");
        QTest::addColumn<int>("rows");
        QTest::newRow("three") << 3 << 3;
        QTest::newRow("eight") << 8 << 8;
        QTest::newRow("twelve") << 12 << 8;
    }
    void openListShowsEightRowsAtMost() {
        QFETCH(int, drives);
        QFETCH(int, rows);
        FakeProbes probes;
        for (int i = 0; i < drives; ++i) {
            probes.drives[std::string{static_cast<char>('C' + i), ':', '\\'}] =
                drive(DriveType::Fixed, "disk");
        }
        DriveComboBox box(probes);
        box.resize(145, 19);
        box.show();
        box.showPopup();
        QTRY_VERIFY(box.view()->isVisible());
        QCOMPARE(box.view()->viewport()->height(), rows * 13);
        // The list opens below the box (from its bottom row on), not over it.
        const int popupTop = box.view()->window()->geometry().top();
        const int boxTop = box.mapToGlobal(QPoint(0, 0)).y();
        QVERIFY2(popupTop >= boxTop + 18,
                 qPrintable(QStringLiteral("%1 %2").arg(popupTop).arg(boxTop)));
        box.hidePopup();
    }
};

QTEST_MAIN(DriveComboBoxTest)
#include "drive_combo_box_test.moc"
