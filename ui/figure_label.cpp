#include "ui/figure_label.h"

#include <QFontMetrics>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QStyleOption>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "ui/bevel.h"

namespace koravex {

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

}  // namespace

bool tabularDigits(const QFont& font) {
    // Measured once per font, the first time it is asked.
    static QHash<QString, bool> known;
    const QString key = font.key();
    if (const auto it = known.constFind(key); it != known.constEnd())
        return *it;
    const QFontMetricsF metrics(font);
    const qreal digit = metrics.horizontalAdvance(QLatin1Char('0'));
    const qreal blank = metrics.horizontalAdvance(QLatin1Char(' '));
    bool tabular = digit > 0;
    for (char c = '1'; c <= '9' && tabular; ++c)
        tabular = metrics.horizontalAdvance(QLatin1Char(c)) == digit;
    if (tabular) {
        // Every pair of digits once (a de Bruijn sequence of order two over ten digits), and
        // every digit between blanks: any kerning would show as a different total width.
        const QString digits = QStringLiteral("0123456789");
        QString pairs;
        for (int a = 0; a < 10; ++a) {
            pairs += digits[a];
            for (int b = a + 1; b < 10; ++b) {
                pairs += digits[a];
                pairs += digits[b];
            }
        }
        pairs += digits[0];
        QString spaced = QStringLiteral(" ");
        for (const QChar d : digits) {
            spaced += d;
            spaced += QLatin1Char(' ');
        }
        tabular = metrics.horizontalAdvance(pairs) == digit * static_cast<qreal>(pairs.size()) &&
                  metrics.horizontalAdvance(spaced) == digit * 10 + blank * 11;
    }
    known.insert(key, tabular);
    return tabular;
}

bool sameWidthText(const QString& before, const QString& after, const QFont& font) {
    return sameWidthText(before, after, tabularDigits(font));
}

bool sameWidthText(const QString& before, const QString& after, bool tabular) {
    if (before.size() != after.size())
        return false;
    bool digitsOnly = true;
    bool anyDigit = false;
    for (qsizetype i = 0; i < before.size() && digitsOnly; ++i) {
        if (before[i] == after[i])
            continue;
        digitsOnly = isDigit(before[i]) && isDigit(after[i]);
        anyDigit = true;
    }
    return digitsOnly && (!anyDigit || tabular);
}

QRegion paintedArea(const QWidget* sibling) {
    const QRect r = sibling->geometry();
    if (const auto* bevel = qobject_cast<const Bevel*>(sibling)) {
        // The bevel's lines: two rows at the bottom, or the four edges of a box.
        if (bevel->bevelShape() == Bevel::Shape::BottomLine)
            return QRegion(r.left(), r.bottom() - 1, r.width(), 2);
        return QRegion(r) - QRegion(r.adjusted(1, 1, -1, -1));
    }
    return QRegion(r);
}

FigureLabel::FigureLabel(QWidget* parent) : QLabel(parent) {}

void FigureLabel::setPageColor(std::optional<QColor> color) {
    pageColor_ = color;
    decideOpacity();
    update();
}

void FigureLabel::setFigure(const QString& text) {
    const QString before = this->text();
    if (before == text)
        return;  // an unchanged text is neither rewritten nor measured nor repainted
    bool keepSize = sameWidthText(before, text, true);
    if (keepSize) {
        if (!tabular_)
            tabular_ = tabularDigits(font());  // asked the first time it matters
        keepSize = sameWidthText(before, text, *tabular_);
    }
    if (keepSize && paintsOpaque() && isVisible() && glyphText_ == before &&
        !glyphRuns_.isEmpty()) {
        // Only the places of the digits that changed are painted again: every pixel a
        // changed glyph touches, old or new, is drawn afresh with all the glyphs over it.
        const QRegion changed = changedDigits(before, text);
        setAttribute(Qt::WA_UpdatesDisabled, true);  // setText's repaint of the whole label
        setText(text);
        setAttribute(Qt::WA_UpdatesDisabled, false);
        update(changed);
        return;
    }
    setText(text);
    if (!keepSize)
        adjustSize();
}

std::pair<qreal, qreal> FigureLabel::inkOf(const QRawFont& font, quint32 glyph) const {
    if (const auto it = ink_.constFind(glyph); it != ink_.constEnd())
        return *it;
    // The outline's extent, a pixel more on either side for the smoothing of its edges.
    const QRectF box = font.boundingRect(glyph);
    const std::pair<qreal, qreal> ink =
        box.isEmpty() ? std::pair<qreal, qreal>{0, 0} : std::pair{box.left() - 1, box.right() + 1};
    ink_.insert(glyph, ink);
    return ink;
}

