#!/usr/bin/env bash
# Time of a fingerprint run in the desktop program's window against the same run of the
# command-line program, over trees of many small files (where the engine reports progress
# for every file). Each is run RUNS times on a warm page cache and the median is taken.
# "ratio" is window / command line; the goal is at most 1.2.
#
#   bash bench/gui_bench.sh                 # 20,000 and 50,000 files, offscreen platform
#   COUNTS="20000" RUNS=3 PLATFORM=xcb bash bench/gui_bench.sh   # under xvfb-run
set -euo pipefail
cd "$(dirname "$0")/.."

COUNTS=${COUNTS:-"20000 50000"}
RUNS=${RUNS:-5}
PLATFORM=${PLATFORM:-offscreen}
WORK=bench/work/gui
for bin in build/ostmere build/ostmere-gui; do
    [ -x "$bin" ] || { echo "$bin is missing; build first" >&2; exit 1; }
done

make_tree() { # DIR COUNT: COUNT files of a few bytes, 500 to a folder
    local dir=$1 count=$2
    [ -f "$dir/.count" ] && [ "$(cat "$dir/.count")" = "$count" ] && return
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && mkdir $(seq -f 'd%03g' 0 $(((count - 1) / 500))) &&
        awk -v n="$count" 'BEGIN { for (i = 0; i < n; i++) {
            f = sprintf("d%03d/f%05d", int(i / 500), i); print f > f; close(f) } }')
    echo "$count" >"$dir/.count"
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

cli_run() {
    local TIMEFORMAT='%R'
    { time build/ostmere --quiet fingerprint "$1" >/dev/null 2>&1; } 2>&1
}

gui_run() { # the window's own measure: from pressing the button to the end of the run
    local settings
    settings=$(mktemp -d)
    if [ "$PLATFORM" = xcb ]; then
        XDG_CONFIG_HOME="$settings" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
            build/ostmere-gui --fingerprint "$1" --time 2>/dev/null
    else
        XDG_CONFIG_HOME="$settings" QT_QPA_PLATFORM=offscreen \
            build/ostmere-gui --fingerprint "$1" --time 2>/dev/null
    fi
    rm -rf "$settings"
}

printf "%-8s %-10s %-12s %-12s %s\n" files platform "window (s)" "cli (s)" ratio
for count in $COUNTS; do
    tree="$WORK/tree$count"
    make_tree "$tree" "$count"
    build/ostmere --quiet fingerprint "$tree" >/dev/null # warm the cache
    cli=$(for ((i = 0; i < RUNS; i++)); do cli_run "$tree"; done | median)
    gui=$(for ((i = 0; i < RUNS; i++)); do gui_run "$tree"; done | median)
    ratio=$(awk -v g="$gui" -v c="$cli" 'BEGIN { printf "%.2f", g / c }')
    printf "%-8s %-10s %-12s %-12s %s\n" "$count" "$PLATFORM" "$gui" "$cli" "$ratio"
done
