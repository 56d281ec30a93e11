#!/usr/bin/env bash
# check-tools.sh [32|64]
# Fails at once, naming each missing command and the package that brings it,
# when a command the tests start (scripts/tools.txt) is not on this machine;
# otherwise a test would find out half an hour later. `make deps` installs them.
set -uo pipefail
bits=${1:-32}
here=$(cd "$(dirname "$0")" && pwd)
missing=()
found() {
  local alt
  IFS='|' read -ra alts <<<"$1"
  for alt in "${alts[@]}"; do
    if [ "${alt#/}" != "$alt" ]; then [ -x "$alt" ] && return 0
    else command -v "$alt" >/dev/null 2>&1 && return 0; fi
  done
  return 1
}
while read -r cmd pkg path _; do
  case "$cmd" in '' | '#'*) continue ;; esac
  [ -z "$path" ] || [ "$path" = "$bits" ] || continue
  found "$cmd" || missing+=("$cmd (package $pkg)")
done <"$here/tools.txt"
# Python modules the end-to-end and resource checks import.
/usr/bin/python3 -c 'import pefile' 2>/dev/null || missing+=("python3 module pefile (package python3-pefile)")
if [ ${#missing[@]} -gt 0 ]; then
  echo "check-tools: the tests need commands this machine lacks (\`make deps\` installs them):" >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi
echo "check-tools: every command the tests start is present"
