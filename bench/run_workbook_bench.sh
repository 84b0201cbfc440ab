#!/usr/bin/env bash
# Workbook benchmark: 100,000 cards (all fifteen columns) to .xlsx and 65,000 cards to .xls,
# with wall time and peak memory from /usr/bin/time -v.
#
#   bench/run_workbook_bench.sh [--bin PATH] [--data DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
bin=""
data=/tmp/tessaly-bench
while [ $# -gt 0 ]; do
  case "$1" in
    --bin) bin=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
if [ -z "$bin" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target tessaly-convert >/dev/null
  bin="$root/build-bench/src/cli/tessaly-convert"
fi
mkdir -p "$data/out"
gen="$root/../shared/tools/gen_vcf.py"
for n in 100000 65000; do
  [ -s "$data/cards-$n.vcf" ] || /usr/bin/python3 "$gen" --cards "$n" --seed 1 --version mixed -o "$data/cards-$n.vcf" -q
done

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %8s %10s %10s\n' kind cards wall_s peak_MB
run() {
  local kind=$1 n=$2 out="$data/out/workbook-$2.$1" log
  log=$(mktemp)
  /usr/bin/time -v "$bin" -o "$out" "$data/cards-$n.vcf" >/dev/null 2>"$log"
  local wall peak
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/{n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$log")
  peak=$(awk -F': ' '/Maximum resident set size/{printf "%.0f", $2/1024}' "$log")
  printf '%-6s %8s %10s %10s\n' "$kind" "$n" "$wall" "$peak"
  rm -f "$log"
}
run xlsx 100000
run xls 65000
