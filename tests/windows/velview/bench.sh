#!/usr/bin/env bash
# Benchmark, figures only: one page "jsCall" through the whole chain (stand-in engine, cdecl adapter,
# dispatcher, stub, handler, event) to the host's event handler, against a direct call of that handler.
# Usage: bench.sh [build dir]   (default: build); brings the Wine environment up itself.
set -u
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build}
source "$root/tools/wine-env.sh"
wine_up
cd "$build/win/tests/windows/velview" || exit 1
wine_run 300 ./velview_tests.exe --gtest_also_run_disabled_tests --gtest_filter='Bench.*'
