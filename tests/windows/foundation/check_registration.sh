#!/usr/bin/env bash
# regsvr32 registers every class of the control library and /u removes them again; the check program
# reads the type library back from the registration.
set -u
source "$VANTORIX_SOURCE/tools/wine-env.sh"
check=$1
ocx=$(winpath "$VANTORIX_WIN_BUILD/bin/Velview_G_201.ocx")
# The classes are those of an installed copy too: it is registered again at the end.
trap wine_restore_installed_control EXIT
wine_run 120 "$(wine_tool regsvr32)" /s "$ocx" || { echo "regsvr32 failed"; exit 1; }
wine_run 120 "$check" --gtest_filter='Registered.*' || exit 1
wine_run 120 "$(wine_tool regsvr32)" /s /u "$ocx" || { echo "regsvr32 /u failed"; exit 1; }
wine_run 120 "$check" --gtest_filter='Unregistered.*'
