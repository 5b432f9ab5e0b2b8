#pragma once
// The drive selector: a drop-down list of the machine's drives, drawn by the program.
// It holds a drive letter, which the next refresh reads.
#include <QComboBox>

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

protected:
    void showEvent(QShowEvent* event) override;

private:
    Probes& probes_;
    char letter_;
    bool built_ = false;
};

}  // namespace koravex
