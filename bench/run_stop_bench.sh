#!/usr/bin/env bash
# Measures how long an export of 1,000,000 cards takes to end once it is asked to stop, at
# moments that fall in each of its stages (reading, building rows, sorting, writing). Goal: at
# most 0.2 s. Prints the stage, the progress and the time from the request to the export's end.
#
#     bench/run_stop_bench.sh [--cards N] [--data DIR] [--build-dir DIR] [DELAY_MS...]
#
# The address book is generated once with ../shared/tools/gen_vcf.py and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
cards=1000000
data="${TESSALY_BENCH_DATA:-/tmp/tessaly-bench}"
build_dir=build-bench
delays=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cards) cards="$2"; shift 2 ;;
    --data) data="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) delays+=("$1"); shift ;;
  esac
done
mkdir -p "$data"
input="$data/cards-$cards.vcf"
if [ ! -s "$input" ]; then
  /usr/bin/python3 ../shared/tools/gen_vcf.py --cards "$cards" --seed 1 --version mixed -o "$input"
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target tessaly_stop_bench >/dev/null
echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$build_dir/bench/tessaly_stop_bench" "$input" "$data/stop-bench-out.csv" "${delays[@]}"
