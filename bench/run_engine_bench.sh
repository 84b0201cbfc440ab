#!/usr/bin/env bash
# Engine benchmark for tessaly-convert: wall time and peak memory of a default CSV export
# (Headers and Sort on) on generated vCard files of growing size, with two peer converters
# measured on the smallest file in the same run. See bench/README.md.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: bench/run_engine_bench.sh [options]

  --quick            only the 250000-card file, no peers
  --cards LIST       comma-separated card counts (default 250000,500000,1000000);
                     the peers run on the smallest count
  --no-peers         skip the peers
  --bin PATH         use this tessaly-convert instead of building one
  --build-dir DIR    Release build folder (default <repo>/build-bench)
  --data DIR         folder for inputs, outputs and logs (default $TESSALY_BENCH_DATA
                     or /tmp/tessaly-bench); existing inputs are reused
  --lang NAME        run every measured tool with LANG and LC_ALL set to NAME
                     (e.g. en_US.UTF-8); by default the caller's locale is kept
  --variants         also run tessaly-convert to .txt and with --no-sort on every size
  --all-fields       also run tessaly-convert --all-fields (CSV, and .txt with --variants) on every
                     size, right after the fifteen-column run
  --baseline PATH    also run this other tessaly-convert (an earlier build) on every size, right
                     after ours, for a side-by-side comparison
  -h, --help         this text
EOF
}

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SHARED=${TESSALY_SHARED_DIR:-$(cd "$(dirname "$0")/../../shared" && pwd)}
GEN="$SHARED/tools/gen_vcf.py"
PEER_VOBJECT="$SHARED/bench/peer_vobject.py"
PEER_KCONTACTS_SRC="$SHARED/bench/peer_kcontacts"
PY=/usr/bin/python3
TIME=/usr/bin/time

CARDS="250000,500000,1000000"
PEERS=1
BIN=""
BUILD_DIR="$REPO/build-bench"
DATA="${TESSALY_BENCH_DATA:-/tmp/tessaly-bench}"
LANG_FOR_RUNS=""
VARIANTS=0
ALL_FIELDS=0
BASELINE=""

while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) CARDS="250000"; PEERS=0 ;;
        --cards) CARDS="${2:?--cards needs a list}"; shift ;;
        --no-peers) PEERS=0 ;;
        --bin) BIN="${2:?--bin needs a path}"; shift ;;
        --build-dir) BUILD_DIR="${2:?--build-dir needs a folder}"; shift ;;
        --data) DATA="${2:?--data needs a folder}"; shift ;;
        --lang) LANG_FOR_RUNS="${2:?--lang needs a locale name}"; shift ;;
        --variants) VARIANTS=1 ;;
        --all-fields) ALL_FIELDS=1 ;;
        --baseline) BASELINE="${2:?--baseline needs a path}"; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "run_engine_bench.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

IFS=',' read -r -a COUNTS <<< "$CARDS"
for n in "${COUNTS[@]}"; do
    [[ "$n" =~ ^[0-9]+$ && "$n" -gt 0 ]] || { echo "run_engine_bench.sh: bad card count '$n'" >&2; exit 2; }
done
# Ascending order, duplicates dropped.
mapfile -t COUNTS < <(printf '%s\n' "${COUNTS[@]}" | sort -n -u)
SMALLEST=${COUNTS[0]}

[[ -x "$TIME" ]] || { echo "run_engine_bench.sh: $TIME is missing (apt-get install -y time)" >&2; exit 1; }
mkdir -p "$DATA/out" "$DATA/logs"
RESULTS="$DATA/logs/results.tsv"
: > "$RESULTS"

say() { printf '== %s\n' "$*" >&2; }

# --- machine ---------------------------------------------------------------------------------
echo "Machine at start:      $(uptime | sed 's/^ *//')"
echo "nproc: $(nproc); memory: $(free -m | awk '/^Mem:/ {printf "%d MB total, %d MB available", $2, $7}')"
echo "cpu: $(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)"
echo

# --- tessaly-convert ---------------------------------------------------------------------------
if [[ -z "$BIN" ]]; then
    say "building tessaly-convert (Release) in $BUILD_DIR"
    cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja -DTESSALY_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
        > "$DATA/logs/build-configure.log" 2>&1 \
        || { cat "$DATA/logs/build-configure.log" >&2; exit 1; }
    cmake --build "$BUILD_DIR" --target tessaly-convert > "$DATA/logs/build.log" 2>&1 \
        || { tail -50 "$DATA/logs/build.log" >&2; exit 1; }
    BIN="$BUILD_DIR/src/cli/tessaly-convert"
    if git -C "$REPO" rev-parse --git-dir > /dev/null 2>&1; then
        echo "sources: commit $(git -C "$REPO" rev-parse --short HEAD)," \
            "$(git -C "$REPO" status --porcelain -- src CMakeLists.txt | wc -l) changed or new file(s) under src/ and CMakeLists.txt"
    fi
