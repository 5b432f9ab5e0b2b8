#pragma once
// A bevel: a lowered box, or a lowered line along the bottom edge only.
#include <QFrame>

namespace koravex {

class Bevel : public QFrame {
    Q_OBJECT
  public:
    enum class Shape { Box, BottomLine };
    explicit Bevel(Shape shape, QWidget* parent = nullptr);
    Shape bevelShape() const { return shape_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Shape shape_;
};

}  // namespace koravex
