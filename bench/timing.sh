# Shared by the benchmark scripts (sourced): seeded test data and medians of timed runs.
# RUNS, when set by the caller, is the number of runs a median is taken of.

# Stops the script when the repository at DIR has no built command-line program.
require_build() { # dir
    [ -x "$1/build/ostmere" ] || { echo "build/ostmere is missing: run scripts/build.sh" >&2; exit 1; }
}

# Stops the script when one of the named programs is missing.
require_tools() { # program...
    local tool
    for tool; do
        command -v "$tool" >/dev/null ||
            { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
    done
}

# Generated trees are kept between runs: has_shape is true when DIR was made with SHAPE (a
# text naming whatever the tree depends on), which mark_shape records once it is complete.
has_shape() { [ "$(cat "$1/.shape" 2>/dev/null)" = "$2" ]; } # dir shape
mark_shape() { echo "$2" >"$1/.shape"; }                        # dir shape

# BYTES of pseudo-random content from a seeded AES-CTR key stream on stdout: reproducible,
# incompressible, and produced far faster than the programs measured read it.
key_stream() { # bytes seed index
    head -c "$1" /dev/zero |
        openssl enc -aes-128-ctr -nosalt -K "$(printf '%016x%016x' "$2" "$3")" \
            -iv 00000000000000000000000000000000
}

# One timed run: "wall cpu user" in seconds (cpu = user + system), output discarded. On a
# shared machine the wall time also counts waiting for a core; the cpu time does not, but its
# system part swings with the kernel's writeback of earlier runs, which user time does not.
timed_run() {
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    echo "$t" | awk '{ printf "%.3f %.3f %.3f\n", $1, $2 + $3, $2 }'
}

# Median of a column of numbers.
median() {
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) printf "%.3f", v[(NR + 1) / 2]
        else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Median of RUNS runs: "wall cpu user", each the median of its own column.
median_of_runs() {
    local runs="" i
    for ((i = 0; i < ${RUNS:-3}; i++)); do
        runs+="$(timed_run "$@")"$'\n'
    done
    echo "$(printf '%s' "$runs" | cut -d' ' -f1 | median)" \
        "$(printf '%s' "$runs" | cut -d' ' -f2 | median)" \
        "$(printf '%s' "$runs" | cut -d' ' -f3 | median)"
}
