#!/bin/sh
# Builds the fuzz targets with clang into build/fuzz and runs each of them,
# one after the other, for SECONDS seconds (default 60). Prints one line per
# target with its executions and findings, then "fuzz: N passed, M failed";
# a target passes when it ran to its time without a finding. The work of a
# run lies in $FUZZ_WORK (default build/fuzz/work): each target's corpus grows
# in corpus/<target>, starting from the seeds in fuzz/corpus/<target>; its
# output goes to logs/<target>.log and its findings to findings/<target>.
# With --fresh the corpus starts from the seeds alone; FUZZ_TARGETS picks
# some of the targets.
set -u
cd "$(dirname "$0")/.."
fresh=0
if [ "${1:-}" = "--fresh" ]; then
    fresh=1
    shift
fi
seconds=${1:-60}
out=build/fuzz
work=${FUZZ_WORK:-$out/work}
targets=${FUZZ_TARGETS:-command_line launch_file read_setting messages}
passed=0
failed=0

mkdir -p "$work"
if ! { cmake -S fuzz -B $out -DCMAKE_CXX_COMPILER=clang++ >"$work/build.log" 2>&1 &&
       cmake --build $out -j 2 >>"$work/build.log" 2>&1; }; then
    tail -n 20 "$work/build.log"
    echo "not ok - build failed; see $work/build.log"
    echo "fuzz: 0 passed, 1 failed"
    exit 1
fi

for target in $targets; do
    corpus=$work/corpus/$target
    findings=$work/findings/$target
    log=$work/logs/$target.log
    [ "$fresh" -eq 1 ] && rm -rf "$corpus"
    mkdir -p "$corpus" "$findings" "$work/logs"
    before=$(ls "$findings" | wc -l)
    # New inputs go to the first folder; the seeds are only read.
    $out/fuzz_$target -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(( $(ls "$findings" | wc -l) - before ))
    summary="$target: ${execs:-0} execs in $seconds s, $found findings"
    if [ "$rc" -eq 0 ] && [ "$found" -eq 0 ]; then
        echo "ok - $target"
        echo "# $summary"
        passed=$((passed + 1))
    else
        echo "not ok - $summary (exit code $rc); see $log"
        grep -E '^(invariant broken|SUMMARY)|ERROR: ' "$log" | head -n 3
        ls -t "$findings" | head -n 1 | sed "s|^|    reproduce: $out/fuzz_$target $findings/|"
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
