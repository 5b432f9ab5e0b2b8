// One refresh: read the settings, run the core, write the results into the window.
#include <QCheckBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QSlider>
#include <QTableWidget>
#include <algorithm>
#include <exception>

#include "ui/beep.h"
#include "ui/drive_combo_box.h"
#include "ui/drive_list_view.h"
#include "ui/error_box.h"
#include "ui/gauge.h"
#include "ui/main_window.h"
#include "ui/refresh_timer.h"
#include "ui/window_controls.h"
#include "ui/window_platform.h"

namespace koravex {

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

void setGauge(Gauge* gauge, const GaugeSetting& setting) {
    gauge->setMaxValue(setting.max);
    gauge->setProgress(setting.progress);
}

constexpr int kTrafficColumns = 7;
constexpr int kRightColumn = 160;    // left edge of the available amounts
constexpr int kVolumeNameLeft = 72;  // left edge of the volume name

void keepRightOf(const QLabel* left, QLabel* right, int designLeft) {
    constexpr int kGap = 6;
    right->move(std::max(designLeft, left->x() + left->width() + kGap), right->y());
}

}  // namespace

QString balloonText(const QString& alert) {
    // At most 255 characters, never cutting a character in two.
    constexpr int kLimit = 255;
    int units = 0;
    int characters = 0;
    while (units < alert.size() && characters < kLimit) {
        units += (alert.at(units).isHighSurrogate() && units + 1 < alert.size() &&
                  alert.at(units + 1).isLowSurrogate())
                     ? 2
                     : 1;
        ++characters;
    }
    return alert.left(units);
}

RefreshInputs TForm1::refreshInputs() const {
    RefreshInputs inputs;
    inputs.unit = static_cast<UnitScale>(TrackBar1->value());
    inputs.driveLetter = DriveComboBox1->driveLetter();
    inputs.drives = ListView1->watchedDrives();
    inputs.alertOn = CheckBox1->isChecked();
    inputs.threshold = Edit2->text().toStdString();
    return inputs;
}

void TForm1::Timer1Timer() {
    Timer1->setEnabled(false);
    try {
        RefreshInputs inputs = refreshInputs();
        inputs.figures = shownFigures();
        const DisplayModel model = runRefresh(probes_, inputs);
        applyModel(model, inputs.figures, inputs.threshold);
    } catch (const std::exception& error) {
        // An error nobody expected ends this refresh and is reported; the timer stays off
        // until the interval field changes, as for any error that ends a refresh.
        showErrorBox(this, error.what());
    }
}

void TForm1::applyModel(const DisplayModel& model, FigureParts parts,
                        const std::string& thresholdText) {
    writeDisplay(model, parts);
    raiseAlerts(model.alerts);
    // Monitoring goes on after a bad threshold: the countdown starts afresh in any case.
    armTimer();
    reportThresholdError(model, thresholdText);
}

FigureParts TForm1::shownFigures() const {
    if (figuresHidden_)
        return FigureParts::none();
    FigureParts parts = FigureParts::none();
    const QWidget* page = PageControl1->currentWidget();
    parts.memory = page == TabSheet1;
    parts.drive = page == TabSheet2;
    parts.interfaces = page == TabSheet3;
    return parts;
}

void TForm1::refreshFigures() {
    // The shown figures only: no alert, no countdown restart, no threshold report.
    const FigureParts parts = shownFigures();
    if (!parts.any())
        return;
    try {
        RefreshInputs inputs = refreshInputs();
        inputs.figures = parts;
        inputs.watch = false;
        writeDisplay(runRefresh(probes_, inputs), parts);
    } catch (const std::exception& error) {
        showErrorBox(this, error.what());
    }
}

void TForm1::tabShown() {
    // Called once the newly current page is shown and before it is painted: its figures were
    // not written while another tab was shown, so they are read afresh now.
    refreshFigures();
}

bool TForm1::nothingToWatch() const {
    const std::vector<WatchedDrive> drives = ListView1->watchedDrives();
    return std::none_of(drives.begin(), drives.end(),
                        [](const WatchedDrive& d) { return d.ticked; });
}

void TForm1::armTimer() {
    if (figuresHidden_ && nothingToWatch()) {
        // Nobody sees the figures and no drive is watched: no wake-ups at all until the
        // window is shown or a drive is ticked.
        Timer1->setEnabled(false);
        timerParked_ = true;
        return;
    }
    Timer1->setEnabled(true);
}

