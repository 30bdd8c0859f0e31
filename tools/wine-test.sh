#!/usr/bin/env bash
# CTest's runner for Windows-side tests.
#   wine-test.sh --up | --down          bring the shared X server, prefix and wineserver up, or down
#   wine-test.sh --user-up              the same for the standard user's own prefix and wineserver
#   wine-test.sh --check-installed      the prefix is as a user's machine would be: a control library in the
#                                       system folder is the one its classes are registered to
#   wine-test.sh SECONDS prog.exe ARGS  run a Windows test executable under Wine, bounded
#   wine-test.sh SECONDS script ARGS    run a test script (it finds the Wine environment already exported)
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
case "${1:-}" in
  --up) wine_up; exit $? ;;
  --user-up) wine_user_up; exit $? ;;
  --down) wine_down; exit 0 ;;
  --check-installed)
    wine_up
    [ -f "$WINEPREFIX/drive_c/windows/system32/Velview_G_201.ocx" ] || { echo "no control library installed"; exit 0; }
    # MiniblinkAPI's class; every class of the library is registered by the same call.
    server=$(wine_run 60 reg query 'HKCR\CLSID\{78A87BCF-47DB-4C87-825D-64C638194D4C}\InprocServer32' /ve 2>/dev/null | tr -d '\r')
    echo "$server"
    grep -qi 'system32\\Velview_G_201.ocx' <<<"$server" && exit 0
    echo "the installed control library is not the registered one: a test left the prefix broken"
    exit 1 ;;
esac
limit=$1; shift
prog=$1; shift
wine_up
case "$prog" in
  *.exe) wine_run "$limit" "$prog" "$@" ;;
  *) timeout -k 5 "$limit" "$prog" "$@" ;;
esac
