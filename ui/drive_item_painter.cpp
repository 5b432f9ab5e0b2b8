#include "ui/drive_item_painter.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>
#include <QPolygon>

namespace koravex {

QPixmap keyedFromBottomLeft(const QPixmap& bitmap) {
    if (bitmap.isNull()) {
        return bitmap;
    }
    QImage image = bitmap.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == key) {
                line[x] = qRgba(0, 0, 0, 0);
            }
        }
    }
    return QPixmap::fromImage(image);
}

namespace {

// Every other pixel of the rectangle's outline, inverted, as the classic focus rectangle.
void drawDottedFocusRect(QPainter& painter, const QRect& rect) {
    if (rect.width() <= 0 || rect.height() <= 0) {
        return;
    }
    QPolygon dots;
    const auto add = [&dots](int x, int y) {
        if (((x + y) & 1) == 0) {
            dots << QPoint(x, y);
        }
    };
    const int left = rect.left();
    const int right = rect.right();
    const int top = rect.top();
    const int bottom = rect.bottom();
    for (int x = left; x <= right; ++x) {
        add(x, top);
        if (bottom != top) {
            add(x, bottom);
        }
    }
    for (int y = top + 1; y < bottom; ++y) {
        add(left, y);
        if (right != left) {
            add(right, y);
        }
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 0));
    painter.drawPoints(dots);
    painter.restore();
}

}  // namespace

void paintDriveItem(QPainter& painter, const QRect& rect, const QPixmap& icon, const QString& text,
                    const QPalette& palette, DriveItemState state) {
    painter.save();
    painter.setClipRect(rect);
    const QColor background =
        state.selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base);
    const QColor foreground =
        state.selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text);
    painter.fillRect(rect, background);

    // Top and bottom as the platform-neutral half-open range [top, top + height).
    const int top = rect.top();
    const int bottomExclusive = rect.top() + rect.height();
    int textLeft = rect.left() + kDriveItemTextGap;
    if (!icon.isNull()) {
        const int iconHeight = icon.height();
        const int iconTop = (top + bottomExclusive - iconHeight) / 2;
        painter.drawPixmap(rect.left() + kDriveItemIconLeft, iconTop, icon);
        textLeft = rect.left() + icon.width() + kDriveItemTextGap;
    }

    QRect textRect(QPoint(textLeft, top), QPoint(rect.right(), rect.bottom()));
    painter.setPen(foreground);
    // No Qt::TextShowMnemonic: "&" is drawn as it is.
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.restore();

    if (state.focused) {
        drawDottedFocusRect(painter, rect);
    }
}

}  // namespace koravex
