// The settings tab's behaviour: the interval field, the spin buttons, the alert switch,
// the colour swatches and dialog, the drive list's view toggle; and the link and
// window-visibility handlers.
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QSlider>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QtTest>
#include <climits>

#include "ui/drive_list_view.h"
#include "ui/gauge.h"
#include "ui/paint_box.h"
#include "ui/refresh_timer.h"
#include "ui/spin_buttons.h"
#include "window_test_support.h"

using namespace koravex;
using koravex::test::WindowFixture;

namespace {

QRgb swatch(const WindowFixture& f, const char* name) {
    return f.child<PaintBox>(name)->surface().pixel(7, 7) & 0xFFFFFF;
}

}  // namespace

class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

class MainWindowSettingsTest : public QObject {
    Q_OBJECT
  private slots:
    void intervalTyped_data();
    void intervalTyped();
    void badIntervalReportedAtEveryChange();
    void spinButtonsStepAndRestart();
    void spinButtonsStopAtEnds_data();
    void spinButtonsStopAtEnds();
    void arrowKeysInTheEditBox();
    void alertSwitchEnablesThreshold();
    void unitTrackBarTopIsMegabytes();
    void swatchesPaintedOnlyWhenTabShown();
    void colourDialogRemembersLastConfirmed();
    void colourDialogPlacement();
    void viewToggleKeepsItemsAndTicks();
    void linkLabel();
    void closeOnlyHides();
};

void MainWindowSettingsTest::intervalTyped_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("box");
    QTest::addColumn<quint32>("interval");
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("qtWait");
    QTest::newRow("zero: no timer, no message") << QStringLiteral("0") << false << 0u << false << 0;
    QTest::newRow("negative wraps")
        << QStringLiteral("-5") << false << 4294967291u << true << INT_MAX;
    QTest::newRow("above the spin range")
        << QStringLiteral("30001") << false << 30001u << true << 30001;
    QTest::newRow("below the spin range") << QStringLiteral("7") << false << 7u << true << 7;
    QTest::newRow("leading blanks") << QStringLiteral("  250") << false << 250u << true << 250;
    QTest::newRow("hex") << QStringLiteral("$64") << false << 100u << true << 100;
    QTest::newRow("INT_MAX+1 via hex")
        << QStringLiteral("$80000000") << false << 2147483648u << true << INT_MAX;
    QTest::newRow("empty") << QString() << true << 5000u << false << 0;
    QTest::newRow("trailing blank") << QStringLiteral("100 ") << true << 5000u << false << 0;
    QTest::newRow("letters") << QStringLiteral("12a") << true << 5000u << false << 0;
}

void MainWindowSettingsTest::intervalTyped() {
    QFETCH(QString, text);
    QFETCH(bool, box);
    QFETCH(quint32, interval);
    QFETCH(bool, active);
    QFETCH(int, qtWait);
    WindowFixture f;
    f.make();
    auto* timer = f.child<RefreshTimer>("Timer1");
    f.child<QLineEdit>("Edit1")->setText(text);
    QCOMPARE(f.seams.boxes.size(), box ? 1 : 0);
    if (box)
        QCOMPARE(f.seams.boxes.front(),
                 QStringLiteral("'%1' is not a valid integer value.").arg(text));
    QCOMPARE(timer->intervalMs(), interval);
    QCOMPARE(timer->isEnabled(), !box);
    QCOMPARE(timer->isActive(), active);
    if (active)
        QCOMPARE(timer->interval(), qtWait);
    // Typed values are never rewritten.
    QCOMPARE(f.child<QLineEdit>("Edit1")->text(), text);
}

void MainWindowSettingsTest::badIntervalReportedAtEveryChange() {
    WindowFixture f;
    f.make();
    auto* edit = f.child<QLineEdit>("Edit1");
    auto* timer = f.child<RefreshTimer>("Timer1");
    edit->setText(QString());
    edit->setText(QStringLiteral("x"));
    edit->setText(QString());
    QCOMPARE(f.seams.boxes.size(), 3);
    QVERIFY(!timer->isActive());
    // A refresh in between does not restart it either... only a good interval does.
    edit->setText(QStringLiteral("200"));
    QVERIFY(timer->isActive());
    QCOMPARE(timer->intervalMs(), 200u);
    QCOMPARE(f.seams.boxes.size(), 3);
}

