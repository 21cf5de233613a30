#!/bin/sh
# A few seconds of each fuzz target from its seeds alone, for `make test`;
# the corpus that `make fuzz` grows is left alone.
cd "$(dirname "$0")/.."
FUZZ_WORK=build/fuzz/smoke exec fuzz/run.sh --fresh "${FUZZ_SMOKE_SECONDS:-3}"
