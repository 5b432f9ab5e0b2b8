// One refresh written into the window: texts, gauges, the drive letter's case, alerts with
// their balloons, the threshold's error box and the interface table's repaints.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSlider>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include "ui/drive_combo_box.h"
#include "ui/drive_list_view.h"
#include "ui/figure_label.h"
#include "ui/gauge.h"
#include "ui/refresh_timer.h"
#include "ui/traffic_cell_delegate.h"
#include "window_test_support.h"

using namespace koravex;
using koravex::test::WindowFixture;

namespace {

QString labelText(const WindowFixture& f, const char* name) {
    return f.child<QLabel>(name)->text();
}

void tick(const WindowFixture& f, int row) {
    f.child<DriveListView>("ListView1")->model()->item(row, 0)->setCheckState(Qt::Checked);
}

void alertOn(const WindowFixture& f, const QString& threshold) {
    QTest::mouseClick(f.child<QCheckBox>("CheckBox1"), Qt::LeftButton);
    f.child<QLineEdit>("Edit2")->setText(threshold);
}

// Counts paints of a widget.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

const QString kCannot = QStringLiteral("Не возможно определить");

void showTab(const WindowFixture& f, const char* sheet) {
    f.child<QTabWidget>("PageControl1")->setCurrentWidget(f.child<QWidget>(sheet));
}

}  // namespace

class MainWindowRefreshTest : public QObject {
    Q_OBJECT
  private slots:
    void firstRefreshWritesEveryText();
    void unreadableDriveFreezesNothingButDriveTexts();
    void driveLetterCaseFollowsTheSelector();
    void emptyCdRomSelected();
    void unitScaleReadAtNextRefresh();
    void volumeLabelIsPlainText();
    void longFiguresPushTheirNeighbours();
    void opaqueFiguresLookAsTransparentOnes_data();
    void opaqueFiguresLookAsTransparentOnes();
    void alerts_data();
    void alerts();
    void failedBalloonSetsCaptionNot();
    void thresholdErrorOncePerDistinctText();
    void trafficTableOneRepaintPerRebuild_data();
    void trafficTableOneRepaintPerRebuild();
    void trafficTableNotPaintedWhileHidden();
    void trafficCellsLookAsTheStyleDrawsThem_data();
    void trafficCellsLookAsTheStyleDrawsThem();
    void hiddenWindowWritesItsFiguresOnShow();
    void badThresholdReportedOnceAcrossHideAndShow();
    void hiddenWindowParksTheTimer_data();
    void hiddenWindowParksTheTimer();
    void refreshRestartsCountdown();
    void unexpectedErrorEndsTheRefreshWithABox();
};

void MainWindowRefreshTest::firstRefreshWritesEveryText() {
    WindowFixture f;
    f.make();
    // Kilobytes (track bar at 1): 8 GiB is 8 388 608 KB.
    QVERIFY(labelText(f, "Label2").contains(QStringLiteral("8 388 608")));
    QCOMPARE(f.child<Gauge>("Gauge2")->maxValue(), 8 * 1024 * 1024);
    // The first refresh writes the memory tab alone; each other tab is written when shown.
    QCOMPARE(labelText(f, "Label8"), QStringLiteral("Label8"));
    QCOMPARE(f.child<QTableWidget>("lvTraffic")->rowCount(), 0);
    QCOMPARE(f.probes.interfaceCalls, 0);
    showTab(f, "TabSheet2");
    QCOMPARE(labelText(f, "Label8"), QStringLiteral("Диск: C:\\"));
    QVERIFY(labelText(f, "Label9").startsWith(QStringLiteral("Свободно на диске: ")));
    QVERIFY(labelText(f, "Label9").contains(QStringLiteral("44 040 192")));  // 42 GiB
    QVERIFY(labelText(f, "Label10").startsWith(QStringLiteral("Всего на диске ")));
    QCOMPARE(labelText(f, "Label11"), QStringLiteral("Файловая система: ext4"));
    QCOMPARE(labelText(f, "Label12"), QStringLiteral("system"));
    QCOMPARE(labelText(f, "Label13"), QStringLiteral("Серийный номер: A1B2C3D"));
    // Gauges: memory in kilobytes, the drive in megabytes.
    QCOMPARE(f.child<Gauge>("Gauge2")->maxValue(), 8 * 1024 * 1024);
    QCOMPARE(f.child<Gauge>("Gauge2")->progress(), 2 * 1024 * 1024 + 724 * 1024);
    QCOMPARE(f.child<Gauge>("Gauge1")->maxValue(), 250 * 1024);
    QCOMPARE(f.child<Gauge>("Gauge1")->progress(), 208 * 1024);
    // Labels stay sized to their new texts.
    auto* label9 = f.child<QLabel>("Label9");
    QCOMPARE(label9->size(), label9->sizeHint());
    // The interface table.
    showTab(f, "TabSheet3");
    auto* table = f.child<QTableWidget>("lvTraffic");
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("lo"));
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("2"));
    QCOMPARE(table->item(1, 5)->text(), QStringLiteral("976 563"));
    QCOMPARE(table->item(1, 6)->text(), QStringLiteral("OPERATIONAL"));
}

