#pragma once
// kkm-netnum-cli history: the service history, oldest first.
//
//   history [--json]
//
// Text: one readable line an entry. --json: one object whose "entries" are
// the stored lines in the commands' vocabulary and key order (numbers as
// numbers beside their two digits, the outcome as the command named it);
// lines of earlier versions are read the same way. Lines that do not parse
// are named on `err` and left out. A history that cannot be read is
// kExitNoRecord.

#include <iosfwd>

namespace kkm::cli {

int History(bool asJson, std::ostream& out, std::ostream& err);

}  // namespace kkm::cli