void MainWindowSettingsTest::spinButtonsStepAndRestart() {
    WindowFixture f;
    f.make();
    auto* edit = f.child<QLineEdit>("Edit1");
    auto* spin = f.child<UpDown>("UpDown1");
    auto* timer = f.child<RefreshTimer>("Timer1");
    const int starts = timer->countdownStarts();
    QTest::mouseClick(spin->upButton(), Qt::LeftButton);
    QCOMPARE(edit->text(), QStringLiteral("5001"));
    QCOMPARE(timer->intervalMs(), 5001u);
    QCOMPARE(timer->countdownStarts(), starts + 1);
    QTest::mouseClick(spin->downButton(), Qt::LeftButton);
    QTest::mouseClick(spin->downButton(), Qt::LeftButton);
    QCOMPARE(edit->text(), QStringLiteral("4999"));
    QCOMPARE(timer->countdownStarts(), starts + 3);
    // Held down, a button repeats at one rate.
    QVERIFY(spin->upButton()->autoRepeat());
}

void MainWindowSettingsTest::spinButtonsStopAtEnds_data() {
    QTest::addColumn<QString>("spin");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QString>("after");
    QTest::newRow("interval at the top") << "UpDown1"
                                         << "30000" << true << "30000";
    QTest::newRow("interval at the bottom") << "UpDown1"
                                            << "100" << false << "100";
    QTest::newRow("typed above comes back") << "UpDown1"
                                            << "50000" << true << "30000";
    QTest::newRow("typed above, down") << "UpDown1"
                                       << "50000" << false << "29999";
    QTest::newRow("typed below, up") << "UpDown1"
                                     << "5" << true << "101";
    QTest::newRow("not a number: from the last position") << "UpDown1"
                                                          << "abc" << true << "5001";
    QTest::newRow("threshold at the top") << "UpDown2"
                                          << "200" << true << "200";
    QTest::newRow("threshold at the bottom") << "UpDown2"
                                             << "1" << false << "1";
    QTest::newRow("threshold steps") << "UpDown2"
                                     << "150" << false << "149";
}

void MainWindowSettingsTest::spinButtonsStopAtEnds() {
    QFETCH(QString, spin);
    QFETCH(QString, typed);
    QFETCH(bool, up);
    QFETCH(QString, after);
    WindowFixture f;
    f.make();
    QTest::mouseClick(f.child<QCheckBox>("CheckBox1"), Qt::LeftButton);
    auto* buttons = f.window->findChild<UpDown*>(spin);
    buttons->associate()->setText(typed);
    QTest::mouseClick(up ? buttons->upButton() : buttons->downButton(), Qt::LeftButton);
    QCOMPARE(buttons->associate()->text(), after);
}

void MainWindowSettingsTest::arrowKeysInTheEditBox() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    auto* edit = f.child<QLineEdit>("Edit1");
    QTest::keyClick(edit, Qt::Key_Up);
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("5002"));
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->text(), QStringLiteral("5001"));
    QCOMPARE(f.child<RefreshTimer>("Timer1")->intervalMs(), 5001u);
    // The same keys on the focused spin buttons.
    auto* spin = f.child<UpDown>("UpDown1");
    QTest::keyClick(spin, Qt::Key_Down);
    QCOMPARE(edit->text(), QStringLiteral("5000"));
    // The disabled threshold box does not step.
    auto* edit2 = f.child<QLineEdit>("Edit2");
    QTest::keyClick(edit2, Qt::Key_Up);
    QCOMPARE(edit2->text(), QStringLiteral("100"));
}

void MainWindowSettingsTest::alertSwitchEnablesThreshold() {
    WindowFixture f;
    f.make();
    auto* check = f.child<QCheckBox>("CheckBox1");
    for (bool on : {true, false, true}) {
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(check->isChecked(), on);
        QCOMPARE(f.child<QLineEdit>("Edit2")->isEnabled(), on);
        QCOMPARE(f.child<UpDown>("UpDown2")->isEnabled(), on);
        QCOMPARE(f.child<UpDown>("UpDown2")->downButton()->isEnabled(), on);
    }
}

