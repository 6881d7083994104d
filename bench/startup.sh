#!/usr/bin/env bash
# Start-up of kkm-netnum: time from process start to the main window shown,
# and peak memory, over several runs under a virtual X server.
#
#   bench/startup.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR holds a build with app/kkm-netnum and bench/startup_probe
# (default: build-bench beside the sources); RUNS defaults to 7. Without a
# display it starts itself again under xvfb-run. Prints one line per run from
# startup_probe (the first run may find cold caches), the medians, and the
# peak resident set as /usr/bin/time -v reports it for one more run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build-bench}" && pwd)"
runs="${2:-7}"
app="$build/app/kkm-netnum"
probe="$build/bench/startup_probe"
for f in "$app" "$probe"; do
  [ -x "$f" ] || { echo "startup.sh: $f is missing; build it first (scripts/bench does)" >&2; exit 1; }
done

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$runs"
fi
unset QT_QPA_PLATFORM  # the real X11 platform plugin, not offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi

shown=()
peak=()
for i in $(seq 1 "$runs"); do
  line="$("$probe" --settle-ms 1000 -- "$app")"
  echo "run $i: $line"
  shown+=("$(sed -n 's/.*shown_ms=\([0-9.]*\).*/\1/p' <<<"$line")")
  peak+=("$(sed -n 's/.*peak_rss_kib=\([0-9]*\).*/\1/p' <<<"$line")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
echo "median shown_ms=$(median "${shown[@]}") median peak_rss_kib=$(median "${peak[@]}") (runs: $runs)"

# The same peak as the C library's accounting sees it: /usr/bin/time reports
# the largest resident set of the probe and of the program it waited for.
/usr/bin/time -v "$probe" --settle-ms 1000 -- "$app" 2>&1 >/dev/null | grep "Maximum resident set size" | sed 's/^\s*/time -v: /'
