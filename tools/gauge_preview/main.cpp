// gauge-preview [OUTPUT.png]: the memory bars and the drive pie, as the window shows them, at a
// few percentages, drawn into one picture. Run with QT_QPA_PLATFORM=offscreen without a display.
#include <QApplication>
#include <QPainter>
#include <cstdio>

#include "ui/gauge.h"

using namespace koravex;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/gauges.png");
    const QFont font(QStringLiteral("MS Sans Serif"), 8);
    const QColor face = QApplication::palette().color(QPalette::Window);

    GaugeLook look;
    look.border = GaugeBorder::bsNone;
    look.foreColor = 0xFF0000;  // the program's default used-part colour, blue
    look.backColor = 0xFF00FF;  // and free-part colour, fuchsia

    const int bars[] = {0, 1, 25, 50, 77, 99, 100};
    const int pies[] = {0, 1, 25, 50, 75, 100};
    const int margin = 8, label = 40, barRow = 20, pieW = 145, pieH = 97;
    const int width = margin * 2 + 6 * (pieW + margin);
    const int height = margin * 3 + 7 * barRow + pieH + barRow;
    QImage canvas(width, height, QImage::Format_RGB32);
    canvas.fill(face);
    QPainter p(&canvas);
    p.setFont(font);
    p.setPen(Qt::black);

    look.kind = GaugeKind::gkHorizontalBar;
    int y = margin;
    for (const int percent : bars) {
        look.progress = percent;
        p.drawText(QRect(margin, y, label, 12), Qt::AlignVCenter,
                   QStringLiteral("%1 %").arg(percent));
        p.drawImage(margin + label, y, renderGauge(look, 153, 12, face, font));
        y += barRow;
    }
    y += margin;
    look.kind = GaugeKind::gkPie;
    int x = margin;
    for (const int percent : pies) {
        look.progress = percent;
        p.drawImage(x, y, renderGauge(look, pieW, pieH, face, font));
        p.drawText(QRect(x, y + pieH + 4, pieW, 14), Qt::AlignHCenter,
                   QStringLiteral("%1 %").arg(percent));
        x += pieW + margin;
    }
    p.end();
    if (!canvas.save(out)) {
        std::fprintf(stderr, "gauge-preview: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
