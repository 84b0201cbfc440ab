#!/usr/bin/env bash
# The Debian package, built and tried as a user gets it: CPack builds it in a build folder of
# its own (Release, no tests), lintian checks it (errors fail, warnings are shown), it is
# unpacked into a temporary folder with dpkg-deb -x, its AppStream data is validated and its
# manual pages read, the unpacked tessaly-convert converts a file, and the unpacked program
# starts offscreen in German and is closed again (SIGTERM, which it answers by ending in
# order) with no warning at its start.
#
#     scripts/package-check.sh [BUILD_FOLDER]      (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-package}"
scripts/install-deps.sh

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"
rm -f "$build"/tessaly_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/tessaly_*.deb)
deb=${debs[0]}
echo "package: $deb"
dpkg-deb --field "$deb" Version Depends Recommends

# Warnings and notes are shown; an error fails. (lintian warns when run as root.)
lintian --fail-on error "$deb" 2> >(grep -v 'root privileges' >&2)

root=$(mktemp -d)
program=""
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$root"
for file in usr/bin/tessaly usr/bin/tessaly-convert usr/lib/tessaly/tessaly \
            usr/lib/tessaly/Languages/German.lang.txt usr/lib/tessaly/Languages/LanguageCodes.csv \
            usr/share/applications/tessaly.desktop usr/share/icons/hicolor/scalable/apps/tessaly.svg \
            usr/share/metainfo/example.orvanta.tessaly.metainfo.xml \
            usr/share/man/man1/tessaly.1.gz usr/share/man/man1/tessaly-convert.1.gz \
            usr/share/doc/tessaly/copyright usr/share/doc/tessaly/changelog.Debian.gz; do
  [ -e "$root/$file" ] || { echo "package-check: missing from the package: /$file" >&2; exit 1; }
done
appstreamcli validate "$root/usr/share/metainfo/example.orvanta.tessaly.metainfo.xml"
for page in tessaly tessaly-convert; do
  MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" >"$root/$page.txt" 2>/dev/null
done
grep -q -- '--preset=NAME' "$root/tessaly-convert.txt" \
  || { echo "package-check: the manual page of tessaly-convert lacks its options" >&2; exit 1; }

# The unpacked converter.
"$root/usr/bin/tessaly-convert" --version
"$root/usr/bin/tessaly-convert" --preset google -o "$root/contacts.csv" resources/examples/example.vcf
head -c 3 "$root/contacts.csv" | cmp -s - <(printf '\xef\xbb\xbf') \
  || { echo "package-check: the converted file does not start as UTF-8 CSV" >&2; exit 1; }
rows=$(grep -c . "$root/contacts.csv")
[ "$rows" -gt 1 ] || { echo "package-check: the converted file has no rows" >&2; exit 1; }
echo "tessaly-convert: $((rows - 1)) contacts in $root/contacts.csv"

# The unpacked program, offscreen and in German, with a file to load; no web host is asked.
mkdir -p "$root/config" "$root/runtime"
chmod 700 "$root/runtime"
QT_QPA_PLATFORM=offscreen LANG=de_DE.UTF-8 LC_ALL= XDG_CONFIG_HOME="$root/config" \
  XDG_RUNTIME_DIR="$root/runtime" TESSALY_WEB_HOST=127.0.0.1:1 \
  "$root/usr/bin/tessaly" "$PWD/resources/examples/example.vcf" 2>"$root/tessaly.err" &
program=$!
# It is up once it catches SIGTERM (bit 15 of its caught-signals mask); 20 s at most.
up=no
for _ in $(seq 200); do
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$program/status" 2>/dev/null || true)
  if [ -n "$mask" ] && (( (16#$mask >> 14) & 1 )); then
    up=yes
    break
  fi
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
if [ "$up" != yes ]; then
  echo "package-check: the unpacked program did not start" >&2
  cat "$root/tessaly.err" >&2
  exit 1
fi
kill -TERM "$program"
status=0
wait "$program" || status=$?
program=""
if [ "$status" -ne 0 ] || grep -qE 'WARNUNG|WARNING' "$root/tessaly.err"; then
  echo "package-check: the unpacked program ended with status $status:" >&2
  cat "$root/tessaly.err" >&2
  exit 1
fi
echo "tessaly: started offscreen in German and closed (status 0)"
echo "package-check: $deb passed"
