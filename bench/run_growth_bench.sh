#!/usr/bin/env bash
# Inputs whose cost once grew with the square of their size, at 1x, 2x and 4x the size: the
# time of tessaly-convert should double with each step. Prints wall time, CPU time and peak
# memory (/usr/bin/time -v) per run and the growth between the sizes. See bench/README.md.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: bench/run_growth_bench.sh [options]

  --bin PATH         use this tessaly-convert instead of building one
  --build-dir DIR    Release build folder (default <repo>/build-bench)
  --data DIR         inputs, outputs and logs (default $TESSALY_BENCH_DATA/growth or
                     /tmp/tessaly-growth); existing inputs are reused
  --lines N          lines of the quoted-printable run at 1x (default 250000)
  --escapes N        "=3D" escapes of the name at 1x (default 4000000)
  --skip CASES       comma-separated cases to leave out: qp-run, plain-equals, declared-equals
  -h, --help         this text
EOF
}

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TIME=/usr/bin/time
BIN=""
BUILD_DIR="$REPO/build-bench"
DATA="${TESSALY_BENCH_DATA:+$TESSALY_BENCH_DATA/growth}"
DATA="${DATA:-/tmp/tessaly-growth}"
LINES=250000
ESCAPES=4000000
SKIP=""

while [[ $# -gt 0 ]]; do
    case "$1" in
        --bin) BIN="${2:?--bin needs a path}"; shift ;;
        --build-dir) BUILD_DIR="${2:?--build-dir needs a folder}"; shift ;;
        --data) DATA="${2:?--data needs a folder}"; shift ;;
        --lines) LINES="${2:?--lines needs a number}"; shift ;;
        --escapes) ESCAPES="${2:?--escapes needs a number}"; shift ;;
        --skip) SKIP="${2:?--skip needs a list}"; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "run_growth_bench.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done
skipped() { [[ ",$SKIP," == *",$1,"* ]]; }

# shellcheck source=bench/timedruns.sh
source "$REPO/bench/timedruns.sh"
print_machine
ensure_converter
echo "binary: $BIN"
mkdir -p "$DATA/out" "$DATA/logs"

# Prints "wall cpu rss exit" of one run of tessaly-convert; its messages go to the log.
measure() { # name, arguments...
    local name=$1
    shift
    timed_run "$name" 2 "$BIN" "$@"
}

# One card of N lines "NOTE;ENCODING=QUOTED-PRINTABLE:abcdefgh=": every line is a declared
# value whose soft line break continues it with all the lines after it.
make_qp_run() { # file, lines
    [[ -f "$1" ]] && return
    perl -e 'my ($n) = @ARGV; print "BEGIN:VCARD\r\n";
             print "NOTE;ENCODING=QUOTED-PRINTABLE:abcdefgh=\r\n" for 1 .. $n;
             print "\r\nEND:VCARD\r\n";' "$2" >"$1"
}

# One card whose name is N escapes "=3D" (the value of an "=" sign each), after PREFIX: a
# plain value keeps them as text; a declared one decodes to N "=" signs, which the field's
# normalisation removes.
make_equals() { # prefix, file, escapes
    [[ -f "$2" ]] && return
    perl -e 'my ($prefix, $n) = @ARGV; print "BEGIN:VCARD\r\n${prefix}";
             print "=3D" x $n; print "\r\nTEL:555 0100\r\nEND:VCARD\r\n";' "$1" "$3" >"$2"
}

results=()
growth=()
run_case() { # case, unit, size at 1x, generator...
    local name=$1 unit=$2 base=$3
    shift 3
    local previous=""
    for factor in 1 2 4; do
        local size=$((base * factor))
        local input="$DATA/$name-$size.vcf"
        "$@" "$input" "$size"
        local m
        m=$(measure "$name-$size" -o "$DATA/out/$name.csv" "$input")
        results+=("$(printf '%-16s %3sx %12s %-8s %10s %8s %8s %12s %5s' "$name" "$factor" "$size" "$unit" \
            "$(( $(stat -c %s "$input") / 1000 ))" $m)")
        local wall
        wall=$(echo "$m" | awk '{print $1}')
        if [[ -n "$previous" ]]; then
            growth+=("$(awk -v a="$previous" -v b="$wall" -v n="$name" -v f="$factor" \
                'BEGIN { printf "%-16s %dx to %dx: wall x%s (linear x2.00)", n, f / 2, f, (a > 0 ? sprintf("%.2f", b / a) : "?") }')")
        fi
        previous=$wall
        rm -f "$DATA/out/$name.csv"
    done
}

skipped qp-run || run_case qp-run lines "$LINES" make_qp_run
skipped plain-equals || run_case plain-equals escapes "$ESCAPES" make_equals "FN:"
skipped declared-equals || run_case declared-equals escapes "$ESCAPES" make_equals "FN;ENCODING=QUOTED-PRINTABLE:"

echo "load: $(uptime)"
printf '\n%-16s %4s %12s %-8s %10s %8s %8s %12s %5s\n' case size count unit "input KB" "wall s" "CPU s" "peak RSS MB" exit
printf '%s\n' "${results[@]}"
echo
printf '%s\n' "${growth[@]}"
