#!/usr/bin/env bash
# Compact patches (diff --compact, diff-vault --compact) against base patches, rsync batches and
# per-file zstd --patch-from on three generated trees kept in bench/work/, and writes the section
# "Compact patches" of bench/results.md.
#
#   bench/compact_bench.sh [--trees a,b,c] [--runs N] [--large-mib N]
#
# Needs a Release build in build/ (scripts/build.sh), rsync, zstd and /usr/bin/time; about
# 9 GiB of free disk for tree (b).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/timing.sh"
mkdir -p "$here/work"
require_build "$here/.."
require_tools rsync zstd /usr/bin/time
if [ ! -x "$here/work/gen" ] || [ "$here/gen.cpp" -nt "$here/work/gen" ]; then
  g++ -O2 -std=c++20 -o "$here/work/gen" "$here/gen.cpp"
fi
exec python3 "$here/compact_bench.py" "$@"
