#!/usr/bin/env bash
# Fails when a source file differs from the project's clang-format style, or when the engine's
# stage folders include upwards or in a circle.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
python3 scripts/check-layers.py
