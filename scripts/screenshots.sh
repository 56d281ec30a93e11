#!/usr/bin/env bash
# screenshots.sh WINDOWS_BUILD OUTDIR (build/win32, or build/win64 with QOR_WINE_BITS=64)
# Runs a receiver setup's wizard under Wine on a private Xvfb display and saves
# one PNG per page, and one of the folder browser, in OUTDIR. Needs the win32
# tree (TrovixInstall.exe, qordriver.exe, example programs) and the native
# qorpack (QOR_NATIVE_BIN, default: the native tree next to WIN32_BUILD).
set -euo pipefail
win32=$(cd "${1:?usage: screenshots.sh WIN32_BUILD OUTDIR}" && pwd)
out=${2:?usage: screenshots.sh WIN32_BUILD OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

for need in "$win32/bin/TrovixInstall.exe" "$win32/bin/qordriver.exe"; do
  [ -f "$need" ] || { echo "screenshots: missing $need (build the win32 tree)" >&2; exit 1; }
done
native=${QOR_NATIVE_BIN:-$(dirname "$win32")/native/bin}
[ -x "$native/qorpack" ] || { echo "screenshots: missing $native/qorpack" >&2; exit 1; }

[ "${QOR_WINE_BITS:-32}" = 64 ] &&
  echo "screenshots: this host runs no 32-bit programs: taking them of the 64-bit build under wine64"
state=$(mktemp "${TMPDIR:-/tmp}/qorshots.XXXXXX")
rm -f "$state"
trap '"$here/xvfb.sh" stop "$state" >/dev/null' EXIT
"$here/xvfb.sh" start "$state" >/dev/null

export QOR_BIN="$win32/bin" QOR_NATIVE_BIN="$native" QOR_XVFB_STATE="$state" \
  QOR_WINE_TEMPLATE="${QOR_WINE_TEMPLATE:-$win32/wine-template}" \
  QOR_SOURCE_DIR="$(cd "$here/.." && pwd)"
/usr/bin/python3 "$here/screenshots.py" "$out"
