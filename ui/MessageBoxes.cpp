#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace kkm::ui {

namespace {

QMessageBox::Icon ToQtIcon(MessageBoxes::Icon icon) {
  switch (icon) {
    case MessageBoxes::Icon::Error:
      return QMessageBox::Critical;
    case MessageBoxes::Icon::Warning:
      return QMessageBox::Warning;
    case MessageBoxes::Icon::Question:
      return QMessageBox::Question;
    case MessageBoxes::Icon::Information:
      break;
  }
  return QMessageBox::Information;
}

}  // namespace

void QtMessageBoxes::show(const QString& text, const QString& title, Icon icon, const QString& details) {
  // Owned by the active window (the main window or the setup dialog), so the box
  // stays above it; exec() keeps it modal until OK is pressed.
  QMessageBox box(ToQtIcon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  if (!details.isEmpty()) box.setDetailedText(details);
  box.exec();
}

namespace {

// "Да" and "Нет"; Escape or closing the box counts as "Нет".
bool AskYesNo(QMessageBox::Icon icon, const QString& text, const QString& title, bool yesIsDefault) {
  QMessageBox box(icon, title, text, QMessageBox::NoButton, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
  box.setDefaultButton(yesIsDefault ? yes : no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

}  // namespace

bool QtMessageBoxes::ask(const QString& text, const QString& title) {
  return AskYesNo(QMessageBox::Question, text, title, true);
}

bool QtMessageBoxes::askWarning(const QString& text, const QString& title) {
  return AskYesNo(QMessageBox::Warning, text, title, false);
}

}  // namespace kkm::ui
