#!/usr/bin/env bash
# Fails when a C++ file of the project differs from what clang-format 14 makes of it
# (.clang-format). With --fix, formats the files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format-14 -i "${files[@]}"
  exit 0
fi
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if ! clang-format-14 --dry-run --Werror "${files[@]}" 2>"$report"; then
  head -n 40 "$report"
  echo "format: files differ from .clang-format; run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format has them"
