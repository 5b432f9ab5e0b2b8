#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>

#include "core/drive_list.h"
#include "ui/app_icons.h"
#include "ui/compact_tab_style.h"
#include "ui/drive_list_view.h"
#include "ui/gauge.h"
#include "ui/refresh_timer.h"
#include "ui/window_controls.h"
#include "ui/window_platform.h"

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
      hooks_(std::move(hooks)),
      ownPlatform_(hooks_.platform ? nullptr : std::make_unique<WindowPlatform>()),
      platform_(hooks_.platform ? *hooks_.platform : *ownPlatform_) {
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
    platform_.windowCreated(*this);
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
    platform_.placeBottomRight(*this);
}

void TForm1::moveEvent(QMoveEvent* event) {
    platform_.windowMoved(*this);
    QWidget::moveEvent(event);
}

void TForm1::setVisible(bool visible) {
    if (visible && !isVisible())
        platform_.beforeMapping(*this);
    QWidget::setVisible(visible);
}

void TForm1::Details1Click() {
    // A window the window manager minimized is still shown as far as Qt knows: show() alone
    // would leave it iconic. Clearing the state maps it again (for a hidden window too, so the
    // task-bar hints go first).
    if (windowState() & Qt::WindowMinimized) {
        if (!isVisible())
            platform_.beforeMapping(*this);
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
    platform_.openLink(*this, QString::fromLatin1(kMakerPage));
}

}  // namespace koravex
