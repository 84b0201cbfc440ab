#!/usr/bin/env bash
# Limits of tessaly-convert that must stay bounded: a 2 GB input file, lines of 100 MB, 10,000
# input files loaded one after the other, and memory: 200 MB of line feeds, and running out of
# memory under an address-space limit. Prints wall time, CPU time, peak memory, exit status and
# what was written for each case. See bench/README.md.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: bench/run_limits.sh [options]

  --bin PATH         use this tessaly-convert instead of building one
  --build-dir DIR    Release build folder (default <repo>/build-bench)
  --data DIR         inputs, outputs and logs (default $TESSALY_BENCH_DATA/limits or
                     /tmp/tessaly-limits); existing inputs are reused
  --gigabytes N      size of the large input in GB of 2^30 bytes (default 2)
  --skip CASES       comma-separated cases to leave out: large, line, files, memory
  -h, --help         this text
EOF
}

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TIME=/usr/bin/time
BIN=""
BUILD_DIR="$REPO/build-bench"
DATA="${TESSALY_BENCH_DATA:+$TESSALY_BENCH_DATA/limits}"
DATA="${DATA:-/tmp/tessaly-limits}"
GIGABYTES=2
SKIP=""

while [[ $# -gt 0 ]]; do
    case "$1" in
        --bin) BIN="${2:?--bin needs a path}"; shift ;;
        --build-dir) BUILD_DIR="${2:?--build-dir needs a folder}"; shift ;;
        --data) DATA="${2:?--data needs a folder}"; shift ;;
        --gigabytes) GIGABYTES="${2:?--gigabytes needs a number}"; shift ;;
        --skip) SKIP="${2:?--skip needs a list}"; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "run_limits.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done
skipped() { [[ ",$SKIP," == *",$1,"* ]]; }

# shellcheck source=bench/timedruns.sh
source "$REPO/bench/timedruns.sh"
print_machine
ensure_converter
mkdir -p "$DATA/out" "$DATA/logs"

# Prints "wall cpu rss exit" of one run of tessaly-convert; its messages go to the log.
measure() { # name, arguments...
    local name=$1
    shift
    timed_run "$name" 1 "$BIN" "$@"
}

# The same under an address-space limit of $2 bytes (prlimit --as), name first.
measure_limited() { # name, limit, arguments...
    local name=$1 limit=$2
    shift 2
    timed_run "$name" 1 prlimit --as="$limit" "$BIN" "$@"
}

results=()
report() { # name, input description, measure output, what was written
    results+=("$(printf '%-28s %-30s %8s %8s %12s %5s  %s' "$1" "$2" $3 "$4")")
}

# Records of a written CSV (the header row included): its CR LF line ends (no value holds one).
csv_records() { awk 'BEGIN { RS = "\r\n" } END { print NR }' "$1"; }

# --- 1. A 2 GB input: distinct cards with the usual fields, written by a quick generator ----
if ! skipped large; then
    large="$DATA/large-${GIGABYTES}g.vcf"
    want=$((GIGABYTES * 1024 * 1024 * 1024))
    if [[ ! -f "$large" || $(stat -c %s "$large") -lt $want ]]; then
        echo "writing $large ..."
        perl -e '
            my ($want) = @ARGV; my $size = 0; my $i = 0;
            open(my $out, ">:raw", "/dev/stdout") or die;
            while ($size < $want) {
                my $card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person $i\r\nN:$i;Person;;;\r\n"
                    . "TEL;TYPE=CELL:+1 555 " . (1000000 + $i) . "\r\nEMAIL:person$i\@example.org\r\n"
                    . "ORG:Company " . ($i % 9973) . "\r\nADR;TYPE=HOME:;;" . ($i % 997) . " Main Street;Springfield;;" . (10000 + $i % 89999) . ";USA\r\n"
                    . "NOTE;ENCODING=QUOTED-PRINTABLE:Line one=0D=0Aline two of card $i=\r\n and more\r\n"
                    . "END:VCARD\r\n";
                print $out $card; $size += length($card); ++$i;
            }' "$want" >"$large"
    fi
    bytes=$(stat -c %s "$large")
    out="$DATA/out/large.csv"
    m=$(measure large -o "$out" "$large")
    # The byte count goes out as text: mawk's %d stops at 2^31 - 1.
    report "2 GB file to CSV" "$(awk -v b="$bytes" 'BEGIN { printf "%.2f GB", b / 2^30 }'), $bytes bytes" "$m" \
        "$(csv_records "$out") records, $(stat -c %s "$out") bytes"
    rm -f "$out"
fi

