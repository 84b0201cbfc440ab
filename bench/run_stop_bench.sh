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
# shellcheck source=bench/generatedbook.sh
source bench/generatedbook.sh
read_bench_options "$@"
delays=("${bench_arguments[@]}")
generate_bench_book
build_bench_target tessaly_stop_bench
echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$build_dir/bench/tessaly_stop_bench" "$input" "$data/stop-bench-out.csv" "${delays[@]}"
