#!/usr/bin/env bash
# The setup in a fresh wine prefix, installed silently for all users and then
# for the current user, each time with the tool's folder put on PATH: the
# files, the licence and the third-party notices, the Start-menu entries, the
# registration with Windows, PATH (kkm-netnum-cli found through it), the
# version records, the installed programs started (the main window shown
# once); each time uninstalled silently, leaving nothing behind (files,
# registry, PATH as it was) but the user's own state. And the archive's
# contents.
#   setup_under_wine.sh SETUP.exe ARCHIVE.zip FILE_VERSION.exe WINE_RUN WORK_DIR VERSION WITH_WINDOWS(0|1)
set -euo pipefail
setup="$1" archive="$2" file_version="$3" wine_run="$4" work="$5" version="$6" with_windows="$7"
prefix="$work/prefix" product="Сетевой номер ККМ ТИМ-31Ц" maker="kkm-netnum developers"
fail() { echo "FAIL: $*" >&2; exit 1; }
in_prefix() { "$wine_run" "$prefix" "$@"; }
trap 'in_prefix wineserver -k 2>/dev/null || true; [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid"' EXIT
rm -rf "$work" && mkdir -p "$work"
# --version on standard output, not in a box; the installed programs find
# their libraries beside them, nowhere else.
export QT_COMMAND_LINE_PARSER_NO_GUI_MESSAGE_BOXES=1
unset WINEPATH

# The archive: the tool, its licence, the notices of the runtime linked in.
listing="$(unzip -Z1 "$archive")"
for file in kkm-netnum-cli.exe LICENSE.txt THIRD-PARTY-NOTICES.txt licenses/GPL-3.txt licenses/gcc-runtime.txt \
  licenses/mingw-w64.txt; do
  grep -qx "$file" <<<"$listing" || fail "not in the archive: $file"
done

