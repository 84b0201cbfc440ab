#!/usr/bin/env bash
# Screenshots of the feedback window and the new-version notice on a virtual X display, in
# English and in German. Writes PNG files into the folder given (default out/screenshots).
#
#     tools/online-screenshots.sh [OUTPUT_FOLDER] [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-out/screenshots}"
build="${2:-build}"
mkdir -p "$out"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tessaly_online_screenshots -j2 >/dev/null
tool="$build/tests/windows/tessaly_online_screenshots"
for run in "en" "de German.lang.txt"; do
  set -- $run
  LANG=en_US.UTF-8 LC_ALL= QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$tool" "$out" "online-$1" "$PWD/resources" ${2:+"$2"}
done
