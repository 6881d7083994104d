#pragma once
// A one-line label drawn twice: first in the shadow colour one pixel to the
// right and below, then in the text colour on top; the background stays
// transparent.

#include <QColor>
#include <QLabel>

namespace kkm::ui {

class ShadowLabel : public QLabel {
 public:
  static constexpr int kShadowOffset = 1;

  explicit ShadowLabel(const QString& text, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor shadowColor_ = Qt::white;
  QColor textColor_ = Qt::black;
};

}  // namespace kkm::ui
