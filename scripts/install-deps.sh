#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tessaly need.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libxlsxwriter-dev libpcre2-dev
  # Qt's own texts (dialogs, buttons) in the shipped languages
  qt6-translations-l10n
  # tests: workbook readers, a display server for windows, setpriv and mount
  python3 python3-openpyxl python3-xlrd libreoffice-calc-nogui xvfb xauth util-linux
  # a FAT volume through FUSE, for writing where no Unix permissions exist
  fusefat dosfstools
  # an independent vCard reader for the All fields round trip over the corpus
  python3-vobject
  # the window: icon sets bundled at build time, the SVG icon engine, a private D-Bus
  # session and a notification area for the window's tests
  famfamfam-silk famfamfam-flag-png breeze-icon-theme libqt6svg6 dbus-daemon trayer
  # the online tests: a test certificate authority; the fuzzers: clang with libFuzzer
  openssl clang libclang-rt-14-dev zlib1g-dev
  # the format and clang-tidy checks of .ci/run
  clang-format-14 clang-tidy-14
  # the Debian package (scripts/package-check.sh): dependencies, manual pages and its checks
  dpkg-dev help2man gzip man-db lintian appstream
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
