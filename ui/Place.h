#pragma once
// Names a control and puts it at its place in its parent (left, top, width,
// height in pixels), as the window layouts give them.

#include <QWidget>

namespace kkm::ui {

template <typename Control>
Control* Place(Control* control, const char* name, int left, int top, int width, int height) {
  control->setObjectName(name);
  control->setGeometry(left, top, width, height);
  return control;
}

}  // namespace kkm::ui
