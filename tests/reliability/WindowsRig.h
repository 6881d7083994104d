#pragma once
// The two windows wired as the application wires them, on any platform, and
// driven as an operator drives them: clicks on the real buttons. The boxes
// given here also receive what escapes an event handler while the rig lives.

#include <QString>

#include "serial/Platform.h"
#include "service/Session.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/SessionPresenter.h"

class QAbstractButton;

namespace kkm::test {

// The texts the operator sees.
inline const QString kCommandTitle = QStringLiteral("Запись сетевого номера");
inline const QString kNoInterface = QStringLiteral("Не удается установить последовательный интерфейс с ");
// After a command the status text has a Latin "c"; after the dialog a Cyrillic one.
inline const QString kNoContactCommand = QStringLiteral("Нет связи c ");
inline const QString kNoContactDialog = QStringLiteral("Нет связи \u0441 ");
inline const QString kReadDone = QStringLiteral("Чтение завершено");
inline const QString kWriteDone = QStringLiteral("Запись завершена");
inline const QString kWriteSucceeded = QStringLiteral("Операция успешно завершена");
inline const QString kPortUnavailable = QStringLiteral("Выбранный COM-порт недоступен");

// The link word of the command boxes and status texts.
QString CommandLinkWord(ui::Link link);

class WindowsRig {
 public:
  WindowsRig(serial::Platform& platform, ui::MessageBoxes& boxes);
  ~WindowsRig();
  WindowsRig(const WindowsRig&) = delete;
  WindowsRig& operator=(const WindowsRig&) = delete;

  // The connect button, COM1, "Установить интерфейс"; a dialog left open by a
  // failure is closed with "Закрыть". True when the connection was made.
  bool connect(ui::Link link);
  void read();
  // Puts `text` into the field as the program does, then presses the button.
  void write(const QString& text);
  void pressWrite();

  // Whether the read and write buttons are enabled (a test fails when they disagree).
  bool commandsEnabled() const;
  QString statusText() const { return form_.statusText(); }
  QString numberText() const;
  void setNumberText(const QString& text);
  ui::TMainForm& form() { return form_; }
  service::Session& state() { return state_; }

 private:
  void chooseLink(ui::Link link);

  service::Session state_;
  ui::MessageBoxes* previousBoxes_;
  ui::TMainForm form_;
  ui::TInit_Com initCom_;
  ui::SessionPresenter presenter_;
};

// A left click in the middle of `button`.
void Click(QAbstractButton* button);

}  // namespace kkm::test