void MainWindowRefreshTest::unreadableDriveFreezesNothingButDriveTexts() {
    FakeProbes machine = FakeProbes::sample();
    machine.currentDrive = 'D';  // the empty CD-ROM
    WindowFixture f(machine);
    f.make();
    showTab(f, "TabSheet2");
    for (const char* name : {"Label9", "Label10", "Label11", "Label12", "Label13"})
        QCOMPARE(labelText(f, name), kCannot);
    QCOMPARE(labelText(f, "Label8"), QStringLiteral("Диск: D:\\"));
    // The memory texts are written all the same.
    QVERIFY(labelText(f, "Label2") != QStringLiteral("Label2"));
}

void MainWindowRefreshTest::driveLetterCaseFollowsTheSelector() {
    WindowFixture f;
    TForm1& w = f.make();
    showTab(f, "TabSheet2");
    // Before the selector is built (at its first display) the drive is named as the current
    // directory's drive is.
    QCOMPARE(labelText(f, "Label8"), QStringLiteral("Диск: C:\\"));
    showTab(f, "TabSheet1");
    w.show();
    showTab(f, "TabSheet2");
    QVERIFY(f.child<DriveComboBox>("DriveComboBox1")->isBuilt());
    // The tab's refresh on show reads the selector as it was just built.
    QCOMPARE(labelText(f, "Label8"), QStringLiteral("Диск: c:\\"));
    w.Timer1Timer();
    QCOMPARE(labelText(f, "Label8"), QStringLiteral("Диск: c:\\"));
}

void MainWindowRefreshTest::emptyCdRomSelected() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    f.child<QTabWidget>("PageControl1")->setCurrentWidget(f.child<QWidget>("TabSheet2"));
    auto* combo = f.child<DriveComboBox>("DriveComboBox1");
    const int gaugeBefore = f.child<Gauge>("Gauge1")->progress();
    const int d = combo->findText(QStringLiteral("d: []"));
    QVERIFY(d >= 0);
    combo->setCurrentIndex(d);
    QCOMPARE(combo->driveLetter(), 'd');
    w.Timer1Timer();
    QCOMPARE(labelText(f, "Label8"), QStringLiteral("Диск: d:\\"));
    for (const char* name : {"Label9", "Label10", "Label11", "Label12", "Label13"})
        QCOMPARE(labelText(f, name), kCannot);
    // The drive's gauge shows nothing for a drive that cannot be read.
    QVERIFY(gaugeBefore > 0);
    QCOMPARE(f.child<Gauge>("Gauge1")->progress(), 0);
}

void MainWindowRefreshTest::unitScaleReadAtNextRefresh() {
    WindowFixture f;
    TForm1& w = f.make();
    const QString kilobytes = labelText(f, "Label2");
    f.child<QSlider>("TrackBar1")->setValue(0);
    QCOMPARE(labelText(f, "Label2"), kilobytes);
    w.Timer1Timer();
    QVERIFY(labelText(f, "Label2").contains(QStringLiteral("8 192")));
    QVERIFY(!labelText(f, "Label2").contains(QStringLiteral("8 388 608")));
}

void MainWindowRefreshTest::volumeLabelIsPlainText() {
    FakeProbes machine = FakeProbes::sample();
    machine.drives["C:\\"].volume->name = "<b>x</b>&<img src=a>";
    WindowFixture f(machine);
    f.make();
    showTab(f, "TabSheet2");
    auto* label = f.child<QLabel>("Label12");
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(label->text(), QStringLiteral("<b>x</b>&<img src=a>"));
}

