#pragma once
// The application object. Its notify() catches a std::exception that escapes
// an event handler (a click handler, say) and shows the standard error box:
// the error's text, with a full stop appended when it ends in a letter or a
// digit, titled with the application title, error icon, one OK button. The
// event loop then goes on running.

#include <QApplication>
#include <QString>

#include "ui/MessageBoxes.h"

namespace kkm::ui {

inline constexpr const char* kApplicationTitle = "Сетевой номер ККМ ТИМ-31Ц";

// The text of the standard error box for an error's message.
QString StandardErrorText(const QString& message);

class Application : public QApplication {
 public:
  // Sets the application title; errors are reported through `boxes`.
  Application(int& argc, char** argv, MessageBoxes& boxes);

  MessageBoxes& messageBoxes() const { return *boxes_; }
  void setMessageBoxes(MessageBoxes& boxes) { boxes_ = &boxes; }

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  MessageBoxes* boxes_;
};

}  // namespace kkm::ui
