#!/usr/bin/env bash
# run-win98.sh PROGRAM.exe: runs a test program in a fresh prefix that
# reports the Windows 98 version (the 95 platform family), then removes it.
set -uo pipefail
exe=${1:?usage: run-win98.sh PROGRAM}
scripts=${QOR_SCRIPTS:?}
# shellcheck source=../../scripts/wine-env.sh
. "$scripts/wine-env.sh"
"$scripts/wine-template.sh" "$QOR_WINE_TEMPLATE" >/dev/null || exit 1
base=$(mktemp -d "${TMPDIR:-/tmp}/qorwin98.XXXXXX")
prefix=$base/prefix
cleanup() {
  WINEPREFIX=$prefix timeout 20 wineserver -k 2>/dev/null
  rm -rf "$base"
}
trap cleanup EXIT
"$scripts/wine-prefix.sh" "$QOR_WINE_TEMPLATE" "$prefix" || exit 1
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  timeout 60 "$QOR_WINE" reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null || exit 1
WINEPREFIX=$prefix timeout 20 wineserver -w
QOR_WINE_PREFIX=$prefix "$scripts/wine-run.sh" "$exe"
