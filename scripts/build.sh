#!/usr/bin/env bash
# Configures and builds Tessaly into a build folder: build/ by default, build-asan/ with
# --sanitize (AddressSanitizer and UBSan), build-tsan/ with --tsan (ThreadSanitizer; only the
# programs whose tests run exports on worker threads are built there).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
targets=()
case "${1:-}" in
  --sanitize)
    build_dir=build-asan
    options=(-DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON)
    ;;
  --tsan)
    build_dir=build-tsan
    options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
             "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer"
             "-DCMAKE_C_FLAGS=-fsanitize=thread -fno-omit-frame-pointer"
             -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread)
    targets=(--target tst_mainwindow tst_exportjobs tst_exportmenu tst_conversionjob tst_cli tst_outputfiles tessaly-convert)
    ;;
esac
[ "${CI:-}" = "true" ] && options+=(-DTESSALY_WERROR=ON -DTESSALY_REQUIRE_CORPUS=ON)

# Configure quietly, but show what it leaves out (a test without its data).
cmake -S . -B "$build_dir" -G Ninja "${options[@]}" | { grep -E "^-- tst_[a-z_]+ skipped" || true; }
cmake --build "$build_dir" --parallel "$(nproc)" "${targets[@]}"
