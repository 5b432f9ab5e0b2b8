#pragma once
// A paint box with a drawing surface of its own: the program fills it at chosen moments,
// and the widget shows the last thing drawn on it (transparent until the first fill).
#include <QImage>
#include <QWidget>

namespace koravex {

class PaintBox : public QWidget {
    Q_OBJECT
  public:
    explicit PaintBox(QWidget* parent = nullptr);

    // Pen and brush in one colour, a filled rectangle over the whole box.
    void fillWith(const QColor& color);

    const QImage& surface() const { return surface_; }
    int fillCount() const { return fills_; }

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QImage surface_;
    int fills_ = 0;
};

}  // namespace koravex
