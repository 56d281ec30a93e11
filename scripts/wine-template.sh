#!/usr/bin/env bash
# Creates the template Wine prefix (32- or 64-bit by QOR_WINE_BITS) that every test copies, once per
# build tree. Safe to call concurrently: the first caller builds it under a
# lock, the others wait and find it ready.
set -euo pipefail
dir=${1:?usage: wine-template.sh DIR}
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock -w 560 9
if [ -f "$dir/.qor-ready" ]; then exit 0; fi
rm -rf "$dir"
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
export WINEPREFIX="$dir" WINEDEBUG=-all
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
# A win64 prefix on a host without 32-bit execution takes about two minutes.
timeout 500 "$QOR_WINE" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed for $dir" >&2; exit 1; }
timeout 60 wineserver -w || true
touch "$dir/.qor-ready"
echo "Wine template ready: $dir"
