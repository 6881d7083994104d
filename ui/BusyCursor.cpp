#include "ui/BusyCursor.h"

#include <QApplication>
#include <QCursor>

namespace kkm::ui {

namespace {
bool cursorUp = false;
}  // namespace

BusyCursor::BusyCursor() {
  if (cursorUp) return;
  owner_ = cursorUp = true;
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor() {
  if (owner_) end();
}

void BusyCursor::end() {
  if (!cursorUp) return;
  cursorUp = false;
  QApplication::restoreOverrideCursor();
}

bool BusyCursor::shown() { return cursorUp; }

}  // namespace kkm::ui