void MainWindowRefreshTest::longFiguresPushTheirNeighbours() {
    // The sample's 128 TiB address space in bytes is far wider than the room before x = 160.
    WindowFixture f;
    TForm1& w = f.make();
    f.child<QSlider>("TrackBar1")->setValue(2);
    w.Timer1Timer();
    showTab(f, "TabSheet2");
    const struct {
        const char* left;
        const char* right;
        int designLeft;
    } pairs[] = {{"Label2", "Label3", 160},
                 {"Label4", "Label5", 160},
                 {"Label6", "Label7", 160},
                 {"Label8", "Label12", 72}};
    for (const auto& pair : pairs) {
        const QLabel* left = f.child<QLabel>(pair.left);
        const QLabel* right = f.child<QLabel>(pair.right);
        QVERIFY2(right->x() > left->geometry().right(), pair.right);
        QVERIFY(right->x() >= pair.designLeft);
        QCOMPARE(right->y(), left->y());
    }
    QVERIFY(f.child<QLabel>("Label7")->x() > 160);
    // Short texts again: back at the places of the layout.
    f.child<QSlider>("TrackBar1")->setValue(0);
    f.probes.memory.totalVirtual = f.probes.memory.availVirtual = 1 << 20;
    showTab(f, "TabSheet1");
    QCOMPARE(f.child<QLabel>("Label7")->x(), 160);
    QCOMPARE(f.child<QLabel>("Label3")->x(), 160);
}

void MainWindowRefreshTest::opaqueFiguresLookAsTransparentOnes_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("opaqueAtLeast");  // figure labels of the tab that paint opaque
    QTest::newRow("memory, KB") << 0 << 1 << 6;
    QTest::newRow("memory, bytes") << 0 << 2 << 4;
    QTest::newRow("drives, MB") << 1 << 0 << 6;
    QTest::newRow("drives, bytes: long texts run over the frame") << 1 << 2 << 3;
}

void MainWindowRefreshTest::opaqueFiguresLookAsTransparentOnes() {
    // What the screen holds after a refresh repainted only the labels whose figures moved
    // must be what the whole window looks like with every label drawn the old way,
    // transparent over the page, the frame and the bevels.
    QFETCH(int, tab);
    QFETCH(int, unit);
    QFETCH(int, opaqueAtLeast);
    WindowFixture f;
    TForm1& w = f.make();
    f.child<QSlider>("TrackBar1")->setValue(unit);
    w.show();
    auto* pages = f.child<QTabWidget>("PageControl1");
    pages->setCurrentIndex(tab);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Timer1Timer();
    QCoreApplication::processEvents();
    const QList<FigureLabel*> figures = pages->widget(tab)->findChildren<FigureLabel*>();
    const auto opaque = std::count_if(figures.begin(), figures.end(),
                                      [](const FigureLabel* l) { return l->paintsOpaque(); });
    QVERIFY2(opaque >= opaqueAtLeast, QByteArray::number(static_cast<int>(opaque)));
    // Figures move by a few digits, twice, in other places each time: only their labels are
    // repainted, the second time over glyphs the first one changed.
    for (const std::uint64_t step : {std::uint64_t{1024} * 1024, std::uint64_t{1024} * 9}) {
        f.probes.memory.availPhys -= 3 * 4 * step;
        f.probes.memory.availPageFile -= 7 * 4 * step;
        f.probes.drives["C:\\"].space->totalFree -= static_cast<std::int64_t>(5 * step);
        w.Timer1Timer();
        QCoreApplication::processEvents();
    }
    const QImage screen =
        w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    for (FigureLabel* label : figures)
        label->setPageColor(std::nullopt);
    QVERIFY(std::none_of(figures.begin(), figures.end(),
                         [](const FigureLabel* l) { return l->paintsOpaque(); }));
    const QImage transparent = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(screen.size(), transparent.size());
    QVERIFY(screen == transparent);
}

