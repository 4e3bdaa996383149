#!/usr/bin/env bash
# Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/: patches and vaults that
# build/ostmere makes of small sample trees, and filter texts with paths. Run after
# scripts/build.sh. Files of fuzz/corpus that this script does not make (regression inputs kept
# from fuzzing) are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=build/ostmere
[ -x "$cli" ] || { echo "build $cli first (scripts/build.sh)" >&2; exit 1; }
corpus=fuzz/corpus
mkdir -p "$corpus/patch" "$corpus/vault" "$corpus/filter"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

# tree ROOT ENTRY...: "dir/" makes a directory, "path=text" a file holding text.
tree() {
    local root=$1 entry path
    shift
    mkdir -p "$root"
    for entry in "$@"; do
        case $entry in
        */) mkdir -p "$root/$entry" ;;
        *)
            path=${entry%%=*}
            mkdir -p "$root/$(dirname "$path")"
            printf '%s' "${entry#*=}" >"$root/$path"
            ;;
        esac
    done
}

long=$(printf 'line of a file longer than the work buffer of the fuzz sink %04d\n' $(seq 1 12))
tree "$work/empty"
tree "$work/base" a.txt=alpha sub/b.txt=beta sub/deep/ x.tmp=ignored ro.txt=fixed
chmod a-w "$work/base/ro.txt"
tree "$work/changed" a.txt=ALPHA new/c.txt=gamma empty.txt= x.tmp=other ro.txt=fixed \
    "long.txt=$long"
chmod a-w "$work/changed/ro.txt"
# Made with an innocent name, then turned into one that climbs out of the target with "/".
tree "$work/climb" a/ a_.._.._x/

patch() { "$cli" diff "$@" >/dev/null; }
patch "$work/empty" "$work/base" "$corpus/patch/new-tree.tkp"
patch "$work/base" "$work/changed" "$corpus/patch/changes.tkp" --filter '*.tmp'
patch "$work/changed" "$work/empty" "$corpus/patch/removals.tkp"
patch "$work/base" "$work/base" "$corpus/patch/no-change.tkp"
patch "$work/base" "$work/changed" "$corpus/patch/compact-changes.tkp" --filter '*.tmp' --compact
patch "$work/empty" "$work/climb" "$work/climb.tkp"
perl -0777 -pe 's/a\0_\0\.\0\.\0_\0\.\0\.\0_\0x\0/a\0\/\0.\0.\0\/\0.\0.\0\/\0x\0/g' \
    "$work/climb.tkp" >"$corpus/patch/climb-with-slash.tkp"
# Signed: the signature record ends the patch, after the file table and the metadata record.
"$cli" keygen "$work/seed.key" >/dev/null
patch "$work/base" "$work/changed" "$corpus/patch/signed.tkp" --filter '*.tmp' --sign "$work/seed.key"
# A writer that stopped before setting the completion flag.
cp "$corpus/patch/changes.tkp" "$corpus/patch/unfinished.tkp"
printf '\0' | dd of="$corpus/patch/unfinished.tkp" bs=1 seek=30 conv=notrunc status=none

# Vaults need the XML layer; without it the vault seeds already in the corpus are kept.
if "$cli" vault "$work/base" "$work/base.tkv" --filter '*.tmp' >/dev/null 2>&1; then
    cp "$work/base.tkv" "$corpus/vault/base.tkv"
    "$cli" vault "$work/empty" "$corpus/vault/empty.tkv" >/dev/null
    "$cli" vault "$work/changed" "$corpus/vault/changed.tkv" --filter '*.tmp;\sub' >/dev/null
    "$cli" diff-vault "$work/changed" "$work/base.tkv" "$corpus/patch/from-vault.tkp" \
        --update-vault >/dev/null
    cp "$work/base.tkv" "$corpus/vault/updated.tkv"
else
    echo "vault writing failed; kept the vault seeds in $corpus/vault" >&2
fi

# Filter inputs: the filter on the first line, one relative path on each further line.
filter() {
    local name=$1
    shift
    printf '%s\n' "$@" >"$corpus/filter/$name.txt"
}
filter after-star '*.obj' '\x.objects\y' '\a.obj' '\b.txt' '\.obj'
filter before-star 'Debug*' '\Debug' '\Debug\a.obj' '\MyDebugger'
filter stars '*tmp*' '\tmp' '\a\tmp\b' '\tmp.x'
filter exact '\Debug' '\Debug' '\Debug\x' '\a\Debug' 'Debug'
filter several 'a*b;;*.pch; *.obj;' '\ab' '\a b' '\axb' '\x.pch' '\ y.obj' '\y.obj'
filter only-stars '*;**;***' '\a' '\*'
filter repeats 'ab*ab*ab' '\ababab' '\abxabxab' '\ab\ab\ab\ab'
filter non-ascii '*ü*;\Größe' '\Größe' '\aüb' $'\\\xff\xfe'
ls -l "$corpus"/*
