#!/usr/bin/env bash
# run_with_locale.sh LOCALE program.exe [args]: one Windows test program under Wine with the code page of LOCALE.
set -u
locale=$1; shift
source "$VANTORIX_SOURCE/tools/wine-env.sh"
LANG=$locale LC_ALL=$locale wine_run 120 "$@"
