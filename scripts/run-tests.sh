#!/bin/sh
# Runs every layer of tests, prints each layer's result and one summary line,
# and fails when anything failed. Layers: native unit tests, checks on the
# built binaries, checks on the release files, scenarios under Wine.
set -u
cd "$(dirname "$0")/.."
mkdir -p build
start=$(date +%s)
passed=0
failed=0

# Runs one layer and shows what it printed except its passing checks, so that
# failures and the "# name: figures" lines stay in view. Its last
# "NAME: N passed, M failed" line is its result.
layer() {
    name=$1
    shift
    log=build/test-$name.log
    "$@" >"$log" 2>&1
    rc=$?
    grep -v -E '^(ok - |\[ +(OK|RUN) +\])' "$log" | tail -n 40
    line=$(grep -E "^$name: [0-9]+ passed, [0-9]+ failed" "$log" | tail -n 1)
    if [ -z "$line" ]; then
        echo "$name: no result (exit code $rc); see $log"
        failed=$((failed + 1))
        return
    fi
    p=$(echo "$line" | sed -E 's/.*: ([0-9]+) passed.*/\1/')
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) failed.*/\1/')
    if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
        echo "$name: exit code $rc although nothing failed; see $log"
        f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
}

unit_layer() {
    build/host/unit_tests --gtest_brief=1 >build/unit.out 2>&1
    rc=$?
    cat build/unit.out
    p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' build/unit.out)
    f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' build/unit.out)
    echo "unit: ${p:-0} passed, ${f:-0} failed"
    return $rc
}

# Wine starts every Windows program through its 32-bit loader, which a kernel
# without IA-32 emulation refuses to run ("Exec format error"): there the
# scenarios cannot start at all, and the layer says so instead of failing.
wine_layer() {
    if ! loader=$(/usr/lib/wine/wine --version 2>&1) && echo "$loader" | grep -q 'Exec format error'; then
        echo "# wine: skipped: this machine's kernel runs no 32-bit programs ($loader)"
        echo "wine: 0 passed, 0 failed"
        return 0
    fi
    /usr/bin/python3 tests/wine/run_scenarios.py
}

layer unit unit_layer
layer binary /usr/bin/python3 tests/binary/check_binaries.py build/win32/TARNWICK.EXE build/win32/RESTART.EXE
[ -f tests/release/check_release.py ] && layer release /usr/bin/python3 tests/release/check_release.py
layer fuzz fuzz/smoke.sh
layer wine wine_layer

echo "time: $(( $(date +%s) - start )) s"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