void MainWindowRefreshTest::alerts_data() {
    QTest::addColumn<QString>("threshold");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<bool>("switchOn");
    QTest::addColumn<QStringList>("events");
    const QString c = QStringLiteral(
        "balloon:Внимание!|На диске: C:\\ осталось меньше %1 Mb "
        "дискового пространства");
    const QString e = QStringLiteral(
        "balloon:Внимание!|На диске: E:\\ осталось меньше %1 Mb "
        "дискового пространства");
    const QString beep = QStringLiteral("beep");
    // E: has 3 GiB free (3072 MB), C: 42 GiB (43008 MB).
    QTest::newRow("E low") << QStringLiteral("5000") << QList<int>{2} << true
                           << QStringList{beep, e.arg(QStringLiteral("5000"))};
    QTest::newRow("equal is not low")
        << QStringLiteral("3072") << QList<int>{2} << true << QStringList{};
    QTest::newRow("one more is low") << QStringLiteral("3073") << QList<int>{2} << true
                                     << QStringList{beep, e.arg(QStringLiteral("3073"))};
    QTest::newRow("both low, list order")
        << QStringLiteral("50000") << QList<int>{2, 0} << true
        << QStringList{beep, c.arg(QStringLiteral("50000")), beep, e.arg(QStringLiteral("50000"))};
    QTest::newRow("hex as typed") << QStringLiteral("$FFFF") << QList<int>{2} << true
                                  << QStringList{beep, e.arg(QStringLiteral("$FFFF"))};
    QTest::newRow("switch off") << QStringLiteral("5000") << QList<int>{2} << false
                                << QStringList{};
    QTest::newRow("empty CD-ROM skipped")
        << QStringLiteral("5000") << QList<int>{1} << true << QStringList{};
    QTest::newRow("zero never") << QStringLiteral("0") << QList<int>{0, 2} << true << QStringList{};
}

void MainWindowRefreshTest::alerts() {
    QFETCH(QString, threshold);
    QFETCH(QList<int>, ticked);
    QFETCH(bool, switchOn);
    QFETCH(QStringList, events);
    WindowFixture f;
    TForm1& w = f.make();
    for (int row : ticked)
        tick(f, row);
    if (switchOn)
        alertOn(f, threshold);
    else
        f.child<QLineEdit>("Edit2")->setText(threshold);
    f.seams.events.clear();
    w.Timer1Timer();
    QCOMPARE(f.seams.events, events);
    // The watch has no memory: the next refresh warns again.
    w.Timer1Timer();
    QCOMPARE(f.seams.events.size(), 2 * events.size());
    QCOMPARE(w.windowTitle(), QStringLiteral("Koravex"));
}

void MainWindowRefreshTest::failedBalloonSetsCaptionNot() {
    WindowFixture f;
    TForm1& w = f.make();
    tick(f, 2);
    alertOn(f, QStringLiteral("5000"));
    f.seams.balloonResult = false;
    f.seams.events.clear();
    w.Timer1Timer();
    QCOMPARE(f.seams.events.size(), 2);
    QCOMPARE(f.seams.events.front(), QStringLiteral("beep"));  // the beep sounds all the same
    QCOMPARE(w.windowTitle(), QStringLiteral("not"));
    // It stays.
    f.seams.balloonResult = true;
    w.Timer1Timer();
    QCOMPARE(w.windowTitle(), QStringLiteral("not"));
}

void MainWindowRefreshTest::thresholdErrorOncePerDistinctText() {
    WindowFixture f;
    TForm1& w = f.make();
    auto* timer = f.child<RefreshTimer>("Timer1");
    auto* edit2 = f.child<QLineEdit>("Edit2");
    showTab(f, "TabSheet3");  // the table's tab, for the rebuild below
    tick(f, 2);
    alertOn(f, QString());
    w.Timer1Timer();
    const QString empty = QStringLiteral("'' is not a valid integer value.");
    QCOMPARE(f.seams.boxes, QStringList{empty});
    QVERIFY(f.seams.events.last().startsWith(QStringLiteral("box:") + errorBoxTitle() +
                                             QLatin1Char('|')));
    // Monitoring goes on, and the same bad text is not reported again.
    QVERIFY(timer->isEnabled());
    QVERIFY(timer->isActive());
    w.Timer1Timer();
    w.Timer1Timer();
    QCOMPARE(f.seams.boxes.size(), 1);
    // The table is still rebuilt after the error.
    f.probes.interfaces->pop_back();
    w.Timer1Timer();
    QCOMPARE(f.child<QTableWidget>("lvTraffic")->rowCount(), 1);
    // Another bad text is reported once.
    edit2->setText(QStringLiteral("12x"));
    w.Timer1Timer();
    w.Timer1Timer();
    QCOMPARE(f.seams.boxes,
             (QStringList{empty, QStringLiteral("'12x' is not a valid integer value.")}));
    // Mended, then broken the same way again: reported again.
    edit2->setText(QStringLiteral("100"));
    w.Timer1Timer();
    edit2->setText(QStringLiteral("12x"));
    w.Timer1Timer();
    QCOMPARE(f.seams.boxes.size(), 3);
}

