#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time, as many at
# once as there are cores, starting from its seed corpus and regression
# inputs. Prints the executions per target; fails on any crash, broken
# invariant, leak or hang, and names the input that caused it.
#
# P2K_FUZZ_SECONDS sets the time per target (default 20).
set -euo pipefail
. "$(dirname "$0")/common.sh"

P2K_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The targets as fuzz/CMakeLists.txt lists them, so a new one is fuzzed too.
read -ra TARGETS <<<"$(sed -n 's/^set(P2K_FUZZ_TARGETS \(.*\))$/\1/p' "$P2K_ROOT/fuzz/CMakeLists.txt")"
SECONDS_EACH=${P2K_FUZZ_SECONDS:-20}
FUZZ_BUILD="$P2K_BUILD/fuzz"
RUNS="$FUZZ_BUILD/runs"

ensure_packages "${P2K_FUZZ_PACKAGES[@]}"

echo "== Fuzz targets (clang, libFuzzer), ${SECONDS_EACH} s each"
configure_and_build "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DP2K_FUZZ=ON -DP2K_BUILD_TESTS=OFF -- fuzzers

# Runs one target; its output goes to RUNS/<target>.log, its exit code to .rc.
fuzz_one() {
    local target=$1 inputs=("$P2K_ROOT/fuzz/corpus/$1")
    [ -d "$P2K_ROOT/fuzz/regressions/$target" ] && inputs+=("$P2K_ROOT/fuzz/regressions/$target")
    # New inputs go to a scratch corpus in the build tree; the seeds stay as committed.
    mkdir -p "$RUNS/work/$target" "$RUNS/crashes"
    local rc=0
    "$FUZZ_BUILD/fuzz/${target}_fuzzer" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$RUNS/crashes/$target-" \
        "$RUNS/work/$target" "${inputs[@]}" >"$RUNS/$target.log" 2>&1 || rc=$?
    echo "$rc" >"$RUNS/$target.rc"
}

rm -rf "$RUNS/crashes" "$RUNS"/*.rc "$RUNS"/*.log
mkdir -p "$RUNS"
for target in "${TARGETS[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
    fuzz_one "$target" &
done
wait

failed=0
for target in "${TARGETS[@]}"; do
    log="$RUNS/$target.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    if [ "$(cat "$RUNS/$target.rc")" = 0 ]; then
        printf '%-16s %10s executions in %s s (%s/s)\n' "$target" "${execs:-?}" "$SECONDS_EACH" "${rate:-?}"
    else
        failed=1
        printf '%-16s FAILED\n' "$target"
        grep -E 'invariant broken|ERROR:|SUMMARY:|Test unit written' "$log" | head -8 | sed 's/^/    /'
    fi
done
if [ "$failed" -ne 0 ]; then
    echo "A fuzz target failed; its input is in $RUNS/crashes/. Keep it under fuzz/regressions/<target>/."
    exit 1
fi
