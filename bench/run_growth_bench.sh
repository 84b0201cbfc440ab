#!/usr/bin/env bash
# Inputs whose cost once grew with the square of their size, at 1x, 2x and 4x the size: the
# time should double with each step. Prints wall time, CPU time and peak memory
# (/usr/bin/time -v) per run and the growth between the sizes, and with --before the same for
# an older build, side by side in the same run. See bench/README.md.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: bench/run_growth_bench.sh [options]

  --bin PATH             use this tessaly-convert instead of building one
  --startup-bin PATH     use this tessaly_startup_bench (the program up to its first window);
                         built with the converter when --bin is not given, else the
                         many-sections case is left out without it
  --before PATH          also time this older tessaly-convert, run by run beside the other
  --before-startup-bin PATH
                         the older build's tessaly_startup_bench, for the many-sections case
  --build-dir DIR        Release build folder (default <repo>/build-bench)
  --data DIR             inputs, outputs and logs (default $TESSALY_BENCH_DATA/growth or
                         /tmp/tessaly-growth); existing inputs are reused
  --lines N              lines of the quoted-printable run at 1x (default 250000)
  --escapes N            "=3D" escapes of the name at 1x (default 4000000)
  --files N              input files of one card each at 1x (default 10000)
  --sections N           sections of settings.ini at 1x (default 10000)
  --line-mb N            megabytes of the single NOTE line at 1x (default 100)
  --skip CASES           comma-separated cases to leave out: qp-run, plain-equals,
                         declared-equals, many-files, many-sections, long-line,
                         long-line-txt
  -h, --help             this text
EOF
}

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TIME=/usr/bin/time
BIN=""
STARTUP_BIN=""
BEFORE_BIN=""
BEFORE_STARTUP_BIN=""
BUILD_DIR="$REPO/build-bench"
DATA="${TESSALY_BENCH_DATA:+$TESSALY_BENCH_DATA/growth}"
DATA="${DATA:-/tmp/tessaly-growth}"
LINES=250000
ESCAPES=4000000
FILES=10000
SECTIONS=10000
LINE_MB=100
SKIP=""

while [[ $# -gt 0 ]]; do
    case "$1" in
        --bin) BIN="${2:?--bin needs a path}"; shift ;;
        --startup-bin) STARTUP_BIN="${2:?--startup-bin needs a path}"; shift ;;
        --before) BEFORE_BIN="${2:?--before needs a path}"; shift ;;
        --before-startup-bin) BEFORE_STARTUP_BIN="${2:?--before-startup-bin needs a path}"; shift ;;
        --build-dir) BUILD_DIR="${2:?--build-dir needs a folder}"; shift ;;
        --data) DATA="${2:?--data needs a folder}"; shift ;;
        --lines) LINES="${2:?--lines needs a number}"; shift ;;
        --escapes) ESCAPES="${2:?--escapes needs a number}"; shift ;;
        --files) FILES="${2:?--files needs a number}"; shift ;;
        --sections) SECTIONS="${2:?--sections needs a number}"; shift ;;
        --line-mb) LINE_MB="${2:?--line-mb needs a number}"; shift ;;
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
if [[ -z "$BIN" && -z "$STARTUP_BIN" ]] && ! skipped many-sections; then
    # The start-up program needs the windows, which the converter's build leaves out.
    cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja -DTESSALY_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD_DIR" --target tessaly_startup_bench --parallel "$(nproc)" >/dev/null
    STARTUP_BIN="$BUILD_DIR/bench/tessaly_startup_bench"
fi
ensure_converter
echo "binary: $BIN"
[[ -n "$STARTUP_BIN" ]] && echo "start-up binary: $STARTUP_BIN"
if [[ -n "$BEFORE_BIN" ]]; then
    echo "before: $BEFORE_BIN"
    [[ -n "$BEFORE_STARTUP_BIN" ]] && echo "before, start-up binary: $BEFORE_STARTUP_BIN"
fi
mkdir -p "$DATA/out" "$DATA/logs" "$DATA/config"
DATA=$(cd "$DATA" && pwd) # the folder case runs the converter from the inputs' folder

# The builds under test: a label, the converter and the start-up program of each.
TOOLS=(now)
declare -A CONVERTER=([now]="$BIN") STARTUP=([now]="$STARTUP_BIN")
if [[ -n "$BEFORE_BIN" ]]; then
    TOOLS+=(before)
    CONVERTER[before]="$BEFORE_BIN"
    STARTUP[before]="$BEFORE_STARTUP_BIN"
fi

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

# A folder of N files of one card each, named in the order they are given on the command line.
make_files() { # folder, files
    [[ -d "$1" ]] && return
    mkdir -p "$1.part"
    perl -e 'my ($dir, $n) = @ARGV;
             for my $i (1 .. $n) {
                 open(my $out, ">", sprintf("%s/c%06d.vcf", $dir, $i)) or die "$dir: $!";
                 print $out "BEGIN:VCARD\r\nFN:Person $i\r\nTEL:555 $i\r\nEND:VCARD\r\n";
             }' "$1.part" "$2"
    mv "$1.part" "$1"
}

# A settings.ini of N sections of one key each, the program's own section last.
make_sections() { # file, sections
    [[ -f "$1" ]] && return
    perl -e 'my ($n) = @ARGV; print "\xEF\xBB\xBF";
             print "[Section $_]\r\nKey=Value $_\r\n\r\n" for 1 .. $n;
             print "[Settings]\r\nLanguageFile=\r\n\r\n";' "$2" >"$1"
}

