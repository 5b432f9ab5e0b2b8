// The window as it stands after creation: every control by name with its place, size,
// texts, fonts, colours and initial state.
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QScreen>
#include <QSlider>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <vector>

#include "ui/bevel.h"
#include "ui/drive_combo_box.h"
#include "ui/drive_list_view.h"
#include "ui/figure_label.h"
#include "ui/gauge.h"
#include "ui/paint_box.h"
#include "ui/refresh_timer.h"
#include "ui/spin_buttons.h"
#include "window_test_support.h"

using namespace koravex;
using koravex::test::WindowFixture;

class MainWindowLayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void windowProperties();
    void placedBottomRightOfAvailableArea();
    void tabs();
    void fixedSizeControls_data();
    void fixedSizeControls();
    void labels_data();
    void labels();
    void gaugesStartAlike();
    void settingsInitialState();
    void settingsTabOrder();
    void captionsFitWithTheNarrowFallback();
    void driveListFilledOnce();
    void workHandedOnUntilTheWindowIsUp();
    void trafficTableColumns();
    void aboutTab();
    void components();
    void creationOrderCallsTrayHookOnce();
};

void MainWindowLayoutTest::windowProperties() {
    WindowFixture f;
    TForm1& w = f.make();
    QCOMPARE(w.objectName(), QStringLiteral("Form1"));
    QCOMPARE(QString::fromLatin1(w.metaObject()->className()).section(QStringLiteral("::"), -1),
             QStringLiteral("TForm1"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Koravex"));
    QVERIFY(w.windowFlags().testFlag(Qt::Tool));
    QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    // Client area = the tab control, and not resizable.
    QCOMPARE(w.size(), QSize(373, 201));
    QCOMPARE(w.minimumSize(), QSize(373, 201));
    QCOMPARE(w.maximumSize(), QSize(373, 201));
    QCOMPARE(w.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(w.font().pointSize(), 8);
    QVERIFY(!QFontInfo(w.font()).family().isEmpty());  // some face really renders
    QCOMPARE(w.palette().color(QPalette::Window), w.palette().color(QPalette::Button));
    // The colours held by the window.
    QCOMPARE(w.freeColor(), 0xFF00FFu);
    QCOMPARE(w.usedColor(), 0xFF0000u);
}

void MainWindowLayoutTest::placedBottomRightOfAvailableArea() {
    WindowFixture f;
    TForm1& w = f.make();
    const QRect area = w.screen()->availableGeometry();
    QCOMPARE(w.frameGeometry().right(), area.right());
    QCOMPARE(w.frameGeometry().bottom(), area.bottom());
    // Moved away and hidden, it comes back to the corner when shown through Details.
    w.show();
    w.move(area.topLeft());
    w.hide();
    w.Details1Click();
    QVERIFY(w.isVisible());
    QCOMPARE(w.frameGeometry().right(), area.right());
    QCOMPARE(w.frameGeometry().bottom(), area.bottom());
    // Also when it was already visible.
    w.move(area.topLeft() + QPoint(10, 10));
    w.Details1Click();
    QCOMPARE(w.frameGeometry().bottomRight(), area.bottomRight());
}

void MainWindowLayoutTest::tabs() {
    WindowFixture f;
    f.make();
    auto* pages = f.child<QTabWidget>("PageControl1");
    QVERIFY(pages);
    QCOMPARE(pages->geometry(), QRect(0, 0, 373, 201));
    QCOMPARE(pages->currentIndex(), 0);
    const char* names[] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4", "TabSheet5"};
    const QStringList captions = {QStringLiteral("Память"), QStringLiteral("Дисководы"),
                                  QStringLiteral("Сеть"), QStringLiteral("Настройки"),
                                  QStringLiteral("О программе")};
    QCOMPARE(pages->count(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(pages->widget(i)->objectName(), QString::fromLatin1(names[i]));
        QCOMPARE(pages->tabText(i), captions[i]);
        // Every caption fits its tab, and every tab fits the control: no scrolling.
        const QRect tab = pages->tabBar()->tabRect(i);
        QVERIFY(tab.width() > pages->tabBar()->fontMetrics().horizontalAdvance(captions[i]));
        QVERIFY(tab.right() < pages->width());
    }
}

void MainWindowLayoutTest::fixedSizeControls_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    auto row = [](const char* name, const char* page, const char* kind, QRect r) {
        QTest::newRow(name) << QString::fromLatin1(page) << QString::fromLatin1(kind) << r;
    };
    row("Bevel2", "TabSheet1", "koravex::Bevel", {8, 24, 257, 50});
    row("Bevel3", "TabSheet1", "koravex::Bevel", {8, 72, 257, 50});
    row("Gauge2", "TabSheet1", "koravex::Gauge", {96, 32, 153, 12});
    row("Gauge3", "TabSheet1", "koravex::Gauge", {96, 80, 153, 12});
    row("Gauge4", "TabSheet1", "koravex::Gauge", {96, 128, 153, 12});
    row("Bevel1", "TabSheet2", "koravex::Bevel", {8, 32, 193, 129});
    row("DriveComboBox1", "TabSheet2", "koravex::DriveComboBox", {216, 32, 145, 19});
    row("Gauge1", "TabSheet2", "koravex::Gauge", {216, 64, 145, 97});
    row("lvTraffic", "TabSheet3", "QTableWidget", {2, 8, 359, 161});
    row("Edit1", "TabSheet4", "QLineEdit", {8, 8, 49, 21});
    row("UpDown1", "TabSheet4", "koravex::UpDown", {57, 8, 16, 21});
    row("CheckBox1", "TabSheet4", "QCheckBox", {8, 40, 257, 17});
    row("Edit2", "TabSheet4", "QLineEdit", {8, 56, 49, 21});
    row("UpDown2", "TabSheet4", "koravex::UpDown", {57, 56, 17, 21});
    row("ListView1", "TabSheet4", "koravex::DriveListView", {8, 80, 257, 86});
    row("TrackBar1", "TabSheet4", "QSlider", {280, 32, 15, 65});
    row("PaintBox1", "TabSheet4", "koravex::PaintBox", {272, 120, 15, 15});
    row("PaintBox2", "TabSheet4", "koravex::PaintBox", {272, 136, 15, 15});
    row("Image1", "TabSheet5", "QLabel", {24, 16, 32, 32});
}

void MainWindowLayoutTest::fixedSizeControls() {
    QFETCH(QString, page);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    WindowFixture f;
    f.make();
    auto* control = f.window->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), page);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    QCOMPARE(control->geometry(), geometry);
}

void MainWindowLayoutTest::labels_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QPoint>("place");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("blue");
    QTest::addColumn<int>("points");
    auto row = [](const char* name, const char* page, QPoint at, const QString& text, bool bold,
                  bool blue, int points) {
        QTest::newRow(name) << QString::fromLatin1(page) << at << text << bold << blue << points;
    };
    row("Label1", "TabSheet1", {16, 8}, QStringLiteral("Информация о памяти"), true, true, 8);
    row("Label16", "TabSheet1", {8, 32}, QStringLiteral("Физической"), true, false, 8);
    row("Label17", "TabSheet1", {8, 80}, QStringLiteral("Подкачке"), true, false, 8);
    row("Label18", "TabSheet1", {8, 128}, QStringLiteral("Виртуальной"), true, false, 8);
    row("Label14", "TabSheet2", {16, 8}, QStringLiteral("Информация о дисковом накопители"), true,
        true, 8);
    row("Label15", "TabSheet4", {88, 16}, QStringLiteral("Интервал обновления в мсек"), false,
        false, 8);
    row("Label25", "TabSheet4", {88, 64}, QStringLiteral("Mb свободного места на диске:"), false,
        false, 8);
    row("Label26", "TabSheet4", {280, 8}, QStringLiteral("Отображать"), false, false, 8);
    row("Label27", "TabSheet4", {312, 32}, QStringLiteral("в МБ"), false, false, 8);
    row("Label28", "TabSheet4", {312, 56}, QStringLiteral("в КБ"), false, false, 8);
    row("Label29", "TabSheet4", {312, 80}, QStringLiteral("в Байтах"), false, false, 8);
    row("Label19", "TabSheet4", {288, 120}, QStringLiteral("Используется"), false, false, 8);
    row("Label20", "TabSheet4", {288, 136}, QStringLiteral("Свободно"), false, false, 8);
    row("Label21", "TabSheet5", {88, 24}, QStringLiteral("Koravex v1.0"), true, false, 12);
    row("Label23", "TabSheet5", {16, 144}, QStringLiteral("Разработчик Tarquel"), false, false, 10);
    row("Label24", "TabSheet5", {168, 144}, QStringLiteral("www.tarquel.example"), false, true, 10);
}

