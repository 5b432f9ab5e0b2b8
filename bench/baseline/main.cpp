// The baseline for footprint figures: one small tool window and one tray icon, nothing else.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);  // a tray program lives on hidden
    QWidget window(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    window.setWindowTitle(QStringLiteral("Baseline"));
    window.setFixedSize(373, 201);

    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkBlue);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setToolTip(QStringLiteral("Baseline"));
    tray.show();

    window.show();
    return app.exec();
}
