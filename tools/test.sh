#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both trees and runs every test (native and, under
# Wine, Windows-side) through one CTest invocation. Extra arguments go to ctest (e.g. -L native, -R win.smoke).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [ "${SKIP_SETUP:-0}" != 1 ]; then
  if [ "$(id -u)" = 0 ]; then bash "$root/tools/setup.sh"; else sudo bash "$root/tools/setup.sh"; fi || exit 1
fi
bash "$root/tools/build.sh" || exit 1
export VANTORIX_WINE_DIR=${VANTORIX_WINE_DIR:-$build/wine}
mkdir -p "$build/artifacts"
start=$(date +%s)
# A failing test gets one more run: GUI tests under emulated Wine now and then lose a race with the window
# system (seen: another process's message-only window not found within a minute). A deterministic failure
# fails both runs; every first failure stays in the log above the summary.
( cd "$build/native" && ctest --output-on-failure --timeout 900 -j "${CTEST_JOBS:-2}" --repeat until-pass:2 "$@" ) 2>&1 | tee "$build/artifacts/ctest.log"
rc=${PIPESTATUS[0]}
echo "test run took $(( $(date +%s) - start )) s"
exit "$rc"
