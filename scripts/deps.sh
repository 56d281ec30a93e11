#!/usr/bin/env bash
# deps.sh [32|64]
# Installs the toolchain on Debian: the packages scripts/packages.txt lists for
# this path (32, the default: 32-bit Wine for the win32 tree's tests; 64, hosts
# that run no 32-bit programs: wine64 for the win64 tree's tests). Decides by
# what dpkg says is installed, never by a command on PATH (a command of the same
# name may be something else). A no-op when every package is there.
set -euo pipefail
bits=${1:-32}
here=$(cd "$(dirname "$0")" && pwd)
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }
need=()
while read -r pkg path _; do
  case "$pkg" in '' | '#'*) continue ;; esac
  [ -z "$path" ] || [ "$path" = "$bits" ] || continue
  installed "$pkg" || need+=("$pkg")
done <"$here/packages.txt"
[ ${#need[@]} -eq 0 ] && { echo "deps: every package is present"; exit 0; }
echo "deps: installing ${need[*]}"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${need[@]}" | grep -q ':i386' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
for pkg in "${need[@]}"; do
  installed "$pkg" || { echo "deps: $pkg is still not installed" >&2; exit 1; }
done
