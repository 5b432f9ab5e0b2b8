// What the settings tab's controls do.
#include <QCheckBox>
#include <QColorDialog>
#include <QLineEdit>

#include "core/convert.h"
#include "ui/bgr_color.h"
#include "ui/color_choice.h"
#include "ui/drive_list_view.h"
#include "ui/error_box.h"
#include "ui/gauge.h"
#include "ui/main_window.h"
#include "ui/paint_box.h"
#include "ui/refresh_timer.h"
#include "ui/spin_buttons.h"

namespace koravex {

void TForm1::Edit1Change() {
    Timer1->setEnabled(false);
    std::int32_t typed = 0;
    try {
        typed = strToInt(Edit1->text().toStdString());
    } catch (const ConversionError& error) {
        // The interval keeps its value and refreshing stays stopped until a number is typed.
        showErrorBox(this, error.what());
        return;
    }
    // Stored unchanged as an unsigned 32-bit count: -5 is 4294967291 ms.
    Timer1->setIntervalMs(static_cast<std::uint32_t>(typed));
    Timer1->setEnabled(true);
}

void TForm1::CheckBox1Click() {
    const bool on = CheckBox1->isChecked();
    Edit2->setEnabled(on);
    UpDown2->setEnabled(on);
}

void TForm1::TabSheet4Show() {
    fillDriveList();  // before its first paint, if the window is younger than one loop turn
    paintSwatches();
}

void TForm1::paintSwatches() {
    PaintBox1->fillWith(fromBgr(usedColor_));
    PaintBox2->fillWith(fromBgr(freeColor_));
}

std::optional<QColor> TForm1::chooseColor() {
    if (!ColorDialog1) {
        // Made at the first choice, not at start: the dialog is dear to build and most
        // sessions never open it.
        ColorDialog1 = new QColorDialog(this);
        ColorDialog1->setObjectName(QStringLiteral("ColorDialog1"));
        // Qt's own dialog, so that the program decides where it opens.
        ColorDialog1->setOption(QColorDialog::DontUseNativeDialog);
    }
    std::optional<QColor> chosen = runColorDialog(*ColorDialog1, this, dialogColor_);
    if (chosen)
        dialogColor_ = *chosen;
    return chosen;
}

void TForm1::PaintBox1Click() {
    if (const std::optional<QColor> chosen = chooseColor()) {
        usedColor_ = toBgr(*chosen);
        for (Gauge* gauge : {Gauge1, Gauge2, Gauge3, Gauge4})
            gauge->setForeColor(usedColor_);
    }
    paintSwatches();
}

void TForm1::PaintBox2Click() {
    if (const std::optional<QColor> chosen = chooseColor()) {
        freeColor_ = toBgr(*chosen);
        for (Gauge* gauge : {Gauge1, Gauge2, Gauge3, Gauge4})
            gauge->setBackColor(freeColor_);
    }
    paintSwatches();
}

void TForm1::ListView1DblClick() {
    using Style = DriveListView::ViewStyle;
    ListView1->setViewStyle(ListView1->viewStyle() == Style::Report ? Style::LargeIcon
                                                                    : Style::Report);
}

}  // namespace koravex
