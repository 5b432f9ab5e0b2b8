#include "ui/drive_combo_box.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QProxyStyle>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cctype>

#include "core/drive_selector.h"
#include "ui/app_icons.h"
#include "ui/drive_item_painter.h"

namespace koravex {

namespace {

char lowerAscii(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Draws the open list's items with the selector's own painter.
class DriveItemDelegate : public QStyledItemDelegate {
  public:
    explicit DriveItemDelegate(DriveComboBox* box) : QStyledItemDelegate(box), box_(box) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto icon = static_cast<DriveIcon>(index.data(DriveComboBox::IconRole).toInt());
        DriveItemState state;
        state.selected = option.state.testFlag(QStyle::State_Selected);
        state.focused = option.state.testFlag(QStyle::State_HasFocus);
        painter->setFont(option.font);
        paintDriveItem(*painter, option.rect, box_->keyedIcon(icon),
                       index.data(Qt::DisplayRole).toString(), option.palette, state);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics metrics(option.font);
        const int textWidth = metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
        return {16 + kDriveItemTextGap + textWidth + 2, box_->itemHeight()};
    }

  private:
    DriveComboBox* box_;
};

// Some styles open a combo box's list over the box, as tall as all its items; the selector
// drops its list below the box with at most eight rows visible, scrolling the rest.
class DropDownListStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == QStyle::SH_ComboBox_Popup) {
            return 0;
        }
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

}  // namespace

DriveComboBox::DriveComboBox(Probes& probes, QWidget* parent)
    : QComboBox(parent), probes_(probes), letter_(probes.currentDirectoryDrive()) {
    setObjectName(QStringLiteral("DriveComboBox1"));
    auto* dropDown = new DropDownListStyle;
    dropDown->setParent(this);
    setStyle(dropDown);
    setMaxVisibleItems(8);
    setItemDelegate(new DriveItemDelegate(this));
    for (DriveIcon icon : {DriveIcon::Floppy, DriveIcon::Hard, DriveIcon::Network, DriveIcon::CdRom,
                           DriveIcon::Ram}) {
        icons_[static_cast<std::size_t>(icon)] = keyedFromBottomLeft(selectorImage(icon));
    }
    connect(this, &QComboBox::currentIndexChanged, this, &DriveComboBox::onCurrentIndexChanged);
}

int DriveComboBox::itemHeight() const {
    return std::max(QFontMetrics(font()).height(), kDriveItemIconHeight);
}

const QPixmap& DriveComboBox::keyedIcon(DriveIcon icon) const {
    const auto slot = static_cast<std::size_t>(icon);
    return icons_[slot < icons_.size() ? slot : static_cast<std::size_t>(DriveIcon::Hard)];
}

void DriveComboBox::buildList() {
    if (built_) {
        return;
    }
    built_ = true;
    building_ = true;
    const std::vector<SelectorItem> items = buildSelectorItems(probes_);
    for (const SelectorItem& item : items) {
        // Drive texts come from the system as UTF-8 (volume labels, remote names).
        addItem(QString::fromUtf8(item.text));
        const int row = count() - 1;
        setItemData(row, static_cast<int>(item.icon), IconRole);
        setItemData(row, static_cast<int>(static_cast<unsigned char>(item.letter)), LetterRole);
    }
    letter_ = lowerAscii(letter_);
    setCurrentIndex(selectIndexFor(items, letter_));
    building_ = false;
    onCurrentIndexChanged(currentIndex());
}

void DriveComboBox::onCurrentIndexChanged(int index) {
    if (building_ || index < 0) {
        return;
    }
    const QString text = itemText(index);
    if (!text.isEmpty() && text.at(0).unicode() < 0x80) {
        letter_ = lowerAscii(static_cast<char>(text.at(0).unicode()));
    }
}

void DriveComboBox::showEvent(QShowEvent* event) {
    buildList();
    QComboBox::showEvent(event);
}

void DriveComboBox::paintEvent(QPaintEvent* /*event*/) {
    // The frame and the arrow come from the style; the field shows the current item drawn
    // like the items of the open list.
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);

    const int index = currentIndex();
    if (index < 0) {
        return;
    }
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    const auto icon = static_cast<DriveIcon>(itemData(index, IconRole).toInt());
    DriveItemState state;
    state.selected = hasFocus();
    state.focused = hasFocus();
    painter.setFont(font());
    paintDriveItem(painter, field, keyedIcon(icon), itemText(index), palette(), state);
}

}  // namespace koravex
