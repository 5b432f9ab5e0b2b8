// The baseline for footprint figures: one small tool window and one tray icon, nothing else.
// With --text the window also shows one line of text, which tells apart what any window with
// text pays (the font stack: fontconfig, FreeType, HarfBuzz and the font files) from the rest.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
    const bool withText = argc > 1 && std::strcmp(argv[1], "--text") == 0;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);  // a tray program lives on hidden
    QWidget window(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    window.setWindowTitle(QStringLiteral("Baseline"));
    window.setFixedSize(373, 201);
    if (withText) {
        auto* label = new QLabel(QStringLiteral("Всего памяти: 8 388 608 KB"), &window);
        label->move(8, 8);
    }

    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkBlue);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setToolTip(QStringLiteral("Baseline"));
    tray.show();

    window.show();
    return app.exec();
}
