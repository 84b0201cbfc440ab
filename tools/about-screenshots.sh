#!/usr/bin/env bash
# Screenshots of the About window on a virtual X display: two frames of the animation a second
# apart and the Info menu, in English and in German (LANG=de_DE.UTF-8 picks the German language
# file). Writes PNG files into the folder given (default out/screenshots).
#
#     tools/about-screenshots.sh [OUTPUT_FOLDER] [--build-dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=out/screenshots
build_dir=build
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir="$2"; shift 2 ;;
    *) out="$1"; shift ;;
  esac
done
mkdir -p "$out"
if [ "$build_dir" = build ]; then
  scripts/build.sh >/dev/null
else
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" --target tessaly_about_screenshots >/dev/null
tool="$build_dir/tests/windows/tessaly_about_screenshots"
# A fresh data folder each time, so that no stored language choice interferes.
rm -f "$(dirname "$tool")/settings.ini"
for run in "en en_US.UTF-8" "de de_DE.UTF-8"; do
  set -- $run
  LANG="$2" LC_ALL= QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$tool" "$out" "$1"
done
