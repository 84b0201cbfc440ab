#!/bin/sh
# Fingerprints everything a converter writes, so that two builds can be compared byte for byte:
#   tools/output-hashes.sh CONVERTER OUTFILE
#   tools/output-hashes.sh other/tessaly-convert other.txt && diff OUTFILE other.txt
#
# Inputs: every file of the vCard corpus ($TESSALY_CORPUS, else ../shared/corpus beside the
# source folder) and three files made by gen_vcf.py ($GEN_VCF, else ../shared/tools/gen_vcf.py)
# with fixed seeds: 3,000 cards of mixed versions, 2,000 cards of 2.1 and 1,500 cards in UTF-16LE
# with a byte-order mark. Each input is converted into .csv, .txt, .xls and .xlsx, once for every
# --encoding with no preset and with each preset, and once with --no-headers, with --no-sort,
# with both and with --separator ';' (UTF-8, no preset). OUTFILE gets one line per run,
#   SHA256  INPUT | OPTIONS | .EXT | exit STATUS
# sorted by the description, plus one "SHA256  input NAME" line per generated input, so that a
# change of the generator shows as such. A run that writes no file has "no-output" as its hash.
#
# The .csv, .txt and .xls files are hashed as written: the .xls writer puts no time into its
# files. An .xlsx file is not: libxlsxwriter gives every zip entry the fixed date 1980-01-01, but
# docProps/core.xml holds the time of writing (dcterms:created and dcterms:modified, to the
# second), so two runs differ in bytes. For .xlsx the hash covers the unzipped parts in name
# order (each as name, size and content) with those two times blanked, which also makes it
# independent of the zip compression.
#
# Everything runs under LANG=en_US.UTF-8 (ANSI is code page 1252, the list separator ",").
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 CONVERTER OUTFILE" >&2
    exit 2
fi
converter=$(realpath "$1")
outfile=$2
here=$(cd "$(dirname "$0")/.." && pwd)
corpus=${TESSALY_CORPUS:-$here/../shared/corpus}
gen_vcf=${GEN_VCF:-$here/../shared/tools/gen_vcf.py}
[ -x "$converter" ] || { echo "no converter at $1" >&2; exit 2; }
[ -d "$corpus" ] || { echo "no corpus folder at $corpus" >&2; exit 2; }
[ -f "$gen_vcf" ] || { echo "no gen_vcf.py at $gen_vcf" >&2; exit 2; }

export LANG=en_US.UTF-8
unset LC_ALL LC_CTYPE LC_NUMERIC LC_COLLATE LANGUAGE

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/inputs" "$work/out"

generate() {
    python3 "$gen_vcf" --quiet "$@"
}
generate --cards 3000 --seed 11 --version mixed -o "$work/inputs/gen-mixed-3000.vcf"
generate --cards 2000 --seed 12 --version 2.1 -o "$work/inputs/gen-v21-2000.vcf"
generate --cards 1500 --seed 13 --version mixed --encoding utf-16le -o "$work/inputs/gen-utf16le-1500.vcf"
for path in "$work"/inputs/*.vcf; do
    printf '%s  input %s\n' "$(sha256sum < "$path" | cut -d' ' -f1)" "$(basename "$path")"
done > "$work/lines"

# The hashes of one input's outputs, listed in manifest as "FILE<TAB>DESCRIPTION" lines.
hash_outputs() {
    python3 - "$1" <<'PYTHON'
import hashlib, os, re, sys, zipfile

TIMES = re.compile(rb'(<dcterms:(created|modified)[^>]*>)[^<]*(</dcterms:)')

def xlsx_hash(path):
    digest = hashlib.sha256()
    with zipfile.ZipFile(path) as workbook:
        for name in sorted(workbook.namelist()):
            data = workbook.read(name)
            if name == 'docProps/core.xml':
                data = TIMES.sub(rb'\1\3', data)
            digest.update(b'%s\n%d\n' % (name.encode(), len(data)) + data)
    return digest.hexdigest()

with open(sys.argv[1], encoding='utf-8') as manifest:
    for line in manifest:
        path, description = line.rstrip('\n').split('\t', 1)
        if not os.path.exists(path):
            digest = 'no-output'
        elif path.endswith('.xlsx'):
            try:
                digest = xlsx_hash(path)
            except zipfile.BadZipFile:
                digest = 'not-a-zip-' + hashlib.sha256(open(path, 'rb').read()).hexdigest()
        else:
            digest = hashlib.sha256(open(path, 'rb').read()).hexdigest()
        print(f'{digest}  {description}')
PYTHON
}

# One run: convert input into a numbered output with the options; note it in the manifest.
run_count=0
convert() {
    input=$1
    name=$2
    extension=$3
    shift 3
    run_count=$((run_count + 1))
    output=$work/out/$run_count.$extension
    status=0
    "$converter" "$@" -o "$output" "$input" >/dev/null 2>&1 || status=$?
    label=$*
    printf '%s\t%s | %s | .%s | exit %s\n' "$output" "$name" "${label:-(defaults)}" "$extension" "$status" \
        >> "$work/manifest"
}

{ find "$corpus" -maxdepth 1 -type f -name '*.vcf' | LC_ALL=C sort; ls "$work"/inputs/*.vcf; } > "$work/input-list"
while IFS= read -r input; do
    name=$(basename "$input")
    case $input in "$work"/inputs/*) name="generated $name" ;; esac
    : > "$work/manifest"
    for extension in csv txt xls xlsx; do
        for encoding in ansi utf-8 utf-16; do
            convert "$input" "$name" "$extension" --encoding "$encoding"
            for preset in default excel google outlook yahoo; do
                convert "$input" "$name" "$extension" --preset "$preset" --encoding "$encoding"
            done
        done
        convert "$input" "$name" "$extension" --no-headers
        convert "$input" "$name" "$extension" --no-sort
        convert "$input" "$name" "$extension" --no-headers --no-sort
        convert "$input" "$name" "$extension" --separator ';'
    done
    hash_outputs "$work/manifest" >> "$work/lines"
    rm -f "$work"/out/*
done < "$work/input-list"

LC_ALL=C sort -k2 "$work/lines" > "$outfile"
echo "$(wc -l < "$outfile") lines in $outfile ($run_count runs)" >&2
