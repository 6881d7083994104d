#!/usr/bin/env bash
# Usage: app_icon_is_current.sh SOURCE_DIR
# Draws the application icon afresh and compares it with the committed files,
# so an edit of the drawing cannot ship without its pictures.
# Exit 0 when they match, 1 when not, 77 (skipped) without python3.
set -euo pipefail
source_dir="$1"
command -v python3 >/dev/null || { echo "SKIP: python3 is not installed"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$source_dir/ui/icons/make_icons.py" --no-toolbar --app-icon-dir "$work"
status=0
for file in kkm-netnum.svg kkm-netnum-48.png kkm-netnum-64.png kkm-netnum-128.png; do
  cmp -s "$work/$file" "$source_dir/packaging/icons/$file" ||
    { echo "FAIL: packaging/icons/$file differs: run python3 ui/icons/make_icons.py"; status=1; }
done
python3 -c 'import sys, xml.etree.ElementTree as tree; tree.parse(sys.argv[1])' \
  "$source_dir/packaging/icons/kkm-netnum.svg" || { echo "FAIL: kkm-netnum.svg is no well-formed XML"; status=1; }
exit "$status"
