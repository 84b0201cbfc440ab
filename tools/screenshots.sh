#!/usr/bin/env bash
# Screenshots of the main window on a virtual X display: at start, with two files loaded, with
# the export menu open (without and with All fields) and with the File menu opened by its Alt
# letter (underlined letters), in English and in German (LANG=de_DE.UTF-8 picks the German
# language file). Writes PNG files into the folder given (default out/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-out/screenshots}"
mkdir -p "$out"
scripts/build.sh >/dev/null
cmake --build build --target tessaly_screenshots >/dev/null
tool=build/tests/windows/tessaly_screenshots
example=resources/examples/example.vcf
# A fresh data folder each time, so that no stored language choice interferes.
rm -f "$(dirname "$tool")/settings.ini"
for run in "en en_US.UTF-8" "de de_DE.UTF-8"; do
  set -- $run
  LANG="$2" LC_ALL= QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$tool" "$out" "$1" "$example"
done
