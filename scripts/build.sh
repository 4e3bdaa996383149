#!/usr/bin/env bash
# Configures and builds into build/ (extra arguments go to cmake's configure step).
set -euo pipefail
cd "$(dirname "$0")/.."
# OSTMERE_WERROR=ON in the environment turns warnings into errors (CI sets it).
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DOSTMERE_WERROR="${OSTMERE_WERROR:-OFF}" "$@" \
    >/dev/null
cmake --build build -j"$(nproc)"
