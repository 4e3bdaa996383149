#!/usr/bin/env bash
# What carrying links, permission bits and times costs: diff and apply time of two ostmere
# programs (a baseline built before they were carried, and this build) on the same trees of
# small files, in one hyperfine run each, and the system calls per item of a scan (no second
# stat per item may come from the metadata).
#
#   BASE=/path/to/old/ostmere bash bench/fidelity_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh

BASE=${BASE:?set BASE to the baseline ostmere program}
NEW=${NEW:-build/ostmere}
RUNS=${RUNS:-5}
FILES=${FILES:-20000}
TREE=bench/work/fidelity-tree

require_tools hyperfine

if ! has_shape "$TREE" "$FILES"; then
    rm -rf "$TREE"
    mkdir -p "$TREE"
    python3 - "$TREE" "$FILES" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for side in ("old", "new"):
    for i in range(count):
        d = f"{root}/{side}/d{i % 200:03d}"
        os.makedirs(d, exist_ok=True)
        changed = side == "new" and i % 10 == 0
        with open(f"{d}/f{i}", "wb") as f:
            f.write((f"{i} {'new' if changed else 'old'} " * 200).encode()[:4096])
        os.chmod(f"{d}/f{i}", 0o755 if i % 7 == 0 else 0o644)
        if i % 50 == 0:
            os.symlink(f"f{i}", f"{d}/l{i}")
PY
    mark_shape "$TREE" "$FILES"
fi

hyperfine -N -w 1 -r "$RUNS" --export-json "$TREE/diff.json" \
    -n "diff baseline" "$BASE --quiet diff $TREE/old $TREE/new $TREE/base.tkp" \
    -n "diff this" "$NEW --quiet diff $TREE/old $TREE/new $TREE/this.tkp" >/dev/null
hyperfine -w 1 -r "$RUNS" --export-json "$TREE/apply.json" \
    --prepare "rm -rf $TREE/t && cp -a $TREE/old $TREE/t" \
    -n "apply baseline" "$BASE --quiet apply $TREE/t $TREE/base.tkp" \
    -n "apply this" "$NEW --quiet apply $TREE/t $TREE/this.tkp" >/dev/null
python3 - "$TREE/diff.json" "$TREE/apply.json" <<'PY'
import json, sys
for name in sys.argv[1:]:
    for r in json.load(open(name))["results"]:
        print(f'{r["command"]:16} median {r["median"]:.3f} s  user {r["user"]:.3f} s  system {r["system"]:.3f} s')
PY

if command -v strace >/dev/null; then
    items=$(find "$TREE/new" -mindepth 1 | wc -l)
    for who in baseline this; do
        program=$BASE
        [ "$who" = this ] && program=$NEW
        strace -f -c -o "$TREE/strace.txt" "$program" --quiet fingerprint "$TREE/new" >/dev/null
        awk -v items="$items" -v who="fingerprint $who" '
            $NF ~ /^(newfstatat|statx|fstat|lstat|stat|openat|readlinkat|read)$/ {
                printf "%-22s %-12s %6.2f per item\n", who, $NF, $4 / items }' "$TREE/strace.txt"
    done
fi
