#include "ui/traffic_cell_delegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QtMath>

#include "ui/figure_label.h"

namespace koravex {

namespace {

// A cell the style would draw as one line of text and nothing else.
bool plainCell(const QStyleOptionViewItem& option, const QPainter* painter) {
    constexpr auto kOthers = QStyleOptionViewItem::WrapText |
                             QStyleOptionViewItem::HasCheckIndicator |
                             QStyleOptionViewItem::HasDecoration;
    constexpr auto kStates = QStyle::State_Selected | QStyle::State_HasFocus |
                             QStyle::State_MouseOver | QStyle::State_Editing;
    if ((option.features & kOthers) || (option.state & kStates) ||
        option.backgroundBrush.style() != Qt::NoBrush || option.direction != Qt::LeftToRight ||
        option.text.isEmpty() || painter->device() == nullptr ||
        painter->device()->devicePixelRatioF() != 1.0)
        return false;
    for (const QChar c : option.text)
        if (c.unicode() >= 0x0590 || c == QChar::LineSeparator || c == QLatin1Char('\n'))
            return false;  // right-to-left and complex scripts, several lines
    return true;
}

}  // namespace

void TrafficCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    if (!plainCell(opt, painter)) {
        ++counts_.stock;
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const quint64 key = (static_cast<quint64>(static_cast<quint32>(index.row())) << 32) |
                        static_cast<quint32>(index.column());
    Cell& cell = cells_[key];
    const bool samePlace = !cell.runs.isEmpty() && cell.rect == opt.rect && cell.font == opt.font;
    if (samePlace && cell.text == opt.text) {
        ++counts_.kept;
    } else if (samePlace && swapDigits(cell, opt.text)) {
        ++counts_.swapped;
    } else {
        cell.text = opt.text;
        cell.rect = opt.rect;
        cell.font = opt.font;
        if (!layOut(cell, opt)) {
            cell.runs.clear();
            ++counts_.stock;
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        ++counts_.laidOut;
    }
    // The pen and the clip the style's item drawing sets.
    QPalette::ColorGroup group =
        (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
        group = QPalette::Inactive;
    painter->save();
    painter->setClipRect(opt.rect);
    painter->setPen(opt.palette.color(group, QPalette::Text));
    for (const QGlyphRun& run : std::as_const(cell.runs))
        painter->drawGlyphRun(QPointF(0, 0), run);
    painter->restore();
}

bool TrafficCellDelegate::layOut(Cell& cell, const QStyleOptionViewItem& opt) const {
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(opt.direction);
    textOption.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
    QTextLayout layout(opt.text, opt.font);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return false;
    }
    line.setLineWidth(QWIDGETSIZE_MAX);
    const qreal natural = line.naturalTextWidth();
    const qreal height = line.height();
    // Where the style puts the text: the cell itself when the decoration is shown selected,
    // else the text's own size (its margins included) aligned in the cell; then the margins
    // taken off.
    QRect textRect = opt.rect;
    if (!opt.showDecorationSelected)
        textRect = QStyle::alignedRect(
            opt.direction, opt.displayAlignment,
            QSize(qCeil(natural) + 2 * margin, qCeil(height)).boundedTo(opt.rect.size()), opt.rect);
    textRect.adjust(margin, 0, -margin, 0);
    if (line.textLength() != opt.text.size()) {
        layout.endLayout();
        return false;  // more than one line: the style's own way
    }
    line.setLineWidth(textRect.width());
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    const QRect layoutRect = QStyle::alignedRect(Qt::LayoutDirectionAuto, opt.displayAlignment,
                                                 layout.boundingRect().size().toSize(), textRect);
    const QPointF origin(textRect.x(), layoutRect.top());
    const bool elided = natural > textRect.width();
    if (elided) {
        // Too wide: what the style draws is the text elided to the room, in the same place.
        const QString shown =
            QFontMetrics(opt.font).elidedText(opt.text, opt.textElideMode, textRect.width());
        QTextLayout cut(shown, opt.font);
        cut.setTextOption(textOption);
        cut.beginLayout();
        QTextLine cutLine = cut.createLine();
        if (!cutLine.isValid()) {
            cut.endLayout();
            return false;
        }
        cutLine.setLineWidth(textRect.width());
        cutLine.setPosition(QPointF(0, 0));
        cut.endLayout();
        cell.runs = cut.glyphRuns();
    } else {
        cell.runs = layout.glyphRuns();
    }
    for (QGlyphRun& run : cell.runs) {
        QList<QPointF> places = run.positions();
        for (QPointF& p : places)
            p += origin;
        run.setPositions(places);
    }
    cell.digits.clear();
    if (!elided && cell.runs.size() == 1 && cell.runs[0].glyphIndexes().size() == opt.text.size() &&
        tabularDigits(opt.font)) {
        const QList<quint32> digits =
            cell.runs[0].rawFont().glyphIndexesForString(QStringLiteral("0123456789"));
        if (digits.size() == 10)
            cell.digits = digits;
    }
    return true;
}

bool TrafficCellDelegate::swapDigits(Cell& cell, const QString& text) const {
    // Digits that changed in a text of the same characters otherwise: the same advances, so
    // the same places; the old glyph of each must be the old digit's.
    if (cell.digits.size() != 10 || cell.runs.size() != 1 || !sameWidthText(cell.text, text, true))
        return false;
    QList<quint32> glyphs = cell.runs[0].glyphIndexes();
    if (glyphs.size() != text.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (cell.text[i] == text[i])
            continue;
        if (glyphs[i] != cell.digits[cell.text[i].unicode() - '0'])
            return false;
        glyphs[i] = cell.digits[text[i].unicode() - '0'];
    }
    cell.runs[0].setGlyphIndexes(glyphs);
    cell.text = text;
    return true;
}

}  // namespace koravex
