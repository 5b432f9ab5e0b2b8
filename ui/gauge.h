#pragma once
// A gauge drawn by the program: a bar or a pie with the percentage over it.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace koravex {

enum class GaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum class GaugeBorder { bsNone, bsSingle };

// Raised by a MinValue/MaxValue write that would cross the other bound.
class InvalidOperation : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The properties that decide the picture; colours are 0x00BBGGRR.
struct GaugeLook {
    std::int32_t minValue = 0;
    std::int32_t maxValue = 100;
    std::int32_t progress = 0;
    GaugeKind kind = GaugeKind::gkHorizontalBar;
    bool showText = true;
    GaugeBorder border = GaugeBorder::bsSingle;
    std::uint32_t foreColor = 0x000000;
    std::uint32_t backColor = 0xFFFFFF;
};

// The whole percentage, truncated toward zero; 0 when max equals min.
std::int32_t gaugePercent(const GaugeLook& look);

// The bar's fill coordinate: the whole part of extent x (percent x 0.01), worked in the x87
// 80-bit extended format like the original control, so a product that should be whole can fall
// one short (extent 100 at 5 % gives 4).
int gaugeFillWidth(std::int32_t percent, int extent);
// The same rule worked out in integers, for machines whose long double is another format.
int extendedFillWidth(std::int32_t percent, int extent);

// Where the pie's wedge starts, for half-axes mx and my measured from (0,0): the point at angle
// (percent / 50 + 0.5) x pi, each coordinate rounded half to even.
QPoint gaugePieStart(std::int32_t percent, int mx, int my);

// Top-left corner of the percentage text in a width x height gauge with the given border.
QPoint gaugeTextOrigin(const GaugeLook& look, int width, int height, const QFont& font);

// The percentage text, "42%".
QString gaugeText(std::int32_t percent);

// Paints the gauge into a width x height RGB32 image. `color` is the surrounding colour
// (the parent's), `font` the font of the percentage text. At a device pixel ratio other than 1
// the image has that many pixels per gauge pixel (and says so): the geometry stays the
// gauge's, the edges and the text are drawn at the finer resolution.
QImage renderGauge(const GaugeLook& look, int width, int height, QColor color, const QFont& font,
                   qreal devicePixelRatio = 1.0);

// renderGauge's pictures, drawn again and again for one gauge. A picture depends on the
// percentage (0 to 100) and on what stays put between refreshes (kind, border, colours, text
// shown, size, surroundings, font, pixel ratio). While those stay put, each percentage's
// picture is drawn in full once and kept as the pixels where it differs from the picture at
// 0 % without text; showing it again copies that picture and writes those pixels.
class GaugeCanvas {
  public:
    // The same picture as renderGauge(look, width, height, color, font, devicePixelRatio).
    const QImage& picture(const GaugeLook& look, int width, int height, QColor color,
                          const QFont& font, qreal devicePixelRatio = 1.0);
    // The rectangle, in the gauge's coordinates, outside which the picture last handed out
    // and the picture for these arguments are equal; none when the two differ in more than
    // the percentage.
    std::optional<QRect> change(const GaugeLook& look, int width, int height, QColor color,
                                const QFont& font, qreal devicePixelRatio = 1.0);

  private:
    struct Run {
        std::uint32_t offset;  // pixels from the first one
        std::uint32_t length;
        QRgb value;
    };
    struct Kept {
        bool made = false;
        QRect bounds;  // device pixels
        std::vector<Run> runs;
    };
    struct Setting {
        GaugeKind kind;
        GaugeBorder border;
        bool showText;
        std::uint32_t foreColor;
        std::uint32_t backColor;
        int width;
        int height;
        QRgb color;
        qreal ratio;
        bool operator==(const Setting&) const = default;
    };

    static Setting settingOf(const GaugeLook& look, int width, int height, QColor color,
                             qreal devicePixelRatio);
    void reset(const Setting& setting, const GaugeLook& look, const QFont& font);
    const Kept& kept(std::int32_t percent);

    std::optional<Setting> setting_;
    QFont font_;
    GaugeLook look_;                     // the look the pictures are drawn for, at any percentage
    QImage base_;                        // the picture at 0 % without text
    QImage picture_;                     // the picture last handed out
    std::optional<std::int32_t> shown_;  // its percentage, while it is base_ with that one's runs
    std::array<Kept, 101> kept_;
    int keptCount_ = 0;
    // Percentages kept at once: those around the one shown, the rest drawn again if they
    // come back (the runs of all 101 of a pie take about 170 KiB).
    static constexpr int kKeptAtMost = 16;
};

class Gauge : public QWidget {
    Q_OBJECT
  public:
    explicit Gauge(QWidget* parent = nullptr);

    std::int32_t minValue() const { return look_.minValue; }
    std::int32_t maxValue() const { return look_.maxValue; }
    std::int32_t progress() const { return look_.progress; }
    GaugeKind kind() const { return look_.kind; }
    bool showText() const { return look_.showText; }
    GaugeBorder borderStyle() const { return look_.border; }
    std::uint32_t foreColor() const { return look_.foreColor; }
    std::uint32_t backColor() const { return look_.backColor; }
    std::int32_t percent() const { return gaugePercent(look_); }

    void setMinValue(std::int32_t v);  // throws InvalidOperation when v > maxValue
    void setMaxValue(std::int32_t v);  // throws InvalidOperation when v < minValue
    void setProgress(std::int32_t v);  // clamped; repaints only when the percentage changes
    void setKind(GaugeKind k);
    void setShowText(bool on);
    void setBorderStyle(GaugeBorder b);
    void setForeColor(std::uint32_t bgr);
    void setBackColor(std::uint32_t bgr);

    // Number of paints done, for tests and for the footprint checks.
    int paintCount() const { return paintCount_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void repaintNow();
    void repaintProgress();

    GaugeLook look_;
    GaugeCanvas canvas_;
    int paintCount_ = 0;
};

}  // namespace koravex
