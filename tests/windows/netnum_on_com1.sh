#!/usr/bin/env bash
# kkm-netnum.exe under wine in place of the Linux program, for
# tests/e2e/netnum_under_xvfb.sh: the devices that script names in KKM_COM1
# and KKM_COM2 become COM1 and COM2 of the wine prefix, and the program shows
# its windows on the script's X display. Set by the test:
#   KKM_NETNUM_EXE  the program;  KKM_WINE_COMMAND  wine-run, the prefix and
#   wine-run's --dll-path options, separated by "|".
set -euo pipefail
IFS='|' read -ra wine_command <<<"$KKM_WINE_COMMAND"
in_prefix() { "${wine_command[@]:0:2}" "$@"; }
for port in COM1 COM2; do
  device="KKM_$port"
  in_prefix reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "${!device}" /f >/dev/null 2>&1
done
# The wine server reads the ports when it starts.
in_prefix wineserver -k 2>/dev/null || true
in_prefix wineserver -w
trap 'in_prefix wineserver -k 2>/dev/null || true' EXIT
KKM_WINE_DISPLAY="$DISPLAY" QT_QPA_PLATFORM=windows "${wine_command[@]}" "$KKM_NETNUM_EXE" "$@" &
status=0
wait $! || status=$?
# The program's trace is a Windows text file; the caller reads Linux lines.
[ ! -f "${KKM_TRACE:-}" ] || sed -i 's/\r$//' "$KKM_TRACE"
exit $status
