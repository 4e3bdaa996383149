#!/usr/bin/env bash
# Patch creation time of two ostmere programs on the same trees, in one hyperfine run: a
# baseline (for example one built from an earlier commit) and this build. Half of the small
# files and one 1 MiB piece of a large file differ, so most of the newer tree is stored.
# Reports the median of RUNS runs, user and system time; the patch is written to PATCHDIR
# (default: the tree's own file system, so syncing the patch is part of the time).
#
#   BASE=/path/to/old/ostmere bash bench/create_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh

BASE=${BASE:?set BASE to the baseline ostmere program}
NEW=${NEW:-build/ostmere}
RUNS=${RUNS:-7}
FILES=${FILES:-2000}
TREE=bench/work/create-tree
PATCHDIR=${PATCHDIR:-$TREE}

require_tools hyperfine

# Seeded key streams (seed 0, the key number as index): reproducible and incompressible.
stream() { key_stream "$2" 0 "$1"; } # key-number bytes
if ! has_shape "$TREE" "$FILES"; then
    rm -rf "$TREE"
    for ((i = 0; i < FILES; i++)); do
        d="d$((i % 40))"
        mkdir -p "$TREE/old/$d" "$TREE/new/$d"
        stream "$i" 65536 >"$TREE/old/$d/f$i"
        if ((i % 2)); then cp "$TREE/old/$d/f$i" "$TREE/new/$d/f$i"; else stream $((i + FILES)) 65536 >"$TREE/new/$d/f$i"; fi
    done
    stream 999999 $((128 << 20)) >"$TREE/old/big"
    cp "$TREE/old/big" "$TREE/new/big"
    stream 999998 $((1 << 20)) | dd of="$TREE/new/big" bs=1M seek=5 conv=notrunc status=none
    mark_shape "$TREE" "$FILES"
fi

hyperfine -N -w 1 -r "$RUNS" --export-json "$TREE/result.json" \
    -n baseline "$BASE diff $TREE/old $TREE/new $PATCHDIR/base.tkp" \
    -n this "$NEW diff $TREE/old $TREE/new $PATCHDIR/this.tkp"
python3 - "$TREE/result.json" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(f'{r["command"]:10} median {r["median"]:.3f} s  user {r["user"]:.3f} s  system {r["system"]:.3f} s')
PY