void MainWindowRefreshTest::trafficTableOneRepaintPerRebuild_data() {
    QTest::addColumn<int>("rows");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("forty") << 40;
}

void MainWindowRefreshTest::trafficTableOneRepaintPerRebuild() {
    QFETCH(int, rows);
    FakeProbes machine = FakeProbes::sample();
    std::vector<InterfaceRow> many;
    for (int i = 0; i < rows; ++i)
        many.push_back(
            {static_cast<std::uint32_t>(i + 1), "eth" + std::to_string(i), 6, 0, 5, 0, 0});
    machine.interfaces = many;
    WindowFixture f(machine);
    TForm1& w = f.make();
    w.show();
    auto* table = f.child<QTableWidget>("lvTraffic");
    f.child<QTabWidget>("PageControl1")->setCurrentWidget(f.child<QWidget>("TabSheet3"));
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    PaintCounter counter(table->viewport());
    for (InterfaceRow& row : *f.probes.interfaces)
        row.inOctets += 1024 * 1024;  // every row's figure moves
    w.Timer1Timer();
    QCOMPARE(counter.paints, 0);  // nothing painted row by row
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, rows > 0 ? 1 : 0);
    QCOMPARE(table->rowCount(), rows);
    QCOMPARE(table->updatesEnabled(), true);
    if (rows > 0)
        QCOMPARE(table->item(rows - 1, 3)->text(), QStringLiteral("1 024"));
    // A refresh that changes no figure leaves the table alone.
    w.Timer1Timer();
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, rows > 0 ? 1 : 0);
}

void MainWindowRefreshTest::trafficTableNotPaintedWhileHidden() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* table = f.child<QTableWidget>("lvTraffic");
    PaintCounter counter(table->viewport());
    const int interfaceReads = f.probes.interfaceCalls;
    w.Timer1Timer();
    QCoreApplication::processEvents();
    // The memory tab is shown: the table is neither read, written nor painted.
    QCOMPARE(counter.paints, 0);
    QCOMPARE(f.probes.interfaceCalls, interfaceReads);
    QCOMPARE(table->rowCount(), 0);
    // Its tab shown, it is written before its first paint.
    showTab(f, "TabSheet3");
    QCOMPARE(counter.paints, 0);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 6)->text(), QStringLiteral("OPERATIONAL"));
}

void MainWindowRefreshTest::trafficCellsLookAsTheStyleDrawsThem_data() {
    QTest::addColumn<int>("unit");      // TrackBar1: 0 MB, 1 KB, 2 bytes
    QTest::addColumn<int>("selected");  // a selected row, or -1
    QTest::newRow("MB") << 0 << -1;
    QTest::newRow("KB") << 1 << -1;
    QTest::newRow("bytes: counters elided as they grow") << 2 << -1;
    QTest::newRow("MB, a row selected") << 0 << 1;
}

void MainWindowRefreshTest::trafficCellsLookAsTheStyleDrawsThem() {
    // After each refresh, the table as the window's delegate paints it (its kept, swapped
    // and laid-out cells) and as QStyledItemDelegate paints it are the same to the pixel.
    QFETCH(int, unit);
    QFETCH(int, selected);
    FakeProbes machine = FakeProbes::sample();
    machine.interfaces->push_back({3,
                                   "wlan0 "
                                   "\xD0\x91\xD0\xB5\xD1\x81\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB2\xD0"
                                   "\xBE\xD0\xB4\xD0\xBD\xD0\xB0\xD1\x8F",
                                   71, 54000000, 2, 999, 7});
    WindowFixture f(machine);
    TForm1& w = f.make();
    w.show();
    f.child<QSlider>("TrackBar1")->setValue(unit);
    showTab(f, "TabSheet3");
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* table = f.child<QTableWidget>("lvTraffic");
    auto* ours = qobject_cast<TrafficCellDelegate*>(table->itemDelegate());
    QVERIFY(ours != nullptr);
    if (selected >= 0)
        table->selectRow(selected);
    QStyledItemDelegate stock;
    const auto compare = [&](int step) {
        const QImage mine = table->viewport()->grab().toImage();
        table->setItemDelegate(&stock);
        const QImage theirs = table->viewport()->grab().toImage();
        table->setItemDelegate(ours);
        if (mine != theirs) {
            for (int y = 0; y < mine.height(); ++y)
                for (int x = 0; x < mine.width(); ++x)
                    if (mine.pixel(x, y) != theirs.pixel(x, y))
                        QFAIL(qPrintable(QStringLiteral("step %1: first differing pixel (%2, %3)")
                                             .arg(step)
                                             .arg(x)
                                             .arg(y)));
            QFAIL("the pictures differ in size");
        }
    };
    compare(0);
    // Counters that move by digits only, and some that grow a digit.
    const std::uint64_t steps[] = {1, 7, 4096 * 11, 1 << 20, 93 * (1 << 20), 1000, 1ull << 33, 3};
    int step = 1;
    for (const std::uint64_t by : steps) {
        for (InterfaceRow& row : *f.probes.interfaces) {
            row.inOctets += by * 3;
            row.outOctets += by;
        }
        w.Timer1Timer();
        QCoreApplication::processEvents();
        compare(step++);
    }
    // Every way of painting a cell was taken (the long description and, in bytes, the
    // counters are elided); only the selected row's cells are left to the style.
    const TrafficCellDelegate::Counts& counts = ours->counts();
    QVERIFY(counts.laidOut > 0);
    QVERIFY(counts.kept > 0);
    QVERIFY(counts.swapped > 0);
    QCOMPARE(counts.stock > 0, selected >= 0);
}

