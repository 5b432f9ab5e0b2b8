#pragma once
// The main window: five tabs of memory, drive, network, settings and about, the refresh
// timer, the tray menu and the colour dialog.
#include <QColor>
#include <QSize>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/display_model.h"
#include "core/probes.h"
#include "core/refresh.h"
#include "ui/window_hooks.h"

class QAction;
class QCheckBox;
class QColorDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QTableWidget;
class QTabWidget;

namespace koravex {

class Bevel;
class DriveComboBox;
class DriveListView;
class Gauge;
class ImageList;
class PaintBox;
class RefreshTimer;
class UpDown;
class WindowPlatform;

// An alert's text as the balloon takes it: at most 255 characters, none cut in two.
QString balloonText(const QString& alert);

class TForm1 : public QWidget {
    Q_OBJECT
  public:
    // Runs FormCreate: colours (free 0xFF00FF then used 0xFF0000), client size from
    // PageControl1, bottom-right placement in the work area (frame included, through the
    // platform), the platform told of the window,
    // hooks.addTrayIcon(), Image1 = application icon, fill ListView1 (handed to
    // hooks.afterShown where set), one refresh now,
    // Timer1 started (its first tick one interval after that refresh).
    TForm1(Probes& probes, WindowHooks hooks, QWidget* parent = nullptr);
    ~TForm1() override;

    QMenu* popupMenu() const;  // PopupMenu1: Details1 (default, bold), Hide1, N1, Close1

    // The two colours of the gauges, 0x00BBGGRR.
    std::uint32_t usedColor() const { return usedColor_; }
    std::uint32_t freeColor() const { return freeColor_; }

    // What the next refresh reads from the controls.
    RefreshInputs refreshInputs() const;
    // Writes one refresh's results into the window: the figures of `parts`, the alerts.
    void applyModel(const DisplayModel& model, FigureParts parts, const std::string& thresholdText);

  public slots:
    // Show, un-minimize, raise, activate, back to the bottom-right corner.
    void Details1Click();
    void Hide1Click();   // close() -> FormClose
    void Close1Click();  // hooks.quit()
    void Timer1Timer();  // one refresh

    void Edit1Change();
    void CheckBox1Click();
    void TabSheet4Show();
    void PaintBox1Click();
    void PaintBox2Click();
    void ListView1DblClick();
    void Label24MouseEnter();
    void Label24MouseLeave();
    void Label24Click();

    // Before every mapping the window asks for no task-bar and no pager entry.
    void setVisible(bool visible) override;

  protected:
    void closeEvent(QCloseEvent* event) override;  // FormClose: ignore, hide
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void buildMemoryTab(QWidget* page);
    void buildDrivesTab(QWidget* page);
    void buildNetworkTab(QWidget* page);
    void buildSettingsTab(QWidget* page);
    void buildAboutTab(QWidget* page);
    void buildComponents();
    void placeBottomRight();
    void fillDriveList();
    void paintSwatches();
    std::optional<QColor> chooseColor();
    void writeDisplay(const DisplayModel& model, FigureParts parts);
    FigureParts shownFigures() const;
    void refreshFigures();
    void tabShown();
    void raiseAlerts(const std::vector<LowSpaceAlert>& alerts);
    void rebuildTraffic(const std::vector<TrafficRow>& rows);
    void reportThresholdError(const DisplayModel& model, const std::string& thresholdText);
    void assignPageColors();
    bool nothingToWatch() const;
    void armTimer();
    void unparkTimer();

    Probes& probes_;
    WindowHooks hooks_;
    std::unique_ptr<WindowPlatform> ownPlatform_;  // Qt alone, when the hooks bring none
    WindowPlatform& platform_;
    std::uint32_t freeColor_ = 0;
    std::uint32_t usedColor_ = 0;
    QColor dialogColor_ = Qt::black;                // the colour last confirmed in ColorDialog1
    std::optional<std::string> reportedThreshold_;  // bad threshold text already reported
    // Set while the window is hidden: the refresh then runs only the low-space watch, and
    // the figures are read and written afresh when the window is shown again. While it is
    // shown, a refresh reads and writes only the figures of the shown tab; the others are
    // read and written afresh when their tab is shown.
    bool figuresHidden_ = false;
    // Set while the timer is stopped because nothing a refresh does could be noticed: the
    // window is hidden and no drive is ticked. Showing the window or ticking a drive starts
    // the countdown afresh.
    bool timerParked_ = false;
    bool pageColorsAssigned_ = false;       // the figure labels know the page's colour
    bool driveListFilled_ = false;          // ListView1 is filled once, at start
    std::vector<TrafficRow> trafficShown_;  // the texts of lvTraffic's cells, as written

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* TabSheet5 = nullptr;
    Gauge* Gauge1 = nullptr;
    Gauge* Gauge2 = nullptr;
    Gauge* Gauge3 = nullptr;
    Gauge* Gauge4 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* Label24 = nullptr;
    DriveComboBox* DriveComboBox1 = nullptr;
    QTableWidget* lvTraffic = nullptr;
    QLineEdit* Edit1 = nullptr;
    UpDown* UpDown1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    UpDown* UpDown2 = nullptr;
    DriveListView* ListView1 = nullptr;
    QSlider* TrackBar1 = nullptr;
    PaintBox* PaintBox1 = nullptr;
    PaintBox* PaintBox2 = nullptr;
    QLabel* Image1 = nullptr;
    RefreshTimer* Timer1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QColorDialog* ColorDialog1 = nullptr;
    ImageList* ImageList1 = nullptr;
};

}  // namespace koravex