fi
echo "binary: $BIN"
[[ -z "$BASELINE" || -x "$BASELINE" ]] || { echo "run_engine_bench.sh: no executable at $BASELINE" >&2; exit 1; }
[[ -n "$BASELINE" ]] && echo "baseline binary: $BASELINE"
[[ -x "$BIN" ]] || { echo "run_engine_bench.sh: no executable at $BIN" >&2; exit 1; }

# --- inputs -----------------------------------------------------------------------------------
input_for() { echo "$DATA/cards-$1.vcf"; }
for n in "${COUNTS[@]}"; do
    f=$(input_for "$n")
    if [[ -s "$f" ]]; then
        say "reusing $f"
    else
        say "generating $f"
        "$PY" "$GEN" --cards "$n" --seed 1 --version mixed -o "$f.part"
        mv "$f.part" "$f"
    fi
done

# --- peers ------------------------------------------------------------------------------------
VOBJECT_OK=0
KCONTACTS_BIN=""
apt_install() {
    # Installs Debian packages when run as root; refreshes the package lists once if needed.
    if [[ $(id -u) -ne 0 ]]; then
        say "not root: cannot install $*"
        return 1
    fi
    say "apt-get install -y $*"
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y "$@" > "$DATA/logs/apt.log" 2>&1; then
        DEBIAN_FRONTEND=noninteractive apt-get update >> "$DATA/logs/apt.log" 2>&1 || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y "$@" >> "$DATA/logs/apt.log" 2>&1 || return 1
    fi
}
if [[ $PEERS -eq 1 ]]; then
    if ! "$PY" -c 'import vobject' 2>/dev/null; then
        apt_install python3-vobject || true
    fi
    if "$PY" -c 'import vobject' 2>/dev/null; then
        VOBJECT_OK=1
    else
        say "python vobject unavailable: that peer is skipped"
    fi

    if ! dpkg -s libkf5contacts-dev > /dev/null 2>&1; then
        apt_install libkf5contacts-dev || true
    fi
    KC_BUILD="$DATA/peer_kcontacts-build"
    if dpkg -s libkf5contacts-dev > /dev/null 2>&1; then
        say "building the KContacts peer in $KC_BUILD"
        if cmake -S "$PEER_KCONTACTS_SRC" -B "$KC_BUILD" -DCMAKE_BUILD_TYPE=Release \
                > "$DATA/logs/peer_kcontacts-build.log" 2>&1 \
            && cmake --build "$KC_BUILD" >> "$DATA/logs/peer_kcontacts-build.log" 2>&1; then
            KCONTACTS_BIN="$KC_BUILD/peer_kcontacts"
        else
            say "KContacts peer did not build (see $DATA/logs/peer_kcontacts-build.log): skipped"
        fi
    else
        say "libkf5contacts-dev unavailable: KContacts peer skipped"
    fi
fi

