#include "ui/ShadowLabel.h"

#include <QPainter>

namespace kkm::ui {

ShadowLabel::ShadowLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
}

void ShadowLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  const QRect area = contentsRect();
  painter.setPen(shadowColor_);
  painter.drawText(area.translated(kShadowOffset, kShadowOffset), alignment(), text());
  painter.setPen(textColor_);
  painter.drawText(area, alignment(), text());
}

}  // namespace kkm::ui