void MainWindowLayoutTest::labels() {
    QFETCH(QString, page);
    QFETCH(QPoint, place);
    QFETCH(QString, text);
    QFETCH(bool, bold);
    QFETCH(bool, blue);
    QFETCH(int, points);
    WindowFixture f;
    f.make();
    auto* label = f.window->findChild<QLabel*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(label);
    QCOMPARE(label->parentWidget()->objectName(), page);
    QCOMPARE(label->pos(), place);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->font().bold(), bold);
    QCOMPARE(label->font().pointSize(), points);
    const QColor ink = label->palette().color(QPalette::WindowText);
    QCOMPARE(ink == QColor(0, 0, 255), blue);
    // Sized to its text.
    QCOMPARE(label->size(), label->sizeHint());
}

void MainWindowLayoutTest::gaugesStartAlike() {
    // Before any refresh could write them (the drive cannot be read), and the written look.
    FakeProbes machine = FakeProbes::sample();
    machine.drives.clear();
    WindowFixture f(machine);
    f.make();
    for (const char* name : {"Gauge1", "Gauge2", "Gauge3", "Gauge4"}) {
        auto* gauge = f.child<Gauge>(name);
        QVERIFY(gauge);
        QCOMPARE(gauge->borderStyle(), GaugeBorder::bsNone);
        QCOMPARE(gauge->minValue(), 0);
        QCOMPARE(gauge->foreColor(), 0xFF0000u);
        QCOMPARE(gauge->backColor(), 0xFF00FFu);
        QCOMPARE(gauge->kind(), std::string_view(name) == "Gauge1" ? GaugeKind::gkPie
                                                                   : GaugeKind::gkHorizontalBar);
    }
    // The drive could not be read: Gauge1 shows zero of zero once its tab is shown.
    f.child<QTabWidget>("PageControl1")->setCurrentIndex(1);
    QCOMPARE(f.child<Gauge>("Gauge1")->maxValue(), 0);
    QCOMPARE(f.child<Gauge>("Gauge1")->progress(), 0);
}

