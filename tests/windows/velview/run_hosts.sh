#!/usr/bin/env bash
# Registers the control library with regsvr32, runs the hosts that are not ours (the ATL window class, the
# script host with JScript), reads the registration back, unregisters and checks nothing is left.
set -u
source "$VANTORIX_SOURCE/tools/wine-env.sh"
host=$1
script=$(realpath "$2")
ocx=$(winpath "$VANTORIX_WIN_BUILD/bin/Velview_G_201.ocx")
rc=0
trap wine_restore_installed_control EXIT
wine_run 120 regsvr32 /s "$ocx" || { echo "regsvr32 failed"; exit 1; }
wine_run 120 "$host" --gtest_filter='Registered.*:AtlHost.*' || rc=1
wine_run 120 "$host" --gtest_filter='Unload.*' || rc=1
wine_run 120 "$host" --gtest_filter='Reload.*' || rc=1
# The script host finds node.dll by the library search: run it from the folder that holds the engine.
# It ends with 0 also when it cannot run the file: the script's own summary line must be there.
out=$(cd "$VANTORIX_WIN_BUILD/bin" && wine_run 120 cscript //nologo "$(winpath "$script")" 2>&1)
status=$?
echo "$out"
if [ $status -ne 0 ] || ! grep -q "VelviewCls script checks: 0 failed" <<<"$out"; then echo "script checks failed"; rc=1; fi
vbs=$(realpath "$(dirname "$script")/late_bound.vbs")
out=$(cd "$VANTORIX_WIN_BUILD/bin" && wine_run 120 cscript //nologo "$(winpath "$vbs")" 2>&1)
status=$?
echo "$out"
if [ $status -ne 0 ] || ! grep -q "late-bound VBScript checks: 0 failed" <<<"$out"; then echo "VBScript checks failed"; rc=1; fi
wine_run 120 regsvr32 /s /u "$ocx" || { echo "regsvr32 /u failed"; exit 1; }
wine_run 120 "$host" --gtest_filter='Unregistered.*' || rc=1
exit $rc