# --- measuring --------------------------------------------------------------------------------
# measure TOOL N OUT -- COMMAND...: runs COMMAND under /usr/bin/time -v and appends one line to
# the results: tool, cards, input bytes, wall seconds, CPU seconds (user + system), peak RSS in
# KiB, exit status, CSV records.
measure() {
    local tool=$1 n=$2 out=$3; shift 4
    local in log status wall cpu rss lines
    in=$(input_for "$n")
    log="$DATA/logs/$tool-$n.time"
    rm -f "$out"
    # Earlier runs' outputs go to disk first: a tool that syncs its output (as tessaly-convert
    # does before it replaces a file) must not pay for the previous tool's writes. The input is
    # read once beforehand, so that every tool finds it in the page cache (the kernel may have
    # let go of it while other files were written).
    sync
    cat "$in" > /dev/null
    say "$tool on $n cards"
    set +e
    "$TIME" -v -o "$log" "$@" > "$DATA/logs/$tool-$n.out" 2>&1
    status=$?
    set -e
    wall=$(awk -F': ' '/Elapsed \(wall clock\) time/ {
            n = split($2, p, ":"); s = 0
            for (i = 1; i <= n; i++) s = s * 60 + p[i]
            print s }' "$log")
    cpu=$(awk -F': ' '/User time \(seconds\)|System time \(seconds\)/ {s += $2} END {print s}' "$log")
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    # CSV records (not physical lines: a quoted field may hold a line break), header included.
    lines=$([[ -f "$out" && "$out" == *.csv ]] && "$PY" -c 'import csv, sys
print(sum(1 for _ in csv.reader(open(sys.argv[1], encoding="utf-8-sig", errors="replace", newline=""))))' "$out" || echo 0)
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tool" "$n" "$(stat -c %s "$in")" "$wall" "$cpu" "$rss" \
        "$status" "$lines" >> "$RESULTS"
}

if [[ -n "$LANG_FOR_RUNS" ]]; then
    export LANG="$LANG_FOR_RUNS" LC_ALL="$LANG_FOR_RUNS"
fi
# The locale decides how the case-insensitive sort collates, so it is part of the result.
echo "locale for the runs: LANG=${LANG:-unset} LC_ALL=${LC_ALL:-unset}"
echo "Machine before timing: $(uptime | sed 's/^ *//')"
for n in "${COUNTS[@]}"; do
    in=$(input_for "$n")
    out="$DATA/out/tessaly-$n.csv"
    measure tessaly-convert "$n" "$out" -- "$BIN" -o "$out" "$in"
    if [[ -n "$BASELINE" ]]; then
        measure tessaly-convert-baseline "$n" "$DATA/out/baseline-$n.csv" -- \
            "$BASELINE" -o "$DATA/out/baseline-$n.csv" "$in"
    fi
    if [[ $ALL_FIELDS -eq 1 ]]; then
        measure tessaly-convert-allfields "$n" "$DATA/out/allfields-$n.csv" -- \
            "$BIN" --all-fields -o "$DATA/out/allfields-$n.csv" "$in"
        if [[ $VARIANTS -eq 1 ]]; then
            measure tessaly-convert-allfields-txt "$n" "$DATA/out/allfields-$n.txt" -- \
                "$BIN" --all-fields -o "$DATA/out/allfields-$n.txt" "$in"
        fi
    fi
    if [[ $VARIANTS -eq 1 ]]; then
        measure tessaly-convert-txt "$n" "$DATA/out/tessaly-$n.txt" -- "$BIN" -o "$DATA/out/tessaly-$n.txt" "$in"
        measure tessaly-convert-nosort "$n" "$DATA/out/tessaly-nosort-$n.csv" -- \
            "$BIN" --no-sort -o "$DATA/out/tessaly-nosort-$n.csv" "$in"
    fi
    if [[ $n -eq $SMALLEST && $PEERS -eq 1 ]]; then
        if [[ $VOBJECT_OK -eq 1 ]]; then
            out="$DATA/out/vobject-$n.csv"
            measure vobject "$n" "$out" -- "$PY" "$PEER_VOBJECT" "$in" "$out"
        fi
        if [[ -n "$KCONTACTS_BIN" ]]; then
            out="$DATA/out/kcontacts-$n.csv"
            measure kcontacts "$n" "$out" -- "$KCONTACTS_BIN" "$in" "$out"
        fi
    fi
done

echo "Machine at end:        $(uptime | sed 's/^ *//')"
echo

# --- table ------------------------------------------------------------------------------------
"$PY" - "$RESULTS" <<'EOF'
import math
import sys

MB = 1_000_000
rows = []
with open(sys.argv[1]) as f:
    for line in f:
        tool, n, size, wall, cpu, rss, status, lines = line.rstrip("\n").split("\t")
        rows.append(dict(tool=tool, n=int(n), size=int(size), wall=float(wall), cpu=float(cpu),
                         rss=int(rss) * 1024, status=int(status), lines=int(lines)))

ours = {r["n"]: r for r in rows if r["tool"] == "tessaly-convert"}
head = ["tool", "cards", "input MB", "wall s", "CPU s", "MB/s", "peak RSS MB", "RSS/input",
        "wall vs ours", "RSS vs ours", "exit", "CSV records"]
table = []
for r in rows:
    base = ours.get(r["n"])
    # Every run but the fifteen-column CSV itself is compared with it: peers, variants,
    # All fields and a baseline build.
    peer = r["tool"] != "tessaly-convert" and base is not None
    table.append([
        r["tool"], f'{r["n"]:,}', f'{r["size"] / MB:.1f}', f'{r["wall"]:.2f}', f'{r["cpu"]:.2f}',
        f'{r["size"] / MB / r["wall"]:.2f}' if r["wall"] > 0 else "-",
        f'{r["rss"] / MB:.1f}', f'{r["rss"] / r["size"]:.2f}',
        f'{r["wall"] / base["wall"]:.2f}x' if peer and base["wall"] > 0 else "-",
        f'{r["rss"] / base["rss"]:.2f}x' if peer else "-",
        str(r["status"]), f'{r["lines"]:,}' if r["lines"] else "-",
    ])
width = [max(len(c) for c in col) for col in zip(head, *table)]
fmt = lambda cells: "  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(cells, width)))
print(fmt(head))
print(fmt(["-" * w for w in width]))
for cells in table:
    print(fmt(cells))

ns = sorted(ours)
if len(ns) > 1:
    print()
    print("Growth of tessaly-convert (ratios between consecutive sizes):")
    for a, b in zip(ns, ns[1:]):
        ra, rb = ours[a], ours[b]
        linear = b / a
        nlogn = (b * math.log(b)) / (a * math.log(a))
        print(f"  {b:,}/{a:,} cards: wall time x{rb['wall'] / ra['wall']:.2f},"
              f" CPU time x{rb['cpu'] / ra['cpu']:.2f}"
              f" (n log n predicts x{nlogn:.2f}, linear x{linear:.2f}),"
              f" peak RSS x{rb['rss'] / ra['rss']:.2f}")
EOF
echo
echo "Logs (/usr/bin/time -v output per run) in $DATA/logs; CSV outputs in $DATA/out."
