#include "ui/ConnectionProcedure.h"

#include <cstdio>

#include "kia/KiaUnit.h"
#include "register/AddressDiscovery.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"

namespace kkm::ui {

namespace {
const QString kWarningTitle = QStringLiteral("Предупреждение");
const QString kErrorTitle = QStringLiteral("Ошибка");
const QString kPortUnavailable = QStringLiteral("Выбранный COM-порт недоступен");
const QString kNoRegister = QStringLiteral("Нет связи с ККМ");
const QString kWrongFirmware = QStringLiteral("В ККМ необходимо установить ПО версии не ниже 1.0.5");
const QString kNoKia = QStringLiteral("Нет связи с микроконтроллером КИА");

// One line on standard error with the reason of a failed connection, written
// before the box so that a launcher's journal has it even if the box is never
// closed.
void ReportConnectionFailure(AppState& state, std::uint8_t portNumber) {
  serial::ReportFailure(state.port, "connection on " + serial::ComPortName(portNumber), stderr);
}

// Processor link: find the register's address and read its firmware version.
bool ContactProcessor(AppState& state, MessageBoxes& boxes, std::uint8_t portNumber) {
  if (!reg::FindRegisterAddress(state.port, state.registerAddress) ||
      !reg::ReadFirmwareVersion(state.port, state.registerAddress, state.firmwareVersion)) {
    ReportConnectionFailure(state, portNumber);
    boxes.show(kNoRegister, kErrorTitle, MessageBoxes::Icon::Error);
    return false;
  }
  // Only this one version: its memory map is the one the commands rely on.
  if (state.firmwareVersion != kRequiredFirmwareVersion) {
    serial::Fail({serial::FailureCode::WrongFirmware, -1, kRequiredFirmwareVersion, state.firmwareVersion});
    ReportConnectionFailure(state, portNumber);
    boxes.show(kWrongFirmware, kWarningTitle, MessageBoxes::Icon::Warning);
    return false;
  }
  return true;
}

// KIA link: one data-memory read shows that the controller answers.
bool ContactKia(AppState& state, MessageBoxes& boxes, std::uint8_t portNumber) {
  std::uint8_t probe = 0;
  if (!kia::KiaReadMemory(state.port, state.memoryMap.ProbeAddress(), probe)) {
    // Silence from the controller is named as such; other reasons stand.
    if (serial::LastFailure().code == serial::FailureCode::NoAcknowledgement)
      serial::Fail({serial::FailureCode::NoKiaAnswer, serial::LastFailure().waitedMs});
    ReportConnectionFailure(state, portNumber);
    boxes.show(kNoKia, kErrorTitle, MessageBoxes::Icon::Error);
    return false;
  }
  state.firmwareVersion = kRequiredFirmwareVersion;
  return true;
}

}  // namespace

bool RunConnectionProcedure(AppState& state, MessageBoxes& boxes, std::uint8_t portNumber, Link link) {
  // 1. Whatever the last attempt left open is closed first.
  serial::CloseComPort(state.port);
  // 2-3. The chosen port with the fixed line settings.
  if (!serial::OpenComPort(state.platform, portNumber, state.port)) {
    ReportConnectionFailure(state, portNumber);
    boxes.show(kPortUnavailable, kWarningTitle, MessageBoxes::Icon::Warning);
    return false;
  }
  // 4-9. Contact through the chosen link.
  const bool contact = link == Link::Processor ? ContactProcessor(state, boxes, portNumber)
                                               : ContactKia(state, boxes, portNumber);
  if (!contact) return false;
  // 10-11. The memory map of the version, and the connection is made.
  memmap::LoadMemoryMap(state.memoryMap, static_cast<std::uint8_t>(state.firmwareVersion & 0xFF));
  state.interfaceReady = true;
  return true;
}

}  // namespace kkm::ui
