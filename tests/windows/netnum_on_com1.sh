#!/usr/bin/env bash
# KKM_NETNUM_EXE under wine for tests/e2e/netnum_under_xvfb.sh, on its
# display. The Linux port map the test writes ($XDG_CONFIG_HOME/kkm-netnum/
# ports.conf, its well-formed "COMn = DEVICE" lines) becomes wine's own COM
# ports, which the Windows program opens by name. KKM_WINE_COMMAND: wine-run,
# the prefix and wine-run's --dll-path options, joined by "|".
set -euo pipefail
IFS='|' read -ra wine_command <<<"$KKM_WINE_COMMAND"
in_prefix() { "${wine_command[@]:0:2}" "$@"; }
while read -r port equals device; do
  [[ "$port" =~ ^COM[0-9]+$ && "$equals" == "=" && -n "$device" ]] || continue
  in_prefix reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$device" /f >/dev/null 2>&1
done <"$XDG_CONFIG_HOME/kkm-netnum/ports.conf"
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
