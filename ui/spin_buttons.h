#pragma once
// Spin buttons bound to an edit box: two arrow buttons that step a position within a
// range and write it into the edit box as plain digits. A value typed into the edit box
// is neither clamped nor rewritten; it only becomes the start of the next step.
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace koravex {

class UpDown : public QWidget {
    Q_OBJECT
  public:
    UpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent = nullptr);

    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int position() const { return position_; }
    QLineEdit* associate() const { return edit_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

    // The position a step of +1 or -1 leads to from the edit box's text: a whole number
    // in the text is the start (brought into the range), otherwise the last position.
    static int stepFrom(const QString& text, int lastPosition, int min, int max, int delta);

  public slots:
    void stepUp() { step(+1); }
    void stepDown() { step(-1); }

  protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void step(int delta);

    QLineEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
    int min_;
    int max_;
    int position_;
};

}  // namespace koravex
