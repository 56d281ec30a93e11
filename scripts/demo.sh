#!/usr/bin/env bash
# demo.sh NATIVE_BUILD WINDOWS_BUILD [product|receiver|all]
# (WINDOWS_BUILD: build/win32, or build/win64 with QOR_WINE_BITS=64)
# Packs the example payload (examples/payload) into a setup with qorpack build,
# runs it with -silent under Wine in a fresh prefix and shows what it did:
# exit code, installed files, the uninstall log, the registry values and the
# tag file. Then it runs the installed TrovixUninstall.exe -silent and shows
# the clean state: what differs from the fresh prefix. The receiver variant
# stamps the same setup as a receiver for a made-up game whose folder the
# prefix's registry names, and removes the receiver alone first.
# Set QOR_KEEP_DEMO=1 to keep the work folder and prefixes.
set -euo pipefail
native=$(cd "${1:?usage: demo.sh NATIVE_BUILD WIN32_BUILD [product|receiver|all]}" && pwd)
win32=$(cd "${2:?usage: demo.sh NATIVE_BUILD WIN32_BUILD [product|receiver|all]}" && pwd)
which=${3:-all}
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")

qorpack=$native/bin/qorpack
stub=$win32/bin/TrovixInstall.exe
for f in "$qorpack" "$stub" "$win32/bin/examples/QorDL.exe" "$win32/bin/examples/TrovixUninstall.exe"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "demo: missing $f (run make build first)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qordemo.XXXXXX")
template=$win32/wine-template
if [ "${QOR_WINE_BITS:-32}" = 64 ]; then
  echo "demo: this host runs no 32-bit programs: showing the 64-bit build of the setup under wine64"
fi
"$here/wine-template.sh" "$template" >/dev/null
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Silent installs show no window, but Wine creates no window at all without a
# display, not even the hidden main window the setup runs from: use an Xvfb.
"$here/xvfb.sh" start "$work/xvfb.state" >/dev/null
read -r display_number _ <"$work/xvfb.state"
export DISPLAY=":$display_number"

cleanup() {
  for p in "$work"/prefix-*; do
    [ -d "$p" ] || continue
    WINEPREFIX=$p timeout 20 wineserver -k 2>/dev/null || true
    WINEPREFIX=$p timeout 20 wineserver -w 2>/dev/null || true
  done
  "$here/xvfb.sh" stop "$work/xvfb.state" >/dev/null || true
  if [ -n "${QOR_KEEP_DEMO:-}" ]; then echo "demo: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

banner() { printf '\n==== %s\n' "$*"; }

# The recorder stand-ins keep their records here, outside the product folder
# that the uninstaller removes (Wine's Z: is the Linux root).
records=$work/records
mkdir -p "$records"
export QOR_RECORDS="Z:${records//\//\\}"

# Stage the payload: the manifest and data files, the uninstaller and the
# recorder standing in for the downloader.
stage=$work/payload
mkdir -p "$stage"
cp "$src"/examples/payload/* "$stage/"
cp "$win32"/bin/examples/*.exe "$stage/"

reg_show() {  # prefix key
  # reg.exe prints stray bytes for a REG_SZ of no bytes at all (the setup
  # writes "LatestVersion" so): say what it is instead.
  WINEPREFIX=$1 "$QOR_WINE" reg query "$2" /s 2>/dev/null | tr -d '\r' | sed '/^$/d' |
    LC_ALL=C sed -E 's/(REG_SZ {4}).*[^[:print:]].*/\1(empty string)/' || echo "  (missing) $2"
}

show_tree() {  # unix folder
  [ -d "$1" ] || { echo "  (no such folder)"; return 0; }
  (cd "$1" && find . -type f -printf '  %-40p %8s bytes\n' | sort)
}

show_file() {  # unix file
  if [ -f "$1" ]; then tr -d '\r' <"$1"; else echo "  (no such file)"; fi
}

make_prefix() {  # name
  "$here/wine-prefix.sh" "$template" "$work/prefix-$1"
}

run_setup() {  # name setup args...
  local name=$1 setup=$2
  shift 2
  local prefix=$work/prefix-$name
  banner "$name: wine $(basename "$setup") $*"
  local start rc
  start=$(date +%s%N)
  set +e
  WINEPREFIX=$prefix timeout 120 "$QOR_WINE" "$setup" "$@"
  rc=$?
  set -e
  local ms=$((($(date +%s%N) - start) / 1000000))
  # The program returns -1 on failure; the shell sees its low byte.
  [ "$rc" = 255 ] && rc="255 (-1: failed)"
  echo "exit code: $rc   ($ms ms)"
  # Install commands run hidden and are not waited for: give them a moment.
  for _ in $(seq 1 50); do
    [ -f "$records/QorDL.ran.txt" ] && [ -f "$records/QorRcv.ran.txt" ] && break
    sleep 0.2
  done
  WINEPREFIX=$prefix wineserver -w || true
}

# What a prefix holds outside Wine's own churn: files and folders under C:
# but the Windows folder and the temp folders, and the keys and values of
# HKLM\Software.
snapshot() {  # name out
  local prefix=$work/prefix-$1
  (cd "$prefix/drive_c" && find . -path ./windows -prune -o -path '*/Temp' -prune -o -print | sort)
  WINEPREFIX=$prefix "$QOR_WINE" reg query 'HKLM\Software' /s 2>/dev/null | tr -d '\r' | sed '/^$/d'
}