void MainWindowRefreshTest::hiddenWindowWritesItsFiguresOnShow() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    tick(f, 2);
    alertOn(f, QStringLiteral("5000"));
    w.Timer1Timer();
    const QString shownMemory = labelText(f, "Label2");
    auto* table = f.child<QTableWidget>("lvTraffic");
    auto* timer = f.child<RefreshTimer>("Timer1");
    w.close();
    QVERIFY(!w.isVisible());
    // The machine changes while nobody looks.
    f.probes.memory.totalPhys *= 2;
    f.probes.interfaces->pop_back();
    f.seams.events.clear();
    const int starts = timer->countdownStarts();
    const int memoryReads = f.probes.memoryCalls;
    const int interfaceReads = f.probes.interfaceCalls;
    w.Timer1Timer();
    // The watch and the timer go on as ever; the figures are neither read nor written.
    QCOMPARE(f.seams.events.size(), 2);
    QCOMPARE(f.seams.events.at(0), QStringLiteral("beep"));
    QCOMPARE(timer->countdownStarts(), starts + 1);
    QVERIFY(timer->isActive());
    QCOMPARE(f.probes.memoryCalls, memoryReads);
    QCOMPARE(f.probes.interfaceCalls, interfaceReads);
    QCOMPARE(labelText(f, "Label2"), shownMemory);
    // Shown again: the shown tab's figures are read and written before the first paint,
    // without an alert and without restarting the countdown.
    w.Details1Click();
    QCOMPARE(f.probes.memoryCalls, memoryReads + 1);
    QCOMPARE(f.probes.interfaceCalls, interfaceReads);  // not on the shown tab
    QVERIFY(labelText(f, "Label2").contains(QStringLiteral("16 777 216")));
    auto* label2 = f.child<QLabel>("Label2");
    QCOMPARE(label2->size(), label2->sizeHint());
    QCOMPARE(f.seams.events.size(), 2);
    QCOMPARE(timer->countdownStarts(), starts + 1);
    // Another tab shown: the same, for its figures.
    showTab(f, "TabSheet3");
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(f.probes.interfaceCalls, interfaceReads + 1);
    QCOMPARE(f.probes.memoryCalls, memoryReads + 1);
    QCOMPARE(f.seams.events.size(), 2);
    QCOMPARE(timer->countdownStarts(), starts + 1);
    // Showing a window already shown reads nothing more; each refresh writes at once again.
    w.Details1Click();
    QCOMPARE(f.probes.interfaceCalls, interfaceReads + 1);
    f.probes.interfaces->clear();
    w.Timer1Timer();
    QCOMPARE(table->rowCount(), 0);
}

void MainWindowRefreshTest::badThresholdReportedOnceAcrossHideAndShow() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    tick(f, 2);
    alertOn(f, QStringLiteral("12x"));
    w.Timer1Timer();
    QCOMPARE(f.seams.boxes.size(), 1);
    w.close();
    w.Timer1Timer();
    w.Details1Click();
    w.Timer1Timer();
    // The same bad text stays reported once: the refresh on show does not forget it.
    QCOMPARE(f.seams.boxes.size(), 1);
}

