#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both trees and runs every test (native and, under
# Wine, Windows-side) through CTest. Extra arguments go to ctest (e.g. -L native, -R win.smoke).
#
# 32-bit Windows code runs natively where the kernel allows it, else through qemu-user. Where it runs
# natively, the Windows-side tests run twice: natively, then once more with qemu forced through binfmt_misc,
# so that a race which shows only at one speed is caught on either kind of machine; that second pass runs
# only where qemu-user is installed (tools/setup.sh installs it only where the kernel needs it).
# VANTORIX_ROADS=native, qemu or both overrides the choice (qemu alone is the only road where the kernel
# cannot run 32-bit code). No test is re-run on failure: a failing test is a fault to find.
#
# Runs share a machine: the binfmt_misc entry is switched only under the machine lock (tools/machine.sh) and
# put back at the end; each run has its own X display (VANTORIX_DISPLAY, else a free one picked here) and its
# own Wine folders (in its build folder), so two runs started together wait for each other only where they
# must.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [ "${SKIP_SETUP:-0}" != 1 ]; then
  if [ "$(id -u)" = 0 ]; then bash "$root/tools/setup.sh"; else sudo bash "$root/tools/setup.sh"; fi || exit 1
fi
source "$root/tools/machine.sh"
trap machine_unlock EXIT
# The tests sign what they publish: a throw-away key pair unless the caller names keys of its own.
[ -n "${VANTORIX_UPDATE_PUBLIC_KEY:-}" ] || export VANTORIX_TEST_UPDATE_KEYS=1
BUILD_DIR=$build bash "$root/tools/build.sh" || exit 1
export VANTORIX_WINE_DIR=${VANTORIX_WINE_DIR:-$build/wine}
if [ -z "${VANTORIX_DISPLAY:-}" ]; then
  VANTORIX_DISPLAY=$(pick_display 100 199) || { echo "no free X display between :100 and :199"; exit 1; }
fi
export VANTORIX_DISPLAY
echo "X display :$VANTORIX_DISPLAY, Wine folders under $VANTORIX_WINE_DIR"
mkdir -p "$build/artifacts"

road=qemu
native_32bit && road=native
roads=${VANTORIX_ROADS:-}
if [ -z "$roads" ]; then
  if [ "$road" = native ] && [ "$(binfmt_state)" != none ] && [ -x /usr/bin/qemu-i386 ]; then roads=both; else roads=$road; fi
fi
[ "$road" = qemu ] && [ "$roads" != qemu ] && { echo "this kernel cannot run 32-bit code: qemu road only"; roads=qemu; }

run_ctest() {  # run_ctest LOG-NAME CTEST-ARGS...
  local name=$1; shift
  ( cd "$build/native" && ctest --output-on-failure --timeout 900 -j "${CTEST_JOBS:-2}" "$@" ) 2>&1 \
    | tee "$build/artifacts/$name.log"
  return "${PIPESTATUS[0]}"
}

rc=0
summary=()
total_start=$(date +%s)
case "$roads" in
  native|qemu)
    if [ "$roads" = native ]; then binfmt_use 0; else binfmt_use 1; fi || exit 1
    start=$(date +%s)
    run_ctest ctest "$@" || rc=1
    summary+=("$roads road, every test: $(( $(date +%s) - start )) s")
    ;;
  both)
    # A wineserver serves one road: the second pass starts its own. The entry is switched between the
    # passes, so the whole run holds the machine lock exclusively.
    machine_lock exclusive || exit 1
    binfmt_use 0 || exit 1
    start=$(date +%s)
    run_ctest ctest "$@" || rc=1
    summary+=("native road, every test: $(( $(date +%s) - start )) s")
    bash "$root/tools/wine-test.sh" --down
    binfmt_use 1 || exit 1
    start=$(date +%s)
    run_ctest ctest-qemu -L windows "$@" || rc=1
    summary+=("qemu road, Windows-side tests: $(( $(date +%s) - start )) s")
    bash "$root/tools/wine-test.sh" --down
    ;;
  *) echo "VANTORIX_ROADS must be native, qemu or both"; exit 2 ;;
esac
machine_unlock
for line in "${summary[@]}"; do echo "$line"; done
echo "test run took $(( $(date +%s) - total_start )) s"
exit "$rc"
