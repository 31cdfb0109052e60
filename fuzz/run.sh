#!/usr/bin/env bash
# fuzz/run.sh [seconds] [target...]: builds the targets in FUZZ_BUILD (default build-fuzz,
# configured with clang and the sanitizers when new), writes their seeds, runs each for `seconds` (default 20) or FUZZ_RUNS
# executions, FUZZ_JOBS at a time with FUZZ_FLAGS; exits 1 on a finding (in findings/) or an unfinished run.
set -euo pipefail
build=${FUZZ_BUILD:-$(cd "$(dirname "$0")/.." && pwd)/build-fuzz}
seconds=${1:-20} && shift || true
[ -f "$build/build.ninja" ] || CC=clang CXX=clang++ cmake -S "$(dirname "$0")/.." -B "$build" -G Ninja \
    -DKESTREL_FUZZ=ON -DKESTREL_SANITIZE=ON -DKESTREL_TESTS=OFF -DKESTREL_BENCH=OFF \
    -DCMAKE_PREFIX_PATH=/opt/kestrel/sdl3 >/dev/null
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(header_fuzz credentials_fuzz meta_state_fuzz entity_fuzz
    sector_fuzz map_assembly_fuzz map_patch_fuzz snapshot_assembly_fuzz handoff_fuzz router_fuzz)
flags=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10)
[ -n "${FUZZ_RUNS:-}" ] && flags+=(-runs="$FUZZ_RUNS")
read -r -a extra <<<"${FUZZ_FLAGS:-}"
cmake --build "$build" -j2 --target "${targets[@]}" make_corpus
"$build/bin/make_corpus" "$build/corpus" >/dev/null
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "${FUZZ_JOBS:-1}" ]; do wait -n || true; done
    mkdir -p "$build/logs" "$build/findings/$target"
    "$build/bin/$target" "$build/corpus/$target" "${flags[@]}" ${extra[@]+"${extra[@]}"} \
        -artifact_prefix="$build/findings/$target/" >"$build/logs/$target.log" 2>&1 &
done
wait || true
status=0
for target in "${targets[@]}"; do
    log=$build/logs/$target.log
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    crash=$(grep -m1 -E '^(==[0-9]+== ?ERROR|SUMMARY|invariant broken)|runtime error:' "$log" || true)
    artifact=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
    if [ -n "$artifact$crash" ]; then
        printf '%-24s FINDING %s, input: %s\n' "$target" "${crash:-see $log}" "${artifact:-none}"
    elif [ -z "$executed" ]; then # no final statistics: never started, or died silently
        printf '%-24s FAILED without final statistics, see %s\n' "$target" "$log"
    else
        printf '%-24s %12s executions\n' "$target" "$executed" && continue
    fi
    status=1
done
exit $status