void MainWindowLayoutTest::settingsInitialState() {
    WindowFixture f;
    f.make();
    auto* edit1 = f.child<QLineEdit>("Edit1");
    auto* edit2 = f.child<QLineEdit>("Edit2");
    auto* up1 = f.child<UpDown>("UpDown1");
    auto* up2 = f.child<UpDown>("UpDown2");
    auto* check = f.child<QCheckBox>("CheckBox1");
    auto* track = f.child<QSlider>("TrackBar1");
    QCOMPARE(edit1->text(), QStringLiteral("5000"));
    QVERIFY(edit1->isEnabled());
    QCOMPARE(up1->associate(), edit1);
    QCOMPARE(up1->minimum(), 100);
    QCOMPARE(up1->maximum(), 30000);
    QCOMPARE(up1->position(), 5000);
    QCOMPARE(edit2->text(), QStringLiteral("100"));
    QVERIFY(!edit2->isEnabled());
    QCOMPARE(up2->associate(), edit2);
    QCOMPARE(up2->minimum(), 1);
    QCOMPARE(up2->maximum(), 200);
    QCOMPARE(up2->position(), 100);
    QVERIFY(!up2->isEnabled());
    QVERIFY(!up2->upButton()->isEnabled());
    QCOMPARE(check->text(), QStringLiteral("Информировать, если осталось меньше, чем"));
    QVERIFY(!check->isChecked());
    QCOMPARE(track->orientation(), Qt::Vertical);
    QCOMPARE(track->minimum(), 0);
    QCOMPARE(track->maximum(), 2);
    QCOMPARE(track->value(), 1);
    QCOMPARE(track->pageStep(), 1);
    QCOMPARE(track->tickPosition(), QSlider::NoTicks);
    // Position 0 at the top: the thumb of 0 is drawn above the thumb of 2.
    QVERIFY(track->invertedAppearance());
    QCOMPARE(f.child<PaintBox>("PaintBox1")->fillCount(), 0);
    QCOMPARE(f.child<PaintBox>("PaintBox2")->fillCount(), 0);
}

