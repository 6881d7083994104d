#include "ui/NetworkNumberCommands.h"

#include "serial/SerialLine.h"

namespace kkm::ui {

namespace {

const QString kCommandTitle = QStringLiteral("Запись сетевого номера");
const QString kNoInterface = QStringLiteral("Не удается установить последовательный интерфейс с ");
// "Нет связи c " here ends in a Latin c, unlike the connection status text.
const QString kNoContact = QStringLiteral("Нет связи c ");
const QString kReadDone = QStringLiteral("Чтение завершено");
const QString kWriteDone = QStringLiteral("Запись завершена");
const QString kWriteSucceeded = QStringLiteral("Операция успешно завершена");
const QString kOutOfRange = QStringLiteral("Сетевой номер должен быть числом от 1 до 99.");
constexpr int kMaxNumberLength = 3;

QString LinkWord(Link link) {
  return link == Link::Processor ? QStringLiteral("ККМ") : QStringLiteral("микроконтроллером КИА");
}

// The error box, and after it the status text.
void ReportNoContact(MessageBoxes& boxes, NetworkNumberView& view, Link link) {
  boxes.show(kNoInterface + LinkWord(link), kCommandTitle, MessageBoxes::Icon::Error);
  view.setStatusText(kNoContact + LinkWord(link));
}

bool IsHexInteger(const QString& text) {
  if (text.isEmpty()) return false;
  for (const QChar c : text)
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f'))) return false;
  return true;
}

}  // namespace

NotAnIntegerError::NotAnIntegerError(const QString& converted)
    : OperatorError(QStringLiteral("'%1' is not a valid integer value").arg(converted)) {}

std::uint8_t NetworkNumberByte(int number) {
  const int bcd = ((number / 10) << 4) | (number % 10);
  return static_cast<std::uint8_t>(0xFF - bcd);
}

QString NetworkNumberText(std::uint8_t networkNumberByte) {
  return QStringLiteral("%1").arg(0xFF - networkNumberByte, 2, 16, QLatin1Char('0')).toUpper();
}

std::optional<int> ParseNetworkNumber(const QString& text) {
  if (text.isEmpty() || text.size() > kMaxNumberLength) return std::nullopt;
  int number = 0;
  for (const QChar c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    number = number * 10 + (c.unicode() - u'0');
  }
  if (number < 1 || number > 99) return std::nullopt;
  return number;
}

void ReadNetworkNumber(AppState& state, MessageBoxes& boxes, NetworkNumberView& view) {
  view.ButtonDisabled();
  const Link link = view.selectedLink();
  std::uint8_t stored = 0;
  if (MemoryThrough(link, state)->readData(state.memoryMap.NetworkNumberAddress(), stored)) {
    view.setNumberText(NetworkNumberText(stored));
    view.setStatusText(kReadDone);
  } else {
    ReportNoContact(boxes, view, link);
  }
  view.ButtonEnabled();
}

void WriteNetworkNumber(AppState& state, MessageBoxes& boxes, NetworkNumberView& view) {
  const Link link = view.selectedLink();
  view.ButtonDisabled();

  // The field's text as it stands: only a network number goes to the register.
  const QString text = view.numberText();
  const std::optional<int> number = ParseNetworkNumber(text);
  if (!number) {
    view.ButtonEnabled();
    if (!IsHexInteger(text)) throw NotAnIntegerError(QStringLiteral("$") + text);
    boxes.show(kOutOfRange, kCommandTitle, MessageBoxes::Icon::Warning);
    return;
  }
  const std::uint8_t b = NetworkNumberByte(*number);
  auto memory = MemoryThrough(link, state);
  serial::Clock& clock = state.port.clock();

  // 1. The working copy in data memory.
  if (!memory->writeData(state.memoryMap.NetworkNumberAddress(), b)) {
    ReportNoContact(boxes, view, link);
    view.ButtonEnabled();
    return;
  }
  // 2-3. The non-volatile checksum and number as they are now.
  std::uint8_t checksumOld = 0;
  std::uint8_t numberOld = 0;
  if (!memory->readNonVolatile(kEepromChecksumAddress, checksumOld))
    return ReportNoContact(boxes, view, link);
  serial::PauseMs(clock, kPauseAfterReadMs);
  if (!memory->readNonVolatile(kEepromNumberAddress, numberOld)) return ReportNoContact(boxes, view, link);
  serial::PauseMs(clock, kPauseAfterReadMs);
  // 4-5. The new number, then the checksum moved by the same difference.
  const auto checksumNew = static_cast<std::uint8_t>(checksumOld - numberOld + b);
  if (!memory->writeNonVolatile(kEepromNumberAddress, b)) return ReportNoContact(boxes, view, link);
  if (!memory->writeNonVolatile(kEepromChecksumAddress, checksumNew))
    return ReportNoContact(boxes, view, link);
  // 6. The copy the register takes its line address from.
  if (!memory->writeData(kNumberCopyAddress, b)) {
    ReportNoContact(boxes, view, link);
    view.ButtonEnabled();
    return;
  }
  state.registerAddress = b;
  boxes.show(kWriteSucceeded, kCommandTitle, MessageBoxes::Icon::Information);
  view.setStatusText(kWriteDone);
  view.ButtonEnabled();
}

}  // namespace kkm::ui
