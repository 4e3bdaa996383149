#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ (clang, address and undefined-behaviour
# sanitizers) and runs each for a bounded time, starting from the seeds in fuzz/corpus/.
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]   SECONDS per target (default 60);
#        TARGET is patch, vault or filter (default all three, one after the other).
# Inputs that reach new code are kept in build-fuzz/corpus/<target>/, crashing inputs in
# build-fuzz/artifacts/<target>/; the exit status is 1 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(patch vault filter)

bash scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOSTMERE_FUZZ=ON -DOSTMERE_TESTS=OFF -DOSTMERE_GUI=OFF >/dev/null
for t in "${targets[@]}"; do
    cmake --build build-fuzz -j2 --target "fuzz_$t"
done

# Longest input per target: patches and vaults are a few KiB for small trees, so 16 KiB
# leaves room for growth without making each run slow; a filter and its paths are short.
max_len() {
    case $1 in
    filter) echo 1024 ;;
    *) echo 16384 ;;
    esac
}

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
for t in "${targets[@]}"; do
    work=build-fuzz/corpus/$t
    artifacts=build-fuzz/artifacts/$t
    mkdir -p "$work" "$artifacts"
    echo "== fuzz_$t for ${seconds}s"
    # The first corpus directory receives new inputs; the committed seeds are only read.
    if ! "build-fuzz/fuzz_$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
        -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -dict="fuzz/$t.dict" \
        -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$t"; then
        echo "fuzz_$t failed; see $artifacts/" >&2
        status=1
    fi
done
exit $status
