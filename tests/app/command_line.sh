#!/usr/bin/env bash
# Usage: command_line.sh KKM_NETNUM VERSION
# --version prints "kkm-netnum VERSION"; --help names every option; both exit 0.
set -euo pipefail
netnum="$1"
version="$2"

fail() {
  echo "FAIL: $*"
  exit 1
}

for option in --version -v; do
  out="$("$netnum" "$option")" || fail "$option exited with $?"
  [ "$out" = "kkm-netnum $version" ] || fail "$option printed: $out"
done

out="$("$netnum" --help)" || fail "--help exited with $?"
for expected in "Usage: " "--help" "--version" "network number"; do
  [[ "$out" == *"$expected"* ]] || fail "--help lacks \"$expected\": $out"
done
echo "kkm-netnum answers --version and --help without a display"