# --- 2. Lines of 100 MB: a plain note, a quoted-printable note, and a line without a colon ---
if ! skipped line; then
    line_mb=100
    make_line_file() { # name, line prefix, repeated unit
        local file="$DATA/line-$1.vcf"
        if [[ ! -f "$file" ]]; then
            {
                printf 'BEGIN:VCARD\r\nFN:Before\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:Long\r\n%s' "$2"
                head -c $((line_mb * 1000 * 1000)) < <(yes "$3" | tr -d '\n')
                printf '\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:After\r\nEND:VCARD\r\n'
            } >"$file"
        fi
        echo "$file"
    }
    for kind in note qp nocolon; do
        case $kind in
            note) file=$(make_line_file note "NOTE:" "abcdefghij") ;;
            qp) file=$(make_line_file qp "NOTE;ENCODING=QUOTED-PRINTABLE:" "=C3=BC=41") ;;
            nocolon) file=$(make_line_file nocolon "" "x;y,z ") ;;
        esac
        for ext in csv xlsx; do
            out="$DATA/out/line-$kind.$ext"
            rm -f "$out"
            m=$(measure "line-$kind-$ext" -o "$out" "$file")
            if [[ -f "$out" ]]; then
                written="$(stat -c %s "$out") bytes written"
            else
                written="not written: $(grep -m1 WARNING "$DATA/logs/line-$kind-$ext.out" | cut -c1-70)"
            fi
            report "100 MB line ($kind) .$ext" "$(stat -c %s "$file") bytes" "$m" "$written"
            rm -f "$out"
        done
    done
fi

# --- 3. 10,000 files loaded one after the other ----------------------------------------------
if ! skipped files; then
    folder="$DATA/files"
    if [[ ! -f "$folder/card-9999.vcf" ]]; then
        mkdir -p "$folder"
        for ((i = 0; i < 10000; ++i)); do
            printf 'BEGIN:VCARD\r\nFN:File %d\r\nTEL:+1 555 %d\r\nEND:VCARD\r\n' "$i" "$i" >"$folder/card-$i.vcf"
        done
    fi
    files=()
    for ((i = 0; i < 10000; ++i)); do files+=("$folder/card-$i.vcf"); done
    out="$DATA/out/files.csv"
    m=$(measure files -o "$out" "${files[@]}")
    report "10,000 files to CSV" "10,000 files of one card" "$m" "$(csv_records "$out") records"
    rm -f "$out"
fi

# --- 4. Memory: many short lines, and running out of memory -------------------------------
if ! skipped memory; then
    # One card, then 200 MB of line feeds: 200 million empty lines, where the bookkeeping of
    # each line counts, not its text.
    feeds="$DATA/feeds-200mb.vcf"
    if [[ ! -f "$feeds" ]]; then
        { printf 'BEGIN:VCARD\r\nFN:Ann Lee\r\nEND:VCARD\r\n'; head -c 200000000 /dev/zero | tr '\0' '\n'; } >"$feeds"
    fi
    out="$DATA/out/feeds.csv"
    rm -f "$out"
    m=$(measure feeds -o "$out" "$feeds")
    report "200 MB of line feeds" "$(stat -c %s "$feeds") bytes" "$m" "$(csv_records "$out") records"
    rm -f "$out"
    m=$(measure_limited feeds-limited 2500000000 -o "$out" "$feeds")
    report "same, --as 2.5 GB" "$(stat -c %s "$feeds") bytes" "$m" \
        "$([[ -f "$out" ]] && echo "$(csv_records "$out") records" || grep -m1 -o 'Not enough memory[^.]*' "$DATA/logs/feeds-limited.out")"
    rm -f "$out"

    # A 200 MB NOTE line with 700 MB of address space: the export must end with exit status 3
    # and its message, the older file untouched, instead of an abort.
    note="$DATA/note-200mb.vcf"
    if [[ ! -f "$note" ]]; then
        {
            printf 'BEGIN:VCARD\r\nFN:Long\r\nNOTE:'
            head -c 200000000 < <(yes abcdefghij | tr -d '\n')
            printf '\r\nEND:VCARD\r\n'
        } >"$note"
    fi
    out="$DATA/out/note.csv"
    echo old >"$out"
    m=$(measure_limited note-limited 700000000 -o "$out" "$note")
    report "200 MB NOTE, --as 700 MB" "$(stat -c %s "$note") bytes" "$m" \
        "$(grep -m1 -o 'Not enough memory[^.]*' "$DATA/logs/note-limited.out"); old file $([[ $(cat "$out") == old ]] && echo kept || echo CHANGED)"
    rm -f "$out"
fi

echo "load: $(uptime)"
printf '\n%-28s %-30s %8s %8s %12s %5s  %s\n' case input "wall s" "CPU s" "peak RSS MB" exit written
printf '%s\n' "${results[@]}"
