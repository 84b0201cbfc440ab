#!/usr/bin/env bash
# Configures and builds Tessaly into a build folder: build/ by default, build-asan/ with --sanitize.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-asan
  options=(-DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON)
fi
[ "${CI:-}" = "true" ] && options+=(-DTESSALY_WERROR=ON)

cmake -S . -B "$build_dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
