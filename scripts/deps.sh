#!/usr/bin/env bash
# deps.sh [32|64]
# Installs the toolchain on Debian: mingw-w64 (i686 and x86-64) with zlib, Wine,
# Xvfb, and the independent checkers the tests use. A no-op when all is there.
# 32 (the default): 32-bit Wine for the win32 tree's tests; 64 (hosts that run
# no 32-bit programs): wine64 for the win64 tree's tests.
set -euo pipefail
bits=${1:-32}
need=()
have() { command -v "$1" >/dev/null 2>&1; }
have i686-w64-mingw32-g++ || need+=(g++-mingw-w64-i686)
have x86_64-w64-mingw32-g++ || need+=(g++-mingw-w64-x86-64)
[ -f /usr/i686-w64-mingw32/lib/libz.a ] || need+=(libz-mingw-w64-dev)
have wine || need+=(wine)
if [ "$bits" = 64 ]; then
  [ -x /usr/lib/wine/wine64 ] || have wine64 || need+=(wine64)
else
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
fi
have Xvfb || need+=(xvfb)
have cmake || need+=(cmake)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/include/zlib.h ] || need+=(zlib1g-dev)
have lnkinfo || need+=(liblnk-utils)
/usr/bin/python3 -c 'import pefile' 2>/dev/null || need+=(python3 python3-pefile)
have clang || need+=(clang)
have lld-link || need+=(lld)
have llvm-dlltool || need+=(llvm)
ls /usr/lib/llvm-14/lib/clang/14*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
have xwd || need+=(x11-apps)
have convert || need+=(imagemagick)
[ ${#need[@]} -eq 0 ] && { echo "deps: everything is present"; exit 0; }
echo "deps: installing ${need[*]}"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${need[@]}" | grep -q ':i386' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
