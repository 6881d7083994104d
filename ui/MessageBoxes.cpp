#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace kkm::ui {

namespace {

QMessageBox::Icon ToQtIcon(MessageBoxes::Icon icon) {
  switch (icon) {
    case MessageBoxes::Icon::Error:
      return QMessageBox::Critical;
    case MessageBoxes::Icon::Warning:
      return QMessageBox::Warning;
    case MessageBoxes::Icon::Information:
      break;
  }
  return QMessageBox::Information;
}

}  // namespace

void QtMessageBoxes::show(const QString& text, const QString& title, Icon icon) {
  // Owned by the active window (the main window or the setup dialog), so the box
  // stays above it; exec() keeps it modal until OK is pressed.
  QMessageBox box(ToQtIcon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace kkm::ui
