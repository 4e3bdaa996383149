#!/usr/bin/env bash
# Benchmarks ostmere against openssl (hashing) and rsync batches (create, apply) on generated
# trees kept in bench/work/, and writes the table to bench/results.md.
#
#   bench/run.sh [--quick] [--trees small,large,mixed] [--no-memcheck] [--large-mib N]
#                [--apply-only] [--baseline COMMIT]
#
# --baseline builds the program of an earlier commit (bench/work/base-COMMIT) and measures its
# apply beside the current one, in the same run.
#
# Needs a Release build in build/ (scripts/build.sh), rsync, openssl and /usr/bin/time.
# The full run needs about 15 GiB of free disk; --quick about 1 GiB.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/timing.sh"
mkdir -p "$here/work"
require_build "$here/.."
require_tools rsync openssl /usr/bin/time
if [ ! -x "$here/work/gen" ] || [ "$here/gen.cpp" -nt "$here/work/gen" ]; then
  g++ -O2 -std=c++20 -o "$here/work/gen" "$here/gen.cpp"
  # Trees made by an older generator would no longer match their seeds.
  find "$here/work" -mindepth 1 -maxdepth 1 -type d -exec chmod -R u+w {} + -exec rm -rf {} +
fi
exec python3 "$here/bench.py" "$@"
