#pragma once
// The two windows wired as the application wires them, on any platform, and
// driven as an operator drives them: clicks on the real buttons. The boxes
// given here also receive what escapes an event handler while the rig lives.

#include <QString>

#include "serial/Platform.h"
#include "service/Session.h"
#include "tests/support/Facts.h"
#include "tests/support/TestApplication.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/SessionPresenter.h"

class QAbstractButton;
class QToolButton;

namespace kkm::test {

// The texts the operator sees (tests/support/Facts.h), as the windows show them.
inline const QString kCommandTitle = QString::fromUtf8(text::kCommandTitle);
inline const QString kAppTitle = QString::fromUtf8(text::kAppTitle);
inline const QString kNoInterface = QString::fromUtf8(text::kNoInterface);
inline const QString kNoContactCommand = QString::fromUtf8(text::kNoContactCommand);
inline const QString kNoContactDialog = QString::fromUtf8(text::kNoContactDialog);
inline const QString kConnectedDialog = QString::fromUtf8(text::kConnectedDialog);
inline const QString kNoRegister = QString::fromUtf8(text::kNoRegister);
inline const QString kNoKia = QString::fromUtf8(text::kNoKia);
inline const QString kOldFirmware = QString::fromUtf8(text::kOldFirmware);
inline const QString kReadDone = QString::fromUtf8(text::kReadDone);
inline const QString kWriteDone = QString::fromUtf8(text::kWriteDone);
inline const QString kWriteSucceeded = QString::fromUtf8(text::kWriteSucceeded);
inline const QString kPortUnavailable = QString::fromUtf8(text::kPortUnavailable);

// The link word of the command boxes and status texts.
QString CommandLinkWord(ui::Link link);

class WindowsRig {
 public:
  WindowsRig(serial::Platform& platform, ui::MessageBoxes& boxes);
  WindowsRig(const WindowsRig&) = delete;
  WindowsRig& operator=(const WindowsRig&) = delete;

  // The connect button, COM<port>, "Установить интерфейс"; a dialog left open
  // by a failure is closed with "Закрыть". True when the connection was made.
  bool connect(ui::Link link, int port = 1);
  // The connect button, then "Закрыть" at once.
  void connectAndClose();
  void chooseLink(ui::Link link);
  void read();
  // Puts `text` into the field as the program does, then presses the button.
  void write(const QString& text);
  void pressWrite();

  // Whether the read and write buttons are enabled (a test fails when they disagree).
  bool commandsEnabled() const;
  QString statusText() const { return form_.statusText(); }
  QString numberText() const;
  void setNumberText(const QString& text);
  // A tool button of the main window by its object name.
  QToolButton* button(const char* name) const;
  ui::TMainForm& form() { return form_; }
  ui::TInit_Com& initCom() { return initCom_; }
  service::Session& state() { return state_; }

 private:
  service::Session state_;
  RouteAppBoxes route_;
  ui::TMainForm form_;
  ui::TInit_Com initCom_;
  ui::SessionPresenter presenter_;
};

// A left click in the middle of `button`.
void Click(QAbstractButton* button);
// A tool button of the main window by its object name.
QToolButton* ToolButton(const ui::TMainForm& form, const char* name);
// Whether the read and write buttons are enabled (a test fails when they disagree).
bool CommandsEnabled(const ui::TMainForm& form);

}  // namespace kkm::test
