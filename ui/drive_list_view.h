#pragma once
// The settings tab's drive list: one model of drive items shown either as large icons or
// as a report with columns and grid lines. Both views share the model, so items, sub-items
// and tick marks survive a change of style.
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QWidget>
#include <string>
#include <vector>

#include "core/drive_list.h"
#include "core/refresh.h"

class QListView;
class QStackedLayout;
class QStandardItemModel;
class QTableView;

namespace koravex {

// The pictures of the drive list, all of one size.
class ImageList : public QObject {
    Q_OBJECT
  public:
    ImageList(int width, int height, QObject* parent = nullptr);
    void add(const QPixmap& image) { images_.append(image); }
    int count() const { return static_cast<int>(images_.size()); }
    QPixmap image(int index) const;  // an empty pixmap outside the list
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    int width_;
    int height_;
    QList<QPixmap> images_;
};

class DriveListView : public QWidget {
    Q_OBJECT
  public:
    enum class ViewStyle { LargeIcon, Report };

    explicit DriveListView(QWidget* parent = nullptr);

    void setLargeImages(const ImageList* images) { images_ = images; }
    // Adds the items in order, unticked.
    void fill(const std::vector<DriveListItem>& items);
    // Captions and tick marks, first to last.
    std::vector<WatchedDrive> watchedDrives() const;

    ViewStyle viewStyle() const { return style_; }
    void setViewStyle(ViewStyle style);

    QStandardItemModel* model() const { return model_; }
    QListView* iconView() const { return icons_; }
    QTableView* reportView() const { return report_; }

  signals:
    // A double click anywhere on the list, on an item or not.
    void doubleClicked();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const ImageList* images_ = nullptr;
    QStandardItemModel* model_;
    QListView* icons_;
    QTableView* report_;
    QStackedLayout* stack_;
    ViewStyle style_ = ViewStyle::LargeIcon;
};

}  // namespace koravex
