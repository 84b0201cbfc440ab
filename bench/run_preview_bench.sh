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
cmake --build "$build_dir" --target tessaly_preview_bench
echo "Machine: $(nproc) cores; $(uptime)"
for sort in "" --no-sort; do
  QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build_dir/bench/tessaly_preview_bench" "$input" $sort
  echo
done
echo "Load at the end: $(uptime)"
