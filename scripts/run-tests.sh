#!/usr/bin/env bash
# run-tests.sh TREE[:static]... [fuzz-smoke]
# Runs ctest in each build tree (and the fuzz smoke run), keeps going after a
# failure, and ends with one summary line over everything. TREE:static runs
# only the tests of a Windows tree that need no Wine (label "wine" excluded);
# the tests it leaves out that nothing else runs (label "wine32only") are named.
set -uo pipefail
pass=0; fail=0; failed=(); wine_trees=(); not_run=()
for t in "$@"; do
  if [ "$t" = fuzz-smoke ]; then
    if [ -x scripts/fuzz.sh ] && [ -f tests/fuzz/CMakeLists.txt ]; then
      echo "== fuzz smoke run"
      if make --no-print-directory fuzz-smoke; then pass=$((pass+1)); else fail=$((fail+1)); failed+=(fuzz-smoke); fi
    fi
    continue
  fi
  select=()
  if [ "${t%:static}" != "$t" ]; then
    t=${t%:static}
    select=(-LE wine)
    echo "== ctest in $t (static checks only: this host runs no 32-bit programs)"
    while read -r name; do not_run+=("$name"); done < <(
      cd "$t" && ctest -N -L wine32only -FA '.*' | sed -n 's/^ *Test *#[0-9]*: //p')
  else
    echo "== ctest in $t"
    [ -n "$(cd "$t" && ctest -N -L wine 2>/dev/null | sed -n 's/^Total Tests: \([1-9]\)/\1/p')" ] &&
      wine_trees+=("$t")
  fi
  log=$(mktemp)
  (cd "$t" && ctest --output-on-failure -j "${QOR_TEST_JOBS:-2}" --timeout 900 "${select[@]}") 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  p=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" | tail -1)
  if [ -n "$p" ]; then
    read -r total f <<<"$p"
    pass=$((pass + total - f)); fail=$((fail + f))
  fi
  # A test that skipped itself (a build artifact missing) has not passed.
  skipped=$(grep -c '(Skipped)$' "$log")
  if [ "$skipped" -gt 0 ]; then
    pass=$((pass - skipped)); fail=$((fail + skipped)); rc=1
  fi
  [ "$rc" = 0 ] || failed+=("$t")
  [ "$rc" != 0 ] && [ -z "$p" ] && fail=$((fail+1))
  rm -f "$log"
done
echo
[ ${#wine_trees[@]} -gt 0 ] && echo "Windows tests ran under Wine from: ${wine_trees[*]}"
[ ${#not_run[@]} -gt 0 ] && echo "not run (need 32-bit execution): ${not_run[*]}"
[ ${#failed[@]} -gt 0 ] && echo "failing: ${failed[*]}"
echo "$pass passed, $fail failed"
[ ${#failed[@]} -eq 0 ]
