#!/usr/bin/env bash
# Measures how soon the Preview window shows 1,000,000 cards: the time from its opening to
# the first rows (goal: within one second) and to the whole table, and the longest the main
# window's thread stands still meanwhile, with Sort on and with Sort off.
#
#     bench/run_preview_bench.sh [--cards N] [--data DIR] [--build-dir DIR]
#
# The address book is generated once with ../shared/tools/gen_vcf.py and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/generatedbook.sh
source bench/generatedbook.sh
read_bench_options "$@"
if [ ${#bench_arguments[@]} -gt 0 ]; then echo "unexpected argument ${bench_arguments[0]}" >&2; exit 2; fi
generate_bench_book
build_bench_target tessaly_preview_bench
echo "Machine: $(nproc) cores; $(uptime)"
for sort in "" --no-sort; do
  QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build_dir/bench/tessaly_preview_bench" "$input" $sort
  echo
done
echo "Load at the end: $(uptime)"
