#pragma once
// The connection procedure behind "Установить интерфейс": close the old port,
// open COM<portNumber>, make contact through the chosen link and fix the
// firmware version, load the memory map for it and set InterfaceReady.
//
// Processor link: address scan, version query, only version 105 accepted.
// KIA link: one data-memory read at ProbeAddress as a probe; version 105.
// Every failure writes one line with its reason to standard error (and to the
// trace), shows one message box and leaves InterfaceReady false; the port
// opened by a failed attempt stays open until the next attempt.

#include <cstdint>

#include "ui/AppState.h"
#include "ui/MessageBoxes.h"
#include "ui/RegisterMemory.h"

namespace kkm::ui {

inline constexpr std::int32_t kRequiredFirmwareVersion = 105;

// True when the connection was made (InterfaceReady is then true as well).
bool RunConnectionProcedure(AppState& state, MessageBoxes& boxes, std::uint8_t portNumber, Link link);

}  // namespace kkm::ui
