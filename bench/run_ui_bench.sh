#!/usr/bin/env bash
# Measures how long the main window's thread stands still while the window exports
# 1,000,000 cards to CSV (default preset). Goal: never more than 50 ms.
#
#     bench/run_ui_bench.sh [--cards N] [--data DIR] [--build-dir DIR]
#
# The address book is generated once with ../shared/tools/gen_vcf.py and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
cards=1000000
data="${TESSALY_BENCH_DATA:-/tmp/tessaly-bench}"
build_dir=build-bench
while [ $# -gt 0 ]; do
  case "$1" in
    --cards) cards="$2"; shift 2 ;;
    --data) data="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$data"
input="$data/cards-$cards.vcf"
if [ ! -s "$input" ]; then
  /usr/bin/python3 ../shared/tools/gen_vcf.py --cards "$cards" --seed 1 --version mixed -o "$input"
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target tessaly_ui_bench
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build_dir/bench/tessaly_ui_bench" "$input" "$data/ui-bench-out.csv"
