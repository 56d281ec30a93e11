#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [ARGS...]
# Runs a Windows test program under Wine in a fresh prefix of its own
# (made from $QOR_WINE_TEMPLATE; 32- or 64-bit by QOR_WINE_BITS), on the run's Xvfb display, with a timeout;
# stops the prefix's wineserver and removes the prefix afterwards.
# With QOR_WINE_PREFIX set, that prefix is used as it is and kept.
# The program's exit code is passed through (-1 arrives as 255).
set -uo pipefail
exe=${1:?usage: wine-run.sh PROGRAM [ARGS...]}
shift
here=$(cd "$(dirname "$0")" && pwd)
timeout_s=${QOR_WINE_TIMEOUT:-120}

# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
if [ -n "${QOR_XVFB_STATE:-}" ] && [ -f "$QOR_XVFB_STATE" ]; then
  read -r n _ <"$QOR_XVFB_STATE" && export DISPLAY=":$n"
fi

keep=0
if [ -n "${QOR_WINE_PREFIX:-}" ]; then
  export WINEPREFIX=$QOR_WINE_PREFIX
  keep=1
else
  tpl=${QOR_WINE_TEMPLATE:-}
  if [ -z "$tpl" ]; then
    tpl=${TMPDIR:-/tmp}/qor-wine-template
    "$here/wine-template.sh" "$tpl" >/dev/null || exit 1
  fi
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qorwine.XXXXXX")
  rmdir "$WINEPREFIX"
  "$here/wine-prefix.sh" "$tpl" "$WINEPREFIX" || exit 1
  export WINEPREFIX
fi

cleanup() {
  # -k does not wait for the server to go; a later prefix reusing this one's
  # inode would otherwise reach the dying server through the same socket.
  timeout 20 wineserver -k 2>/dev/null
  timeout 20 wineserver -w 2>/dev/null
  [ "$keep" = 1 ] || rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

timeout -k 5 "$timeout_s" "$QOR_WINE" "$exe" "$@"
rc=$?
[ $rc = 124 ] && echo "wine-run.sh: $exe timed out after ${timeout_s}s" >&2
exit $rc
