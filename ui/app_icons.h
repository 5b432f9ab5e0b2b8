#pragma once
// The program's pictures, drawn by the program itself.
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "core/drive_icon.h"

namespace koravex {

// The application icon at any size (tray, window, about tab, desktop theme).
QImage drawApplicationIcon(int size);
QIcon applicationIcon();

// The 32 x 32 drive images of the drive list: 0 removable, 1 fixed, 2 CD-ROM.
QPixmap driveListImage(int index);

// The 16 x 11 images of the drive selector, by name: FLOPPY, HARD, NETWORK, CDROM, RAM.
QPixmap selectorImage(DriveIcon icon);

}  // namespace koravex
