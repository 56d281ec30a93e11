#!/usr/bin/env bash
# Creates the template 32-bit Wine prefix that every test copies, once per
# build tree. Safe to call concurrently: the first caller builds it under a
# lock, the others wait and find it ready.
set -euo pipefail
dir=${1:?usage: wine-template.sh DIR}
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock -w 280 9
if [ -f "$dir/.qor-ready" ]; then exit 0; fi
rm -rf "$dir"
export WINEPREFIX="$dir" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
timeout 240 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed for $dir" >&2; exit 1; }
timeout 60 wineserver -w || true
touch "$dir/.qor-ready"
echo "Wine template ready: $dir"
