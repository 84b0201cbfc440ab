#!/bin/sh
# Prints tests/data/corpus-sha256.txt, the SHA-256 of what a converter writes for every file of
# the vCard corpus, which tst_corpus compares:
#   tools/corpus-hashes.sh CONVERTER [CORPUS_DIR] > tests/data/corpus-sha256.txt
# CORPUS_DIR defaults to $TESSALY_CORPUS, else ../shared/corpus beside the source folder.
# Each file is converted with the default options into out.csv and into out.txt, read as UTF-8
# when it starts with a byte-order mark or is valid UTF-8, else with --encoding ansi (code page
# 1252 under LANG=en_US.UTF-8, so those outputs are ANSI as well). tests/golden/tst_corpus.cpp
# decides the reading the same way.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 CONVERTER [CORPUS_DIR]" >&2
    exit 2
fi
converter=$(realpath "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
corpus=${2:-${TESSALY_CORPUS:-$here/../shared/corpus}}
[ -d "$corpus" ] || { echo "no corpus folder at $corpus" >&2; exit 2; }

export LANG=en_US.UTF-8
unset LC_ALL LC_CTYPE LC_NUMERIC LC_COLLATE LANGUAGE

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat <<'HEADER'
# SHA-256 of what tessaly-convert writes for each file of the vCard corpus (../shared/corpus,
# or $TESSALY_CORPUS), checked by tst_corpus: one line per file and output,
#   HASH  KIND  FILE
# KIND "csv" is the table written to out.csv, "txt" the text layout written to out.txt, both
# with the default options. A file that is neither valid UTF-8 nor starts with a byte-order
# mark is read with --encoding ansi (code page 1252 under LANG=en_US.UTF-8) and so written as
# ANSI. HASH "no-output" means the converter found no data (exit status 1) and wrote nothing.
# Regenerate after a deliberate change of the output, and read the changed outputs first:
#   tools/corpus-hashes.sh build/src/cli/tessaly-convert > tests/data/corpus-sha256.txt
HEADER

# In byte order of the names, whatever the locale.
find "$corpus" -maxdepth 1 -type f -name '*.vcf' | LC_ALL=C sort | while IFS= read -r path; do
    file=$(basename "$path")
    encoding=utf-8
    if ! head -c 3 "$path" | od -An -tx1 | grep -Eq '^ *(ef bb bf|ff fe|fe ff)' \
        && ! iconv -f UTF-8 -t UTF-8 "$path" >/dev/null 2>&1; then
        encoding=ansi
    fi
    for kind in csv txt; do
        output=$work/out.$kind
        rm -f "$output"
        status=0
        "$converter" --encoding "$encoding" -o "$output" "$path" >/dev/null 2>"$work/err" || status=$?
        if [ "$status" -eq 0 ] && [ -f "$output" ]; then
            hash=$(sha256sum < "$output" | cut -d' ' -f1)
        elif [ "$status" -eq 1 ] && [ ! -e "$output" ]; then
            hash=no-output
        else
            echo "$file ($kind): exit status $status: $(cat "$work/err")" >&2
            exit 1
        fi
        printf '%s  %s  %s\n' "$hash" "$kind" "$file"
    done
done
