#!/usr/bin/env bash
# The setup in a fresh wine prefix: silent install, the installed programs'
# --version and main window, silent uninstall leaving only the user's state.
#   setup_under_wine.sh SETUP.exe WINE_RUN WORK_DIR VERSION
set -euo pipefail
setup="$1" wine_run="$2" work="$3" version="$4"
prefix="$work/prefix" program_files="$work/prefix/drive_c/Program Files/kkm-netnum"
fail() { echo "FAIL: $*" >&2; exit 1; }
in_prefix() { "$wine_run" "$prefix" "$@"; }
trap 'in_prefix wineserver -k 2>/dev/null; [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid"' EXIT
rm -rf "$work" && mkdir -p "$work"
# --version on standard output, not in a box; the installed programs find
# their libraries beside them, nowhere else.
export QT_COMMAND_LINE_PARSER_NO_GUI_MESSAGE_BOXES=1
unset WINEPATH

in_prefix "$setup" /S && in_prefix wineserver -w
for file in kkm-netnum.exe kkm-netnum-cli.exe Qt6Widgets.dll plugins/platforms/qwindows.dll \
  translations/qtbase_ru.qm qt.conf LICENSE.txt Uninstall.exe; do
  [ -f "$program_files/$file" ] || fail "not installed: $file"
done
entry="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Сетевой номер ККМ ТИМ-31Ц"
[ -f "$entry/Сетевой номер ККМ ТИМ-31Ц.lnk" ] || fail "no Start-menu entry"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kkm-netnum'
in_prefix reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1 || fail "no uninstaller registered"

# Wine passes no standard output to a windowed program: its --version must
# end well (a missing library ends it with another code).
in_prefix "C:\\Program Files\\kkm-netnum\\kkm-netnum.exe" --version || fail "kkm-netnum --version exited with $?"
out="$(in_prefix "C:\\Program Files\\kkm-netnum\\kkm-netnum-cli.exe" --version | tr -d '\r')"
[ "$out" = "kkm-netnum-cli $version" ] || fail "kkm-netnum-cli --version printed '$out'"

# The installed program shows its main window; the wine server starts anew
# with the display.
in_prefix wineserver -k 2>/dev/null || true
in_prefix wineserver -w
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
until [ -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
KKM_WINE_DISPLAY="$DISPLAY" in_prefix "C:\\Program Files\\kkm-netnum\\kkm-netnum.exe" >"$work/netnum.out" 2>&1 &
shown() { xdotool search --onlyvisible --name '^Сетевой номер ККМ ТИМ-31Ц$' >/dev/null; }
for _ in $(seq 300); do shown && break; sleep 0.1; done
shown || fail "the installed kkm-netnum showed no main window: $(head -c 2000 "$work/netnum.out")"
in_prefix wineserver -k 2>/dev/null || true
state="$(echo "$prefix"/drive_c/users/*/AppData/Local)/kkm-netnum"  # the user's, kept
mkdir -p "$state" && echo kept >"$state/COM1.record"

in_prefix "C:\\Program Files\\kkm-netnum\\Uninstall.exe" /S && in_prefix wineserver -w
in_prefix reg query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstaller is still registered"
left="$(find "$prefix/drive_c" \( -iname '*kkm-netnum*' -o -path "$entry" \) -not -path '*/AppData/Local/kkm-netnum')"
[ -z "$left" ] || fail "left after uninstalling: $left"
[ -f "$state/COM1.record" ] || fail "the user's state went with the program"
grep -il 'kkm-netnum' "$prefix"/*.reg && fail "the registry still names kkm-netnum"
echo "installed, started and uninstalled cleanly"
