#include "ui/app_icons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <array>
#include <map>

// The selector's small bitmaps are kept as XPM sources, which are C arrays.
#include "resources/icons/cdrom.xpm"
#include "resources/icons/floppy.xpm"
#include "resources/icons/hard.xpm"
#include "resources/icons/network.xpm"
#include "resources/icons/ram.xpm"

namespace koravex {

namespace {

// The application icon is drawn on a 100 x 100 grid and scaled; pen widths get a floor of one
// device pixel so that the small sizes keep their outlines.
void drawGaugeMotif(QPainter& p, int size) {
    const qreal scale = size / 100.0;
    p.scale(scale, scale);
    const auto minPen = [scale](qreal w) { return std::max(w, 1.0 / scale); };

    // Body: a rounded dark-blue panel.
    QLinearGradient body(0, 0, 0, 100);
    body.setColorAt(0.0, QColor(0x3a, 0x6e, 0xb4));
    body.setColorAt(1.0, QColor(0x14, 0x2c, 0x55));
    const qreal edge = minPen(3);
    p.setPen(QPen(QColor(0x0b, 0x1a, 0x33), edge));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(edge / 2, edge / 2, 100 - edge, 100 - edge), 16, 16);

    // Dial: three coloured bands on the upper half circle, green to red.
    const QPointF centre(50, 62);
    const qreal radius = 33;
    const QRectF arcRect(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    const qreal band = size < 24 ? 16 : 12;
    struct Segment {
        int start;  // degrees, counter-clockwise from three o'clock
        QColor colour;
    };
    const std::array<Segment, 3> segments{{
        {120, QColor(0x3c, 0xd0, 0x4a)},
        {60, QColor(0xf5, 0xd0, 0x2a)},
        {0, QColor(0xe8, 0x3a, 0x2c)},
    }};
    for (const Segment& s : segments) {
        QPen pen(s.colour, band, Qt::SolidLine, Qt::FlatCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(arcRect, s.start * 16, 60 * 16);
    }

    // Scale ticks at the larger sizes only; below 48 pixels they are noise.
    if (size >= 48) {
        p.setPen(QPen(QColor(0xff, 0xff, 0xff, 200), minPen(2), Qt::SolidLine, Qt::FlatCap));
        for (int deg = 0; deg <= 180; deg += 30) {
            QLineF tick = QLineF::fromPolar(radius - band / 2 - 2, deg).translated(centre);
            QLineF inner = QLineF::fromPolar(radius - band / 2 - 8, deg).translated(centre);
            p.drawLine(inner.p2(), tick.p2());
        }
    }

    // Needle pointing into the yellow band, with its hub.
    const QLineF needle = QLineF::fromPolar(radius + 2, 62).translated(centre);
    p.setPen(QPen(Qt::white, size < 24 ? 9 : 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, needle.p2());
    // The hub: outlined where there is room, a plain white dot at the smallest sizes.
    if (size < 24) {
        p.setPen(Qt::NoPen);
    } else {
        p.setPen(QPen(QColor(0x0b, 0x1a, 0x33), minPen(2)));
    }
    p.setBrush(Qt::white);
    const qreal hub = size < 24 ? 9 : 8;
    p.drawEllipse(centre, hub, hub);

    // Three small level bars under the dial: memory, disk, network.
    if (size >= 22) {
        p.setPen(Qt::NoPen);
        const std::array<std::pair<qreal, QColor>, 3> bars{{
            {0.75, QColor(0x8f, 0xd8, 0xff)},
            {0.45, QColor(0x8f, 0xd8, 0xff)},
            {0.9, QColor(0x8f, 0xd8, 0xff)},
        }};
        for (std::size_t i = 0; i < bars.size(); ++i) {
            const qreal left = 20 + static_cast<qreal>(i) * 22;
            p.setBrush(QColor(0x0b, 0x1a, 0x33));
            p.drawRect(QRectF(left, 76, 18, 12));
            p.setBrush(bars[i].second);
            p.drawRect(QRectF(left, 76, 18 * bars[i].first, 12));
        }
    }
}

// The 32 x 32 drive pictures are drawn pixel-aligned, without antialiasing, so that their
// edges stay crisp like a hand-made bitmap.
void drawRemovable(QPainter& p) {
    // A 3.5-inch diskette with its cut corner, shutter and label.
    QPolygon outline;
    outline << QPoint(4, 3) << QPoint(25, 3) << QPoint(28, 6) << QPoint(28, 28) << QPoint(4, 28);
    p.setPen(Qt::black);
    p.setBrush(QColor(0x20, 0x30, 0x90));
    p.drawPolygon(outline);
    p.setBrush(QColor(0xc0, 0xc0, 0xc0));
    p.drawRect(9, 3, 13, 9);  // shutter
    p.setBrush(QColor(0x20, 0x30, 0x90));
    p.drawRect(17, 5, 3, 5);  // the shutter's window
    p.setBrush(Qt::white);
    p.drawRect(7, 15, 18, 13);  // label
    p.setPen(QColor(0x80, 0x80, 0x80));
    for (int y = 18; y <= 25; y += 3) {
        p.drawLine(9, y, 23, y);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x60, 0x70, 0xd0));
    p.drawRect(5, 4, 1, 10);  // light edge
}

void drawFixedBox(QPainter& p, int top) {
    // A disk box in perspective: top face, front face, a green activity light.
    QPolygon topFace;
    topFace << QPoint(7, top) << QPoint(29, top) << QPoint(25, top + 5) << QPoint(2, top + 5);
    p.setPen(Qt::black);
    p.setBrush(QColor(0xe8, 0xe8, 0xe8));
    p.drawPolygon(topFace);
    QPolygon side;
    side << QPoint(29, top) << QPoint(29, top + 10) << QPoint(25, top + 15) << QPoint(25, top + 5);
    p.setBrush(QColor(0x70, 0x70, 0x70));
    p.drawPolygon(side);
    p.setBrush(QColor(0xb0, 0xb0, 0xb0));
    p.drawRect(2, top + 5, 23, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x00, 0xd0, 0x00));
    p.drawRect(20, top + 11, 3, 2);
    p.setBrush(QColor(0x60, 0x60, 0x60));
    p.drawRect(5, top + 11, 10, 1);
}

void drawFixed(QPainter& p) {
    drawFixedBox(p, 9);
}

void drawCdRom(QPainter& p) {
    // A disc standing half out of a drive.
    p.setRenderHint(QPainter::Antialiasing, true);
    QRadialGradient sheen(QPointF(16, 12), 12);
    sheen.setColorAt(0.0, QColor(0xf0, 0xf0, 0xf0));
    sheen.setColorAt(0.5, QColor(0xb8, 0xe8, 0xf8));
    sheen.setColorAt(0.8, QColor(0xf8, 0xf0, 0xa0));
    sheen.setColorAt(1.0, QColor(0xc8, 0xc8, 0xd8));
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
    p.setBrush(sheen);
    p.drawEllipse(QPointF(16, 13), 11.5, 11.5);
    p.setBrush(QColor(0xd0, 0xd0, 0xd0));
    p.drawEllipse(QPointF(16, 13), 3.5, 3.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 13), 1.5, 1.5);
    p.setRenderHint(QPainter::Antialiasing, false);
    // The drive's front, over the lower part of the disc.
    p.setPen(Qt::black);
    p.setBrush(QColor(0xb0, 0xb0, 0xb0));
    p.drawRect(1, 19, 29, 9);
    p.setBrush(QColor(0x40, 0x40, 0x40));
    p.drawRect(5, 22, 16, 2);  // tray slot
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf0, 0xa0, 0x00));
    p.drawRect(24, 23, 3, 2);  // busy light
}

