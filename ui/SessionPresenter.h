#pragma once
// Connects the two windows to the service session, and is the one place that
// decides what they show: every box, status text and read and write button
// state after a connection, read, write or finish is set from here. The
// windows only offer their setters and pass their buttons' clicks on.
//
// The connect button shows the setup dialog, whose "Установить интерфейс"
// runs the connection and closes the dialog with Accepted when it connects.
// Then the status strip reads "Установлен интерфейс с ККМ" (or "... с
// микроконтроллером") after a connection and "Нет связи с ККМ" (or "... с
// микроконтроллером") otherwise, for the link selected, both with a Cyrillic
// с. A connection enables the read and write buttons and then settles a cut
// write (below); an attempt that failed disables them, since it closed the
// earlier port; closing the dialog without an attempt leaves them as they
// were. The read and write buttons run the network number commands.
//
// Every box after a failed connection, read, write or finish carries the
// failure's reason as its detailed text.
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
//   Nothing is sent in either case and the buttons are enabled again;
// - a write that a record shows was cut on this device and link is looked at
//   after every connection and before every write: finishable (the whole
//   write again while the non-volatile memory is untouched, else what is left
//   of it), the operator is asked and "Да" finishes it with the write's own
//   success or error report, after which a new write goes on; "Нет" sends
//   nothing, and before a write a box says that neither was made. A record
//   whose memory changed since, or a damaged one, is shown in a warning that
//   offers to discard it; one of another register is kept and named. A write
//   whose record cannot be saved does not start: the error box says why.
//   After a finish the field shows the number now stored;
// - on the processor link a write first sends its new number's address byte:
//   when another register answers, nothing is written and a warning box says
//   the number is taken (service::CheckNumberFree).
//
// Every command that blocks shows the wait cursor until its first box opens
// or it ends, and paints the read and write buttons disabled before its first
// exchange. After a read the field's whole text is selected, so that typing
// replaces the number read.

#include <cstdint>
#include <optional>
#include <string>

#include "serial/Failure.h"
#include "service/NetworkNumber.h"
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

  // The connect button: the setup dialog, then the status text and buttons
  // for its outcome, then, after a connection, a cut write settled.
  void setUpInterface();
  // "Установить интерфейс" in the setup dialog.
  void connect();
  void read();
  void write();
  void finishInterruptedWrite();

 private:
  Link selectedLink() const;
  // Every box goes through here: the wait cursor goes before it opens.
  void show(const QString& text, const QString& title, MessageBoxes::Icon icon, const QString& details = {});
  // A failure's reason as a box's detailed text, with the port it concerns;
  // empty when no reason is known.
  QString failureDetails(const serial::Failure& failure) const;
  // One line on standard error, named after the session's program, and a note
  // in the trace: what the boxes do not say (a record or history not kept).
  void warn(const std::string& text) const;
  void reportNoContact(Link link, const serial::Failure& failure);
  void reportWrite(Link link, const service::WriteResult& result);

  // What became of a cut write's record: none, or gone now (Cleared); still
  // there, and the operator told (Kept); finished, its outcome reported (Reported).
  enum class Settled { Cleared, Kept, Reported };
  // Looks at the record of a cut write on the session's device and link and
  // does what the operator chooses: finish it, or discard one that cannot be
  // finished. Before a write of `newByte` a record of a write that stopped
  // before exchange 4 is no bar, and "Нет" is answered with a box saying that
  // neither write was made.
  Settled settleInterruptedWrite(Link link, std::optional<std::uint8_t> newByte);
  // The warning with the choice to discard the record; true when it was discarded.
  bool offerDiscard(const std::string& text, const service::WriteRecord& record);

  service::Session& session_;
  MessageBoxes& boxes_;
  TMainForm& mainForm_;
  TInit_Com& initCom_;
};

}  // namespace kkm::ui