void MainWindowRefreshTest::hiddenWindowParksTheTimer_data() {
    QTest::addColumn<bool>("tickedBefore");
    QTest::addColumn<bool>("badInterval");
    QTest::addColumn<int>("tickWhileHidden");  // -1 nothing, 1 tick a drive, 0 untick it
    QTest::addColumn<bool>("refreshWhileHidden");
    QTest::addColumn<bool>("runsHidden");
    QTest::addColumn<bool>("runsShown");
    QTest::addColumn<bool>("restartsOnShow");
    QTest::newRow("nothing ticked") << false << false << -1 << false << false << true << true;
    QTest::newRow("a drive ticked") << true << false << -1 << false << true << true << false;
    QTest::newRow("ticked while parked") << false << false << 1 << false << true << true << false;
    QTest::newRow("unticked, then a refresh")
        << true << false << 0 << true << false << true << true;
    QTest::newRow("stopped by a bad interval stays stopped")
        << false << true << -1 << false << false << false << false;
}

void MainWindowRefreshTest::hiddenWindowParksTheTimer() {
    QFETCH(bool, tickedBefore);
    QFETCH(bool, badInterval);
    QFETCH(int, tickWhileHidden);
    QFETCH(bool, refreshWhileHidden);
    QFETCH(bool, runsHidden);
    QFETCH(bool, runsShown);
    QFETCH(bool, restartsOnShow);
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    auto* timer = f.child<RefreshTimer>("Timer1");
    auto* drive = f.child<DriveListView>("ListView1")->model()->item(2, 0);
    if (tickedBefore)
        drive->setCheckState(Qt::Checked);
    if (badInterval)
        f.child<QLineEdit>("Edit1")->setText(QStringLiteral("x"));
    w.close();
    if (tickWhileHidden >= 0)
        drive->setCheckState(tickWhileHidden ? Qt::Checked : Qt::Unchecked);
    if (refreshWhileHidden)
        w.Timer1Timer();
    QCOMPARE(timer->isActive(), runsHidden);
    const int starts = timer->countdownStarts();
    w.Details1Click();
    QCOMPARE(timer->isActive(), runsShown);
    QCOMPARE(timer->countdownStarts(), starts + (restartsOnShow ? 1 : 0));
}

void MainWindowRefreshTest::refreshRestartsCountdown() {
    WindowFixture f;
    TForm1& w = f.make();
    auto* timer = f.child<RefreshTimer>("Timer1");
    const int starts = timer->countdownStarts();
    showTab(f, "TabSheet3");  // a tab's refresh on show leaves the countdown alone
    QCOMPARE(timer->countdownStarts(), starts);
    QCOMPARE(f.child<QTableWidget>("lvTraffic")->rowCount(), 2);
    w.Timer1Timer();
    QCOMPARE(timer->countdownStarts(), starts + 1);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5000);
    // The timer's run-out runs the refresh through the same handler.
    f.probes.interfaces->clear();
    timer->waitElapsed();
    QCOMPARE(f.child<QTableWidget>("lvTraffic")->rowCount(), 0);
    QCOMPARE(timer->countdownStarts(), starts + 2);
}

namespace {
// A backend whose memory query fails the hard way.
class ThrowingProbes : public FakeProbes {
  public:
    bool fail = false;
    MemoryStatus memoryStatus() override {
        if (fail)
            throw std::runtime_error("memory query broke");
        return FakeProbes::memoryStatus();
    }
};
}  // namespace

void MainWindowRefreshTest::unexpectedErrorEndsTheRefreshWithABox() {
    ThrowingProbes probes;
    static_cast<FakeProbes&>(probes) = FakeProbes::sample();
    koravex::test::Seams seams;
    TForm1 w(probes, seams.hooks());
    auto* timer = w.findChild<RefreshTimer*>(QStringLiteral("Timer1"));
    QVERIFY(timer->isActive());
    probes.fail = true;
    w.Timer1Timer();
    QCOMPARE(seams.boxes, QStringList{QStringLiteral("memory query broke.")});
    QVERIFY(!timer->isEnabled());
    QVERIFY(!timer->isActive());
    // A change of the interval field starts it again.
    probes.fail = false;
    w.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("1000"));
    QVERIFY(timer->isActive());
}

QTEST_MAIN(MainWindowRefreshTest)
#include "main_window_refresh_test.moc"
