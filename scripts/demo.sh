#!/usr/bin/env bash
# Installs, builds, then shows the main job on a sample tree made here: record the older
# state, change it, create a patch, apply it to a copy of the older tree, verify.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ostmere=$PWD/build/ostmere
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

mkdir -p "$work/older/docs" "$work/older/old-stuff" "$work/older/src"
echo "first release" > "$work/older/README"
echo "int main() { return 0; }" > "$work/older/src/main.c"
echo "obsolete" > "$work/older/old-stuff/notes.txt"
echo "manual v1" > "$work/older/docs/manual.txt"
cp -a "$work/older" "$work/newer"
echo "second release" > "$work/newer/README"
rm -r "$work/newer/old-stuff"
mkdir -p "$work/newer/src/lib"
echo "int helper(void);" > "$work/newer/src/lib/helper.h"
chmod a-w "$work/newer/docs/manual.txt"
cp -a "$work/older" "$work/mirror"

echo "== fingerprints"
echo "older:  $("$ostmere" fingerprint "$work/older")"
echo "newer:  $("$ostmere" fingerprint "$work/newer")"
echo "mirror: $("$ostmere" fingerprint "$work/mirror")"
echo "== create the patch"
"$ostmere" diff "$work/older" "$work/newer" "$work/update.tkp" --report "$work/update.xml"
echo "== apply it to the mirror (a copy of the older tree)"
"$ostmere" apply "$work/mirror" "$work/update.tkp"
echo "mirror: $("$ostmere" fingerprint "$work/mirror")"
diff -r "$work/mirror" "$work/newer" && echo "mirror and newer tree are identical"
