#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both trees and runs every test (native and, under
# Wine, Windows-side) through CTest. Extra arguments go to ctest (e.g. -L native, -R win.smoke).
#
# 32-bit Windows code runs natively where the kernel allows it, else through qemu-user. Where it runs
# natively, the Windows-side tests run twice: natively, then once more with qemu forced through binfmt_misc,
# so that a race which shows only at one speed is caught on either kind of machine. VANTORIX_ROADS=native,
# qemu or both overrides the choice (qemu alone is the only road where the kernel cannot run 32-bit code).
# No test is re-run on failure: a failing test is a fault to find.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [ "${SKIP_SETUP:-0}" != 1 ]; then
  if [ "$(id -u)" = 0 ]; then bash "$root/tools/setup.sh"; else sudo bash "$root/tools/setup.sh"; fi || exit 1
fi
# The tests sign what they publish: a throw-away key pair unless the caller names keys of its own.
[ -n "${VANTORIX_UPDATE_PUBLIC_KEY:-}" ] || export VANTORIX_TEST_UPDATE_KEYS=1
bash "$root/tools/build.sh" || exit 1
export VANTORIX_WINE_DIR=${VANTORIX_WINE_DIR:-$build/wine}
mkdir -p "$build/artifacts"

binfmt=/proc/sys/fs/binfmt_misc/qemu-i386
qemu_entry() { [ -e "$binfmt" ] && echo "$1" > "$binfmt" 2>/dev/null; }
# The machine's own road: native when the 32-bit loader starts with the qemu entry switched off.
machine_road() {
  local was=0
  [ -e "$binfmt" ] && grep -q '^enabled' "$binfmt" && was=1
  qemu_entry 0
  local road=qemu
  /usr/lib/wine/wine --version >/dev/null 2>&1 && road=native
  [ "$was" = 1 ] && qemu_entry 1
  echo "$road"
}
road=$(machine_road)
roads=${VANTORIX_ROADS:-}
if [ -z "$roads" ]; then
  if [ "$road" = native ] && [ -e "$binfmt" ]; then roads=both; else roads=$road; fi
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
    [ "$roads" = native ] && qemu_entry 0 || qemu_entry 1
    start=$(date +%s)
    run_ctest ctest "$@" || rc=1
    summary+=("$roads road, every test: $(( $(date +%s) - start )) s")
    ;;
  both)
    # A wineserver serves one road: the second pass starts its own.
    trap 'qemu_entry 0' EXIT
    qemu_entry 0
    start=$(date +%s)
    run_ctest ctest "$@" || rc=1
    summary+=("native road, every test: $(( $(date +%s) - start )) s")
    bash "$root/tools/wine-test.sh" --down
    qemu_entry 1
    start=$(date +%s)
    run_ctest ctest-qemu -L windows "$@" || rc=1
    summary+=("qemu road, Windows-side tests: $(( $(date +%s) - start )) s")
    bash "$root/tools/wine-test.sh" --down
    qemu_entry 0
    ;;
  *) echo "VANTORIX_ROADS must be native, qemu or both"; exit 2 ;;
esac
for line in "${summary[@]}"; do echo "$line"; done
echo "test run took $(( $(date +%s) - total_start )) s"
exit "$rc"
