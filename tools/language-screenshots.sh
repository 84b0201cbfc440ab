#!/usr/bin/env bash
# Screenshots of the language window on a virtual X display: the window, its list open and
# the confirmation asked for another language, in English and in German. Writes PNG files into
# the folder given (default out/screenshots). BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-out/screenshots}"
build_dir="${BUILD_DIR:-build}"
mkdir -p "$out"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" --target tessaly_language_screenshots >/dev/null
tool="$build_dir/tests/windows/tessaly_language_screenshots"
for run in "en -" "de German.lang.txt"; do
  set -- $run
  setting="$2"
  [ "$setting" = "-" ] && setting=""
  LANG=en_US.UTF-8 LC_ALL= QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$tool" "$out" "$1" ${setting:+"$setting"}
done
