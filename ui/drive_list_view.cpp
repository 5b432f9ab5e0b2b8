#include "ui/drive_list_view.h"

#include <QEvent>
#include <QHeaderView>
#include <QListView>
#include <QStackedLayout>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>

namespace koravex {

ImageList::ImageList(int width, int height, QObject* parent)
    : QObject(parent), width_(width), height_(height) {}

QPixmap ImageList::image(int index) const {
    if (index < 0 || index >= count())
        return {};
    return images_[index];
}

namespace {

// The report style shows no images: the list has large images only.
class NoImageDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features &= ~QStyleOptionViewItem::HasDecoration;
        option->icon = QIcon();
    }
};

struct Column {
    const char* caption;
    int width;
};
constexpr Column kColumns[] = {
    {"Диск", 40}, {"Метка", 50}, {"Файловая система", 70}, {"Серийный номер", 70}};

}  // namespace

DriveListView::DriveListView(QWidget* parent) : QWidget(parent) {
    model_ = new QStandardItemModel(0, 4, this);
    int column = 0;
    for (const Column& c : kColumns)
        model_->setHeaderData(column++, Qt::Horizontal, QString::fromUtf8(c.caption));

    icons_ = new QListView(this);
    icons_->setObjectName(QStringLiteral("largeIcons"));
    icons_->setModel(model_);
    icons_->setViewMode(QListView::IconMode);
    icons_->setIconSize(QSize(32, 32));
    icons_->setMovement(QListView::Static);
    icons_->setResizeMode(QListView::Adjust);
    icons_->setWrapping(true);
    icons_->setGridSize(QSize(64, 56));
    icons_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    report_ = new QTableView(this);
    report_->setObjectName(QStringLiteral("report"));
    report_->setModel(model_);
    report_->setItemDelegate(new NoImageDelegate(report_));
    report_->setShowGrid(true);
    report_->verticalHeader()->hide();
    report_->verticalHeader()->setDefaultSectionSize(17);
    report_->horizontalHeader()->setHighlightSections(false);
    report_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    report_->horizontalHeader()->setMinimumSectionSize(1);
    report_->horizontalHeader()->setStretchLastSection(false);
    column = 0;
    for (const Column& c : kColumns)
        report_->setColumnWidth(column++, c.width);
    report_->setSelectionBehavior(QAbstractItemView::SelectRows);
    report_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    report_->setWordWrap(false);

    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->addWidget(icons_);
    stack_->addWidget(report_);
    stack_->setCurrentWidget(icons_);

    icons_->viewport()->installEventFilter(this);
    report_->viewport()->installEventFilter(this);
}

void DriveListView::fill(const std::vector<DriveListItem>& items) {
    for (const DriveListItem& item : items) {
        QList<QStandardItem*> row;
        auto* caption = new QStandardItem(QString::fromStdString(item.caption));
        caption->setCheckable(true);
        caption->setCheckState(Qt::Unchecked);
        caption->setEditable(false);
        if (images_)
            caption->setIcon(QIcon(images_->image(item.image)));
        caption->setData(item.image, Qt::UserRole);
        row.append(caption);
        for (const std::string& sub : item.subItems) {
            auto* cell = new QStandardItem(QString::fromStdString(sub));
            cell->setEditable(false);
            row.append(cell);
        }
        model_->appendRow(row);
    }
}

std::vector<WatchedDrive> DriveListView::watchedDrives() const {
    std::vector<WatchedDrive> drives;
    drives.reserve(static_cast<std::size_t>(model_->rowCount()));
    for (int r = 0; r < model_->rowCount(); ++r) {
        const QStandardItem* item = model_->item(r, 0);
        drives.push_back({item->text().toStdString(), item->checkState() == Qt::Checked});
    }
    return drives;
}

void DriveListView::setViewStyle(ViewStyle style) {
    style_ = style;
    stack_->setCurrentWidget(style == ViewStyle::Report ? static_cast<QWidget*>(report_)
                                                        : static_cast<QWidget*>(icons_));
}

bool DriveListView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == icons_->viewport() || watched == report_->viewport()))
        emit doubleClicked();
    return QWidget::eventFilter(watched, event);
}

}  // namespace koravex
