#pragma once
// The interface table's cells as QStyledItemDelegate paints them, to the pixel, at a fraction
// of the cost: a refresh rewrites a few counters, and the stock path lays each changed text
// out three times (its size, its elision, its drawing) through the style. Here a plain cell
// (one line of left-to-right text, unselected, without focus, icon or tick, on a screen of one
// device pixel per pixel) is laid out once per text (twice when it is elided) and drawn from
// its glyphs; a text that fits and differs from the cell's last one in digits only, in a font
// whose digits have one advance and no kerning, takes the new digits' glyphs in the old places
// without any layout. Every other cell is painted by QStyledItemDelegate itself.
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QStyledItemDelegate>

namespace koravex {

class TrafficCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Cells painted from kept glyphs, laid out afresh, and left to the stock path (for tests
    // and benchmarks).
    struct Counts {
        int kept = 0;
        int swapped = 0;
        int laidOut = 0;
        int stock = 0;
    };
    const Counts& counts() const { return counts_; }

  private:
    struct Cell {
        QString text;
        QRect rect;
        QFont font;
        QList<QGlyphRun> runs;  // in the view's coordinates
        QList<quint32> digits;  // the glyphs of 0 to 9 in the run's font; empty: no swapping
    };
    bool layOut(Cell& cell, const QStyleOptionViewItem& option) const;
    bool swapDigits(Cell& cell, const QString& text) const;

    mutable QHash<quint64, Cell> cells_;
    mutable Counts counts_;
};

}  // namespace koravex
