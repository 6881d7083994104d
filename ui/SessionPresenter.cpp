#include "ui/SessionPresenter.h"

#include <cstdio>
#include <optional>

#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"
#include "service/Connection.h"
#include "service/Messages.h"
#include "service/NetworkNumber.h"
#include "service/Scan.h"
#include "ui/Application.h"
#include "ui/BusyCursor.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/StationNoSpinEdit.h"

namespace kkm::ui {

namespace {

const QString kWarningTitle = QStringLiteral("Предупреждение");
const QString kErrorTitle = QStringLiteral("Ошибка");
const QString kCommandTitle = QString::fromUtf8(service::kWriteTitleText);
// "Нет связи c " here ends in a Latin c, unlike the connection status texts.
const QString kNoContact = QStringLiteral("Нет связи c ");
// The connection status texts, ending in a Cyrillic с, and their link words.
const QString kInterfaceSet = QStringLiteral("Установлен интерфейс с ");
const QString kNoInterface = QStringLiteral("Нет связи с ");
const QString kProcessorWord = QStringLiteral("ККМ");
const QString kKiaWord = QStringLiteral("микроконтроллером");
const QString kReadDone = QStringLiteral("Чтение завершено");
const QString kWriteDone = QStringLiteral("Запись завершена");

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

// The conversion error of a field text that is no integer at all, kept as
// the operator has always seen it (the text as converted, with its "$").
QString NotAnIntegerText(const QString& text) {
  return QStringLiteral("'%1' is not a valid integer value").arg(QStringLiteral("$") + text);
}

bool IsHexInteger(const QString& text) {
  if (text.isEmpty()) return false;
  for (const QChar c : text)
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f'))) return false;
  return true;
}

}  // namespace

SessionPresenter::SessionPresenter(service::Session& session, MessageBoxes& boxes, TMainForm& mainForm,
                                   TInit_Com& initCom)
    : session_(session), boxes_(boxes), mainForm_(mainForm), initCom_(initCom) {
  initCom.setProcessorLinkQuery([&mainForm] { return mainForm.processorLinkSelected(); });
  initCom.setConnectProcedure([this] { connect(); });
  mainForm.setConnectCommand([this] { setUpInterface(); });
  mainForm.setReadCommand([this] { read(); });
  mainForm.setWriteCommand([this] { write(); });
}

Link SessionPresenter::selectedLink() const {
  return mainForm_.processorLinkSelected() ? Link::Processor : Link::Kia;
}

void SessionPresenter::show(const QString& text, const QString& title, MessageBoxes::Icon icon,
                            const QString& details) {
  BusyCursor::end();
  boxes_.show(text, title, icon, details);
}

void SessionPresenter::warn(const std::string& text) const {
  std::fprintf(stderr, "%s: %s\n", session_.program.c_str(), text.c_str());
  std::fflush(stderr);
  serial::TraceNote(session_.port, text);
}

QString SessionPresenter::failureDetails(const serial::Failure& failure) const {
  if (!failure.failed()) return {};
  QString port = Utf8(session_.portName);
  if (!session_.devicePath.empty() && session_.devicePath != session_.portName)
    port += QStringLiteral(" → ") + Utf8(session_.devicePath);
  return Utf8(serial::DescribeFailure(failure)) + QStringLiteral("\nПорт: ") + port;
}

void SessionPresenter::setUpInterface() {
  // 1. The dialog, modally: Accepted when it made a connection.
  const bool connected = initCom_.exec() == QDialog::Accepted;

  // 2. The outcome for the link selected (it cannot change meanwhile).
  const QString linkWord = selectedLink() == Link::Processor ? kProcessorWord : kKiaWord;
  mainForm_.setStatusText((connected ? kInterfaceSet : kNoInterface) + linkWord);

  // 3. A connection enables the commands, then a cut write is settled; a
  // failed attempt closed the earlier port, so it disables them; no attempt
  // leaves them as they were.
  if (connected) {
    mainForm_.ButtonEnabled();
    if (!SessionEnding()) finishInterruptedWrite();
  } else if (initCom_.attemptRan()) {
    mainForm_.ButtonDisabled();
  }
}

void SessionPresenter::connect() {
  const Link link = selectedLink();
  const std::uint8_t portNumber = initCom_.selectedPortNumber();
  BusyCursor busy;
  mainForm_.paintCommandsDisabled();
  const service::ConnectResult result = service::Connect(session_, portNumber, link);
  if (result.connected()) {
    initCom_.accept();
    return;
  }
  // One line with the reason on standard error, before the box, so that a
  // launcher's journal keeps it even if the box is never closed.
  std::fprintf(stderr, "kkm-netnum: связь через %s не установлена: %s\n",
               serial::ComPortName(portNumber).c_str(), serial::DescribeFailure(result.failure).c_str());
  std::fflush(stderr);
  const bool warning = result.outcome == service::ConnectOutcome::PortUnavailable ||
                       result.outcome == service::ConnectOutcome::WrongFirmware;
  show(Utf8(service::ConnectOutcomeText(result.outcome)), warning ? kWarningTitle : kErrorTitle,
       warning ? MessageBoxes::Icon::Warning : MessageBoxes::Icon::Error, failureDetails(result.failure));
}

// The error box, and after it the status text.
void SessionPresenter::reportNoContact(Link link, const serial::Failure& failure) {
  show(Utf8(service::NoInterfaceText(link)), kCommandTitle, MessageBoxes::Icon::Error,
       failureDetails(failure));
  mainForm_.setStatusText(kNoContact + Utf8(service::LinkWord(link)));
}

void SessionPresenter::read() {
  BusyCursor busy;
  mainForm_.paintCommandsDisabled();
  const Link link = selectedLink();
  const service::ReadResult result = service::ReadNetworkNumber(session_, link);
  if (result.ok()) {
    TStationNoSpinEdit& field = mainForm_.stationNoSpinEdit();
    field.setText(Utf8(service::NetworkNumberText(result.networkNumberByte)));
    // Typing then replaces the number read instead of adding to it.
    field.selectAll();
    mainForm_.setStatusText(kReadDone);
  } else {
    reportNoContact(link, result.failure);
  }
  mainForm_.ButtonEnabled();
}

void SessionPresenter::write() {
  const Link link = selectedLink();
  BusyCursor busy;
  mainForm_.paintCommandsDisabled();

  // The field's text as it stands: only a network number goes to the register.
  const QString text = mainForm_.stationNoSpinEdit().text();
  const std::optional<int> number = service::ParseNetworkNumber(text.toStdString());
  if (!number) {
    mainForm_.ButtonEnabled();
    if (IsHexInteger(text)) {
      show(Utf8(service::kOutOfRangeText), kCommandTitle, MessageBoxes::Icon::Warning);
    } else {
      BusyCursor::end();
      ShowStandardError(boxes_, NotAnIntegerText(text));
    }
    return;
  }
  // A cut write on this device and link is settled first; so is one that the
  // register shows although its record was kept under another name (the
  // write, refused before exchange 4, has moved it to this device).
  const std::uint8_t newByte = service::NetworkNumberByte(*number);
  for (bool firstRound : {true, false}) {
    const Settled settled = settleInterruptedWrite(link, newByte);
    if (settled == Settled::Kept) mainForm_.ButtonEnabled();
    if (settled != Settled::Cleared || SessionEnding()) return;
    BusyCursor writing;
    mainForm_.paintCommandsDisabled();
    // Two registers at one address would break the line for both: a number
    // another register answers to is refused before anything is written.
    if (const serial::Status free = service::CheckNumberFree(session_, link, *number); !free) {
      show(Utf8(service::NumberTakenText(*number)), kCommandTitle, MessageBoxes::Icon::Warning,
           failureDetails(free.failure()));
      mainForm_.ButtonEnabled();
      return;
    }
    const service::WriteResult result = service::WriteNetworkNumber(session_, link, *number);
    if (!firstRound || result.refused != service::WriteRefusal::RecordPending) {
      // A finish before may have put its own number in the field.
      if (result.written() && mainForm_.stationNoSpinEdit().text() != text)
        mainForm_.stationNoSpinEdit().setText(text);
      reportWrite(link, result);
      return;
    }
  }
}

void SessionPresenter::reportWrite(Link link, const service::WriteResult& result) {
  for (const serial::Failure& warning : result.warnings) warn(serial::DescribeFailure(warning));
  if (result.written()) {
    show(Utf8(service::kWriteSucceededText), kCommandTitle, MessageBoxes::Icon::Information);
    mainForm_.setStatusText(kWriteDone);
    mainForm_.ButtonEnabled();
    return;
  }
  if (result.refused != service::WriteRefusal::None) {
    // Nothing was sent: the register is as it was.
    const std::string text = result.refused == service::WriteRefusal::NoRecord ? service::kNoRecordText
                                                                               : service::kUnusableRecordText;
    show(Utf8(text), kCommandTitle, MessageBoxes::Icon::Error, failureDetails(result.failure));
    mainForm_.ButtonEnabled();
    return;
  }
  reportNoContact(link, result.failure);
  // A half-written register keeps the commands off until the next connection.
  if (!result.partlyWritten()) mainForm_.ButtonEnabled();
}

void SessionPresenter::finishInterruptedWrite() {
  if (settleInterruptedWrite(selectedLink(), std::nullopt) != Settled::Reported) mainForm_.ButtonEnabled();
}

bool SessionPresenter::offerDiscard(const std::string& text, const service::WriteRecord& record) {
  if (!boxes_.askWarning(Utf8(text + "\n" + service::kDiscardQuestionText), kCommandTitle) || SessionEnding())
    return false;
  const service::WriteResult discarded = service::DiscardRecord(session_, record);
  for (const serial::Failure& warning : discarded.warnings) warn(serial::DescribeFailure(warning));
  if (discarded.written()) return true;
  // The file's own trouble: why the record could not be removed.
  const serial::Failure& why = discarded.failure.cause ? *discarded.failure.cause : discarded.failure;
  show(Utf8(why.text()), kCommandTitle, MessageBoxes::Icon::Error);
  return false;
}

SessionPresenter::Settled SessionPresenter::settleInterruptedWrite(Link link,
                                                                   std::optional<std::uint8_t> newByte) {
  const service::LoadedRecord loaded = service::LoadRecord(session_, link);
  if (loaded.status == service::RecordStatus::None) return Settled::Cleared;
  service::WriteRecord record = loaded.record;
  if (loaded.status == service::RecordStatus::Unusable) {
    // Never acted on: the operator learns why, and may give it up.
    warn(loaded.failure.text());
    record = {session_.portName,
              session_.deviceKey.empty() ? service::DeviceOf(session_.platform, session_.portName)
                                         : session_.deviceKey,
              link};
    BusyCursor::end();
    return offerDiscard(std::string(service::kUnusableRecordText) + ": " + loaded.failure.text(), record)
               ? Settled::Cleared
               : Settled::Kept;
  }
  // A write stopped before exchange 4 left the non-volatile memory untouched:
  // a new write simply takes its place.
  if (newByte && !record.oldKnown) return Settled::Cleared;
  const std::string number = service::RecordedNumberText(record);

  BusyCursor busy;
  mainForm_.paintCommandsDisabled();
  const service::InterruptedCheck check = service::CheckInterruptedWrite(session_, link, record);
  if (!check.ok) {
    reportNoContact(link, check.failure);
    return Settled::Kept;
  }
  switch (check.state) {
    case service::InterruptedWrite::OtherRegister:
      show(Utf8(service::OtherRegisterText(number, record.registerAddress)), kCommandTitle,
           MessageBoxes::Icon::Warning);
      return Settled::Kept;
    case service::InterruptedWrite::Changed:
      BusyCursor::end();
      return offerDiscard(service::MemoryChangedText(number), record) ? Settled::Cleared : Settled::Kept;
    case service::InterruptedWrite::Untouched:
    case service::InterruptedWrite::Finishable:
      break;
  }
  BusyCursor::end();
  const bool finish = boxes_.ask(Utf8(service::FinishQuestionText(number)), kCommandTitle);
  // A box closed because the program ends is no answer.
  if (SessionEnding()) return Settled::Kept;
  if (!finish) {
    if (newByte) show(Utf8(service::NeitherWrittenText(number)), kCommandTitle, MessageBoxes::Icon::Warning);
    return Settled::Kept;
  }
  BusyCursor finishing;
  mainForm_.paintCommandsDisabled();
  const service::WriteResult result = service::FinishInterruptedWrite(session_, link, record, check);
  // The field shows the number the register now holds.
  if (result.written()) mainForm_.stationNoSpinEdit().setText(Utf8(number));
  reportWrite(link, result);
  // The new write goes on after a finish, unless the finish wrote what it
  // would write or the program is ending.
  if (SessionEnding()) return Settled::Reported;
  if (result.written() && newByte && *newByte != record.newByte) return Settled::Cleared;
  return Settled::Reported;
}

}  // namespace kkm::ui