QRegion FigureLabel::changedDigits(const QString& before, const QString& after) const {
    struct Place {
        qreal x;
        qsizetype run;
    };
    QList<Place> places;  // each digit's glyph, in order
    for (qsizetype r = 0; r < glyphRuns_.size() && r < runDigits_.size(); ++r) {
        const QList<quint32> glyphs = glyphRuns_[r].glyphIndexes();
        const QList<QPointF> positions = glyphRuns_[r].positions();
        for (qsizetype g = 0; g < glyphs.size() && g < positions.size(); ++g)
            if (runDigits_[r].contains(glyphs[g]))
                places.append(Place{positions[g].x(), r});
    }
    QRegion region;
    qsizetype digit = 0;
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (!isDigit(before[i]))
            continue;
        if (before[i] != after[i]) {
            if (digit >= places.size() || runDigits_[places[digit].run].size() != 10)
                return QRegion(rect());  // glyphs and digits do not match: all of it
            // Every pixel of the old digit's glyph and of the new one's.
            const Place& at = places[digit];
            const QList<quint32>& digits = runDigits_[at.run];
            const QRawFont font = glyphRuns_[at.run].rawFont();
            const auto was = inkOf(font, digits[before[i].unicode() - '0']);
            const auto now = inkOf(font, digits[after[i].unicode() - '0']);
            const int left = static_cast<int>(std::floor(at.x + std::min(was.first, now.first)));
            const int right = static_cast<int>(std::ceil(at.x + std::max(was.second, now.second)));
            if (right > left)
                region += QRect(left, 0, right - left, height());
        }
        ++digit;
    }
    return region;
}

void FigureLabel::reachGlyphs() {
    glyphReach_.clear();
    runDigits_.clear();
    for (const QGlyphRun& run : std::as_const(glyphRuns_)) {
        runDigits_.append(run.rawFont().glyphIndexesForString(QStringLiteral("0123456789")));
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> places = run.positions();
        QList<std::pair<qreal, qreal>> spans;
        for (qsizetype g = 0; g < places.size() && g < glyphs.size(); ++g) {
            const auto ink = inkOf(run.rawFont(), glyphs[g]);
            spans.append({places[g].x() + ink.first, places[g].x() + ink.second});
        }
        glyphReach_.append(spans);
    }
}

void FigureLabel::decideOpacity() {
    // Opaque only where the page's flat colour is all there is beneath: clear of whatever a
    // sibling below this label paints (the page clips the label to its own flat area).
    bool opaque = pageColor_.has_value() && parentWidget() != nullptr;
    if (opaque) {
        for (const QObject* child : parentWidget()->children()) {
            if (child == this)
                break;  // the rest lie above this label
            const auto* sibling = qobject_cast<const QWidget*>(child);
            if (sibling && !sibling->isHidden() && paintedArea(sibling).intersects(geometry())) {
                opaque = false;
                break;
            }
        }
    }
    if (opaque != paintsOpaque())
        setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

void FigureLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        tabular_.reset();
        glyphRuns_.clear();
        ink_.clear();
    }
    QLabel::changeEvent(event);
}

void FigureLabel::moveEvent(QMoveEvent* event) {
    decideOpacity();
    QLabel::moveEvent(event);
}

void FigureLabel::resizeEvent(QResizeEvent* event) {
    glyphRuns_.clear();  // laid out for the old size
    decideOpacity();
    QLabel::resizeEvent(event);
}

