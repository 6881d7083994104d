#!/usr/bin/env bash
# End to end under wine: kkm-sim (a Linux program) serves a register, or a KIA
# board wired to one, on a pseudo-terminal; the wine prefix maps COM1 to it
# (HKLM\Software\Wine\Ports); Windows programs then work on COM1 through the
# Win32 back end, and the simulator's trace and memory dump show what reached
# the device, with the parity of every byte.
#
#   com_line_under_wine.sh --sim KKM_SIM --probe COM_PROBE.exe --wine-run WINE_RUN
#                          --prefix DIR --work DIR [--cli KKM_NETNUM_CLI.exe]
#
# On each link: com_probe connects, reads the number byte, writes 0xBA and
# reads it back. With --cli, on each link: read, write 45, read back, and on
# the processor link a scan; the register's four number cells must then hold
# 45 (0xBA). The prefix is this test's own: its wine server is restarted.
set -euo pipefail

cli=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sim) sim="$2" ;;
    --probe) probe="$2" ;;
    --wine-run) wine_run="$2" ;;
    --prefix) prefix="$2" ;;
    --work) work="$2" ;;
    --cli) cli="$2" ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift 2
done

mkdir -p "$work"
com1="$work/com1"
server_log="$work/wineserver.log"
failures=0
sim_pid=""

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

wine_in_prefix() { "$wine_run" "$prefix" "$@"; }

stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}

