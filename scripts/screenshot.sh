#!/usr/bin/env bash
# Makes the pictures in docs/: every tab of the desktop program (docs/screenshot.png is the
# first) and the four ways a run can end, each started on a virtual X display with empty
# settings on trees made here. The mismatch after Apply comes from a file that cannot be
# removed (immutable attribute, needs root) while "Continue on Filesystem Errors" is ticked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh xvfb xauth e2fsprogs
[ -x build/ostmere-gui ] && [ -x build/ostmere ] || bash scripts/build.sh
mkdir -p docs
work=$(mktemp -d)
trap 'chattr -i "$work/target/gone.txt" 2>/dev/null || true; rm -rf "$work"' EXIT

shot() { # FILE ARGS...: one run of the program on a fresh display with fresh settings
    local file=$1
    shift
    rm -rf "$work/settings"
    XDG_CONFIG_HOME="$work/settings" QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1280x1024x24" build/ostmere-gui "$@" --screenshot "$file"
    echo "wrote $file"
}

for tab in 0 1 2 3 4 5 6; do
    shot "docs/tab$tab.png" --tab "$tab"
done
cp docs/tab0.png docs/screenshot.png

mkdir -p "$work/old/sub" "$work/new/sub"
for i in $(seq 1 3000); do echo "$i" >"$work/old/sub/f$i.txt"; done
cp -r "$work/old/." "$work/new/"
echo "remove me" >"$work/old/gone.txt"
echo "changed" >"$work/new/sub/f1.txt"
build/ostmere --quiet diff "$work/old" "$work/new" "$work/p.tkp"
cp -r "$work/old" "$work/target"
chattr +i "$work/target/gone.txt"

shot docs/ending-success.png --fingerprint "$work/new"
shot docs/ending-failure.png --fingerprint "$work/missing"
shot docs/ending-cancel.png --fingerprint "$work/new" --cancel-at "Calculating file ids..."
shot docs/ending-mismatch.png --apply "$work/target" "$work/p.tkp" --continue-on-errors
