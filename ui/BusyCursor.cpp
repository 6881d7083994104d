#include "ui/BusyCursor.h"

#include <QApplication>
#include <QCursor>

namespace kkm::ui {

namespace {
bool cursorUp = false;
bool ownerAlive = false;
}  // namespace

BusyCursor::BusyCursor() {
  if (ownerAlive) return;
  owner_ = ownerAlive = cursorUp = true;
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor() {
  if (!owner_) return;
  end();
  ownerAlive = false;
}

void BusyCursor::end() {
  if (!cursorUp) return;
  cursorUp = false;
  QApplication::restoreOverrideCursor();
}

bool BusyCursor::shown() { return cursorUp; }

}  // namespace kkm::ui
