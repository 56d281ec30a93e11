#!/usr/bin/env bash
# bench.sh NATIVE_BUILD WINDOWS_BUILD (build/win32, or build/win64 with QOR_WINE_BITS=64)
# Benchmarks of the archive engine and qorpack, each printed as a ratio to a
# peer measured in the same run (best of $RUNS alternating runs). Not a test:
# nothing here passes or fails on time.
#   (a) a realistic payload is generated in a scratch folder
#   (b) extraction vs `gzip -dc` of each file alone
#   (c) peak RSS extracting one 200 MB entry vs a 1 MB one
#   (d) adding the payload vs `gzip -6` of each file alone; qorpack build vs makensis
#   (e) removing one entry near the end of a large archive: bytes moved, time
#   (f) 100,000 small entries: build, list, extract, remove one, each vs tar
#   (g) for three payloads (main, small = 3,000 files of about 4 KB, big = one
#       120 MB file): the setup's size vs NSIS's with zlib and with solid LZMA;
#       the silent install under Wine vs the makensis installer with /S, in a
#       warm prefix (wineserver kept running: the setup's own work, the primary
#       figure) and in a fresh prefix (Wine's start-up included, peak memory);
#       the silent uninstall vs NSIS's uninstaller, both ways. QOR_WINE_BITS=64
#       runs a 64-bit tree under wine64 against an amd64 NSIS installer.
#       KINDS="main small" picks payloads, SCALE=0.1 shrinks main.
#   (h) one entry's extraction under Wine, split into its steps
# SECTIONS="g h" runs only those sections (and what they build on: b, e and f
# need d, e needs c, h needs g; the payload of (a) is always made). Default: all.
set -uo pipefail
native=$(cd "${1:-build/native}" && pwd)
win32=$(cd "${2:-build/win32}" 2>/dev/null && pwd || echo "")
here=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${RUNS:-3}
QP=$native/bin/qorpack
QB=$native/bin/qor_bench

for tool in "$QP" "$QB"; do
  [ -x "$tool" ] || { echo "bench: $tool is not built (make build)" >&2; exit 1; }
done
# Bench-only tools, installed here so that `make test` stays lean.
need=()
command -v makensis >/dev/null || need+=(nsis)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  echo "bench: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qorbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

now() { date +%s.%N; }
# best CMD...: runs the command, prints elapsed seconds; output discarded.
elapsed() {
  local t0 t1
  t0=$(now)
  "$@" >/dev/null 2>&1 || { echo "bench: failed: $*" >&2; echo 0; return 1; }
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }'
}
min() { printf '%s\n' "$@" | sort -g | head -1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mb() { awk -v n="$1" 'BEGIN { printf "%.1f MB", n / 1e6 }'; }
sections=${SECTIONS:-abcdefgh}
case "$sections" in *[bef]*) sections="$sections d" ;; esac
case "$sections" in *e*) sections="$sections c" ;; esac
case "$sections" in *h*) sections="$sections g" ;; esac
want() { case "$sections" in *"$1"*) return 0 ;; esac; return 1; }

echo "== (a) payload"
python3 "$here/bench/gen_payload.py" payload "${SCALE:-1.0}"
(cd payload && find . -type f | sed 's|^\./||' | sort) >files.txt
nfiles=$(wc -l <files.txt)
psize=$(du -sb payload | cut -f1)
echo "   $nfiles files, $(mb "$psize") in $work/payload"
# The disk is slow to create many files right after deleting many; each run
# below writes into a fresh folder and nothing is deleted until the end.
sleep 2

# Floors: each file compressed / decompressed alone by the system's gzip.
gzip_all() {  # gzip_all OUTDIR
  while IFS= read -r f; do
    mkdir -p "$1/$(dirname "$f")"
    gzip -6 -c "payload/$f" >"$1/$f.gz"
  done <files.txt
}
gunzip_all() {  # gunzip_all GZDIR OUTDIR
  while IFS= read -r f; do
    mkdir -p "$2/$(dirname "$f")"
    gzip -dc "$1/$f.gz" >"$2/$f"
  done <files.txt
}

# Each section runs when SECTIONS names it (its body is not indented).
if want d; then
echo "== (d) adding the payload natively"
add_t=(); gz_t=()
for r in $(seq "$RUNS"); do
  add_t+=("$(elapsed "$QP" add "add$r.qzf" -C payload .)")
  gz_t+=("$(elapsed gzip_all "gz$r")")
