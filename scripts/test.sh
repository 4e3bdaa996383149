#!/usr/bin/env bash
# Installs, builds and runs every test; then builds them again with the address and
# undefined-behaviour sanitizers and runs them once more (scripts/sanitize.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600)
bash scripts/sanitize.sh