run_uninstall() {  # name args...
  local name=$1
  shift
  local prefix=$work/prefix-$name
  banner "$name: wine \"C:\\Program Files\\QOR\\Trovix\\TrovixUninstall.exe\" $*"
  local start rc
  start=$(date +%s%N)
  set +e
  WINEPREFIX=$prefix timeout 120 "$QOR_WINE" 'C:\Program Files\QOR\Trovix\TrovixUninstall.exe' "$@"
  rc=$?
  set -e
  local ms=$((($(date +%s%N) - start) / 1000000))
  [ "$rc" = 255 ] && rc="255 (-1: failed)"
  echo "exit code: $rc   ($ms ms)"
  # The copy in the temp folder finishes after the original has ended.
  WINEPREFIX=$prefix wineserver -w || true
}

show_clean() {  # name
  banner "$1: uninstall commands ran (records of the stand-in programs)"
  for f in "$records"/*.ran.txt; do [ -f "$f" ] && printf '  %s: %s\n' "$(basename "$f")" "$(tr -d '\r' <"$f" | paste -sd'|')"; done
  banner "$1: difference from the fresh prefix (files under C:, HKLM\\Software)"
  snapshot "$1" >"$work/$1.after"
  if diff "$work/$1.before" "$work/$1.after" >"$work/$1.diff"; then
    echo "  (none: the machine is as it was)"
  else
    sed 's/^/  /' "$work/$1.diff"
  fi
  # Its removal waits for a restart; Wine does that when the prefix restarts.
  banner "$1: the uninstaller's copy in the temp folder"
  local copies
  copies=$(find "$work/prefix-$1/drive_c" -iname 'TrovixUninstall-*.exe' -printf '  %P\n' 2>/dev/null)
  echo "${copies:-  (none: already removed as it asked)}"
}

show_product() {  # name
  local prefix=$work/prefix-$1
  local product="$prefix/drive_c/Program Files/QOR/Trovix"
  banner "$1: installed files (C:\\Program Files\\QOR)"
  show_tree "$prefix/drive_c/Program Files/QOR"
  banner "$1: uninstall log C:\\Program Files\\QOR\\Trovix\\TrovixInstall.inf"
  show_file "$product/TrovixInstall.inf"
  banner "$1: install commands ran (records of the stand-in programs)"
  for f in "$records"/*.ran.txt; do [ -f "$f" ] && printf '  %s: %s\n' "$(basename "$f")" "$(tr -d '\r' <"$f")"; done
  banner "$1: registry (HKLM)"
  reg_show "$prefix" 'HKLM\Software\Corvane OnLine\Setup'
  reg_show "$prefix" 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  reg_show "$prefix" 'HKLM\Software\QOR'
  banner "$1: tag file C:\\Program Files\\QOR\\Scout\\Trovix.tag (bytes; \\r \\n shown)"
  local tag="$prefix/drive_c/Program Files/QOR/Scout/Trovix.tag"
  if [ -f "$tag" ]; then od -An -c "$tag" | sed 's/^/ /'; else echo "  (no such file)"; fi
}

if [ "$which" = product ] || [ "$which" = all ]; then
  banner "packing examples/payload/payload.manifest into TrovixSetup.exe"
  "$qorpack" build --stub "$stub" --manifest "$stage/payload.manifest" --out "$work/TrovixSetup.exe"
  "$qorpack" list "$work/TrovixSetup.exe"
  make_prefix product
  snapshot product >"$work/product.before"
  run_setup product "$work/TrovixSetup.exe" -silent
  show_product product
  run_uninstall product -silent
  show_clean product
  rm -f "$records"/*.ran.txt
fi

if [ "$which" = receiver ] || [ "$which" = all ]; then
  banner "packing examples/payload/receiver.manifest into DemoGameReceiverSetup.exe"
  "$qorpack" build --stub "$stub" --manifest "$stage/receiver.manifest" \
    --out "$work/DemoGameReceiverSetup.exe" \
    --slot "TVIID_INST_NAME=Trovix for Demo Game" --slot TVIID_RCV_REG_KEY=DemoGameRcv \
    --slot 'TVIID_APP_REG_KEY=Software\Example\Demo Game' --slot TVIID_APP_LOC_ITEM=InstallPath \
    --slot "TVIID_APP_NAME=Demo Game"
  "$qorpack" info "$work/DemoGameReceiverSetup.exe"
  make_prefix receiver
  prefix=$work/prefix-receiver
  # The made-up game: its folder, and the key that says where it is.
  mkdir -p "$prefix/drive_c/Games/Demo Game"
  WINEPREFIX=$prefix "$QOR_WINE" reg add 'HKLM\Software\Example\Demo Game' /v InstallPath \
    /d 'C:\Games\Demo Game' /f >/dev/null
  snapshot receiver >"$work/receiver.before"
  run_setup receiver "$work/DemoGameReceiverSetup.exe" -silent
  show_product receiver
  banner "receiver: files in the game's folder (C:\\Games\\Demo Game)"
  show_tree "$prefix/drive_c/Games/Demo Game"
  # The receiver's own uninstall entry: the product's uninstaller with an
  # empty -productid=, which names the one receiver in the log.
  run_uninstall receiver -silent -productid=
  banner "receiver: after removing the receiver alone: the game's folder, the log's sections"
  show_tree "$prefix/drive_c/Games/Demo Game"
  [ -n "$(ls -A "$prefix/drive_c/Games/Demo Game")" ] || echo "  (empty: the receiver's QOR folder is gone)"
  show_file "$prefix/drive_c/Program Files/QOR/Trovix/TrovixInstall.inf" | grep -i -e '^\[' -e demo || true
  run_uninstall receiver -silent
  show_clean receiver
fi
