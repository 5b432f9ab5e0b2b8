#include "ui/color_choice.h"

#include <QColorDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace koravex {

ColorDialogHook& colorDialogHook() {
    static ColorDialogHook hook;
    return hook;
}

QPoint colorDialogPlace(const QRect& monitor, const QSize& dialog) {
    return {monitor.left() + (monitor.width() - dialog.width()) / 2,
            monitor.top() + (monitor.height() - dialog.height()) / 3};
}

std::optional<QColor> runColorDialog(QColorDialog& dialog, QWidget* window, const QColor& start) {
    dialog.setCurrentColor(start);
    dialog.adjustSize();
    const QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QSize size = dialog.frameGeometry().size().expandedTo(dialog.size());
        dialog.move(colorDialogPlace(screen->geometry(), size));
    }
    if (const ColorDialogHook& hook = colorDialogHook())
        return hook(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedColor();
}

}  // namespace koravex
