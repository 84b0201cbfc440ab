#!/usr/bin/env bash
# Builds Tessaly and runs every test, then runs each fuzz target briefly (scripts/fuzz.sh 8).
# With --sanitize, the tests run under AddressSanitizer and UBSan; with --tsan, the tests that
# run work on worker threads (exports, the preview, the update check) run under ThreadSanitizer
# (no fuzzing in either).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
case "${1:-}" in
  --sanitize)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp"
    ctest --test-dir build-asan --output-on-failure --timeout 600
    ;;
  --tsan)
    # die_after_fork=0: the window's tests start programs (openssl for the test server's
    # certificates) from a process that has threads, and ThreadSanitizer would otherwise stop
    # the forked child on its way to exec.
    export TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:second_deadlock_stack=1:suppressions=$(pwd)/tests/tsan.supp"
    ctest --test-dir build-tsan --output-on-failure --timeout 900 -R '^(tst_mainwindow|tst_exportjobs|tst_exportmenu|tst_conversionjob|tst_cli|tst_outputfiles|tst_preview|tst_updatecheckwiring)$'
    ;;
  *)
    ctest --test-dir build --output-on-failure --timeout 600
    # Every fuzz target (six) for 8 seconds: under a minute of fuzzing in all.
    scripts/fuzz.sh 8
    ;;
esac
