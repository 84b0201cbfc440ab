#!/usr/bin/env bash
# Screenshots of the Preview window on a virtual X display, opened from the File menu with a
# file loaded: the example address book in English and in German (LANG=de_DE.UTF-8 picks the
# German language file), and a generated book of 1,000,000 contacts in English, both while the
# first rows are shown and once the whole table is, then with All fields checked, in the default
# layout and in the Yahoo layout. Writes PNG files into the folder given (default out/screenshots).
#
#     tools/preview-screenshots.sh [OUTPUT_FOLDER] [--build-dir DIR] [--cards N] [--data DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=out/screenshots
build_dir=build
cards=1000000
data="${TESSALY_BENCH_DATA:-/tmp/tessaly-bench}"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir="$2"; shift 2 ;;
    --cards) cards="$2"; shift 2 ;;
    --data) data="$2"; shift 2 ;;
    *) out="$1"; shift ;;
  esac
done
mkdir -p "$out" "$data"
if [ "$build_dir" = build ]; then
  scripts/build.sh >/dev/null
else
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" --target tessaly_preview_screenshots >/dev/null
tool="$build_dir/tests/windows/tessaly_preview_screenshots"
# The same generated book as the benchmarks', made once and reused.
large="$data/cards-$cards.vcf"
if [ ! -s "$large" ]; then
  /usr/bin/python3 ../shared/tools/gen_vcf.py --cards "$cards" --seed 1 --version mixed -o "$large"
fi
# A fresh data folder each time, so that no stored language choice interferes.
rm -f "$(dirname "$tool")/settings.ini"
for run in "preview-en en_US.UTF-8 resources/examples/example.vcf" \
           "preview-de de_DE.UTF-8 resources/examples/example.vcf" \
           "preview-$cards en_US.UTF-8 $large"; do
  set -- $run
  LANG="$2" LC_ALL= QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$tool" "$out" "$1" "$3"
done
