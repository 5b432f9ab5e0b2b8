// The memory, drives and network tabs.
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QTableWidget>
#include <algorithm>
#include <optional>

#include "ui/bevel.h"
#include "ui/drive_combo_box.h"
#include "ui/figure_label.h"
#include "ui/gauge.h"
#include "ui/main_window.h"
#include "ui/traffic_cell_delegate.h"
#include "ui/window_controls.h"

namespace koravex {

namespace {

constexpr LabelLook kBlue{.blue = true, .figure = true};
constexpr LabelLook kBlueHeading{.bold = true, .blue = true};
constexpr LabelLook kHeading{.bold = true};

Gauge* addGauge(QWidget* parent, const char* name, GaugeKind kind, QRect where) {
    auto* gauge = new Gauge(parent);
    place(gauge, name, where.x(), where.y(), where.width(), where.height());
    gauge->setKind(kind);
    gauge->setBorderStyle(GaugeBorder::bsNone);
    gauge->setForeColor(0xFF0000);
    gauge->setBackColor(0xFF00FF);
    return gauge;
}

Bevel* addBevel(QWidget* parent, const char* name, Bevel::Shape shape, QRect where) {
    auto* bevel = new Bevel(shape, parent);
    place(bevel, name, where.x(), where.y(), where.width(), where.height());
    return bevel;
}

}  // namespace

void TForm1::assignPageColors() {
    // What the tab widget itself paints where its pages lie, without any page or control:
    // when that is one flat colour (or the page fills itself), the figure labels can paint
    // it themselves and be opaque.
    const QWidget* page = PageControl1->currentWidget();
    std::optional<QColor> color;
    if (page->autoFillBackground()) {
        color = page->palette().color(page->backgroundRole());
    } else {
        const QRect area(page->mapTo(PageControl1, QPoint(0, 0)), page->size());
        QImage pane(area.size(), QImage::Format_RGB32);
        pane.fill(Qt::black);
        PageControl1->render(&pane, QPoint(), QRegion(area), QWidget::DrawWindowBackground);
        const QRgb first = pane.pixel(0, 0);
        bool flat = !area.isEmpty();
        for (int y = 0; y < pane.height() && flat; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(pane.constScanLine(y));
            flat = std::all_of(line, line + pane.width(), [first](QRgb p) { return p == first; });
        }
        if (flat)
            color = QColor(first);
    }
    for (FigureLabel* label : findChildren<FigureLabel*>())
        label->setPageColor(color);
}

void TForm1::buildMemoryTab(QWidget* page) {
    Label1 = addLabel(page, "Label1", 16, 8, QStringLiteral("Информация о памяти"), kBlueHeading);
    addBevel(page, "Bevel2", Bevel::Shape::BottomLine, {8, 24, 257, 50});
    addBevel(page, "Bevel3", Bevel::Shape::BottomLine, {8, 72, 257, 50});

    addLabel(page, "Label16", 8, 32, QStringLiteral("Физической"), kHeading);
    Gauge2 = addGauge(page, "Gauge2", GaugeKind::gkHorizontalBar, {96, 32, 153, 12});
    Label2 = addLabel(page, "Label2", 24, 56, QStringLiteral("Label2"), kBlue);
    Label3 = addLabel(page, "Label3", 160, 56, QStringLiteral("Label3"), kBlue);

    addLabel(page, "Label17", 8, 80, QStringLiteral("Подкачке"), kHeading);
    Gauge3 = addGauge(page, "Gauge3", GaugeKind::gkHorizontalBar, {96, 80, 153, 12});
    Label4 = addLabel(page, "Label4", 24, 104, QStringLiteral("Label4"), kBlue);
    Label5 = addLabel(page, "Label5", 160, 104, QStringLiteral("Label5"), kBlue);

    addLabel(page, "Label18", 8, 128, QStringLiteral("Виртуальной"), kHeading);
    Gauge4 = addGauge(page, "Gauge4", GaugeKind::gkHorizontalBar, {96, 128, 153, 12});
    Label6 = addLabel(page, "Label6", 24, 152, QStringLiteral("Label6"), kBlue);
    Label7 = addLabel(page, "Label7", 160, 152, QStringLiteral("Label7"), kBlue);
}

void TForm1::buildDrivesTab(QWidget* page) {
    addLabel(page, "Label14", 16, 8, QStringLiteral("Информация о дисковом накопители"),
             kBlueHeading);
    addBevel(page, "Bevel1", Bevel::Shape::Box, {8, 32, 193, 129});
    Label8 = addLabel(page, "Label8", 16, 44, QStringLiteral("Label8"), kBlue);
    Label12 = addLabel(page, "Label12", 72, 44, QStringLiteral("Label12"), kBlue);
    Label9 = addLabel(page, "Label9", 16, 68, QStringLiteral("Label9"), kBlue);
    Label10 = addLabel(page, "Label10", 16, 92, QStringLiteral("Label10"), kBlue);
    Label11 = addLabel(page, "Label11", 16, 116, QStringLiteral("Label11"), kBlue);
    Label13 = addLabel(page, "Label13", 16, 140, QStringLiteral("Label13"), kBlue);

    DriveComboBox1 = new DriveComboBox(probes_, page);
    place(DriveComboBox1, "DriveComboBox1", 216, 32, 145, 19);
    Gauge1 = addGauge(page, "Gauge1", GaugeKind::gkPie, {216, 64, 145, 97});
    // A text longer than the frame stays readable over the pie's empty corner.
    for (QLabel* label : {Label8, Label12, Label9, Label10, Label11, Label13})
        label->raise();
}

void TForm1::buildNetworkTab(QWidget* page) {
    lvTraffic = new QTableWidget(0, 7, page);
    place(lvTraffic, "lvTraffic", 2, 8, 359, 161);
    lvTraffic->setHorizontalHeaderLabels({QStringLiteral("Индекс"), QStringLiteral("Описание"),
                                          QStringLiteral("Тип"), QStringLiteral("Принято"),
                                          QStringLiteral("Отправлено"), QStringLiteral("Скорость"),
                                          QStringLiteral("Статус")});
    QHeaderView* header = lvTraffic->horizontalHeader();
    header->setMinimumSectionSize(1);
    header->setDefaultSectionSize(50);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < 7; ++c)
        lvTraffic->setColumnWidth(c, 50);
    lvTraffic->verticalHeader()->hide();
    lvTraffic->verticalHeader()->setDefaultSectionSize(17);
    lvTraffic->setShowGrid(true);
    lvTraffic->setWordWrap(false);
    lvTraffic->setSortingEnabled(false);
    lvTraffic->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvTraffic->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvTraffic->setItemDelegate(new TrafficCellDelegate(lvTraffic));
}

}  // namespace koravex
