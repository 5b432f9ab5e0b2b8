#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

#include "core/drive_list.h"
#include "ui/app_icons.h"
#include "ui/compact_tab_style.h"
#include "ui/drive_list_view.h"
#include "ui/gauge.h"
#include "ui/refresh_timer.h"
#include "ui/taskbar_hints.h"
#include "ui/window_controls.h"

namespace koravex {

namespace {

constexpr int kClientWidth = 373;
constexpr int kClientHeight = 201;
constexpr auto kMakerPage = "http://www.tarquel.example/business.html";

}  // namespace

TForm1::TForm1(Probes& probes, WindowHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      probes_(probes),
      hooks_(std::move(hooks)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Koravex"));
    // The layout was made for a narrow face: where "MS Sans Serif" is missing, a condensed
    // face keeps the captions within their places better than the platform's default.
    QFont::insertSubstitutions(
        QStringLiteral("MS Sans Serif"),
        {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow")});
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    PageControl1 = new QTabWidget(this);
    place(PageControl1, "PageControl1", 0, 0, kClientWidth, kClientHeight);
    auto* tabStyle = new CompactTabStyle();
    tabStyle->setParent(PageControl1);
    PageControl1->tabBar()->setStyle(tabStyle);
    PageControl1->setUsesScrollButtons(false);
    const struct {
        QWidget** sheet;
        const char* name;
        const char* caption;
    } tabs[] = {{&TabSheet1, "TabSheet1", "Память"},
                {&TabSheet2, "TabSheet2", "Дисководы"},
                {&TabSheet3, "TabSheet3", "Сеть"},
                {&TabSheet4, "TabSheet4", "Настройки"},
                {&TabSheet5, "TabSheet5", "О программе"}};
    for (const auto& tab : tabs) {
        *tab.sheet = new QWidget(PageControl1);
        (*tab.sheet)->setObjectName(QString::fromLatin1(tab.name));
        PageControl1->addTab(*tab.sheet, QString::fromUtf8(tab.caption));
    }
    buildMemoryTab(TabSheet1);
    buildDrivesTab(TabSheet2);
    buildNetworkTab(TabSheet3);
    buildSettingsTab(TabSheet4);
    buildAboutTab(TabSheet5);
    buildComponents();
    PageControl1->setCurrentIndex(0);
    // The page is shown by now (when the window is) and not yet painted.
    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::tabShown);

    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildComponents() {
    Timer1 = new RefreshTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &RefreshTimer::fired, this, &TForm1::Timer1Timer);
    Timer1->setIntervalMs(5000);
    Timer1->setEnabled(true);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* details =
        PopupMenu1->addAction(QStringLiteral("Details"), this, &TForm1::Details1Click);
    details->setObjectName(QStringLiteral("Details1"));
    QFont bold = details->font();
    bold.setBold(true);
    details->setFont(bold);
    PopupMenu1->setDefaultAction(details);
    QAction* hide = PopupMenu1->addAction(QStringLiteral("Hide"), this, &TForm1::Hide1Click);
    hide->setObjectName(QStringLiteral("Hide1"));
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    QAction* close = PopupMenu1->addAction(QStringLiteral("Close"), this, &TForm1::Close1Click);
    close->setObjectName(QStringLiteral("Close1"));

    ImageList1 = new ImageList(32, 32, this);
    ImageList1->setObjectName(QStringLiteral("ImageList1"));
}

void TForm1::fillDriveList() {
    if (driveListFilled_)
        return;
    driveListFilled_ = true;
    for (int i = 0; i < 3; ++i)
        ImageList1->add(driveListImage(i));
    ListView1->setLargeImages(ImageList1);
    ListView1->fill(buildDriveList(probes_));
}

void TForm1::FormCreate() {
    freeColor_ = 0xFF00FF;
    usedColor_ = 0xFF0000;
    setFixedSize(PageControl1->width(), PageControl1->height());
    placeBottomRight();
    if (hooks_.addTrayIcon)
        hooks_.addTrayIcon();
    Image1->setPixmap(QPixmap::fromImage(drawApplicationIcon(32)));
    Image1->adjustSize();
    // No drive is ticked before the list is filled, so the refresh below reads the same
    // whenever the list is filled.
    if (hooks_.afterShown)
        hooks_.afterShown([this] { fillDriveList(); });
    else
        fillDriveList();
    Timer1Timer();
}

QMenu* TForm1::popupMenu() const {
    return PopupMenu1;
}

void TForm1::placeBottomRight() {
#ifdef _WIN32
    // Once the native window exists its own rectangle is used: the frame Qt assumes can
    // differ from the one the system draws by a few pixels.
    if (testAttribute(Qt::WA_WState_Created) && internalWinId() != 0) {
        const HWND window = reinterpret_cast<HWND>(internalWinId());
        RECT area{};
        RECT outer{};
        if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) && GetWindowRect(window, &outer)) {
            SetWindowPos(window, nullptr, area.right - (outer.right - outer.left),
                         area.bottom - (outer.bottom - outer.top), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            placedFrame_ = frameGeometry().size();
            return;
        }
    }
#endif
    const QScreen* where = screen();
    if (!where)
        return;
    const QRect area = where->availableGeometry();
    const QSize outer = frameGeometry().size();
    move(area.x() + area.width() - outer.width(), area.y() + area.height() - outer.height());
    placedFrame_ = outer;
}

void TForm1::moveEvent(QMoveEvent* event) {
    // The window manager adds its frame after the first placement: place again with it.
    if (isVisible() && frameGeometry().size() != placedFrame_)
        placeBottomRight();
    QWidget::moveEvent(event);
}

void TForm1::setVisible(bool visible) {
    if (visible && !isVisible())
        askNoTaskbarEntry(this);
    QWidget::setVisible(visible);
}

void TForm1::Details1Click() {
    // A window the window manager minimized is still shown as far as Qt knows: show() alone
    // would leave it iconic. Clearing the state maps it again (for a hidden window too, so the
    // task-bar hints go first).
    if (windowState() & Qt::WindowMinimized) {
        if (!isVisible())
            askNoTaskbarEntry(this);
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    show();
    placeBottomRight();
    raise();
    activateWindow();
}

void TForm1::Hide1Click() {
    close();
}

void TForm1::Close1Click() {
    if (hooks_.quit)
        hooks_.quit();
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label24) {
        switch (event->type()) {
            case QEvent::Enter:
                Label24MouseEnter();
                break;
            case QEvent::Leave:
                Label24MouseLeave();
                break;
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                    Label24Click();
                break;
            default:
                break;
        }
    } else if (watched == TabSheet4 && event->type() == QEvent::Show) {
        TabSheet4Show();
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::Label24MouseEnter() {
    QFont font = Label24->font();
    font.setBold(true);  // the heading's style with bold added
    Label24->setFont(font);
    Label24->adjustSize();
}

void TForm1::Label24MouseLeave() {
    QFont font = Label24->font();
    font.setBold(false);  // the heading's style with bold removed
    Label24->setFont(font);
    Label24->adjustSize();
}

void TForm1::Label24Click() {
#ifdef _WIN32
    // The page opens in a window the user can see: the shell is asked with SW_SHOWNORMAL.
    ShellExecuteW(reinterpret_cast<HWND>(winId()), L"open",
                  reinterpret_cast<const wchar_t*>(QString::fromLatin1(kMakerPage).utf16()),
                  nullptr, nullptr, SW_SHOWNORMAL);
#else
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerPage)));
#endif
}

}  // namespace koravex
