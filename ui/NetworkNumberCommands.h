#pragma once
// The read and write commands of the network number.
//
// The register keeps the number as its network number byte: 0xFF minus the
// number's packed BCD value (45 is 0xBA). Read: one data-memory read at
// NetworkNumberAddress, shown as the two hexadecimal digits of its complement.
// Write: six exchanges in this order, each tried once —
//   1. b at NetworkNumberAddress (data memory)
//   2. c_old := non-volatile 0x0740 (checksum), pause 200 ms
//   3. s_old := non-volatile 0x073E (number), pause 200 ms
//   4. b at non-volatile 0x073E
//   5. c_old - s_old + b at non-volatile 0x0740
//   6. b at 0x020F (data memory)
// then the register is addressed by b. A failed exchange is reported with an
// error box, then the status text; after exchanges 2-5 the read and write
// buttons stay disabled until the next connection, since the register's
// non-volatile memory may now be half-written.
//
// The write accepts only a network number 1..99 in decimal digits (one to
// three characters, leading zeros allowed). Text that is not a hexadecimal
// integer raises NotAnIntegerError (the application's standard error box
// shows it); other text outside 1..99 gets a warning box. Nothing is sent in
// either case and the buttons are enabled again.

#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "ui/AppState.h"
#include "ui/MessageBoxes.h"
#include "ui/OperatorError.h"
#include "ui/RegisterMemory.h"

namespace kkm::ui {

inline constexpr std::uint16_t kEepromNumberAddress = 0x073E;
inline constexpr std::uint16_t kEepromChecksumAddress = 0x0740;
inline constexpr std::uint16_t kNumberCopyAddress = 0x020F;
inline constexpr std::uint32_t kPauseAfterReadMs = 200;

// What the commands need of the main window.
class NetworkNumberView {
 public:
  virtual ~NetworkNumberView() = default;
  virtual Link selectedLink() const = 0;
  virtual QString numberText() const = 0;
  virtual void setNumberText(const QString& text) = 0;
  virtual void setStatusText(const QString& text) = 0;
  virtual void ButtonEnabled() = 0;
  virtual void ButtonDisabled() = 0;
};

// The conversion error of a field text that is no integer at all.
class NotAnIntegerError : public OperatorError {
 public:
  explicit NotAnIntegerError(const QString& converted);
};

// The network number byte of a number 1..99.
std::uint8_t NetworkNumberByte(int number);
// The text the read shows for a network number byte: two uppercase hex digits
// of its complement ("05" for 0xFA, "FF" for 0x00).
QString NetworkNumberText(std::uint8_t networkNumberByte);
// The number in `text` when it is 1..99 written in one to three decimal digits.
std::optional<int> ParseNetworkNumber(const QString& text);

void ReadNetworkNumber(AppState& state, MessageBoxes& boxes, NetworkNumberView& view);
void WriteNetworkNumber(AppState& state, MessageBoxes& boxes, NetworkNumberView& view);

}  // namespace kkm::ui
