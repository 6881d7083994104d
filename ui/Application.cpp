#include "ui/Application.h"

#include <QIcon>
#include <QLibraryInfo>

#include "ui/OperatorError.h"

namespace kkm::ui {

QString StandardErrorText(const QString& message) {
  if (!message.isEmpty() && message.back().isLetterOrNumber()) return message + u'.';
  return message;
}

void ShowStandardError(MessageBoxes& boxes, const std::exception& error) {
  const auto* forOperator = dynamic_cast<const OperatorError*>(&error);
  const QString message = forOperator != nullptr ? forOperator->text() : QString::fromUtf8(error.what());
  boxes.show(StandardErrorText(message), kApplicationTitle, MessageBoxes::Icon::Error);
}

void RunHandler(MessageBoxes& boxes, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowStandardError(boxes, error);
  }
}

std::unique_ptr<QTranslator> LoadToolkitTranslation() {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get()))
    return nullptr;
  return translator;
}

Application::Application(int& argc, char** argv, MessageBoxes& boxes)
    : QApplication(argc, argv), boxes_(&boxes) {
  setApplicationName(kProgramName);
  setDesktopFileName(kProgramName);
  QIcon icon;
  for (int size : {48, 64, 128}) icon.addFile(QStringLiteral(":/app/kkm-netnum-%1.png").arg(size));
  setWindowIcon(icon);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowStandardError(*boxes_, error);
    return false;
  }
}

}  // namespace kkm::ui
