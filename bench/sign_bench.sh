#!/usr/bin/env bash
# What signing and checking a signature cost on a large patch. Two trees whose FILES files of
# MIB MiB all differ make a patch of FILES x MIB MiB (2 GiB by default); on it are timed: diff
# without and with --sign, verify without and with a trusted key, and `openssl sha256` of the
# patch, each the median of RUNS runs on a warm page cache. The goal: signing and checking add
# at most the time of one SHA-256 pass over the patch.
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

if [ ! -x "$BIN" ]; then
    echo "build/ostmere is missing; run scripts/build.sh first" >&2
    exit 1
fi

# The newer tree's files are seeded pseudo-random content; the older tree holds the same names
# with a few bytes each, so every file of the newer tree is stored whole.
make_trees() {
    local stamp="$WORK/.shape"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$FILES x $MIB MiB seed $SEED" ]; then
        return
    fi
    rm -rf "$WORK"
    mkdir -p "$WORK/older" "$WORK/newer"
    local i
    for ((i = 0; i < FILES; i++)); do
        key_stream $((MIB * 1024 * 1024)) "$SEED" "$i" >"$WORK/newer/file$i.bin"
        echo "older $i" >"$WORK/older/file$i.bin"
    done
    echo "$FILES x $MIB MiB seed $SEED" >"$stamp"
}

make_trees
rm -f "$WORK/bench.key" "$WORK/bench.key.pub"
"$BIN" --quiet keygen "$WORK/bench.key" >/dev/null
cat "$WORK"/newer/* >/dev/null # warm the page cache

declare -A wall cpu
measure() {
    local name=$1
    shift
    read -r "wall[$name]" "cpu[$name]" < <(median_of_runs "$@")
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
echo "| run | wall | user+sys |"
echo "|---|---|---|"
row() { printf '| %s | %.2f s | %.2f s |\n' "$1" "${wall[$2]}" "${cpu[$2]}"; }
row "diff" diff
row "diff --sign" diffsign
row "verify" verify
row "verify --trusted-key" verifykey
row "openssl sha256 of the patch" sha256
echo
awk -v d="${wall[diff]}" -v ds="${wall[diffsign]}" -v v="${wall[verify]}" \
    -v vk="${wall[verifykey]}" -v s="${wall[sha256]}" -v dc="${cpu[diff]}" \
    -v dsc="${cpu[diffsign]}" -v vc="${cpu[verify]}" -v vkc="${cpu[verifykey]}" \
    -v sc="${cpu[sha256]}" 'BEGIN {
    printf "signing adds %.2f s wall, %.2f s cpu (%.2f x one sha256 pass by cpu)\n", ds - d, dsc - dc, (dsc - dc) / sc
    printf "checking adds %.2f s wall, %.2f s cpu (%.2f x one sha256 pass by cpu)\n", vk - v, vkc - vc, (vkc - vc) / sc }'
