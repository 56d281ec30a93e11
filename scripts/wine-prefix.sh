#!/usr/bin/env bash
# wine-prefix.sh TEMPLATE NEWDIR
# Makes a fresh prefix from the template in well under a second: the large
# system binaries, which Wine never writes, are hard-linked; every other file
# (registry hives, INI files, user folders) is a real copy.
set -euo pipefail
tpl=${1:?usage: wine-prefix.sh TEMPLATE NEWDIR}
dst=${2:?usage: wine-prefix.sh TEMPLATE NEWDIR}
[ -f "$tpl/.qor-ready" ] || { echo "no ready Wine template at $tpl" >&2; exit 1; }
cp -al "$tpl" "$dst"
rm -f "$dst/.qor-ready"
find "$dst" -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' -o -iname '*.sys' \
  -o -iname '*.nls' -o -iname '*.ocx' -o -iname '*.acm' -o -iname '*.cpl' -o -iname '*.tlb' \
  -o -iname '*.ax' -o -iname '*.mui' -o -iname '*.ds' -o -iname '*.vxd' -o -iname '*.com' \) \
  -print0 | while IFS= read -r -d '' f; do
  cp -p "$f" "$f.qor-copy" && mv -f "$f.qor-copy" "$f"
done
