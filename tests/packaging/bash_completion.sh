#!/usr/bin/env bash
# The bash completion of kkm-netnum-cli against the built program: the file
# parses, and typed words complete to commands, options and option values.
#   bash_completion.sh COMPLETION_FILE KKM_NETNUM_CLI
set -uo pipefail
bash -n "$1" || { echo "FAIL: bash -n $1"; exit 1; }
bin="$(mktemp -d)" failed=0
trap 'rm -rf "$bin"' EXIT
ln -s "$(realpath "$2")" "$bin/kkm-netnum-cli"
PATH="$bin:$PATH"
source "$1"
# expect "WORDS TYPED" "WORDS OFFERED, among others" | "= EXACTLY THESE"
expect() {
  read -r -a COMP_WORDS <<<"$1"
  [[ "$1" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _kkm_netnum_cli
  local offered=" ${COMPREPLY[*]} " word
  if [[ "$2" == "= "* ]]; then
    [ "$offered" = " ${2#= } " ] || { echo "FAIL: '$1' offered [${COMPREPLY[*]}], not [${2#= }]"; failed=1; }
  else
    for word in $2; do [[ "$offered" == *" $word "* ]] || { echo "FAIL: '$1' offered [${COMPREPLY[*]}], no $word"; failed=1; }; done
  fi
}
expect "kkm-netnum-cli " "read write finish scan history ports"
expect "kkm-netnum-cli wr" "= write"
expect "kkm-netnum-cli --v" "= --version"
expect "kkm-netnum-cli read --" "--port --link --register --json --trace --help"
expect "kkm-netnum-cli write 45 --port COM1 --l" "= --link"
expect "kkm-netnum-cli read --link " "= cpu kia"
expect "kkm-netnum-cli scan --port C" "COM1 COM2 COM3 COM4"
expect "kkm-netnum-cli ports --" "--map --unmap --json"
expect "kkm-netnum-cli ports --map COM1 CO" "COM1 COM4"
expect "kkm-netnum-cli read --port COM1 --json --" "--port --trace"
expect "kkm-netnum-cli read --trace $bin/kkm" "= $bin/kkm-netnum-cli"
exit "$failed"
