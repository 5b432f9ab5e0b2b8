#pragma once
// The drive selector: a drop-down list of the machine's drives, drawn by the program.
// It holds a drive letter, which the next refresh reads.
#include <QComboBox>
#include <QPixmap>
#include <array>

#include "core/drive_icon.h"
#include "core/probes.h"

namespace koravex {

class DriveComboBox : public QComboBox {
    Q_OBJECT
  public:
    // The start letter is the current directory's drive as the probes report it.
    explicit DriveComboBox(Probes& probes, QWidget* parent = nullptr);

    // Upper-case start letter until the list is built, then the lower-case letter of the
    // selected item; '\0' when the current directory lies on no drive.
    char driveLetter() const { return letter_; }
    // Whether the list has been built (on the first display of the selector).
    bool isBuilt() const { return built_; }
    // Builds the list now, if not yet built (done by the first show).
    void buildList();

    // Height of every item: the font's line height, at least the icons' 11 pixels.
    int itemHeight() const;
    // The picture drawn beside an item of that kind, its bottom-left colour transparent.
    const QPixmap& keyedIcon(DriveIcon icon) const;

    // Item data roles: the item's DriveIcon (as int) and its lower-case letter (as int).
    static constexpr int IconRole = Qt::UserRole;
    static constexpr int LetterRole = Qt::UserRole + 1;

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void onCurrentIndexChanged(int index);

    Probes& probes_;
    char letter_;
    bool built_ = false;
    bool building_ = false;
    std::array<QPixmap, 5> icons_;
};

}  // namespace koravex
