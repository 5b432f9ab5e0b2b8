// The settings and about tabs.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QStandardItemModel>
#include <algorithm>

#include "ui/drive_list_view.h"
#include "ui/main_window.h"
#include "ui/paint_box.h"
#include "ui/spin_buttons.h"
#include "ui/window_controls.h"

namespace koravex {

void TForm1::buildSettingsTab(QWidget* page) {
    Edit1 = new QLineEdit(QStringLiteral("5000"), page);
    place(Edit1, "Edit1", 8, 8, 49, 21);
    UpDown1 = new UpDown(Edit1, 100, 30000, 5000, page);
    place(UpDown1, "UpDown1", 57, 8, 16, 21);
    addLabel(page, "Label15", 88, 16, QStringLiteral("Интервал обновления в мсек"));

    CheckBox1 = new QCheckBox(QStringLiteral("Информировать, если осталось меньше, чем"), page);
    place(CheckBox1, "CheckBox1", 8, 40, 257, 17);
    Edit2 = new QLineEdit(QStringLiteral("100"), page);
    place(Edit2, "Edit2", 8, 56, 49, 21);
    Edit2->setEnabled(false);
    UpDown2 = new UpDown(Edit2, 1, 200, 100, page);
    place(UpDown2, "UpDown2", 57, 56, 17, 21);
    UpDown2->setEnabled(false);
    addLabel(page, "Label25", 88, 64, QStringLiteral("Mb свободного места на диске:"));

    ListView1 = new DriveListView(page);
    place(ListView1, "ListView1", 8, 80, 257, 86);

    addLabel(page, "Label26", 280, 8, QStringLiteral("Отображать"));
    TrackBar1 = new QSlider(Qt::Vertical, page);
    place(TrackBar1, "TrackBar1", 280, 32, 15, 65);
    TrackBar1->setRange(0, 2);
    TrackBar1->setValue(1);
    TrackBar1->setSingleStep(1);
    TrackBar1->setPageStep(1);
    TrackBar1->setTickPosition(QSlider::NoTicks);
    // Position 0 (megabytes) at the top; the Down key moves the thumb down.
    TrackBar1->setInvertedAppearance(true);
    TrackBar1->setInvertedControls(true);
    addLabel(page, "Label27", 312, 32, QStringLiteral("в МБ"));
    addLabel(page, "Label28", 312, 56, QStringLiteral("в КБ"));
    addLabel(page, "Label29", 312, 80, QStringLiteral("в Байтах"));

    PaintBox1 = new PaintBox(page);
    place(PaintBox1, "PaintBox1", 272, 120, 15, 15);
    addLabel(page, "Label19", 288, 120, QStringLiteral("Используется"));
    PaintBox2 = new PaintBox(page);
    place(PaintBox2, "PaintBox2", 272, 136, 15, 15);
    addLabel(page, "Label20", 288, 136, QStringLiteral("Свободно"));

    QWidget::setTabOrder(Edit1, UpDown1);
    QWidget::setTabOrder(UpDown1, Edit2);
    QWidget::setTabOrder(Edit2, CheckBox1);
    QWidget::setTabOrder(CheckBox1, TrackBar1);
    QWidget::setTabOrder(TrackBar1, UpDown2);
    QWidget::setTabOrder(UpDown2, ListView1);

    connect(Edit1, &QLineEdit::textChanged, this, &TForm1::Edit1Change);
    connect(CheckBox1, &QCheckBox::clicked, this, &TForm1::CheckBox1Click);
    connect(PaintBox1, &PaintBox::clicked, this, &TForm1::PaintBox1Click);
    connect(PaintBox2, &PaintBox::clicked, this, &TForm1::PaintBox2Click);
    connect(ListView1, &DriveListView::doubleClicked, this, &TForm1::ListView1DblClick);
    // A drive ticked while the timer is parked is watched from one interval on.
    connect(ListView1->model(), &QStandardItemModel::itemChanged, this, [this] {
        if (timerParked_ && !nothingToWatch())
            unparkTimer();
    });
    page->installEventFilter(this);
}

void TForm1::buildAboutTab(QWidget* page) {
    Image1 = new QLabel(page);
    place(Image1, "Image1", 24, 16, 32, 32);
    addLabel(page, "Label21", 88, 24, QStringLiteral("Koravex v1.0"),
             {.bold = true, .pointSize = 12});
    QLabel* about = addLabel(
        page, "Label22", 16, 64,
        QStringLiteral("Программа предназначена для постоянного контроля за основными "
                       "системными ресурсами, такими как память, жесткие диски, сеть. Скорость "
                       "обновления данных - настраеваемый параметр, её величина изменяется от "
                       "0.1 до 10 сек. Информирование в случае нехватки места."));
    about->setWordWrap(true);
    about->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // 305 x 73; taller only when the face in use needs another line, never reaching Label23.
    constexpr int kLabel23Top = 144;
    const int needed = std::min(about->heightForWidth(305), kLabel23Top - 64);
    about->setGeometry(16, 64, 305, std::max(73, needed));
    addLabel(page, "Label23", 16, 144, QStringLiteral("Разработчик Tarquel"), {.pointSize = 10});
    Label24 = addLabel(page, "Label24", 168, 144, QStringLiteral("www.tarquel.example"),
                       {.blue = true, .pointSize = 10});
    Label24->setCursor(Qt::PointingHandCursor);
    Label24->installEventFilter(this);
}

}  // namespace koravex
