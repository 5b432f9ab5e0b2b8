#pragma once
// Running the colour dialog: where it opens and how it is answered.
#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>
#include <optional>

class QColorDialog;
class QWidget;

namespace koravex {

// Answers the dialog instead of the user when set: gets the dialog as it is about to
// open (start colour and place set), returns the confirmed colour or nullopt for Cancel.
using ColorDialogHook = std::function<std::optional<QColor>(QColorDialog& dialog)>;
ColorDialogHook& colorDialogHook();

// Horizontally centred on the monitor, the top at one third of the room left above and
// below the dialog.
QPoint colorDialogPlace(const QRect& monitor, const QSize& dialog);

// Opens the dialog on `start`, placed on the monitor of `window`; nullopt when cancelled.
std::optional<QColor> runColorDialog(QColorDialog& dialog, QWidget* window, const QColor& start);

}  // namespace koravex
