#!/usr/bin/env bash
# Builds the fuzz tree (build/fuzz, clang with libFuzzer, ASan and UBSan) and runs every fuzz target
# for SECONDS each (default 300), printing the executions and the findings of each.
#   scripts/fuzz.sh [SECONDS]      build, then run every target
#   scripts/fuzz.sh --build-only   build the targets and their seed corpora only (scripts/test.sh)
# Crashing inputs are kept in build/fuzz/runs/<target>/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tree=$root/build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRT_FUZZ=ON >/dev/null
cmake --build "$tree" --target krt_fuzz -j "${KRT_BUILD_JOBS:-2}"
[[ ${1:-} == --build-only ]] && exit 0

seconds=${1:-300}
failed=0
for target in fuzz_frames fuzz_fields fuzz_settings fuzz_program_image fuzz_config; do
    work=$tree/runs/$target
    log=$tree/runs/$target.log
    mkdir -p "$tree/runs"
    echo "== $target: $seconds s"
    if sh tests/fuzz/run_fuzz.sh "$tree/tests/fuzz/$target" "$tree/tests/fuzz/seeds/$target" "$work" \
        "$seconds" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    findings=$(find "$work/artifacts" -type f | wc -l)
    echo "   $status: ${execs:-?} executions (${rate:-?}/s), $cov, findings: $findings, corpus: $(ls "$work/corpus" | wc -l)"
    if [[ $findings != 0 || $status != ok ]]; then
        grep -E 'ERROR|invariant broken|SUMMARY' "$log" | head -5 | sed 's/^/   /'
        find "$work/artifacts" -type f | sed 's/^/   kept: /'
    fi
done
exit $failed
