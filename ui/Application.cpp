#include "ui/Application.h"

#include <exception>

namespace kkm::ui {

QString StandardErrorText(const QString& message) {
  if (!message.isEmpty() && message.back().isLetterOrNumber()) return message + u'.';
  return message;
}

Application::Application(int& argc, char** argv, MessageBoxes& boxes)
    : QApplication(argc, argv), boxes_(&boxes) {
  setApplicationName(kApplicationTitle);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    boxes_->show(StandardErrorText(QString::fromUtf8(error.what())), kApplicationTitle,
                 MessageBoxes::Icon::Error);
    return false;
  }
}

}  // namespace kkm::ui
