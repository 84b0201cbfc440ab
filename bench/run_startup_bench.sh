#!/usr/bin/env bash
# Start-up benchmark: how long the program takes from process start to its first shown window
# (identity texts, data folder, settings, language, the window), over repeated runs of a
# Release build that exits as soon as the window is shown. The window goes to the offscreen
# platform unless QT_QPA_PLATFORM says otherwise (under xvfb-run, QT_QPA_PLATFORM=xcb).
#
#   bench/run_startup_bench.sh [--bin PATH] [--runs N] [--lang NAME]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="" runs=30 lang=de_DE.UTF-8
while [ $# -gt 0 ]; do
  case "$1" in
    --bin) bin=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --lang) lang=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
if [ -z "$bin" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target tessaly_startup_bench >/dev/null
  bin="$root/build-bench/bench/tessaly_startup_bench"
fi
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); LANG=$lang; $runs runs of $bin"
LANG=$lang XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin" >/dev/null 2>&1 # warm the file cache
/usr/bin/python3 - "$bin" "$runs" "$lang" "$config" <<'PY'
import os, statistics, subprocess, sys, time
binary, runs, lang, config = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
env = dict(os.environ, LANG=lang, XDG_CONFIG_HOME=config)
env.setdefault("QT_QPA_PLATFORM", "offscreen")
env.pop("LC_ALL", None)
times = []
for _ in range(runs):
    start = time.perf_counter()
    subprocess.run([binary], env=env, stdout=subprocess.DEVNULL, check=True)
    times.append((time.perf_counter() - start) * 1000)
print("process start to first shown window and exit, ms: median %.1f, min %.1f, max %.1f" % (statistics.median(times), min(times), max(times)))
PY
