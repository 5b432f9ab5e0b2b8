#pragma once
// A label whose text the refresh rewrites: a figure ("8 388 608 KB", "Свободно на диске: ...").
// Two things make rewriting it cheap without changing a pixel of what is shown:
//  - a new text that cannot be wider or narrower than the old one (the same characters but
//    for digits, in a font whose digits are all equally wide) keeps the label's size, so
//    the text is not measured again;
//  - where nothing but the page's own flat colour lies beneath the label, the label fills
//    its rectangle with that colour itself and is opaque, so a new text repaints the label
//    alone, not the tab page's frame and the bevels behind it. An opaque label also keeps
//    the glyphs of its text: a new text that differs in digits only takes the digits'
//    glyphs in their places, without shaping the text again.
#include <QColor>
#include <QGlyphRun>
#include <QHash>
#include <QLabel>
#include <QList>
#include <QRawFont>
#include <QRegion>
#include <optional>
#include <utility>

namespace koravex {

class FigureLabel : public QLabel {
    Q_OBJECT
  public:
    explicit FigureLabel(QWidget* parent = nullptr);

    // The colour of the page beneath the label where nothing else is drawn; none when the
    // page is not of one flat colour (the label then stays transparent).
    void setPageColor(std::optional<QColor> color);
    std::optional<QColor> pageColor() const { return pageColor_; }
    // Whether the label now paints its own background (and nothing beneath it is painted).
    bool paintsOpaque() const { return testAttribute(Qt::WA_OpaquePaintEvent); }

    // Writes a text: an unchanged text is left alone, a text of the same width is not
    // measured again, any other text sizes the label to it.
    void setFigure(const QString& text);

  protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void decideOpacity();
    bool prepareGlyphs();
    bool swapDigits(const QString& text);
    QRegion changedDigits(const QString& before, const QString& after) const;
    // The columns a glyph's pixels can fall in, from its left edge.
    std::pair<qreal, qreal> inkOf(const QRawFont& font, quint32 glyph) const;
    void reachGlyphs();

    std::optional<QColor> pageColor_;
    std::optional<bool> tabular_;  // whether the label's font has tabular digits, once asked
    QString glyphText_;            // the text that glyphRuns_ draw
    QList<QGlyphRun> glyphRuns_;   // in label coordinates, laid out as QLabel lays out
    // For each glyph of glyphRuns_, the columns its pixels can fall in (left, right).
    QList<QList<std::pair<qreal, qreal>>> glyphReach_;
    QList<QList<quint32>> runDigits_;                      // for each run, the glyphs of 0 to 9
    mutable QHash<quint32, std::pair<qreal, qreal>> ink_;  // by glyph, in the label's font
};

// True when `after` is sure to be exactly as wide as `before` in `font`: equal lengths, and
// every character that differs is a digit in both, in a font whose digits have one advance
// and no kerning among them or with a blank.
bool sameWidthText(const QString& before, const QString& after, const QFont& font);
// The same, told whether the font's digits are tabular (see tabularDigits).
bool sameWidthText(const QString& before, const QString& after, bool tabular);
// Whether the font's digits all have one advance and no kerning among them or with a blank.
bool tabularDigits(const QFont& font);

// The part of a sibling widget that it paints, in its parent's coordinates: a bevel paints
// its lines only, any other widget its whole rectangle.
QRegion paintedArea(const QWidget* sibling);

}  // namespace koravex
