#pragma once
// The application object and its standard error box: the error's text, with a
// full stop appended when it ends in a letter or a digit, titled with the
// application title, error icon, one OK button. After the box the event loop
// goes on running.
//
// The windows run their click handlers through RunHandler(), which shows the
// box for an error escaping the handler right there, before it could unwind
// through the toolkit's own frames (they are not built to pass exceptions and
// would be left half-done). Application::notify() catches whatever else
// escapes an event handler and shows the same box.

#include <QApplication>
#include <QString>
#include <QTranslator>
#include <exception>
#include <functional>
#include <memory>

#include "ui/MessageBoxes.h"

namespace kkm::ui {

inline constexpr const char* kApplicationTitle = "Сетевой номер ККМ ТИМ-31Ц";
// The program's plain ASCII name: its window class, desktop entry and icon.
inline constexpr const char* kProgramName = "kkm-netnum";

// The text of the standard error box for an error's message.
QString StandardErrorText(const QString& message);

// The standard error box for `message`.
void ShowStandardError(MessageBoxes& boxes, const QString& message);
// The standard error box for an error that escaped a handler.
void ShowStandardError(MessageBoxes& boxes, const std::exception& error);

// Ends the program's session as a request to close its windows does: notes
// that it is ending, closes every window (a box open meanwhile closes without
// an answer) and ends the event loop. From then on SessionEnding() is true,
// and no command starts another exchange sequence or takes a box closed so
// for an answer.
void EndSession();
bool SessionEnding();

// Runs `handler`; a std::exception escaping it ends it and is shown in the
// standard error box.
void RunHandler(MessageBoxes& boxes, const std::function<void()>& handler);

// Installs Qt's Russian translation of its own texts (standard buttons, a
// field's context menu) when the system has it; the translation stays in force
// while the returned object lives. Null when there is none.
std::unique_ptr<QTranslator> LoadToolkitTranslation();

class Application : public QApplication {
 public:
  // Names the program (kProgramName, so the window class is plain ASCII) and
  // gives every window its icon; errors are reported through `boxes`.
  Application(int& argc, char** argv, MessageBoxes& boxes);

  bool notify(QObject* receiver, QEvent* event) override;

  // From now on SIGTERM, SIGINT and SIGHUP end the program as a request to
  // close its windows does: a command in progress runs to its end first (it
  // runs on this one thread and its waits are bounded; the signal is only
  // noted), then every window is closed and the event loop ends. While idle
  // that happens at once. Does nothing where the platform has no such signals.
  void quitOnTerminationSignals();

 private:
  MessageBoxes* boxes_;
  bool signalsHandled_ = false;
};

}  // namespace kkm::ui