cleanup() {
  stop_sim
  wine_in_prefix wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# Starts kkm-sim on LINK with its trace and dump under NAME, and waits until
# its link to the pseudo-terminal is in place.
start_sim() {
  local link="$1" name="$2"
  rm -f "$work/$name.trace" "$work/$name.dump"
  "$sim" --link "$link" --link-path "$com1" --trace "$work/$name.trace" --dump-memory "$work/$name.dump" \
    >"$work/$name.sim-out" 2>"$work/$name.sim-err" &
  sim_pid=$!
  for _ in $(seq 200); do
    [ -e "$com1" ] && return 0
    sleep 0.1
  done
  fail "$name: kkm-sim did not start: $(cat "$work/$name.sim-err")"
  return 1
}

# Compares the simulator's number cells with the expected "0xAAAA=HH" lines.
check_dump() {
  local name="$1" expected="$2"
  local got
  got="$(cat "$work/$name.dump" 2>/dev/null || true)"
  if [ "$got" != "$expected" ]; then
    fail "$name: memory after the run:"$'\n'"$got"$'\n'"expected:"$'\n'"$expected"
  fi
}

# Every byte the host sent has the parity of its link: on the processor link
# MARK for the address phases only (the first one is the scan's 0xFF) and SPACE
# for the frames; on the KIA link no parity at all. Trace lines are
# "<ms> host>dev <hex> <parity>" (lines starting with # are its header).
check_parity() {
  local name="$1" link="$2" sent
  sent="$(awk '$1 !~ /^#/ && $2 == "host>dev" {print $3, $4}' "$work/$name.trace")"
  if [ -z "$sent" ]; then
    fail "$name: nothing reached the device"
    return
  fi
  if [ "$link" = kia ]; then
    if grep -qv ' none$' <<<"$sent"; then fail "$name: a byte with parity on the KIA link"; fi
    return
  fi
  if [ "$(head -n1 <<<"$sent")" != "FF mark" ]; then
    fail "$name: first byte on the line is '$(head -n1 <<<"$sent")', not 'FF mark'"
  fi
  if grep -qv ' mark$\| space$' <<<"$sent"; then fail "$name: a byte without MARK or SPACE on the processor link"; fi
  # The version query frame 01 14 EA goes out in SPACE parity.
  if ! tr '\n' ' ' <<<"$sent" | grep -q '01 space 14 space EA space'; then
    fail "$name: no version query frame in SPACE parity"
  fi
}

# Runs a Windows program on COM1; its standard output, without the CRs of
# Windows line ends, goes to $work/NAME.out.
run_windows() {
  local name="$1"
  shift
  local code=0
  wine_in_prefix "$@" >"$work/$name.raw" 2>"$work/$name.err" || code=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
  return $code
}

# 1. The prefix, with COM1 mapped to the simulator's link; the wine server
#    reads the port mapping when it starts, so it is restarted.
if [ ! -f "$prefix/system.reg" ]; then
  wine_in_prefix wineboot --init >/dev/null 2>&1
fi
wine_in_prefix reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1" /f >/dev/null 2>&1
wine_in_prefix wineserver -k 2>/dev/null || true
wine_in_prefix wineserver -w
# A persistent server for the runs below, its own chatter in a log.
wine_in_prefix wineserver -p >>"$server_log" 2>&1
rm -f "$com1"

# 2. The link code through the Win32 back end. The address scan gives each
#    candidate 10 ms; on a busy machine the echo can come too late once, so a
#    connection that missed the register is tried once more.
cells_before=$'0x1140=FE\n0x020F=FE\n0x073E=FE\n0x0740=FE'
probe_expected_cpu=$'address 0xFE\nfirmware 105\nnumber-byte 0xFE\nwritten 0xBA\nread-back 0xBA'
probe_expected_kia=$'probe 0x77AD\nnumber-byte 0xFE\nwritten 0xBA\nread-back 0xBA'
for link in cpu kia; do
  name="probe-$link"
  for attempt in 1 2; do
    start_sim "$link" "$name" || break
    code=0
    run_windows "$name" "$probe" "$link" || code=$?
    stop_sim
    if [ $code -ne 0 ] && [ $attempt -eq 1 ] && grep -q 'failed: connect' "$work/$name.err"; then
      echo "$name: connection missed the register, once more"
      continue
    fi
    break
  done
  expected_var="probe_expected_$link"
  if [ $code -ne 0 ] || [ "$(cat "$work/$name.out")" != "${!expected_var}" ]; then
    fail "$name: exit $code, output:"$'\n'"$(cat "$work/$name.out")"$'\n'"$(head -c 2000 "$work/$name.err")"
  fi
  check_dump "$name" "${cells_before/0x1140=FE/0x1140=BA}"
  check_parity "$name" "$link"
  echo "$name: done"
done

# 3. The command-line tool, when it is built.
if [ -n "$cli" ]; then
  cells_after=$'0x1140=BA\n0x020F=BA\n0x073E=BA\n0x0740=BA'
  for link in cpu kia; do
    name="cli-$link"
    start_sim "$link" "$name" || continue
    steps=("read 01" "write 45" "read 45")
    [ "$link" = cpu ] && steps+=("scan")
    for step in "${steps[@]}"; do
      set -- $step
      command="$1" expected="${2:-}"
      case "$command" in
        read) args=(read --port COM1 --link "$link") ;;
        write) args=(write 45 --port COM1 --link "$link") ;;
        scan) args=(scan --port COM1) ;;
      esac
      code=0
      run_windows "$name-$command" "$cli" "${args[@]}" || code=$?
      out="$(cat "$work/$name-$command.out")"
      if [ $code -ne 0 ]; then
        fail "$name: ${args[*]}: exit $code: $out $(head -c 2000 "$work/$name-$command.err")"
      elif [ "$command" = scan ]; then
        [ "$out" = "45  0xBA  1.0.5" ] || fail "$name: scan listed:"$'\n'"$out"
      elif [ "$out" != "$expected" ]; then
        fail "$name: ${args[*]} printed '$out', not '$expected'"
      fi
    done
    stop_sim
    check_dump "$name" "$cells_after"
    check_parity "$name" "$link"
    echo "$name: done"
  done
else
  echo "kkm-netnum-cli is not built: its runs are left out"
fi

[ $failures -eq 0 ] || { echo "$failures failure(s); files in $work" >&2; exit 1; }
echo "all runs passed"