done
a=$(min "${add_t[@]}"); g=$(min "${gz_t[@]}")
asize=$(stat -c %s add1.qzf); gsize=$(du -sb gz1 | cut -f1)
echo "   qorpack add:   ${a}s  $(mb "$asize")"
echo "   gzip -6 each:  ${g}s  $(mb "$gsize")"
echo "   ratio qorpack/gzip = $(ratio "$a" "$g")  (goal <= 1.10)"
# Stricter peer: the compression alone, one process, no files written.
deflate_only() { while IFS= read -r f; do cat "payload/$f"; done <files.txt | gzip -6 >/dev/null; }
d=$(min "$(elapsed deflate_only)" "$(elapsed deflate_only)")
echo "   (one gzip -6 over all bytes, nothing written: ${d}s; qorpack add / that = $(ratio "$a" "$d"))"

fi

if want b; then
echo "== (b) extracting the payload natively"
ex_t=(); gun_t=()
for r in $(seq "$RUNS"); do
  ex_t+=("$(elapsed "$QP" extract add1.qzf -C "ex$r")")
  gun_t+=("$(elapsed gunzip_all gz1 "gun$r")")
done
diff -r payload ex1 >/dev/null && echo "   extracted tree equals the payload" || echo "   WARNING: extracted tree differs"
e=$(min "${ex_t[@]}"); u=$(min "${gun_t[@]}")
echo "   qorpack extract: ${e}s"
echo "   gzip -dc each:   ${u}s"
echo "   ratio qorpack/gzip = $(ratio "$e" "$u")  (goal <= 1.15)"
inflate_only() { while IFS= read -r f; do cat "gz1/$f.gz"; done <files.txt | gzip -dc >/dev/null; }
i=$(min "$(elapsed inflate_only)" "$(elapsed inflate_only)")
echo "   (one gzip -dc over all entries, nothing written: ${i}s; qorpack extract / that = $(ratio "$e" "$i"))"

# The fair peer: one process inflating each entry into a fresh file with zlib.
peer_extract() {  # ARCHIVE LABEL
  local q=() p=()
  for r in $(seq "$RUNS"); do
    q+=("$(elapsed "$QP" extract "$1" -C "ex-$2-q$r")")
    p+=("$(elapsed "$QB" inflate-each "$1" "ex-$2-p$r")")
  done
  local a b
  a=$(min "${q[@]}"); b=$(min "${p[@]}")
  echo "   $2: qorpack extract ${a}s, in-process inflate loop ${b}s: $(ratio "$a" "$b")x (goal <= 1.10)"
}
python3 "$here/bench/gen_payload.py" small1k small >/dev/null
(cd small1k && find . -type f -exec truncate -s 1024 {} +)
"$QP" add small1k.qzf -C small1k . >/dev/null
sleep 2
peer_extract add1.qzf "main payload"
peer_extract small1k.qzf "3,000 files of 1 KB"

fi

