#!/bin/sh
# Runs a command on a private X display (Xvfb) whose desktop has a notification area: the
# panel program trayer. Exits with the command's status.
set -eu
exec xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  trayer --edge top --align right --widthtype pixel --width 160 --height 24 --transparent false &
  tray=$!
  status=0
  "$@" || status=$?
  kill "$tray" 2>/dev/null || true
  exit "$status"' with-tray "$@"
