#!/usr/bin/env bash
# CTest's runner for Windows-side tests.
#   wine-test.sh --up | --down          bring the shared X server, prefix and wineserver up, or down
#   wine-test.sh SECONDS prog.exe ARGS  run a Windows test executable under Wine, bounded
#   wine-test.sh SECONDS script ARGS    run a test script (it finds the Wine environment already exported)
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
case "${1:-}" in
  --up) wine_up; exit $? ;;
  --down) wine_down; exit 0 ;;
esac
limit=$1; shift
prog=$1; shift
wine_up
case "$prog" in
  *.exe) wine_run "$limit" "$prog" "$@" ;;
  *) timeout -k 5 "$limit" "$prog" "$@" ;;
esac