void MainWindowLayoutTest::captionsFitWithTheNarrowFallback() {
    if (!QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Condensed")))
        QSKIP("no condensed fallback face installed (fonts-dejavu-extra)");
    WindowFixture f;
    f.make();
    QCOMPARE(QFontInfo(f.window->font()).family(), QStringLiteral("DejaVu Sans Condensed"));
    // The check box caption is drawn whole: box, spacing and text within its 257 pixels.
    auto* check = f.child<QCheckBox>("CheckBox1");
    const int needed = check->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       check->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
                       check->fontMetrics().horizontalAdvance(check->text());
    QVERIFY(needed <= check->width());
    auto* about = f.child<QLabel>("Label22");
    QVERIFY(about->heightForWidth(305) <= 73);
}

void MainWindowLayoutTest::settingsTabOrder() {
    WindowFixture f;
    f.make();
    const QStringList expected = {QStringLiteral("Edit1"),     QStringLiteral("UpDown1"),
                                  QStringLiteral("Edit2"),     QStringLiteral("CheckBox1"),
                                  QStringLiteral("TrackBar1"), QStringLiteral("UpDown2"),
                                  QStringLiteral("ListView1")};
    QStringList seen;
    QWidget* start = f.child<QWidget>("Edit1");
    QWidget* w = start;
    do {
        if (expected.contains(w->objectName()) && !seen.contains(w->objectName()))
            seen << w->objectName();
        w = w->nextInFocusChain();
    } while (w != start && seen.size() < expected.size());
    QCOMPARE(seen, expected);
}

void MainWindowLayoutTest::driveListFilledOnce() {
    WindowFixture f;
    f.make();
    auto* list = f.child<DriveListView>("ListView1");
    QCOMPARE(list->viewStyle(), DriveListView::ViewStyle::LargeIcon);
    QStandardItemModel* model = list->model();
    QCOMPARE(model->columnCount(), 4);
    const QStringList headers = {QStringLiteral("Диск"), QStringLiteral("Метка"),
                                 QStringLiteral("Файловая система"),
                                 QStringLiteral("Серийный номер")};
    const int widths[] = {40, 50, 70, 70};
    for (int c = 0; c < 4; ++c) {
        QCOMPARE(model->headerData(c, Qt::Horizontal).toString(), headers[c]);
        QCOMPARE(list->reportView()->columnWidth(c), widths[c]);
    }
    QVERIFY(list->reportView()->showGrid());
    QCOMPARE(list->iconView()->viewMode(), QListView::IconMode);
    QCOMPARE(list->iconView()->iconSize(), QSize(32, 32));
    // C: fixed with its volume, D: an empty CD-ROM (caption and image only), E: removable.
    const struct {
        const char* caption;
        int image;
        QStringList subItems;
    } rows[] = {
        {"C:\\", 1, {QStringLiteral("system"), QStringLiteral("ext4"), QStringLiteral("A1B2C3D")}},
        {"D:\\", 2, {}},
        {"E:\\",
         0,
         {QStringLiteral("USB STICK"), QStringLiteral("vfat"), QStringLiteral("5E2F0001")}}};
    QCOMPARE(model->rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
        QStandardItem* item = model->item(r, 0);
        QCOMPARE(item->text(), QString::fromLatin1(rows[r].caption));
        QCOMPARE(item->data(Qt::UserRole).toInt(), rows[r].image);
        QVERIFY(!item->icon().isNull());
        QVERIFY(item->isCheckable());
        QCOMPARE(item->checkState(), Qt::Unchecked);
        for (int c = 1; c < 4; ++c) {
            QStandardItem* sub = model->item(r, c);
            const QString expected =
                rows[r].subItems.isEmpty() ? QString() : rows[r].subItems[c - 1];
            QCOMPARE(sub ? sub->text() : QString(), expected);
        }
    }
    // Filled once: a drive that appears later is not listed.
    f.probes.drives["F:\\"] = FakeProbes::Drive{};
    f.window->Timer1Timer();
    QCOMPARE(model->rowCount(), 3);
}

void MainWindowLayoutTest::workHandedOnUntilTheWindowIsUp() {
    // What the window's mapping does not need waits for the shell's next turn: the drive list
    // (unless the settings tab is shown first) and the page colour of the figure labels.
    for (const bool settingsFirst : {false, true}) {
        WindowFixture f;
        std::vector<std::function<void()>> later;
        WindowHooks hooks = f.seams.hooks();
        hooks.afterShown = [&later](std::function<void()> work) { later.push_back(work); };
        f.window = std::make_unique<TForm1>(f.probes, hooks);
        QStandardItemModel* model = f.child<DriveListView>("ListView1")->model();
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(f.child<QLabel>("Label2")->text() != QStringLiteral("Label2"));
        QVERIFY(f.child<RefreshTimer>("Timer1")->isActive());
        QCOMPARE(later.size(), std::size_t{1});
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QCOMPARE(later.size(), std::size_t{2});
        const QList<FigureLabel*> figures = f.window->findChildren<FigureLabel*>();
        QVERIFY(std::none_of(figures.begin(), figures.end(),
                             [](const FigureLabel* l) { return l->paintsOpaque(); }));
        if (settingsFirst) {
            f.child<QTabWidget>("PageControl1")->setCurrentWidget(f.child<QWidget>("TabSheet4"));
            QCOMPARE(model->rowCount(), 3);
        }
        for (const auto& work : later)
            work();
        QCOMPARE(model->rowCount(), 3);  // once, whichever came first
        QVERIFY(!model->item(0, 0)->icon().isNull());
        // As many labels paint opaque as in a window that found the colour at once.
        WindowFixture at;
        at.make().show();
        QVERIFY(QTest::qWaitForWindowExposed(at.window.get()));
        const QList<FigureLabel*> atOnce = at.window->findChildren<FigureLabel*>();
        const auto opaque = [](const QList<FigureLabel*>& labels) {
            return std::count_if(labels.begin(), labels.end(),
                                 [](const FigureLabel* l) { return l->paintsOpaque(); });
        };
        QVERIFY(opaque(figures) > 0);
        QCOMPARE(opaque(figures), opaque(atOnce));
    }
}

void MainWindowLayoutTest::trafficTableColumns() {
    WindowFixture f;
    f.make();
    auto* table = f.child<QTableWidget>("lvTraffic");
    const QStringList captions = {QStringLiteral("Индекс"),     QStringLiteral("Описание"),
                                  QStringLiteral("Тип"),        QStringLiteral("Принято"),
                                  QStringLiteral("Отправлено"), QStringLiteral("Скорость"),
                                  QStringLiteral("Статус")};
    QCOMPARE(table->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(table->horizontalHeaderItem(c)->text(), captions[c]);
        QCOMPARE(table->columnWidth(c), 50);
    }
    QVERIFY(table->showGrid());
    QVERIFY(!table->verticalHeader()->isVisible() || table->verticalHeader()->isHidden());
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
}

void MainWindowLayoutTest::aboutTab() {
    WindowFixture f;
    f.make();
    auto* image = f.child<QLabel>("Image1");
    QCOMPARE(image->pixmap().size(), QSize(32, 32));
    auto* about = f.child<QLabel>("Label22");
    QVERIFY(about->wordWrap());
    // 305 x 73, taller only when the face in use needs it, never over Label23 below.
    QCOMPARE(about->pos(), QPoint(16, 64));
    QCOMPARE(about->width(), 305);
    QVERIFY(about->height() >= 73);
    QVERIFY(about->geometry().bottom() < f.child<QLabel>("Label23")->y());
    QVERIFY(about->heightForWidth(305) <= about->height());
    QVERIFY(about->text().startsWith(QStringLiteral("Программа предназначена")));
    QVERIFY(about->text().endsWith(QStringLiteral("Информирование в случае нехватки места.")));
    auto* link = f.child<QLabel>("Label24");
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
}

void MainWindowLayoutTest::components() {
    WindowFixture f;
    f.make();
    auto* timer = f.window->findChild<QTimer*>(QStringLiteral("Timer1"));
    QVERIFY(timer);
    auto* refresh = qobject_cast<RefreshTimer*>(timer);
    QVERIFY(refresh);
    QCOMPARE(refresh->intervalMs(), 5000u);
    QVERIFY(refresh->isEnabled());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5000);

    QMenu* menu = f.window->popupMenu();
    QCOMPARE(menu, f.child<QMenu>("PopupMenu1"));
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 4);
    const char* names[] = {"Details1", "Hide1", "N1", "Close1"};
    const QStringList texts = {QStringLiteral("Details"), QStringLiteral("Hide"), QString(),
                               QStringLiteral("Close")};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(actions[i]->objectName(), QString::fromLatin1(names[i]));
        QCOMPARE(actions[i]->text(), texts[i]);
    }
    QVERIFY(actions[2]->isSeparator());
    QCOMPARE(menu->defaultAction(), actions[0]);
    QVERIFY(actions[0]->font().bold());
    QVERIFY(!actions[1]->font().bold());

    // The colour dialog is made at the first colour choice, not at start.
    QVERIFY(!f.child<QColorDialog>("ColorDialog1"));
    auto* images = f.child<ImageList>("ImageList1");
    QVERIFY(images);
    QCOMPARE(images->count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(images->image(i).size(), QSize(32, 32));
    // The non-visual components take no room: the tab control is the only child widget
    // of the client area that is shown.
    QList<QWidget*> shown;
    for (QWidget* child : f.window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow() && !child->isHidden())
            shown << child;
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.front()->objectName(), QStringLiteral("PageControl1"));
}

void MainWindowLayoutTest::creationOrderCallsTrayHookOnce() {
    WindowFixture f;
    f.make();
    QCOMPARE(f.seams.events.count(QStringLiteral("tray")), 1);
    QCOMPARE(f.seams.events.front(), QStringLiteral("tray"));
}

QTEST_MAIN(MainWindowLayoutTest)
#include "main_window_layout_test.moc"
