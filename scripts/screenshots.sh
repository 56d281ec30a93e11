#!/usr/bin/env bash
# screenshots.sh WIN32_BUILD OUTDIR
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

state=$(mktemp "${TMPDIR:-/tmp}/qorshots.XXXXXX")
rm -f "$state"
trap '"$here/xvfb.sh" stop "$state" >/dev/null' EXIT
"$here/xvfb.sh" start "$state" >/dev/null

export QOR_BIN="$win32/bin" QOR_NATIVE_BIN="$native" QOR_XVFB_STATE="$state" \
  QOR_WINE_TEMPLATE="${QOR_WINE_TEMPLATE:-$win32/wine-template}" \
  QOR_SOURCE_DIR="$(cd "$here/.." && pwd)"
/usr/bin/python3 "$here/screenshots.py" "$out"
