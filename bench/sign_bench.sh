#!/usr/bin/env bash
# What signing and checking a signature cost on a large patch. Two trees whose FILES files of
# MIB MiB all differ make a patch of FILES x MIB MiB (2 GiB by default); on it are timed: diff
# without and with --sign, verify without and with a trusted key, and `openssl sha256` of the
# patch, each the median of RUNS runs on a warm page cache (wall, user+sys and user time). The
# goal: signing and checking add at most the time of one SHA-256 pass over the patch.
#
#   bash bench/sign_bench.sh              # 8 files of 256 MiB
#   FILES=2 MIB=64 bash bench/sign_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh

FILES=${FILES:-8}
MIB=${MIB:-256}
RUNS=${RUNS:-3}
SEED=${SEED:-20261210}
BIN=build/ostmere
WORK=bench/work/sign

require_build .

# The newer tree's files are seeded pseudo-random content; the older tree holds the same names
# with a few bytes each, so every file of the newer tree is stored whole.
make_trees() {
    local shape="$FILES x $MIB MiB seed $SEED"
    has_shape "$WORK" "$shape" && return
    rm -rf "$WORK"
    mkdir -p "$WORK/older" "$WORK/newer"
    local i
    for ((i = 0; i < FILES; i++)); do
        key_stream $((MIB * 1024 * 1024)) "$SEED" "$i" >"$WORK/newer/file$i.bin"
        echo "older $i" >"$WORK/older/file$i.bin"
    done
    mark_shape "$WORK" "$shape"
}

make_trees
rm -f "$WORK/bench.key" "$WORK/bench.key.pub"
"$BIN" --quiet keygen "$WORK/bench.key" >/dev/null
cat "$WORK"/newer/* >/dev/null # warm the page cache

declare -A wall cpu user
measure() {
    local name=$1
    shift
    sync # the writeback of earlier runs' patches is not the next run's work
    read -r "wall[$name]" "cpu[$name]" "user[$name]" < <(median_of_runs "$@")
}
# Trusted keys installed on this machine must not count for the runs without one.
export OSTMERE_SYSCONFDIR="$WORK/no-config" XDG_CONFIG_HOME="$WORK/no-config"

measure diff "$BIN" --quiet diff "$WORK/older" "$WORK/newer" "$WORK/plain.tkp"
measure diffsign "$BIN" --quiet diff "$WORK/older" "$WORK/newer" "$WORK/signed.tkp" \
    --sign "$WORK/bench.key"
"$BIN" --quiet verify "$WORK/signed.tkp" --trusted-key "$WORK/bench.key.pub"
measure verify "$BIN" --quiet verify "$WORK/signed.tkp"
measure verifykey "$BIN" --quiet verify "$WORK/signed.tkp" --trusted-key "$WORK/bench.key.pub"
measure sha256 openssl sha256 "$WORK/signed.tkp"

patch_mib=$(($(stat -c %s "$WORK/signed.tkp") / 1024 / 1024))
echo "patch: $patch_mib MiB ($FILES files x $MIB MiB), median of $RUNS warm runs"
echo
echo "| run | wall | user+sys | user |"
echo "|---|---|---|---|"
row() { printf '| %s | %.2f s | %.2f s | %.2f s |\n' "$1" "${wall[$2]}" "${cpu[$2]}" "${user[$2]}"; }
row "diff" diff
row "diff --sign" diffsign
row "verify" verify
row "verify --trusted-key" verifykey
row "openssl sha256 of the patch" sha256
echo
# Each cost against one SHA-256 pass (openssl's), by user time: the system time of a diff
# swings by seconds with the writeback of the patches written before it.
cost() { # label with without
    awk -v l="$1" -v w="${wall[$2]}" -v wo="${wall[$3]}" -v c="${cpu[$2]}" -v co="${cpu[$3]}" \
        -v u="${user[$2]}" -v uo="${user[$3]}" -v s="${user[sha256]}" 'BEGIN {
        printf "%s adds %.2f s wall, %.2f s user+sys, %.2f s user (%.2f x one sha256 pass)\n",
            l, w - wo, c - co, u - uo, (u - uo) / s }'
}
cost signing diffsign diff
cost checking verifykey verify
