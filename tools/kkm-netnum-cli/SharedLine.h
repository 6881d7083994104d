#pragma once
// Several registers on one line: naming the one meant (--register N), the
// write's look whether its new number is already taken, and the statuses a
// script acts on.
//
// With --register N a command addresses the register with network number N
// directly instead of taking the first one the scan finds. Before its first
// exchange a write sends the address byte of its new number as the scan does;
// anything that answers means another register has that number, and nothing
// is written (the register's own number is not looked for; service::CheckNumberFree).

#include <string>

#include "service/Session.h"

namespace CLI {
class App;
}

namespace kkm::cli {

inline constexpr int kExitNumberTaken = 10;  // write: another register answers to the new number
inline constexpr int kExitConflict = 11;     // scan: several registers answer one address

// Adds --register N to `command`, its text into `text`.
void AddRegisterOption(CLI::App& command, std::string& text);

// Names the register of the option's text on the session; a usage error's
// text, empty when the option is fine or absent. The KIA link reaches one
// register only and takes no --register.
std::string NameRegister(const std::string& text, service::Link link, service::Session& session);

}  // namespace kkm::cli
