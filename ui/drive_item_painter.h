#pragma once
// Drawing of one drive selector item: background, icon, text and focus rectangle.
#include <QPalette>
#include <QPixmap>
#include <QRect>
#include <QString>

class QPainter;

namespace koravex {

// Gap between the icon's right edge and the text.
inline constexpr int kDriveItemTextGap = 6;
// Left margin of the icon inside the item.
inline constexpr int kDriveItemIconLeft = 2;
// Height of the selector's bitmaps; an item is never lower than this.
inline constexpr int kDriveItemIconHeight = 11;

// The bitmap with every pixel of its bottom-left pixel's colour made transparent.
QPixmap keyedFromBottomLeft(const QPixmap& bitmap);

struct DriveItemState {
    bool selected = false;
    bool focused = false;
};

// Paints one item into rect with painter's font: the background (the highlight colour when
// selected, else the base colour), the icon (already keyed) 2 px from the left edge and
// vertically centred, the text on one line from left + icon width + 6, shown literally
// (an ampersand stays an ampersand), and a dotted focus rectangle over the whole item.
void paintDriveItem(QPainter& painter, const QRect& rect, const QPixmap& icon, const QString& text,
                    const QPalette& palette, DriveItemState state);

}  // namespace koravex
