#!/usr/bin/env bash
# Fuzzes every decoder target for a while and reports what it found.
#
#   fuzz/run.sh [seconds] [target...]
#
# Configures build-fuzz (clang, sanitizers, libFuzzer) if needed, builds the targets and
# the seed generator, writes the seeds into build-fuzz/corpus/<target> (the fuzzer adds
# the inputs it finds there, so later runs start from them), then runs each target for
# `seconds` (default 20), or until FUZZ_RUNS executions when that is set and comes first.
# FUZZ_JOBS=2 runs two targets at a time; FUZZ_FLAGS adds libFuzzer flags; FUZZ_BUILD names
# another build directory. Prints the executions of every target and every finding; exits 1
# when there was one, or when a target did not run to its end. Crashing inputs land in
# <build>/findings/<target>/, the full output in <build>/logs/<target>.log.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-20}
shift || true
all_targets=(header_fuzz credentials_fuzz meta_state_fuzz entity_fuzz sector_fuzz
             map_assembly_fuzz map_patch_fuzz snapshot_assembly_fuzz handoff_fuzz router_fuzz)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
jobs=${FUZZ_JOBS:-1}
runs=()
[ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
read -r -a extra <<<"${FUZZ_FLAGS:-}"

if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKESTREL_FUZZ=ON \
        -DKESTREL_SANITIZE=ON -DKESTREL_TESTS=OFF -DKESTREL_BENCH=OFF \
        -DCMAKE_PREFIX_PATH=/opt/kestrel/sdl3 >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}" make_corpus
"$build/bin/make_corpus" "$build/corpus" >/dev/null
mkdir -p "$build/logs"

fuzz_one() {
    local target=$1
    local findings=$build/findings/$target
    mkdir -p "$findings"
    "$build/bin/$target" "$build/corpus/$target" -max_total_time="$seconds" \
        ${runs[@]+"${runs[@]}"} ${extra[@]+"${extra[@]}"} -print_final_stats=1 -timeout=10 -artifact_prefix="$findings/" \
        >"$build/logs/$target.log" 2>&1 || true
}

report_one() {
    local target=$1
    local log=$build/logs/$target.log
    local executed used crash artifact
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    used=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    crash=$(grep -m1 -E '^(==[0-9]+== ?ERROR|SUMMARY|invariant broken)|runtime error:' "$log" || true)
    artifact=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
    if [ -n "$artifact" ] || [ -n "$crash" ]; then
        printf '%-24s FINDING %s\n%-24s   input: %s\n' "$target" "${crash:-see $log}" "" \
            "${artifact:-none written}"
        return 1
    fi
    # No final statistics: the target never started, or died without a report.
    if [ -z "$executed" ]; then
        printf '%-24s FAILED without final statistics, see %s\n' "$target" "$log"
        tail -n 5 "$log" | sed 's/^/                           /'
        return 1
    fi
    printf '%-24s %12s executions in %ss\n' "$target" "$executed" "${used:-?}"
}

running=0
for target in "${targets[@]}"; do
    fuzz_one "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

status=0
for target in "${targets[@]}"; do
    report_one "$target" || status=1
done
exit $status
