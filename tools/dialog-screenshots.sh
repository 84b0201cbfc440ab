#!/usr/bin/env bash
# Screenshots of Qt's own dialogs as the main window shows them, on a virtual X display with a
# notification area (trayer), in English, German and Russian (LANG picks the language file and
# with it Qt's catalogue): the save dialog, the overwrite question, the File menu, the question
# when the window is closed during an export, the feedback window with a choice in focus and
# the tray notification. Writes PNG files into the folder given (default out/screenshots).
#
#     tools/dialog-screenshots.sh [OUTPUT_FOLDER] [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-out/screenshots}"
build="${2:-build}"
mkdir -p "$out"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tessaly_dialog_screenshots -j2 >/dev/null
tool="$build/tests/windows/tessaly_dialog_screenshots"
# A fresh data folder each time, so that no stored language choice interferes.
rm -f "$(dirname "$tool")/settings.ini"
for run in "en en_US.UTF-8" "de de_DE.UTF-8" "ru ru_RU.UTF-8"; do
  set -- $run
  LANG="$2" LC_ALL= QT_QPA_PLATFORM=xcb tests/windows/with-tray.sh "$tool" "$out" "dialogs-$1"
done
