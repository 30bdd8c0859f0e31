#!/usr/bin/env bash
# Runs one test command with Wine's screen at DPI dots per inch (LogPixels), then puts 96 back. Wine reads
# the scale when its server starts, so the server is restarted around the run; the display lock of the
# Windows-side tests keeps every other test out meanwhile. Screenshots go to artifacts/client-e2e-<DPI>dpi.
#   run_at_dpi.sh DPI PROGRAM.exe|SCRIPT [ARGS...]
set -u
dpi=$1; shift
source "$VANTORIX_SOURCE/tools/wine-env.sh"
set_dpi() {
  wine_up
  wine_run 60 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine_run 60 reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine_down
  wine_up
}
set_dpi "$dpi"
trap 'set_dpi 96' EXIT
export VANTORIX_ARTIFACTS=$VANTORIX_WIN_BUILD/artifacts/client-e2e-${dpi}dpi
case "$1" in
  *.exe) wine_run 600 "$@" ;;
  *) "$@" ;;
esac