void TForm1::unparkTimer() {
    if (!timerParked_)
        return;
    timerParked_ = false;
    Timer1->setEnabled(true);  // a full interval from now
}

void TForm1::showEvent(QShowEvent* event) {
    if (!pageColorsAssigned_) {
        pageColorsAssigned_ = true;
        // The tab widget is laid out by now. Until the labels know the page's colour they
        // draw themselves over it as transparent ones do, which looks the same: finding the
        // colour (a rendering of the tab widget) may wait until the window is up.
        if (hooks_.afterShown)
            hooks_.afterShown([this] { assignPageColors(); });
        else
            assignPageColors();
    }
    if (figuresHidden_) {
        figuresHidden_ = false;
        refreshFigures();  // before the first paint, so no stale figure is ever seen
    }
    unparkTimer();
    if (!event->spontaneous())
        placeBottomRight();
    QWidget::showEvent(event);
}

void TForm1::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) {
        platform_.windowHidden(*this);
        figuresHidden_ = true;
        if (Timer1->isEnabled() && nothingToWatch()) {
            Timer1->setEnabled(false);
            timerParked_ = true;
        }
    }
    QWidget::hideEvent(event);
}

void TForm1::writeDisplay(const DisplayModel& model, FigureParts parts) {
    // A long figure pushes its right-hand neighbour along instead of running into it.
    if (parts.memory) {
        setGauge(Gauge2, model.gauge2);
        setGauge(Gauge3, model.gauge3);
        setGauge(Gauge4, model.gauge4);
        setLabelText(Label2, text(model.label2));
        setLabelText(Label3, text(model.label3));
        setLabelText(Label4, text(model.label4));
        setLabelText(Label5, text(model.label5));
        setLabelText(Label6, text(model.label6));
        setLabelText(Label7, text(model.label7));
        keepRightOf(Label2, Label3, kRightColumn);
        keepRightOf(Label4, Label5, kRightColumn);
        keepRightOf(Label6, Label7, kRightColumn);
    }
    if (parts.drive) {
        setLabelText(Label8, text(model.label8));
        setLabelText(Label9, text(model.label9));
        setLabelText(Label10, text(model.label10));
        setGauge(Gauge1, model.gauge1);
        setLabelText(Label11, text(model.label11));
        setLabelText(Label12, text(model.label12));
        setLabelText(Label13, text(model.label13));
        keepRightOf(Label8, Label12, kVolumeNameLeft);
    }
    if (parts.interfaces && model.traffic)
        rebuildTraffic(*model.traffic);
}

void TForm1::raiseAlerts(const std::vector<LowSpaceAlert>& alerts) {
    for (const LowSpaceAlert& alert : alerts) {
        errorBeep(platform_);
        const bool shown = hooks_.showBalloon ? hooks_.showBalloon(QStringLiteral("Внимание!"),
                                                                   balloonText(text(alert.text)))
                                              : true;
        if (!shown)
            setWindowTitle(QStringLiteral("not"));
    }
}

void TForm1::rebuildTraffic(const std::vector<TrafficRow>& rows) {
    // The rows are written over the previous ones cell by cell, and only the cells whose
    // text changed: each asks for its own rectangle to be repainted, and the event loop
    // paints them all at once afterwards (the header and the unchanged cells are left
    // alone). A table whose texts are all the same is not touched at all.
    // The texts last written are kept as they came, so that telling an unchanged cell
    // costs one comparison of bytes.
    const int count = static_cast<int>(rows.size());
    if (lvTraffic->rowCount() != count)
        lvTraffic->setRowCount(count);
    trafficShown_.resize(rows.size());
    for (int r = 0; r < count; ++r) {
        for (int c = 0; c < kTrafficColumns; ++c) {
            const std::string& cell = rows[r][c];
            QTableWidgetItem* item = lvTraffic->item(r, c);
            if (item != nullptr && trafficShown_[r][c] == cell)
                continue;
            if (item != nullptr)
                item->setText(text(cell));
            else
                lvTraffic->setItem(r, c, new QTableWidgetItem(text(cell)));
            trafficShown_[r][c] = cell;
        }
    }
}

void TForm1::reportThresholdError(const DisplayModel& model, const std::string& thresholdText) {
    if (!model.error) {
        reportedThreshold_.reset();
        return;
    }
    // Once per distinct bad text, not at every refresh while it stays.
    if (reportedThreshold_ == thresholdText)
        return;
    reportedThreshold_ = thresholdText;
    showErrorBox(this, *model.error);
}

}  // namespace koravex