void MainWindowSettingsTest::unitTrackBarTopIsMegabytes() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    f.child<QTabWidget>("PageControl1")->setCurrentWidget(f.child<QWidget>("TabSheet4"));
    auto* track = f.child<QSlider>("TrackBar1");
    // The Up key moves the thumb up, toward "в МБ" (0); Down toward "в Байтах" (2).
    QTest::keyClick(track, Qt::Key_Up);
    QCOMPARE(track->value(), 0);
    QTest::keyClick(track, Qt::Key_Up);
    QCOMPARE(track->value(), 0);
    const QImage top = track->grab().toImage();
    QTest::keyClick(track, Qt::Key_Down);
    QTest::keyClick(track, Qt::Key_Down);
    QCOMPARE(track->value(), 2);
    const QImage bottom = track->grab().toImage();
    // The thumb is wider than the groove: the rows where it covers x = 2 tell where it is.
    auto thumbCentre = [](const QImage& image) {
        const QRgb background = image.pixel(0, image.height() / 2);
        int sum = 0, rows = 0;
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixel(2, y) != background) {
                sum += y;
                ++rows;
            }
        }
        return rows ? sum / rows : -1;
    };
    QVERIFY(thumbCentre(top) >= 0);
    QVERIFY(thumbCentre(top) < top.height() / 3);
    QVERIFY(thumbCentre(bottom) > 2 * bottom.height() / 3);
}

void MainWindowSettingsTest::swatchesPaintedOnlyWhenTabShown() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    auto* pages = f.child<QTabWidget>("PageControl1");
    auto* used = f.child<PaintBox>("PaintBox1");
    auto* free = f.child<PaintBox>("PaintBox2");
    QCOMPARE(used->fillCount(), 0);
    pages->setCurrentWidget(f.child<QWidget>("TabSheet4"));
    QCOMPARE(used->fillCount(), 1);
    QCOMPARE(free->fillCount(), 1);
    QCOMPARE(swatch(f, "PaintBox1"), qRgb(0, 0, 255) & 0xFFFFFF);
    QCOMPARE(swatch(f, "PaintBox2"), qRgb(255, 0, 255) & 0xFFFFFF);
    // A refresh does not paint them; showing the tab again does.
    w.Timer1Timer();
    QCOMPARE(used->fillCount(), 1);
    pages->setCurrentIndex(0);
    pages->setCurrentWidget(f.child<QWidget>("TabSheet4"));
    QCOMPARE(used->fillCount(), 2);
    QCOMPARE(free->fillCount(), 2);
}

void MainWindowSettingsTest::colourDialogRemembersLastConfirmed() {
    WindowFixture f;
    TForm1& w = f.make();
    auto* used = f.child<PaintBox>("PaintBox1");
    const QColor red(255, 0, 0), green(0, 128, 0);
    f.seams.colorAnswers = {red, std::nullopt, green, std::nullopt};

    w.PaintBox1Click();  // confirmed red for the used part
    QCOMPARE(w.usedColor(), 0x0000FFu);
    for (const char* g : {"Gauge1", "Gauge2", "Gauge3", "Gauge4"}) {
        QCOMPARE(f.child<Gauge>(g)->foreColor(), 0x0000FFu);
        QCOMPARE(f.child<Gauge>(g)->backColor(), 0xFF00FFu);
    }
    QCOMPARE(swatch(f, "PaintBox1"), qRgb(255, 0, 0) & 0xFFFFFF);

    w.PaintBox2Click();  // cancelled: nothing changes, the swatches are painted all the same
    QCOMPARE(w.freeColor(), 0xFF00FFu);
    QCOMPARE(f.child<Gauge>("Gauge3")->backColor(), 0xFF00FFu);
    QCOMPARE(used->fillCount(), 2);

    w.PaintBox2Click();  // green for the free part
    QCOMPARE(w.freeColor(), 0x008000u);
    for (const char* g : {"Gauge1", "Gauge2", "Gauge3", "Gauge4"})
        QCOMPARE(f.child<Gauge>(g)->backColor(), 0x008000u);
    QCOMPARE(swatch(f, "PaintBox2"), qRgb(0, 128, 0) & 0xFFFFFF);

    w.PaintBox1Click();  // cancelled
    QCOMPARE(w.usedColor(), 0x0000FFu);
    QCOMPARE(used->fillCount(), 4);

    // Black first, then the colour last confirmed, whichever swatch it was for.
    QCOMPARE(f.seams.colorStarts, (QList<QColor>{Qt::black, red, red, green}));
}

