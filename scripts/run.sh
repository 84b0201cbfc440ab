#!/usr/bin/env bash
# Installs what Tessaly needs, builds it and opens its window with the example address book loaded.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/src/app/tessaly resources/examples/example.vcf