# One card whose NOTE line holds N megabytes of letters.
make_long_line() { # file, megabytes
    [[ -f "$1" ]] && return
    {
        printf 'BEGIN:VCARD\r\nFN:Long Note\r\nNOTE:'
        head -c $(($2 * 1000 * 1000)) < <(yes abcdefghij | tr -d '\n')
        printf '\r\nEND:VCARD\r\n'
    } >"$1.part"
    mv "$1.part" "$1"
}

# The long-line input of that size, for a second case on the same bytes.
link_long_line() { # file, megabytes
    [[ -e "$1" ]] && return
    make_long_line "$DATA/long-line-$2.vcf" "$2"
    ln -s "long-line-$2.vcf" "$1"
}

# Runners: print "wall cpu rss exit" of one run of a build on one input.
convert_file() { # tool, run name, input
    timed_run "$2" 2 "${CONVERTER[$1]}" -o "$DATA/out/$2.csv" "$3"
}

convert_file_txt() { # tool, run name, input
    timed_run "$2" 2 "${CONVERTER[$1]}" -o "$DATA/out/$2.txt" "$3"
}

convert_folder() { # tool, run name, folder
    # Short relative names keep tens of thousands of files within the command line's limit.
    (cd "$3" && timed_run "$2" 2 "${CONVERTER[$1]}" -o "$DATA/out/$2.csv" ./*.vcf)
}

# The program started in a folder of its own (its data folder, where settings.ini is read)
# up to its first shown window.
start_program() { # tool, run name, settings.ini
    local folder="$DATA/programs/$2" source=${STARTUP[$1]}
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$source" "$folder/"
    cp -r "$(dirname "$source")/Languages" "$folder/"
    cp "$3" "$folder/settings.ini"
    timed_run "$2" 2 env LANG=C.UTF-8 LC_ALL= QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$DATA/config" \
        XDG_RUNTIME_DIR="$DATA/config" "$folder/$(basename "$source")"
    rm -rf "$folder"
}

results=()
growth=()
run_case() { # case, unit, size at 1x, input suffix, runner, generator...
    local name=$1 unit=$2 base=$3 suffix=$4 runner=$5
    shift 5
    local tool
    declare -A previous=()
    for factor in 1 2 4; do
        local size=$((base * factor))
        local input="$DATA/$name-$size$suffix"
        "$@" "$input" "$size"
        local bytes
        bytes=$(du -s -b --apparent-size -L "$input" | cut -f1)
        for tool in "${TOOLS[@]}"; do
            [[ $runner == start_program && -z "${STARTUP[$tool]}" ]] && continue
            local m
            m=$("$runner" "$tool" "$tool-$name-$size" "$input")
            results+=("$(echo "$m" | awk -v n="$name" -v t="$tool" -v f="$factor" -v s="$size" -v u="$unit" \
                -v kb=$((bytes / 1000)) '{ printf "%-15s %-6s %3sx %9s %-9s %9s %8s %8s %8s %7.2f %5s",
                    n, t, f, s, u, kb, $1, $2, $3, (kb > 0 ? $3 * 1000 / kb : 0), $4 }')")
            local wall
            wall=$(echo "$m" | awk '{print $1}')
            if [[ -n "${previous[$tool]:-}" ]]; then
                growth+=("$(awk -v a="${previous[$tool]}" -v b="$wall" -v n="$name" -v t="$tool" -v f="$factor" \
                    'BEGIN { r = (a > 0 ? b / a : 0);
                             printf "%-15s %-6s %dx to %dx: wall x%.2f (linear x2.00, limit x2.30) %s",
                                    n, t, f / 2, f, r, (a > 0 ? (r <= 2.3 ? "ok" : "ABOVE") : "?") }')")
            fi
            previous[$tool]=$wall
            rm -f "$DATA/out/$tool-$name-$size.csv" "$DATA/out/$tool-$name-$size.txt"
        done
    done
}

skipped qp-run || run_case qp-run lines "$LINES" .vcf convert_file make_qp_run
skipped plain-equals || run_case plain-equals escapes "$ESCAPES" .vcf convert_file make_equals "FN:"
skipped declared-equals ||
    run_case declared-equals escapes "$ESCAPES" .vcf convert_file make_equals "FN;ENCODING=QUOTED-PRINTABLE:"
skipped many-files || run_case many-files files "$FILES" "" convert_folder make_files
if ! skipped many-sections; then
    if [[ -n "$STARTUP_BIN" ]]; then
        run_case many-sections sections "$SECTIONS" .ini start_program make_sections
    else
        echo "many-sections: left out, no --startup-bin" >&2
    fi
fi
skipped long-line || run_case long-line MB "$LINE_MB" .vcf convert_file make_long_line
skipped long-line-txt || run_case long-line-txt MB "$LINE_MB" .vcf convert_file_txt link_long_line

echo "load: $(uptime)"
printf '\n%-15s %-6s %4s %9s %-9s %9s %8s %8s %8s %7s %5s\n' case build size count unit "input KB" "wall s" \
    "CPU s" "peak MB" "RSS/in" exit
printf '%s\n' "${results[@]}"
echo
printf '%s\n' "${growth[@]}"
