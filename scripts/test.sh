#!/usr/bin/env bash
# Builds Tessaly and runs every test. With --sanitize, under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
build_dir=build
[ "${1:-}" = "--sanitize" ] && build_dir=build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp"
ctest --test-dir "$build_dir" --output-on-failure --timeout 600
