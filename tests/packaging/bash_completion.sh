#!/usr/bin/env bash
# The bash completion of kkm-netnum-cli, against the built program: the file
# parses, and typed words complete to commands, options and option values.
#   bash_completion.sh COMPLETION_FILE KKM_NETNUM_CLI
set -uo pipefail
completion="$1" cli="$2"
bash -n "$completion" || { echo "FAIL: bash -n $completion"; exit 1; }
bin="$(mktemp -d)"
trap 'rm -rf "$bin"' EXIT
ln -s "$(realpath "$cli")" "$bin/kkm-netnum-cli"
export PATH="$bin:$PATH"
# shellcheck source=/dev/null
source "$completion"
[ "$(complete -p kkm-netnum-cli)" = "complete -F _kkm_netnum_cli kkm-netnum-cli" ] || { echo "FAIL: not registered"; exit 1; }

failed=0
# expect "WORDS TYPED" "WORDS OFFERED, all of them (= for exactly these)"
expect() {
  read -r -a COMP_WORDS <<<"$1"
  [[ "$1" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _kkm_netnum_cli
  local offered=" ${COMPREPLY[*]} " want="$2" word
  if [[ "$want" == "= "* ]]; then
    want="${want#= }"
    [ "$offered" = " $want " ] || { echo "FAIL: '$1' offered [${COMPREPLY[*]}], not exactly [$want]"; failed=1; }
    return
  fi
  for word in $want; do
    [[ "$offered" == *" $word "* ]] || { echo "FAIL: '$1' offered [${COMPREPLY[*]}], no $word"; failed=1; }
  done
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
[ "$failed" = 0 ] && echo "bash completion of kkm-netnum-cli: all cases pass"
exit "$failed"
