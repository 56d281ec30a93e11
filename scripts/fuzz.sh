#!/usr/bin/env bash
# fuzz.sh BUILD_DIR SECONDS
# Builds the libFuzzer target qzf_fuzz_open in its own clang tree (ASan, UBSan,
# coverage for the archive engine), makes a seed corpus of small archives with
# the native tools of that tree, and fuzzes for SECONDS. Crashes land in
# BUILD_DIR/crashes; the corpus grows in BUILD_DIR/corpus between runs.
set -euo pipefail
build=${1:?usage: fuzz.sh BUILD_DIR SECONDS}
seconds=${2:?usage: fuzz.sh BUILD_DIR SECONDS}
mkdir -p "$build" && build=$(cd "$build" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}

cmake -S "$src" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_SANITIZE=ON -DQOR_FUZZ=ON \
  -DQOR_COMPONENTS=archive -DQOR_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$build" --target qzf_fuzz_open -j "$jobs"

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