bool FigureLabel::swapDigits(const QString& text) {
    // The glyphs of the old text with the digits' glyphs changed in order: same advances,
    // so the same places (the caller has made sure the width cannot change).
    QString digits;
    for (const QChar c : text)
        if (isDigit(c))
            digits += c;
    if (runDigits_.size() != glyphRuns_.size() || glyphReach_.size() != glyphRuns_.size())
        return false;
    qsizetype next = 0;
    QList<QGlyphRun> runs = glyphRuns_;
    QList<QList<std::pair<qreal, qreal>>> reach = glyphReach_;
    for (qsizetype r = 0; r < runs.size(); ++r) {
        const QList<quint32>& digitGlyphs = runDigits_[r];
        if (digitGlyphs.size() != 10)
            return false;
        QList<quint32> glyphs = runs[r].glyphIndexes();
        const QList<QPointF> places = runs[r].positions();
        if (places.size() != glyphs.size() || reach[r].size() != glyphs.size())
            return false;
        const QRawFont font = runs[r].rawFont();
        for (qsizetype g = 0; g < glyphs.size(); ++g) {
            if (!digitGlyphs.contains(glyphs[g]))
                continue;
            if (next >= digits.size())
                return false;
            const quint32 glyph = digitGlyphs[digits[next++].unicode() - '0'];
            if (glyph != glyphs[g]) {
                glyphs[g] = glyph;
                const auto ink = inkOf(font, glyph);
                reach[r][g] = {places[g].x() + ink.first, places[g].x() + ink.second};
            }
        }
        runs[r].setGlyphIndexes(glyphs);
    }
    if (next != digits.size())
        return false;  // a digit drawn by some other glyph: lay the text out afresh
    glyphRuns_ = runs;
    glyphReach_ = reach;
    return true;
}

bool FigureLabel::prepareGlyphs() {
    if (devicePixelRatioF() != 1.0) {
        // Scaled screens: the text is drawn by QLabel, hinted for the device.
        glyphRuns_.clear();
        return false;
    }
    const QString current = text();
    if (!glyphRuns_.isEmpty() && glyphText_ == current)
        return true;
    for (const QChar c : current)
        if (c.unicode() >= 0x0590)
            return false;  // right-to-left and complex scripts: QLabel's own way
    if (!glyphRuns_.isEmpty() && tabular_.value_or(false) &&
        sameWidthText(glyphText_, current, true) && swapDigits(current)) {
        glyphText_ = current;
        return true;
    }
    // One line, left to right, centred vertically in the label: as QLabel draws it.
    QTextLayout layout(current, font());
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    option.setWrapMode(QTextOption::ManualWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return false;
    }
    line.setLineWidth(width());
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    const QPointF offset(0, (height() - (line.ascent() + line.descent())) / 2);
    glyphRuns_ = layout.glyphRuns();
    for (QGlyphRun& run : glyphRuns_) {
        QList<QPointF> places = run.positions();
        for (QPointF& p : places)
            p += offset;
        run.setPositions(places);
    }
    reachGlyphs();
    glyphText_ = current;
    return true;
}

void FigureLabel::paintEvent(QPaintEvent* event) {
    if (!paintsOpaque()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(event->rect(), *pageColor_);
    if (!prepareGlyphs()) {
        painter.end();
        QLabel::paintEvent(event);
        return;
    }
    QStyleOption option;
    option.initFrom(this);
    painter.setPen(QPen(option.palette.brush(foregroundRole()), painter.pen().widthF()));
    painter.setClipRect(rect(), Qt::IntersectClip);
    const QRegion& region = event->region();
    const bool whole = region.rectCount() == 1 && region.boundingRect().contains(rect());
    if (whole || glyphReach_.size() != glyphRuns_.size()) {
        for (const QGlyphRun& run : std::as_const(glyphRuns_))
            painter.drawGlyphRun(QPointF(0, 0), run);
        return;
    }
    // Part of the label: only the glyphs whose pixels can fall in the places painted.
    const auto touches = [&region](const std::pair<qreal, qreal>& span) {
        for (const QRect& r : region)
            if (span.first < r.right() + 1 && span.second > r.left())
                return true;
        return false;
    };
    for (qsizetype r = 0; r < glyphRuns_.size(); ++r) {
        const QGlyphRun& run = glyphRuns_[r];
        const QList<std::pair<qreal, qreal>>& spans = glyphReach_[r];
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> places = run.positions();
        if (spans.size() != glyphs.size() || places.size() != glyphs.size()) {
            painter.drawGlyphRun(QPointF(0, 0), run);
            continue;
        }
        QList<quint32> someGlyphs;
        QList<QPointF> somePlaces;
        for (qsizetype g = 0; g < glyphs.size(); ++g) {
            if (touches(spans[g])) {
                someGlyphs.append(glyphs[g]);
                somePlaces.append(places[g]);
            }
        }
        if (someGlyphs.isEmpty())
            continue;
        QGlyphRun part = run;
        part.setGlyphIndexes(someGlyphs);
        part.setPositions(somePlaces);
        painter.drawGlyphRun(QPointF(0, 0), part);
    }
}

}  // namespace koravex