QImage transparentCanvas(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

}  // namespace

QImage drawApplicationIcon(int size) {
    size = std::max(size, 1);
    QImage image = transparentCanvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    drawGaugeMotif(p, size);
    return image;
}

namespace {

// Draws the application icon at the size it is asked for, when it is asked: a tray shows one
// small size, and drawing all of them at start would cost a few milliseconds for nothing.
class DrawnIconEngine : public QIconEngine {
  public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const int side = std::min(rect.width(), rect.height());
        if (side <= 0)
            return;
        const QPixmap drawn = pixmap(QSize(side, side), mode, state);
        painter->drawPixmap(rect.x() + (rect.width() - side) / 2,
                            rect.y() + (rect.height() - side) / 2, drawn);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::max(1, std::min(size.width(), size.height()));
        auto found = drawn_.find(side);
        if (found == drawn_.end())
            found = drawn_.emplace(side, QPixmap::fromImage(drawApplicationIcon(side))).first;
        return found->second;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::max(0, std::min(size.width(), size.height()));
        return {side, side};
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int side : kThemeSizes)
            sizes.append(QSize(side, side));
        return sizes;
    }
    QIconEngine* clone() const override { return new DrawnIconEngine(*this); }
    QString key() const override { return QStringLiteral("KoravexDrawnIcon"); }

  private:
    static constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
    std::map<int, QPixmap> drawn_;  // the sizes drawn so far
};

}  // namespace

QIcon applicationIcon() {
    return QIcon(new DrawnIconEngine);
}

QPixmap driveListImage(int index) {
    QImage image = transparentCanvas(32, 32);
    QPainter p(&image);
    switch (index) {
        case 0:
            drawRemovable(p);
            break;
        case 1:
            drawFixed(p);
            break;
        case 2:
            drawCdRom(p);
            break;
        default:
            // Out of range: an empty picture rather than a wrong one.
            break;
    }
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap selectorImage(DriveIcon icon) {
    const char* const* xpm = hard_xpm;
    switch (icon) {
        case DriveIcon::Floppy:
            xpm = floppy_xpm;
            break;
        case DriveIcon::Hard:
            xpm = hard_xpm;
            break;
        case DriveIcon::Network:
            xpm = network_xpm;
            break;
        case DriveIcon::CdRom:
            xpm = cdrom_xpm;
            break;
        case DriveIcon::Ram:
            xpm = ram_xpm;
            break;
    }
    return QPixmap(xpm);
}

}  // namespace koravex