# reg_value KEY NAME: the value's data (ASCII), empty when it is missing.
reg_value() { { in_prefix reg query "$1" /v "$2" 2>/dev/null || true; } | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
# version_record FILE: its version record, checked, printed as Name=value lines.
version_record() {
  local record
  record="$(in_prefix "$file_version" "$1" | tr -d '\r')" || fail "no version record in $1"
  for line in "ProductName=kkm-netnum" "ProductVersion=$version" "CompanyName=$maker" "Language=0419"; do
    grep -qx "$line" <<<"$record" || fail "$1: the version record lacks $line: $record"
  done
  grep -q "^LegalCopyright=Copyright (c) [0-9]* $maker$" <<<"$record" || fail "$1: no copyright: $record"
  echo "$record"
}
contains() { grep -q -- "$2" "$1" || fail "$1 does not say '$2'"; }

system_env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' user_env='HKCU\Environment'
in_prefix wineboot --init && in_prefix wineserver -w
path_before_all="$(reg_value "$system_env" Path)" path_before_user="$(reg_value "$user_env" Path)"
[ -n "$path_before_all" ] || fail "the fresh prefix has no system PATH"
description="$(version_record "$setup" | sed -n 's/^FileDescription=//p')"
[ "$description" = "Установка: $product" ] || fail "the setup describes itself as '$description'"
user="$(ls "$prefix/drive_c/users" | grep -vx Public | head -n 1)"
state="$prefix/drive_c/users/$user/AppData/Local/kkm-netnum"  # the user's, kept

# check_installed MODE FOLDER START_MENU UNINSTALL_KEY ENVIRONMENT_KEY (FOLDER as Windows names it)
check_installed() {
  local mode="$1" folder="$2" menu="$3" key="$4" env="$5" dir
  dir="$prefix/drive_c/${folder#C:\\}" && dir="${dir//\\//}"
  local files=(kkm-netnum-cli.exe LICENSE.txt THIRD-PARTY-NOTICES.txt licenses/GPL-3.txt licenses/gcc-runtime.txt
    licenses/mingw-w64.txt Uninstall.exe)
  [ "$with_windows" = 1 ] && files+=(kkm-netnum.exe Qt6Widgets.dll plugins/platforms/qwindows.dll qt.conf
    translations/qtbase_ru.qm libstdc++-6.dll THIRD-PARTY-NOTICES-Qt.txt licenses/LGPL-3.txt licenses/LGPL-2.1.txt
    licenses/qt6-base.txt)
  for file in "${files[@]}"; do
    [ -f "$dir/$file" ] || fail "$mode: not installed: $file"
  done
  contains "$dir/LICENSE.txt" "MIT License"
  contains "$dir/licenses/GPL-3.txt" "GNU GENERAL PUBLIC LICENSE"
  contains "$dir/licenses/gcc-runtime.txt" "GCC RUNTIME LIBRARY EXCEPTION"
  contains "$dir/licenses/mingw-w64.txt" "winpthreads"
  contains "$dir/THIRD-PARTY-NOTICES.txt" "apt-get source gcc-mingw-w64="
  if [ "$with_windows" = 1 ]; then
    contains "$dir/licenses/LGPL-3.txt" "GNU LESSER GENERAL PUBLIC LICENSE"
    contains "$dir/THIRD-PARTY-NOTICES-Qt.txt" "apt-get source qt6-base="
    contains "$dir/licenses/qt6-base.txt" "Files: src/3rdparty/"
  fi
  [ -f "$menu/Командная строка kkm-netnum-cli.lnk" ] || fail "$mode: no Start-menu console in the tool's folder"
  [ -f "$menu/Удалить $product.lnk" ] || fail "$mode: no Start-menu entry to uninstall"
  [ "$with_windows" = 0 ] || [ -f "$menu/$product.lnk" ] || fail "$mode: no Start-menu entry for the windows"
  [ "$(reg_value "$key" UninstallString)" = "\"$folder\\Uninstall.exe\"" ] || fail "$mode: no uninstaller registered"
  [[ ";$(reg_value "$env" Path);" == *";$folder;"* ]] || fail "$mode: PATH lacks $folder: $(reg_value "$env" Path)"

  # The tool from any folder through PATH; the installed programs' records.
  out="$(in_prefix cmd /c 'cd /d C:\ && kkm-netnum-cli --version' | tr -d '\r')"
  [ "$out" = "kkm-netnum-cli $version" ] || fail "$mode: kkm-netnum-cli through PATH printed '$out'"
  version_record "$folder\\kkm-netnum-cli.exe" >/dev/null
  if [ "$with_windows" = 1 ]; then
    version_record "$folder\\kkm-netnum.exe" >/dev/null
    # Wine passes no standard output to a windowed program: its --version
    # must end well (a missing library ends it with another code).
    in_prefix "$folder\\kkm-netnum.exe" --version || fail "$mode: kkm-netnum --version exited with $?"
  fi
}

# check_uninstalled MODE FOLDER START_MENU UNINSTALL_KEY
check_uninstalled() {
  local mode="$1" folder="$2" menu="$3" key="$4" dir left
  dir="$prefix/drive_c/${folder#C:\\}" && dir="${dir//\\//}"
  mkdir -p "$state" && echo kept >"$state/COM1.record"
  in_prefix "$folder\\Uninstall.exe" /S && in_prefix wineserver -w
  in_prefix reg query "$key" >/dev/null 2>&1 && fail "$mode: the uninstaller is still registered"
  [ ! -e "$dir" ] || fail "$mode: left after uninstalling: $(find "$dir")"
  [ ! -e "$menu" ] || fail "$mode: left after uninstalling: $menu"
  [ "$(reg_value "$system_env" Path)" = "$path_before_all" ] || fail "$mode: system PATH now $(reg_value "$system_env" Path)"
  [ "$(reg_value "$user_env" Path)" = "$path_before_user" ] || fail "$mode: user PATH now $(reg_value "$user_env" Path)"
  [ -f "$state/COM1.record" ] || fail "$mode: the user's state went with the program"
}

# 1. For all users.
folder='C:\Program Files\kkm-netnum'
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$product"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kkm-netnum'
in_prefix "$setup" /S /AllUsers /AddToPath && in_prefix wineserver -w
check_installed "for all users" "$folder" "$menu" "$key" "$system_env"

if [ "$with_windows" = 1 ]; then
  # The installed program shows its main window; the wine server starts
  # anew with the display.
  in_prefix wineserver -k 2>/dev/null || true
  in_prefix wineserver -w
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb_pid=$!
  until [ -s "$work/display" ]; do sleep 0.1; done
  export DISPLAY=":$(cat "$work/display")"
  KKM_WINE_DISPLAY="$DISPLAY" in_prefix "$folder\\kkm-netnum.exe" >"$work/netnum.out" 2>&1 &
  shown() { xdotool search --onlyvisible --name "^$product\$" >/dev/null; }
  for _ in $(seq 300); do shown && break; sleep 0.1; done
  shown || fail "the installed kkm-netnum showed no main window: $(head -c 2000 "$work/netnum.out")"
  in_prefix wineserver -k 2>/dev/null || true
fi
check_uninstalled "for all users" "$folder" "$menu" "$key"

# 2. For the current user alone, where no administrator rights are needed.
folder="C:\\users\\$user\\AppData\\Local\\Programs\\kkm-netnum"
menu="$prefix/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/$product"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\kkm-netnum'
in_prefix "$setup" /S /CurrentUser /AddToPath && in_prefix wineserver -w
[ -z "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kkm-netnum' UninstallString)" ] ||
  fail "the install for the current user registered itself for all users"
check_installed "for the current user" "$folder" "$menu" "$key" "$user_env"
check_uninstalled "for the current user" "$folder" "$menu" "$key"

# Nothing of the program is left anywhere, but the user's state.
in_prefix wineserver -k 2>/dev/null || true
in_prefix wineserver -w
left="$(find "$prefix/drive_c" \( -iname '*kkm-netnum*' -o -iname "*$product*" \) -not -path '*/AppData/Local/kkm-netnum')"
[ -z "$left" ] || fail "left after uninstalling: $left"
grep -il 'kkm-netnum' "$prefix"/*.reg && fail "the registry still names kkm-netnum"
echo "installed for all users and for the current user, started and uninstalled cleanly"