if want c; then
echo "== (c) peak memory extracting one entry"
head -c 1000000 /dev/urandom >one1m.bin
python3 - <<'EOF'
import os, random
rng = random.Random(7)
with open("one200m.bin", "wb") as f:
    for i in range(200):
        # Half random, half text-like: neither free nor incompressible.
        f.write(rng.randbytes(1 << 19) + (b"entry %08d " % i) * ((1 << 19) // 15) + b"\0" * 8)
EOF
"$QP" add small.qzf one1m.bin >/dev/null
"$QP" add big.qzf one200m.bin >/dev/null
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
r1=$(rss "$QP" extract small.qzf -C rss1)
r2=$(rss "$QP" extract big.qzf -C rss2)
cmp -s one200m.bin rss2/one200m.bin || echo "   WARNING: 200 MB entry did not round-trip"
echo "   1 MB entry:   peak RSS ${r1} KiB"
echo "   200 MB entry: peak RSS ${r2} KiB  (difference $((r2 - r1)) KiB)"

fi

if want d; then
echo "== (d) qorpack build vs makensis (zlib, non-solid)"
stub=""
[ -n "$win32" ] && [ -f "$win32/bin/TrovixInstall.exe" ] && stub=$win32/bin/TrovixInstall.exe
if [ -z "$stub" ]; then
  # A stand-in stub: the build time does not depend on what the stub holds.
  head -c 300000 /dev/urandom >stub.exe
  stub=$work/stub.exe
fi
# Stored names use backslashes; sources stay as they are.
awk '{ src=$0; dst=$0; gsub("/", "\\", dst); print "payload/" src " => [TROVIX]\\" dst }' files.txt >bench.manifest
{
  echo 'Name "Bench"'
  echo 'OutFile "nsis-setup.exe"'
  echo 'SetCompressor zlib'
  # Under wine64 (hosts without 32-bit execution) the peer is a 64-bit installer too.
  [ "${QOR_WINE_BITS:-32}" = 64 ] && echo 'Target amd64-unicode'
  echo 'RequestExecutionLevel admin'
  echo 'InstallDir "$PROGRAMFILES\QOR\Trovix"'
  echo 'Page instfiles'
  echo 'Section'
  echo '  SetOutPath "$INSTDIR"'
  echo "  File /r \"$work/payload/*\""
  echo 'SectionEnd'
} >bench.nsi
b_t=(); b1_t=(); n_t=()
for r in $(seq "$RUNS"); do
  b_t+=("$(elapsed "$QP" build --stub "$stub" --manifest bench.manifest --out "setup$r.exe")")
  b1_t+=("$(elapsed "$QP" build --stub "$stub" --manifest bench.manifest --out "seq$r.exe" --jobs 1)")
  n_t+=("$(elapsed makensis -V1 bench.nsi)")
done
cmp -s setup1.exe seq1.exe && echo "   parallel and sequential builds are byte-identical" \
  || echo "   WARNING: parallel and sequential builds differ"
b=$(min "${b_t[@]}"); b1=$(min "${b1_t[@]}"); n=$(min "${n_t[@]}")
echo "   qorpack build (one thread per core): ${b}s  $(mb "$(stat -c %s setup1.exe)") (archive $(mb $(($(stat -c %s setup1.exe) - $(stat -c %s "$stub")))), stub $(mb "$(stat -c %s "$stub")"))"
echo "   qorpack build --jobs 1:              ${b1}s"
echo "   makensis:                            ${n}s  $(mb "$(stat -c %s nsis-setup.exe)")"
echo "   speed-up over makensis = $(ratio "$n" "$b")x parallel, $(ratio "$n" "$b1")x sequential (aim >= 2)"

fi

if want e; then
echo "== (e) removing one entry near the end of a large archive"
cp add1.qzf large.qzf
cat one200m.bin >/dev/null
"$QP" add large.qzf one200m.bin --as "zz\\big.bin" >/dev/null
"$QP" add large.qzf one1m.bin --as "zz\\last.bin" >/dev/null
cp large.qzf large2.qzf
echo "   in place, no backup: $("$QB" remove large.qzf 1)"
echo "   in place, backup:    $("$QB" remove large2.qzf 1 --backup)"
cp add1.qzf tail.qzf
echo "   second-to-last of the payload archive: $("$QB" remove tail.qzf 1)"

fi

if want f; then
echo "== (f) 100,000 small entries: qorpack vs tar doing the same work"
# Every step must stay linear in the entry count; the goal is each within 3x
# of tar in this same run. MANY=N changes the count.
many=${MANY:-100000}
python3 - "$many" <<'EOF'
import os, random, sys
n = int(sys.argv[1])
rng = random.Random(11)
words = [b"alpha", b"beta", b"gamma", b"delta", b"omega", b"entry", b"value", b"\n"]
with open("many.manifest", "w") as m:
    for i in range(n):
        d = "many/d%03d" % (i // 1000)
        if i % 1000 == 0:
            os.makedirs(d, exist_ok=True)
        f = "%s/f%06d.txt" % (d, i)
        with open(f, "wb") as o:
            o.write(b" ".join(rng.choice(words) for _ in range(rng.randint(10, 60))))
        m.write("%s => [TROVIX]\\d%03d\\f%06d.txt\n" % (f, i // 1000, i))
EOF
mid=$((many / 2))
mid_dir=$(printf 'd%03d' $((mid / 1000))); mid_file=$(printf 'f%06d.txt' "$mid")
sleep 2
mkdir -p more
for i in $(seq 1000); do echo "added $i" >"more/n$i.txt"; done
mb_t=(); m1_t=(); tb_t=(); ml_t=(); tl_t=(); mx_t=(); tx_t=(); mr_t=(); tr_t=(); ma_t=(); ta_t=()
for r in $(seq "$RUNS"); do
  mb_t+=("$(elapsed "$QP" build --stub "$stub" --manifest many.manifest --out "many$r.exe")")
  # One thread: every entry goes through the archive engine's add.
  m1_t+=("$(elapsed "$QP" build --jobs 1 --stub "$stub" --manifest many.manifest --out "one$r.exe")")
  tb_t+=("$(elapsed tar -czf "many$r.tgz" many)")
  ml_t+=("$(elapsed "$QP" list "many$r.exe")")
  tl_t+=("$(elapsed tar -tvzf "many$r.tgz")")
  mkdir -p "mx$r" "tx$r"
  mx_t+=("$(elapsed "$QP" extract "many$r.exe" -C "mx$r")")
  tx_t+=("$(elapsed tar -xzf "many$r.tgz" -C "tx$r")")
  # Removal rewrites the archive: tar can only do it on an uncompressed one.
  tar -cf "many$r.tar" many
  mr_t+=("$(elapsed "$QP" remove "many$r.exe" "[TROVIX]\\$mid_dir\\$mid_file")")
  tr_t+=("$(elapsed tar --delete -f "many$r.tar" "many/$mid_dir/$mid_file")")
  ma_t+=("$(elapsed "$QP" add "many$r.exe" -C more $(cd more && ls))")
  ta_t+=("$(elapsed tar -rf "many$r.tar" more)")
  rm -f "one$r.exe"
done
[ "$(find mx1 -type f | wc -l)" -eq "$many" ] || echo "   WARNING: extract did not give $many files"
report() {  # LABEL QORPACK-TIMES TAR-TIMES [NOTE]
  local q t
  q=$(min $2); t=$(min $3)
  printf '   %-8s qorpack %8ss   tar %8ss   ratio %s  (%s)\n' "$1" "$q" "$t" "$(ratio "$q" "$t")" \
    "${4:-goal <= 3}"
}
echo "   $many entries, $(mb "$(du -sb many | cut -f1)") on disk"
report build "${mb_t[*]}" "${tb_t[*]}"
report build-j1 "${m1_t[*]}" "${tb_t[*]}" "no goal: linear, one thread"
report list "${ml_t[*]}" "${tl_t[*]}"
report extract "${mx_t[*]}" "${tx_t[*]}"
report remove "${mr_t[*]}" "${tr_t[*]}"
report add-1000 "${ma_t[*]}" "${ta_t[*]}" "no goal: linear in what is added"
echo "   (build vs tar -czf, list vs tar -tvzf, extract vs tar -xzf, remove one entry vs"
echo "    tar --delete on the uncompressed tar, adding 1,000 files vs tar -rf on it)"

fi

if want g; then
echo "== (g) setup size, silent install and uninstall under Wine vs NSIS"
setup_exe=$win32/bin/TrovixInstall.exe
if [ -z "$win32" ] || [ ! -f "$setup_exe" ]; then
  echo "   skipped: $setup_exe is not built"
  exit 0
fi
tpl=${QOR_WINE_TEMPLATE:-$win32/wine-template}
"$here/scripts/wine-template.sh" "$tpl" >/dev/null || { echo "   skipped: no Wine template"; exit 0; }
# shellcheck source=wine-env.sh
. "$here/scripts/wine-env.sh"
wine=$QOR_WINE
nsis_target=''
# Under wine64 (hosts without 32-bit execution) the peer is a 64-bit installer too.
[ "${QOR_WINE_BITS:-32}" = 64 ] && nsis_target='Target amd64-unicode'
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The setup's message loop needs a window, and Wine makes windows only with a display.
"$here/scripts/xvfb.sh" start "$work/xvfb.state" >/dev/null || { echo "   skipped: no Xvfb"; exit 0; }
# Warm prefixes keep their wineserver running until told: stop them on any exit.
stop_all() {
  for p in "$work"/wp-*-warm-*; do [ -d "$p" ] && WINEPREFIX=$p wineserver -k 2>/dev/null; done
  "$here/scripts/xvfb.sh" stop "$work/xvfb.state" >/dev/null
  rm -rf "$work"
}
trap stop_all EXIT
read -r xdisplay _ <"$work/xvfb.state"
export DISPLAY=":$xdisplay"
install_in_fresh_prefix() {  # PREFIX EXE ARGS...: prints "seconds peak-KiB"
  local prefix=$1; shift
  "$here/scripts/wine-prefix.sh" "$tpl" "$prefix" >/dev/null || return 1
  WINEPREFIX=$prefix wineserver -p5 2>/dev/null  # server up before the clock starts
  local out
  out=$(WINEPREFIX=$prefix /usr/bin/time -f '%e %M' timeout 600 "$wine" "$@" 2>&1 >/dev/null | tail -1)
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  echo "$out"
}
# The product folder both installers write to, as Windows and Linux name it.
product='C:\Program Files\QOR\Trovix'
product_in() { echo "$1/drive_c/Program Files/QOR/Trovix"; }  # PREFIX
# The silent uninstall of what is installed in PREFIX, timed as a caller sees
# it: until the work is done. Ours returns when the copy it started in the
# temp folder is done; the bench payload carries no uninstaller, so one is put
# into the product folder (unrecorded: it and its folder stay). NSIS's returns
# at once, leaving the work to its own copy in the temp folder (~nsuA.tmp; its
# in-place option _?= takes no quoted path, and the product path has a space):
# the clock runs until the product folder is gone (RMDir /r removes it whole)
# or that copy has ended. Prints "seconds files-left".
nsis_copy_running() { pgrep -f '~nsu[A-Z]\.tmp' >/dev/null; }
nsis_uninstall() {  # PREFIX
  WINEPREFIX=$1 timeout 600 "$wine" "$product\\uninst.exe" /S || return 1
  local dir i=0 seen=0
  dir=$(product_in "$1")
  while [ -e "$dir" ] && [ "$i" -lt 30000 ]; do
    if nsis_copy_running; then
      seen=1
    elif [ "$seen" = 1 ] || [ "$i" -ge 50 ]; then
      break  # the copy ended, or none appeared within a second
    fi
    sleep 0.02; i=$((i + 1))
  done
}
uninstall_in() {  # PREFIX trovix|nsis
  local prefix=$1 t
  if [ "$2" = trovix ]; then
    cp "$win32/bin/TrovixUninstall.exe" "$(product_in "$prefix")/" || return 1
    t=$(WINEPREFIX=$prefix elapsed timeout 600 "$wine" "$product\\TrovixUninstall.exe" -silent)
  else
    t=$(elapsed nsis_uninstall "$prefix")
    # Not timed: the copy's own ending, before anything else starts.
    for _ in $(seq 500); do nsis_copy_running || break; sleep 0.02; done
  fi
  echo "$t $(find "$(product_in "$prefix")" -type f 2>/dev/null | wc -l)"
}
# The same in a fresh prefix: the installed prefix's server was stopped, so the
# uninstall pays Wine's start-up as a user's first run would.
uninstall_in_fresh_prefix() {  # PREFIX trovix|nsis
  local out
  WINEPREFIX=$1 wineserver -p5 2>/dev/null
  out=$(uninstall_in "$@")
  WINEPREFIX=$1 wineserver -k 2>/dev/null
  echo "$out"
}
# After an uninstall in a warm prefix: what is left goes aside (renamed, not
# deleted: the disk is slow to create files right after deleting many).
clear_product() {  # PREFIX TAG
  local dir
  dir=$(product_in "$1")
  [ -d "$dir" ] && mv "$dir" "$work/trash-$2"
  return 0
}
nsis_for() {  # DIR OUT [COMPRESSOR]: an installer of the files below DIR, with its uninstaller
  {
    [ -n "$nsis_target" ] && echo "$nsis_target"
    echo 'Name "Bench"'
    echo "OutFile \"$2\""
    echo "SetCompressor ${3:-zlib}"
    echo 'RequestExecutionLevel admin'
    echo 'InstallDir "$PROGRAMFILES\QOR\Trovix"'
    echo 'Page instfiles'
    echo 'Section'
    echo '  SetOutPath "$INSTDIR"'
    echo "  File /r \"$1/*\""
    echo '  WriteUninstaller "$INSTDIR\uninst.exe"'
    echo 'SectionEnd'
    echo 'Section "Uninstall"'
    echo '  RMDir /r "$INSTDIR"'
    echo 'SectionEnd'
  } >"$2.nsi"
  makensis -V1 "$2.nsi" >/dev/null
}
# One line of results: LABEL OURS-TIMES NSIS-TIMES STAT GOAL
line() {
  local q n
  if [ "$4" = median ]; then q=$(median $2); n=$(median $3); else q=$(min $2); n=$(min $3); fi
  printf '     %-34s Trovix %7ss  NSIS %7ss  %sx  (%s)\n' "$1" "$q" "$n" "$(ratio "$q" "$n")" "$5"
}
kinds=${KINDS:-main small big}
case " $kinds " in *" big "*) python3 "$here/bench/gen_payload.py" bigp big >/dev/null ;; esac
case " $kinds " in *" small "*) python3 "$here/bench/gen_payload.py" smallp small >/dev/null ;; esac
sleep 2
echo "   (warm: one prefix per installer with its wineserver and desktop kept running and each"
echo "    program started once before the clock, so only the program's own work is timed: the"
echo "    primary figure, median of $RUNS; fresh: a new prefix per run, Wine's start-up"
echo "    included, best of $RUNS; interleaved with the NSIS peer in the same run)"
for kind in $kinds; do
  dir=$work/payload
  [ "$kind" = small ] && dir=$work/smallp
  [ "$kind" = big ] && dir=$work/bigp
  n=$(find "$dir" -type f | wc -l)
  (cd "$dir" && find . -type f | sed 's|^\./||' | sort) |
    awk -v d="$dir" '{ src=$0; dst=$0; gsub("/", "\\", dst); print d "/" src " => [TROVIX]\\" dst }' >"$kind.manifest"
  built=$("$QP" build --stub "$setup_exe" --manifest "$kind.manifest" --out "setup-$kind.exe") ||
    { echo "   $kind: qorpack build failed"; continue; }
  share=$(printf '%s\n' "$built" | grep -i 'stub' || true)
  nsis_for "$dir" "$work/nsis-$kind.exe" || { echo "   $kind: makensis failed"; continue; }
  nsis_for "$dir" "$work/lzma-$kind.exe" "/SOLID lzma" || { echo "   $kind: makensis (LZMA) failed"; continue; }
  first=$(cd "$dir" && find . -type f | sed 's|^\./||' | sort | head -1)
  probe=$(install_in_fresh_prefix "$work/wp-$kind-probe" "setup-$kind.exe" -silent)
  if [ ! -f "$(product_in "$work/wp-$kind-probe")/$first" ]; then
    echo "   $kind: skipped, TrovixInstall.exe -silent did not install the payload"
    continue
  fi
  echo "   $kind ($n files, $(mb "$(du -sb "$dir" | cut -f1)")):"
  qs=$(stat -c %s "setup-$kind.exe"); ns=$(stat -c %s "nsis-$kind.exe"); ls=$(stat -c %s "lzma-$kind.exe")
  printf '     %-34s Trovix %s, NSIS zlib %s: %sx  (goal <= 1.00); NSIS LZMA solid %s (no goal)\n' \
    "setup size" "$(mb "$qs")" "$(mb "$ns")" "$(ratio "$qs" "$ns")" "$(mb "$ls")"
  [ -n "$share" ] && echo "     ($share)"

  # Warm prefixes: a server that stays up, each program run once untimed.
  pq=$work/wp-$kind-warm-q; pn=$work/wp-$kind-warm-n
  for p in "$pq" "$pn"; do
    "$here/scripts/wine-prefix.sh" "$tpl" "$p" >/dev/null && WINEPREFIX=$p wineserver -p 2>/dev/null
    # A program with a window keeps Wine's desktop process running, as a
    # Windows session always has its shell: without one, each installer's
    # first window would start it anew (about 0.3 s, Wine's start-up, not the
    # installer's work). WARM_DESKTOP=0 leaves it out.
    if [ "${WARM_DESKTOP:-1}" = 1 ]; then
      (WINEPREFIX=$p setsid "$wine" notepad.exe >/dev/null 2>&1 &)
      sleep 1
    fi
  done
  WINEPREFIX=$pq timeout 600 "$wine" "setup-$kind.exe" -silent >/dev/null 2>&1
  uninstall_in "$pq" trovix >/dev/null; clear_product "$pq" "$kind-q0"
  WINEPREFIX=$pn timeout 600 "$wine" "nsis-$kind.exe" /S >/dev/null 2>&1
  uninstall_in "$pn" nsis >/dev/null; clear_product "$pn" "$kind-n0"
  wi_q=(); wi_n=(); wu_q=(); wu_n=(); fi_q=(); fi_n=(); fu_q=(); fu_n=(); m_q=(); m_n=(); left_q=0; left_n=0
  mkdir -p "$work/aside"
  for r in $(seq "$RUNS"); do
    # Who goes first alternates: the disk is slower to create files right
    # after thousands were deleted (the uninstalls), and that should not
    # always fall on the same installer.
    order="q n"; [ $((r % 2)) = 0 ] && order="n q"
    for who in $order; do
      if [ "$who" = q ]; then
        wi_q+=("$(WINEPREFIX=$pq elapsed timeout 600 "$wine" "setup-$kind.exe" -silent)")
      else
        wi_n+=("$(WINEPREFIX=$pn elapsed timeout 600 "$wine" "nsis-$kind.exe" /S)")
      fi
    done
    [ -f "$(product_in "$pq")/$first" ] || echo "     WARNING: warm install $r did not place $first"
    for who in $order; do
      if [ "$who" = q ]; then
        read -r t left_q <<<"$(uninstall_in "$pq" trovix)"; wu_q+=("$t")
      else
        read -r t left_n <<<"$(uninstall_in "$pn" nsis)"; wu_n+=("$t")
      fi
    done
    clear_product "$pq" "$kind-q$r"; clear_product "$pn" "$kind-n$r"

    read -r t m <<<"$(install_in_fresh_prefix "$work/wp-$kind-s$r" "setup-$kind.exe" -silent)"
    fi_q+=("$t"); m_q+=("$m")
    read -r t m <<<"$(install_in_fresh_prefix "$work/wp-$kind-n$r" "nsis-$kind.exe" /S)"
    fi_n+=("$t"); m_n+=("$m")
    read -r t _ <<<"$(uninstall_in_fresh_prefix "$work/wp-$kind-s$r" trovix)"; fu_q+=("$t")
    read -r t _ <<<"$(uninstall_in_fresh_prefix "$work/wp-$kind-n$r" nsis)"; fu_n+=("$t")
    # Aside, not deleted while the next runs are timed (removed at the end).
    mv "$work/wp-$kind-s$r" "$work/wp-$kind-n$r" "$work/aside/" 2>/dev/null
  done
  WINEPREFIX=$pq wineserver -k 2>/dev/null; WINEPREFIX=$pn wineserver -k 2>/dev/null
  wait
  line "install, warm prefix (primary)" "${wi_q[*]}" "${wi_n[*]}" median "goal <= 0.70"
  line "install, fresh prefix" "${fi_q[*]}" "${fi_n[*]}" min \
    "no goal: Wine's start-up included; peak $(min "${m_q[@]}") vs $(min "${m_n[@]}") KiB"
  line "uninstall, warm prefix (primary)" "${wu_q[*]}" "${wu_n[*]}" median "goal <= 1.00"
  line "uninstall, fresh prefix" "${fu_q[*]}" "${fu_n[*]}" min "no goal: Wine's start-up included"
  echo "     (files left after the last uninstall: Trovix $left_q, its uninstaller put in; NSIS $left_n)"
done
cp setup-main.exe setup1.exe 2>/dev/null || true

fi

if want h; then
echo "== (h) one entry's extraction under Wine, split (ms per entry)"
cost=$win32/bin/extract_cost.exe
if [ ! -f "$cost" ]; then
  echo "   skipped: $cost is not built"
  exit 0
fi
"$here/scripts/wine-prefix.sh" "$tpl" "$work/wp-cost" >/dev/null || exit 0
for kind in main small; do
  [ -f "setup-$kind.exe" ] || continue  # a payload left out by KINDS
  for mode in engine direct temponly log profile folders; do
    mkdir -p "$work/cost-$kind-$mode"
    WINEPREFIX=$work/wp-cost timeout 900 "$wine" "$cost" "setup-$kind.exe" \
      "$(echo "Z:$work/cost-$kind-$mode" | tr / '\\')" "$mode" | sed "s/^/   $kind /"
  done
done
WINEPREFIX=$work/wp-cost wineserver -k 2>/dev/null
echo "   (engine = ExtractFile as the install run calls it; direct = a bare inflate from the"
echo "    archive handle; temponly = the old temporary-file round trip alone; log / profile ="
echo "    one log record per entry through the log writer / WritePrivateProfileStringA;"
echo "    folders = the install run's parent-folder walk per entry)"
fi
