#!/usr/bin/env bash
# Installs what Tessaly needs, builds it and converts the example address book.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
mkdir -p out
build/src/cli/tessaly-convert -o out/example.csv resources/examples/example.vcf
echo "The example address book is now a table: $(pwd)/out/example.csv"
# The program itself, with the example loaded.
build/src/app/tessaly resources/examples/example.vcf
