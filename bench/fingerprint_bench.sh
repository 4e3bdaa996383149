#!/usr/bin/env bash
# Hashing speed of `ostmere fingerprint` against `openssl sha1` over the same large files.
# Both run single-threaded on a warm page cache; each is timed RUNS times and the median is
# taken. "hashing ratio" is openssl's time divided by ostmere's: 1.0 means as fast as openssl
# (the goal is at least 0.9).
#
#   bash bench/fingerprint_bench.sh            # 4 files of 256 MiB
#   FILES=2 MIB=64 bash bench/fingerprint_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh

FILES=${FILES:-4}
MIB=${MIB:-256}
RUNS=${RUNS:-3}
SEED=${SEED:-20261210}
BIN=build/ostmere
TREE=bench/work/fingerprint-tree

require_build .

# Pseudo-random content from a seeded AES-CTR key stream: reproducible, incompressible, and
# produced far faster than either program hashes it. Kept between runs when the shape matches.
make_tree() {
    local shape="$FILES x $MIB MiB seed $SEED"
    has_shape "$TREE" "$shape" && return
    rm -rf "$TREE"
    mkdir -p "$TREE/data"
    local i
    for ((i = 0; i < FILES; i++)); do
        key_stream $((MIB * 1024 * 1024)) "$SEED" "$i" >"$TREE/data/file$i.bin"
    done
    mark_shape "$TREE" "$shape"
}

# The fingerprint of the data directory rebuilt from openssl's digests: each file enters as
# its relative path, its attribute word (32 for a plain writable file) and its id, in UTF-16.
expected_fingerprint() {
    local f
    for f in $(cd "$TREE/data" && ls | LC_ALL=C sort); do
        printf '\\%s32%s' "$f" "$(openssl sha1 -r "$TREE/data/$f" | cut -d' ' -f1)"
    done | iconv -f UTF-8 -t UTF-16LE | openssl sha1 -r | cut -d' ' -f1
}

make_tree
cat "$TREE"/data/* >/dev/null # warm the page cache

fingerprint=$("$BIN" --quiet fingerprint "$TREE/data")
if [ "$fingerprint" != "$(expected_fingerprint)" ]; then
    echo "ostmere's fingerprint $fingerprint does not match the one made from openssl's digests" >&2
    exit 1
fi

read -r ostmere_wall ostmere_cpu _ < <(median_of_runs "$BIN" --quiet fingerprint "$TREE/data")
read -r openssl_wall openssl_cpu _ < <(median_of_runs openssl sha1 "$TREE"/data/*)
total_mib=$((FILES * MIB))

echo "tree: $FILES files x $MIB MiB ($total_mib MiB), median of $RUNS warm runs"
awk -v ow="$ostmere_wall" -v oc="$ostmere_cpu" -v sw="$openssl_wall" -v sc="$openssl_cpu" \
    -v m="$total_mib" 'BEGIN {
    printf "ostmere fingerprint: %.3f s wall (%.0f MiB/s), %.3f s cpu\n", ow, m / ow, oc
    printf "openssl sha1:        %.3f s wall (%.0f MiB/s), %.3f s cpu\n", sw, m / sw, sc
    printf "hashing ratio: %.2f\n", sw / ow
    printf "hashing ratio (cpu time): %.2f\n", sc / oc }'
