#!/usr/bin/env bash
# host-bits.sh [CACHE_FILE]
# Prints 32 when this host can run 32-bit x86 programs (and so 32-bit Wine),
# else 64. QOR_WINE_BITS=64 in the environment forces 64. With CACHE_FILE the
# answer is kept there, so the probe runs once per build tree.
set -uo pipefail
if [ "${QOR_WINE_BITS:-}" = 64 ]; then echo 64; exit 0; fi
cache=${1:-}
if [ -n "$cache" ] && [ -s "$cache" ]; then cat "$cache"; exit 0; fi
bits=64
dir=$(mktemp -d)
# A tiny i386 ELF that exits 7: runs only where the kernel has 32-bit emulation.
if printf '.globl _start\n_start:\n movl $1,%%eax\n movl $7,%%ebx\n int $0x80\n' |
  as --32 -o "$dir/t.o" 2>/dev/null && ld -m elf_i386 "$dir/t.o" -o "$dir/t" 2>/dev/null; then
  "$dir/t" 2>/dev/null
  [ $? = 7 ] && bits=32
fi
rm -rf "$dir"
if [ -n "$cache" ]; then mkdir -p "$(dirname "$cache")" && echo "$bits" >"$cache"; fi
echo "$bits"
