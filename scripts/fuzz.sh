#!/usr/bin/env bash
# fuzz.sh BUILD_DIR SECONDS
# Builds the libFuzzer targets in their own clang tree (ASan, UBSan, coverage):
# qzf_fuzz_open for the archive engine, on a seed corpus of small archives made
# with the native tools of that tree, for SECONDS; then log_fuzz_parse for the
# uninstaller's log reader, on a few logs, for a third of that. Crashes land in
# BUILD_DIR/crashes; the corpora grow in BUILD_DIR/corpus* between runs.
set -euo pipefail
build=${1:?usage: fuzz.sh BUILD_DIR SECONDS}
seconds=${2:?usage: fuzz.sh BUILD_DIR SECONDS}
mkdir -p "$build" && build=$(cd "$build" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}

cmake -S "$src" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_SANITIZE=ON -DQOR_FUZZ=ON \
  -DQOR_COMPONENTS="text;archive;uninstall" -DQOR_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$build" --target qzf_fuzz_open log_fuzz_parse -j "$jobs"

corpus=$build/corpus
mkdir -p "$corpus" "$build/crashes"
python3 "$src/tests/fuzz/make_seeds.py" "$corpus"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
echo "fuzz.sh: running qzf_fuzz_open for ${seconds}s on $(ls "$corpus" | wc -l) inputs"
cd "$build"
# Scratch files of the target (extracted entries, engine temporaries) stay here.
rm -rf "$build/scratch" && mkdir -p "$build/scratch"
trap 'rm -rf "$build/scratch"' EXIT
TMPDIR=$build/scratch ./bin/qzf_fuzz_open -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build/crashes/" -print_final_stats=1 "$corpus" 2>&1 | tail -25

# The uninstall log reader: seeds are the setup's own log form and some junk.
log_corpus=$build/corpus-log
mkdir -p "$log_corpus"
printf '[Trovix Dirs]\r\nC:\\Program Files\\QOR=\r\n[Trovix Files]\r\nC:\\Program Files\\QOR\\a.exe=\r\n[Uninstall Command Line]\r\nC:\\P\\a.exe=C:\\P\\a.exe -u\r\n[Dependents]\r\nRcv=\r\n[Rcv Registry Keys]\r\nSoftware\\QOR=\r\n' >"$log_corpus/seed-log"
printf '[S]\nk\nC:\\..\\x=\n;c\n[s]\nK=v\n' >"$log_corpus/seed-junk"
log_seconds=$((seconds / 3 > 10 ? seconds / 3 : 10))
echo "fuzz.sh: running log_fuzz_parse for ${log_seconds}s on $(ls "$log_corpus" | wc -l) inputs"
./bin/log_fuzz_parse -max_total_time="$log_seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build/crashes/" -print_final_stats=1 "$log_corpus" 2>&1 | tail -8
