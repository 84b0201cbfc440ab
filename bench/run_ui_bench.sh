#!/usr/bin/env bash
# Measures how long the main window's thread stands still while the window exports
# 1,000,000 cards to CSV (default preset). Goal: never more than 50 ms.
#
#     bench/run_ui_bench.sh [--cards N] [--data DIR] [--build-dir DIR]
#
# The address book is generated once with ../shared/tools/gen_vcf.py and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/generatedbook.sh
source bench/generatedbook.sh
read_bench_options "$@"
if [ ${#bench_arguments[@]} -gt 0 ]; then echo "unexpected argument ${bench_arguments[0]}" >&2; exit 2; fi
generate_bench_book
build_bench_target tessaly_ui_bench
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build_dir/bench/tessaly_ui_bench" "$input" "$data/ui-bench-out.csv"
