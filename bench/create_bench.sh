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

BASE=${BASE:?set BASE to the baseline ostmere program}
NEW=${NEW:-build/ostmere}
RUNS=${RUNS:-7}
FILES=${FILES:-2000}
TREE=bench/work/create-tree
PATCHDIR=${PATCHDIR:-$TREE}

command -v hyperfine >/dev/null || { echo "hyperfine is missing" >&2; exit 1; }

# Seeded AES-CTR key streams: reproducible and incompressible.
stream() { # key-number bytes
    head -c "$2" /dev/zero |
        openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$1")" -iv 00000000000000000000000000000000
}
if [ "$(cat "$TREE/.shape" 2>/dev/null)" != "$FILES" ]; then
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
    echo "$FILES" >"$TREE/.shape"
fi

hyperfine -N -w 1 -r "$RUNS" --export-json "$TREE/result.json" \
    -n baseline "$BASE diff $TREE/old $TREE/new $PATCHDIR/base.tkp" \
    -n this "$NEW diff $TREE/old $TREE/new $PATCHDIR/this.tkp"
python3 - "$TREE/result.json" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(f'{r["command"]:10} median {r["median"]:.3f} s  user {r["user"]:.3f} s  system {r["system"]:.3f} s')
PY
