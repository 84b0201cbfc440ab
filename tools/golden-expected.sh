#!/bin/sh
# Writes the expected files of one golden-file case under tests/data/cards/:
#   tools/golden-expected.sh CONVERTER CASE_DIR KIND...      (KIND: csv or txt)
# It runs CONVERTER on CASE_DIR/input.vcf (and CASE_DIR/input2.vcf after it, when the case has
# one) with the options of CASE_DIR/case.ini, the way
# tst_cards does, and stores what it writes as CASE_DIR/expected.KIND. Read every file it
# writes before committing it: a golden file holds what a user wants to see, not whatever the
# converter happens to write (tests/data/cards/README.md).
set -eu

if [ $# -lt 3 ]; then
    echo "usage: $0 CONVERTER CASE_DIR KIND..." >&2
    exit 2
fi
converter=$1
case_dir=$2
shift 2
kinds=$*

# The ANSI code page and the list separator follow the locale: 1252 and "," as in the tests.
export LANG=en_US.UTF-8
unset LC_ALL LC_CTYPE LC_NUMERIC LANGUAGE

fail() {
    echo "$case_dir/case.ini: $1" >&2
    exit 2
}

set --
while IFS= read -r line || [ -n "$line" ]; do
    line=$(printf '%s' "$line" | sed 's/^[ \t]*//; s/[ \t\r]*$//')
    case $line in '' | '#'*) continue ;; *=*) ;; *) fail "not key = value: $line" ;; esac
    key=$(printf '%s' "${line%%=*}" | sed 's/[ \t]*$//')
    value=$(printf '%s' "${line#*=}" | sed 's/^[ \t]*//')
    case $key=$value in
        preset=default | preset=excel | preset=google | preset=outlook | preset=yahoo) set -- "$@" --preset "$value" ;;
        encoding=ansi | encoding=utf-8 | encoding=utf-16) set -- "$@" --encoding "$value" ;;
        headers=on | sort=on | all-fields=off) ;;
        all-fields=on) set -- "$@" --all-fields ;;
        headers=off) set -- "$@" --no-headers ;;
        sort=off) set -- "$@" --no-sort ;;
        separator=tab) set -- "$@" --separator "$(printf '\t')" ;;
        separator=?) set -- "$@" --separator "$value" ;;
        *) fail "unknown key or value: $line" ;;
    esac
done < "$case_dir/case.ini"

for kind in $kinds; do
    case $kind in csv | txt) ;; *) echo "unknown kind $kind (csv or txt)" >&2; exit 2 ;; esac
    tmp=$(mktemp -d)
    if [ -f "$case_dir/input2.vcf" ]; then
        "$converter" "$@" -o "$tmp/out.$kind" "$case_dir/input.vcf" "$case_dir/input2.vcf" >/dev/null
    else
        "$converter" "$@" -o "$tmp/out.$kind" "$case_dir/input.vcf" >/dev/null
    fi
    mv "$tmp/out.$kind" "$case_dir/expected.$kind"
    rmdir "$tmp"
    echo "$case_dir/expected.$kind"
done
