#pragma once
// Connects the two windows to the service session and shows its outcomes:
// the main window shows the setup dialog, whose "Установить интерфейс" runs
// the connection and closes the dialog with Accepted when it connects; the
// read and write buttons run the network number commands. Each outcome
// becomes the windows' boxes, status texts and button states:
//
// - connection failures: one box ("Выбранный COM-порт недоступен" and the
//   wrong-firmware text as warnings, no register or no KIA answer as errors);
// - a failed read or write: an error box, then the status "Нет связи c ..."
//   (with a Latin c); after a write stopped at exchanges 2-5 the read and
//   write buttons stay disabled until the next connection, since the
//   register's non-volatile memory may now be half-written;
// - the write takes the field's text as it stands: text that is not a
//   hexadecimal integer raises the conversion error the application's
//   standard error box shows; other text outside 1..99 gets a warning box.
//   Nothing is sent in either case and the buttons are enabled again.

#include "service/Session.h"
#include "ui/MessageBoxes.h"

namespace kkm::ui {

using service::Link;

class TInit_Com;
class TMainForm;

class SessionPresenter {
 public:
  // Wires the windows; all three must outlive their use through the windows.
  SessionPresenter(service::Session& session, MessageBoxes& boxes, TMainForm& mainForm, TInit_Com& initCom);
  SessionPresenter(const SessionPresenter&) = delete;
  SessionPresenter& operator=(const SessionPresenter&) = delete;

  void connect();
  void read();
  void write();

 private:
  Link selectedLink() const;
  void reportNoContact(Link link);

  service::Session& session_;
  MessageBoxes& boxes_;
  TMainForm& mainForm_;
  TInit_Com& initCom_;
};

}  // namespace kkm::ui
