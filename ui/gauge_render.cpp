// Painting of the gauge into an off-screen image. Rectangles here are (l, t, r, b) with r and b
// exclusive; the pictures are built on black images and combined by exclusive-or.
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>

#include "ui/bgr_color.h"
#include "ui/gauge.h"

namespace koravex {
namespace {

struct Box {
    int l, t, r, b;
    bool empty() const { return r <= l || b <= t; }
    QRect qrect() const { return QRect(l, t, r - l, b - t); }
};

Box paintRect(const GaugeLook& look, int width, int height) {
    Box r{0, 0, width, height};
    if (look.border == GaugeBorder::bsSingle) {
        r = Box{1, 1, width - 1, height - 1};
    }
    return r;
}

// Fills the rectangle between the two corners, clipped by the painter to the image.
void fillBox(QPainter& p, const Box& box, const QColor& c) {
    if (!box.empty()) {
        p.fillRect(box.qrect(), c);
    }
}

// The same ellipse geometry for the outline, the interior and the wedge: the pixel centres of
// the box's outer columns and rows lie on the curve.
QRectF ellipseRect(const Box& box) {
    return QRectF(box.l + 0.5, box.t + 0.5, box.r - box.l - 1, box.b - box.t - 1);
}

// A 1-pixel line in the gauge's own pixels. At a device pixel ratio above 1 it is as many
// device pixels wide, centred on the same curve, so the picture keeps its proportions and only
// its edges gain resolution.
QPen outlinePen(const QPainter& p, const QColor& c) {
    const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    return ratio == 1.0 ? QPen(c, 0) : QPen(c, 1.0);
}

void paintBar(QPainter& p, const GaugeLook& look, const Box& r, std::int32_t percent) {
    const int w = r.r - r.l + 1;
    const int h = r.b - r.t + 1;
    fillBox(p, r, fromBgr(look.backColor));
    if (look.kind == GaugeKind::gkHorizontalBar) {
        const int f = std::min(gaugeFillWidth(percent, w), w);
        if (f >= 1) {
            fillBox(p, Box{r.l, r.t, f, h}, fromBgr(look.foreColor));
        }
    } else {
        int f = gaugeFillWidth(percent, h);
        if (f >= h) {
            f = h - 1;
        }
        if (f >= 1) {
            fillBox(p, Box{r.l, r.b - f, r.r, r.b}, fromBgr(look.foreColor));
        }
    }
}

// Parametric angle, in degrees counter-clockwise from three o'clock, of the ray from the
// ellipse's centre through pixel (x, y).
qreal rayAngle(const QRectF& e, QPointF pt) {
    const QPointF c = e.center() - QPointF(0.5, 0.5);  // in pixel indices
    const qreal ax = e.width() / 2;
    const qreal ay = e.height() / 2;
    const qreal dx = pt.x() - c.x();
    const qreal dy = c.y() - pt.y();
    const qreal a = std::atan2(ay > 0 ? dy / ay : dy, ax > 0 ? dx / ax : dx);
    return a * 180 / std::numbers::pi;
}

void paintPie(QPainter& p, const GaugeLook& look, const Box& r, std::int32_t percent,
              const QColor& color) {
    int w = r.r - r.l;
    int h = r.b - r.t;
    if (look.border == GaugeBorder::bsSingle) {
        ++w;
        ++h;
    }
    fillBox(p, r, color);
    const Box box{r.l, r.t, w, h};
    if (box.empty()) {
        return;
    }
    const QRectF e = ellipseRect(box);
    const QColor fore = fromBgr(look.foreColor);
    p.setPen(outlinePen(p, fore));
    p.setBrush(fromBgr(look.backColor));
    p.drawEllipse(e);
    if (percent <= 0) {
        return;
    }
    const QPoint start = gaugePieStart(percent, w / 2, h / 2);
    const QPoint end(w / 2, 0);
    p.setBrush(fore);
    if (start == end) {
        // The two radii coincide: the whole ellipse is done. On a pie too small to tell a
        // sliver from nothing, a small percentage shows no wedge rather than a full pie.
        if (percent > 50) {
            p.drawEllipse(e);
        }
        return;
    }
    const qreal from = rayAngle(e, start);
    qreal span = rayAngle(e, end) - from;
    while (span <= 0) {
        span += 360;
    }
    QPainterPath wedge;
    wedge.moveTo(e.center());
    wedge.arcTo(e, from, span);
    wedge.closeSubpath();
    p.drawPath(wedge);
}

void paintNeedle(QPainter& p, const GaugeLook& look, const Box& r, std::int32_t percent,
                 const QColor& color) {
    fillBox(p, r, color);
    if (r.empty()) {
        return;
    }
    // The dial is the upper half of an ellipse whose centre is the middle of R's bottom row.
    const Box full{r.l, r.t, r.r, r.b + (r.b - r.t) - 1};
    const QRectF e = ellipseRect(full);
    const QColor fore = fromBgr(look.foreColor);
    p.setPen(outlinePen(p, fore));
    p.setBrush(fromBgr(look.backColor));
    p.drawPie(e, 0, 180 * 16);
    const qreal a = std::numbers::pi * (100 - percent) / 100;
    const QPointF c = e.center();
    p.drawLine(c, c + QPointF(e.width() / 2 * std::cos(a), -e.height() / 2 * std::sin(a)));
}

}  // namespace

namespace {

__extension__ typedef unsigned __int128 Wide;

// Rounds value x 2^exp to a 64-bit mantissa, nearest with ties to even; adjusts exp.
std::uint64_t roundTo64Bits(Wide value, int& exp) {
    int shift = 0;
    while ((value >> shift) >> 64 != 0) {
        ++shift;
    }
    if (shift == 0) {
        return static_cast<std::uint64_t>(value);
    }
    const Wide rest = value & ((Wide{1} << shift) - 1);
    const Wide half = Wide{1} << (shift - 1);
    Wide kept = value >> shift;
    if (rest > half || (rest == half && (kept & 1) != 0)) {
        ++kept;
    }
    exp += shift;
    if (kept >> 64 != 0) {
        kept >>= 1;
        ++exp;
    }
    return static_cast<std::uint64_t>(kept);
}

}  // namespace

int extendedFillWidth(std::int32_t percent, int extent) {
    if (percent <= 0 || extent <= 0) {
        return 0;
    }
    // 0.01 in the extended format: mantissa 0xA3D70A3D70A3D70A times 2^-70.
    int exp = -70;
    const std::uint64_t fraction =
        roundTo64Bits(Wide{0xA3D70A3D70A3D70AULL} * static_cast<unsigned>(percent), exp);
    const std::uint64_t product =
        roundTo64Bits(Wide{fraction} * static_cast<unsigned>(extent), exp);
    if (exp >= 0) {
        return extent;  // cannot happen below 2^31, but never shift left into nonsense
    }
    return exp <= -64 ? 0 : static_cast<int>(product >> -exp);
}

int gaugeFillWidth(std::int32_t percent, int extent) {
    if (percent <= 0 || extent <= 0) {
        return 0;
    }
    if constexpr (std::numeric_limits<long double>::digits == 64) {
        // x87 extended: 0.01L is the nearest value below one hundredth, and each product
        // rounds to a 64-bit mantissa, so W = 100 at 5 % truncates to 4.
        const long double fraction = static_cast<long double>(percent) * 0.01L;
        return static_cast<int>(static_cast<long double>(extent) * fraction);
    } else {
        return extendedFillWidth(percent, extent);
    }
}

QPoint gaugePieStart(std::int32_t percent, int mx, int my) {
    const double a = (percent / 50.0 + 0.5) * std::numbers::pi;
    // nearbyint rounds half to even in the default rounding mode.
    return QPoint(static_cast<int>(std::nearbyint(mx * (1 - std::cos(a)))),
                  static_cast<int>(std::nearbyint(my * (1 - std::sin(a)))));
}

QString gaugeText(std::int32_t percent) {
    return QString::number(percent) + u'%';
}

QPoint gaugeTextOrigin(const GaugeLook& look, int width, int height, const QFont& font) {
    const Box r = paintRect(look, width, height);
    const QFontMetrics fm(font);
    const int tw = fm.horizontalAdvance(gaugeText(gaugePercent(look)));
    return QPoint((r.r - r.l + 1 - tw) / 2, (r.b - r.t + 1 - fm.height()) / 2);
}

QImage renderGauge(const GaugeLook& look, int width, int height, QColor color, const QFont& font,
                   qreal devicePixelRatio) {
    if (width <= 0 || height <= 0 || !(devicePixelRatio > 0)) {
        return QImage();
    }
    // Images of the screen's pixels, painted in the gauge's own (logical) coordinates.
    const auto blackImage = [&] {
        QImage made(qCeil(width * devicePixelRatio), qCeil(height * devicePixelRatio),
                    QImage::Format_RGB32);
        made.setDevicePixelRatio(devicePixelRatio);
        made.fill(Qt::black);
        return made;
    };
    QImage image = blackImage();
    const Box r = paintRect(look, width, height);
    const std::int32_t percent = gaugePercent(look);

    QImage overlay = blackImage();
    if (!r.empty()) {
        // Everything outside R stays black, also where a pen would stray past its edge.
        QPainter p(&overlay);
        p.setClipRect(r.qrect());
        switch (look.kind) {
            case GaugeKind::gkText:
                fillBox(p, r, fromBgr(look.backColor));
                break;
            case GaugeKind::gkHorizontalBar:
            case GaugeKind::gkVerticalBar:
                paintBar(p, look, r, percent);
                break;
            case GaugeKind::gkPie:
                paintPie(p, look, r, percent, color);
                break;
            case GaugeKind::gkNeedle:
                paintNeedle(p, look, r, percent, color);
                break;
        }
    }
    QPainter out(&image);
    out.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    out.drawImage(0, 0, overlay);

    if (look.showText && !r.empty()) {
        // Drawn without smoothing so that every text pixel is pure white and the exclusive-or
        // gives the exact complement of the colour beneath.
        QFont plain(font);
        plain.setStyleStrategy(QFont::NoAntialias);
        QImage text = blackImage();
        {
            QPainter p(&text);
            p.setClipRect(r.qrect());
            p.setFont(plain);
            p.setPen(Qt::white);
            const QPoint at = gaugeTextOrigin(look, width, height, plain);
            p.drawText(at.x(), at.y() + QFontMetrics(plain).ascent(), gaugeText(percent));
        }
        out.drawImage(0, 0, text);
    }
    return image;
}

void GaugeCanvas::reset(const Setting& setting, const GaugeLook& look, const QFont& font) {
    setting_ = setting;
    font_ = font;
    look_ = look;
    look_.minValue = 0;
    look_.maxValue = 100;
    kept_ = {};
    keptCount_ = 0;
    GaugeLook bare = look_;
    bare.progress = 0;
    bare.showText = false;
    base_ = renderGauge(bare, setting.width, setting.height, QColor::fromRgb(setting.color), font,
                        setting.ratio);
    picture_ = base_.copy();
    shown_.reset();
}

const GaugeCanvas::Kept& GaugeCanvas::kept(std::int32_t percent) {
    Kept& k = kept_[static_cast<std::size_t>(percent)];
    if (k.made) {
        return k;
    }
    if (keptCount_ >= kKeptAtMost) {
        // The percentage farthest from this one gives up its runs (never the one shown,
        // whose runs the next picture undoes).
        int farthest = -1;
        for (int p = 0; p <= 100; ++p) {
            if (kept_[static_cast<std::size_t>(p)].made && p != shown_.value_or(-1) &&
                (farthest < 0 || std::abs(p - percent) > std::abs(farthest - percent))) {
                farthest = p;
            }
        }
        if (farthest >= 0) {
            kept_[static_cast<std::size_t>(farthest)] = Kept{};
            --keptCount_;
        }
    }
    ++keptCount_;
    GaugeLook at = look_;
    at.progress = percent;
    const QImage full = renderGauge(at, setting_->width, setting_->height,
                                    QColor::fromRgb(setting_->color), font_, setting_->ratio);
    // The pixels where the picture differs from the one at 0 % without text, in runs of one
    // value along each row.
    const int w = full.width();
    int top = full.height();
    int bottom = -1;
    int left = w;
    int right = -1;
    for (int y = 0; y < full.height(); ++y) {
        const auto* have = reinterpret_cast<const QRgb*>(full.constScanLine(y));
        const auto* was = reinterpret_cast<const QRgb*>(base_.constScanLine(y));
        for (int x = 0; x < w;) {
            if (have[x] == was[x]) {
                ++x;
                continue;
            }
            int end = x + 1;
            while (end < w && have[end] != was[end] && have[end] == have[x]) {
                ++end;
            }
            const auto offset = static_cast<std::uint32_t>(y * w + x);
            if (!k.runs.empty() && k.runs.back().value == have[x] &&
                k.runs.back().offset + k.runs.back().length == offset) {
                k.runs.back().length += static_cast<std::uint32_t>(end - x);
            } else {
                k.runs.push_back(Run{offset, static_cast<std::uint32_t>(end - x), have[x]});
            }
            top = std::min(top, y);
            bottom = y;
            left = std::min(left, x);
            right = std::max(right, end - 1);
            x = end;
        }
    }
    k.runs.shrink_to_fit();
    k.bounds = bottom < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
    k.made = true;
    return k;
}

GaugeCanvas::Setting GaugeCanvas::settingOf(const GaugeLook& look, int width, int height,
                                            QColor color, qreal devicePixelRatio) {
    return Setting{look.kind, look.border, look.showText, look.foreColor,  look.backColor,
                   width,     height,      color.rgb(),   devicePixelRatio};
}

const QImage& GaugeCanvas::picture(const GaugeLook& look, int width, int height, QColor color,
                                   const QFont& font, qreal devicePixelRatio) {
    const std::int32_t percent = gaugePercent(look);
    if (width <= 0 || height <= 0 || !(devicePixelRatio > 0) || percent < 0 || percent > 100) {
        picture_ = renderGauge(look, width, height, color, font, devicePixelRatio);
        setting_.reset();
        shown_.reset();
        return picture_;
    }
    const Setting setting = settingOf(look, width, height, color, devicePixelRatio);
    if (setting_ != setting || font_ != font) {
        reset(setting, look, font);
    }
    if (shown_ == percent) {
        return picture_;
    }
    const Kept& k = kept(percent);
    auto* pixels = reinterpret_cast<QRgb*>(picture_.bits());
    if (shown_) {
        // Back to the base where the picture shown differs from it.
        const auto* base = reinterpret_cast<const QRgb*>(base_.constBits());
        for (const Run& run : kept_[static_cast<std::size_t>(*shown_)].runs) {
            std::memcpy(pixels + run.offset, base + run.offset, run.length * sizeof(QRgb));
        }
    }
    for (const Run& run : k.runs) {
        std::fill_n(pixels + run.offset, run.length, run.value);
    }
    shown_ = percent;
    return picture_;
}

std::optional<QRect> GaugeCanvas::change(const GaugeLook& look, int width, int height, QColor color,
                                         const QFont& font, qreal devicePixelRatio) {
    const std::int32_t percent = gaugePercent(look);
    if (!shown_ || percent < 0 || percent > 100 || font_ != font ||
        setting_ != settingOf(look, width, height, color, devicePixelRatio)) {
        return std::nullopt;
    }
    const QRect device = kept(percent).bounds | kept_[static_cast<std::size_t>(*shown_)].bounds;
    if (device.isEmpty()) {
        return QRect();
    }
    // Device pixels to the gauge's own, rounded outwards.
    const qreal r = setting_->ratio;
    const int left = qFloor(device.left() / r);
    const int top = qFloor(device.top() / r);
    const int right = qCeil((device.right() + 1) / r);
    const int bottom = qCeil((device.bottom() + 1) / r);
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace koravex
