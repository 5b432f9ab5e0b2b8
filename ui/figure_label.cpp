#include "ui/figure_label.h"

#include <QFontMetrics>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>

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
    setText(text);
    if (!keepSize)
        adjustSize();
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
    if (event->type() == QEvent::FontChange)
        tabular_.reset();
    QLabel::changeEvent(event);
}

void FigureLabel::moveEvent(QMoveEvent* event) {
    decideOpacity();
    QLabel::moveEvent(event);
}

void FigureLabel::resizeEvent(QResizeEvent* event) {
    decideOpacity();
    QLabel::resizeEvent(event);
}

void FigureLabel::paintEvent(QPaintEvent* event) {
    if (paintsOpaque())
        QPainter(this).fillRect(event->rect(), *pageColor_);
    QLabel::paintEvent(event);
}

}  // namespace koravex
