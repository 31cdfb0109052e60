#!/usr/bin/env bash
# fuzz/run.sh [seconds] [target...]: builds the targets in FUZZ_BUILD (default build-fuzz,
# configured if needed), writes their seeds, runs each for `seconds` (default 20) or FUZZ_RUNS
# executions, FUZZ_JOBS at a time with FUZZ_FLAGS, and exits 1 on a finding (kept in
# <build>/findings/<target>/) or a target that did not finish.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(header_fuzz credentials_fuzz meta_state_fuzz entity_fuzz
    sector_fuzz map_assembly_fuzz map_patch_fuzz snapshot_assembly_fuzz handoff_fuzz router_fuzz)
flags=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10)
[ -n "${FUZZ_RUNS:-}" ] && flags+=(-runs="$FUZZ_RUNS")
read -r -a extra <<<"${FUZZ_FLAGS:-}"
[ -f "$build/build.ninja" ] || CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DKESTREL_FUZZ=ON -DKESTREL_SANITIZE=ON -DKESTREL_TESTS=OFF -DKESTREL_BENCH=OFF \
    -DCMAKE_PREFIX_PATH=/opt/kestrel/sdl3 >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" make_corpus
"$build/bin/make_corpus" "$build/corpus" >/dev/null
mkdir -p "$build/logs"
running=0
for target in "${targets[@]}"; do
    mkdir -p "$build/findings/$target"
    "$build/bin/$target" "$build/corpus/$target" "${flags[@]}" ${extra[@]+"${extra[@]}"} \
        -artifact_prefix="$build/findings/$target/" >"$build/logs/$target.log" 2>&1 &
    running=$((running + 1))
    if [ "$running" -ge "${FUZZ_JOBS:-1}" ]; then wait -n || true; running=$((running - 1)); fi
done
wait || true
status=0
for target in "${targets[@]}"; do
    log=$build/logs/$target.log
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    crash=$(grep -m1 -E '^(==[0-9]+== ?ERROR|SUMMARY|invariant broken)|runtime error:' "$log" || true)
    artifact=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
    if [ -n "$artifact$crash" ]; then
        printf '%-24s FINDING %s\n%-24s   input: %s\n' "$target" "${crash:-see $log}" "" \
            "${artifact:-none written}"
        status=1
    elif [ -z "$executed" ]; then # no final statistics: never started, or died silently
        printf '%-24s FAILED without final statistics, see %s\n' "$target" "$log"
        status=1
    else
        printf '%-24s %12s executions\n' "$target" "$executed"
    fi
done
exit $status