void MainWindowSettingsTest::colourDialogPlacement() {
    WindowFixture f;
    TForm1& w = f.make();
    w.PaintBox1Click();
    auto* dialog = f.child<QColorDialog>("ColorDialog1");
    const QRect monitor = w.screen()->geometry();
    const QSize size = dialog->frameGeometry().size();
    QCOMPARE(f.seams.colorPlaces.size(), 1);
    const QPoint at = f.seams.colorPlaces.front();
    QCOMPARE(at.x(), monitor.left() + (monitor.width() - size.width()) / 2);
    QCOMPARE(at.y(), monitor.top() + (monitor.height() - size.height()) / 3);
    // One dialog object for both swatches.
    w.PaintBox2Click();
    QCOMPARE(w.findChildren<QColorDialog*>().size(), 1);
}

void MainWindowSettingsTest::viewToggleKeepsItemsAndTicks() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    f.child<QTabWidget>("PageControl1")->setCurrentWidget(f.child<QWidget>("TabSheet4"));
    auto* list = f.child<DriveListView>("ListView1");
    list->model()->item(2, 0)->setCheckState(Qt::Checked);
    using Style = DriveListView::ViewStyle;
    QCOMPARE(list->viewStyle(), Style::LargeIcon);
    QVERIFY(list->iconView()->isVisible());
    QTest::mouseDClick(list->iconView()->viewport(), Qt::LeftButton, {}, QPoint(200, 70));
    QCOMPARE(list->viewStyle(), Style::Report);
    QVERIFY(list->reportView()->isVisible());
    QVERIFY(!list->iconView()->isVisible());
    QTest::mouseDClick(list->reportView()->viewport(), Qt::LeftButton, {}, QPoint(200, 60));
    QCOMPARE(list->viewStyle(), Style::LargeIcon);
    QCOMPARE(list->model()->rowCount(), 3);
    QCOMPARE(list->model()->item(2, 0)->checkState(), Qt::Checked);
    QCOMPARE(list->model()->item(0, 2)->text(), QStringLiteral("ext4"));
    const std::vector<WatchedDrive> watched = list->watchedDrives();
    QCOMPARE(watched.size(), 3u);
    QVERIFY(!watched[0].ticked);
    QVERIFY(watched[2].ticked);
    QCOMPARE(watched[2].root, std::string("E:\\"));
}

void MainWindowSettingsTest::linkLabel() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    f.child<QTabWidget>("PageControl1")->setCurrentWidget(f.child<QWidget>("TabSheet5"));
    auto* link = f.child<QLabel>("Label24");
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(link, &enter);
    QVERIFY(link->font().bold());
    QCOMPARE(link->font().pointSize(), 10);
    QCOMPARE(link->size(), link->sizeHint());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(link, &leave);
    QVERIFY(!link->font().bold());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    QTest::mouseClick(link, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(catcher.urls,
             QList<QUrl>{QUrl(QStringLiteral("http://www.tarquel.example/business.html"))});
}

void MainWindowSettingsTest::closeOnlyHides() {
    WindowFixture f;
    TForm1& w = f.make();
    w.show();
    QVERIFY(!w.close());  // refused: only hidden
    QVERIFY(w.isHidden());
    auto* timer = f.child<RefreshTimer>("Timer1");
    QVERIFY(!timer->isActive());  // no drive ticked: no wake-ups until shown
    w.Hide1Click();  // already hidden: nothing changes
    QVERIFY(w.isHidden());
    w.Details1Click();
    QVERIFY(w.isVisible());
    QVERIFY(timer->isActive());
    w.Hide1Click();
    QVERIFY(w.isHidden());
    QVERIFY(!f.seams.events.contains(QStringLiteral("quit")));
    w.Close1Click();
    QCOMPARE(f.seams.events.count(QStringLiteral("quit")), 1);
}

QTEST_MAIN(MainWindowSettingsTest)
#include "main_window_settings_test.moc"
