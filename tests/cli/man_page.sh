#!/usr/bin/env bash
# The built man page of kkm-netnum-cli: its Cyrillic intact, every exit status
# the tool defines and every option its help lists.
# Usage: man_page.sh CLI PAGE.1.gz CliTool.h
set -euo pipefail
page="$(gzip -dc "$2")"
fail() { echo "FAIL: $*" >&2; exit 1; }
[[ "$page" == *"ТИМ\\-31Ц"* ]] || fail "the page lost the Cyrillic of ТИМ-31Ц"
for status in $(tr -d '\n' <"$3" | grep -o 'kExit[A-Za-z]* = *[0-9]*' | grep -o '[0-9]*$'); do
  grep -qx "\.B $status" <<<"$page" || fail "exit status $status is not described"
done
for option in $("$1" --help-all | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -qF -- "${option//-/\\-}" <<<"$page" || fail "option $option is not described"
done
