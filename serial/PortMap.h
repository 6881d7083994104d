#pragma once
// The per-user port map: which device each COMn name leads to, so that an
// adapter keeps its COM name whatever order the system found it in.
//
// The file is $XDG_CONFIG_HOME/kkm-netnum/ports.conf (~/.config/... when the
// variable is not set; %APPDATA%\kkm-netnum\ports.conf on Windows). One
// "COMn = DEVICE" a line, spaces around '=' optional; '#' starts a comment,
// blank lines are ignored, and a UTF-8 byte-order mark at the start (as
// Windows editors save) is passed over. DEVICE is a device path on POSIX
// ("/dev/serial/by-id/..."), a port name or device name on Windows ("COM7").
// A line that cannot be understood is skipped; the rest of the file still
// counts.
//
// ResolvePort is the one place a port name becomes a device: KKM_COMn when
// set, else the map's entry, else the platform's default (/dev/ttyS(n-1) on
// POSIX, COMn itself on Windows). The default is taken only when nothing the
// user wrote may have meant another device: a KKM_COMn set empty, a map that
// exists but cannot be read, or a skipped line that was (or may have been)
// meant for the name leaves the name with no device at all, and the reason.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/Failure.h"

namespace kkm::serial {

inline constexpr int kMaxComPortNumber = 255;

// n for "COM<n>" with n 1..255 written without a leading zero; nothing otherwise.
std::optional<int> ComPortNumber(std::string_view name);

struct PortMapEntry {
  int line = 0;  // 1-based line number in the file
  std::string port;
  std::string device;
};

struct PortMapProblem {
  int line = 0;      // 0: the whole file
  std::string text;  // what is wrong with the line, in Russian
  // The COM name the line was meant for, as far as it tells ("com1 = ..." and
  // "COM1 /dev/x" mean COM1); empty when it names none, or for the whole file.
  std::string port;
};

struct PortMap {
  std::string path;                   // the file read; empty for a text parsed as it is
  std::vector<PortMapEntry> entries;  // in file order, at most one per port
  std::vector<PortMapProblem> problems;
  // The device `port` is mapped to, if any.
  std::optional<std::string> deviceFor(std::string_view port) const;
  // Why `port`, not mapped, must not fall back to the default: a problem of
  // the whole file, of a line meant for `port`, or of a line that names no
  // port (it may have meant any). "<path>:<line>: <text>"; empty when none.
  std::string problemFor(std::string_view port) const;
};

// Parses the text of a port map file. A port named twice keeps its first line;
// the later one is a problem (it leaves the port as the first line maps it).
PortMap ParsePortMap(std::string_view text);

// Where the current user's map lives; empty when no folder for it is known.
std::string PortMapPath();

// The text of the current user's map file; empty when there is none. A file
// that cannot be read as a map (not a small regular file) gives its failure.
struct PortMapFile {
  std::string text;
  Status status;
};
PortMapFile PortMapText();

// The current user's map, read afresh (a missing file is an empty map; one
// that cannot be read, not being a small readable regular file, is an empty
// map with a problem of line 0, which leaves every COM name without a device
// unless its variable names one). Nothing is printed: each front end says
// the problems once (ProblemLines).
PortMap LoadPortMap();
// The map's problems as a technician reads them: "<path>:<line>: <text>"
// ("<path>: <text>" for the whole file).
std::vector<std::string> ProblemLines(const PortMap& map);

// The text of a map with `port` mapped to `device`: its line replaced in place
// (the first, when hand-edited files name it twice: the others go), or a line
// added at the end. Every other line, comments included, stays as it was.
std::string MapPortInText(std::string_view text, const std::string& port, const std::string& device);
// The text without any line mapping `port`; every other line stays.
std::string UnmapPortInText(std::string_view text, const std::string& port);

// Writes `text` as the current user's map, creating its folder when needed and
// replacing the file in one step.
Status SavePortMap(const std::string& text);

// What a device name must look like on this platform (a path from '/' on POSIX).
bool DeviceNameUsable(std::string_view device);

// Where a COM name's device comes from, for a technician asking why it leads
// where it does. Any name other than COM1..COM255 counts as Default; Unusable:
// it leads nowhere (see ResolvePort).
enum class PortSource { Variable, Map, Default, Unusable };
PortSource SourceOfPortName(const std::string& name, const PortMap& map);

// A port name's device, or why it has none.
struct ResolvedPort {
  std::string device;   // empty when the name leads nowhere
  std::string problem;  // why it does, in Russian; empty when it leads somewhere
};

// The device for a port name: KKM_COMn, then `map`, then the platform default,
// for COM1..COM255; any other name is returned as it is.
ResolvedPort ResolvePort(const std::string& name, const PortMap& map);
// The same with the current user's map.
ResolvedPort ResolvePort(const std::string& name);
// Only the device: empty for a name that leads nowhere.
std::string ResolvePortName(const std::string& name, const PortMap& map);
std::string ResolvePortName(const std::string& name);

}  // namespace kkm::serial
