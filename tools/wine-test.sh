#!/usr/bin/env bash
# CTest's runner for Windows-side tests.
#   wine-test.sh --up | --down          bring the shared X server, prefix and wineserver up, or down; --up
#                                       also measures the run's speed factor (tools/speed.sh)
#   wine-test.sh --user-up              the same for the standard user's own prefix and wineserver
#   wine-test.sh --check-installed      the prefix is as a user's machine would be: a control library in the
#                                       system folder is the one its classes are registered to
#   wine-test.sh SECONDS prog.exe ARGS  run a Windows test executable under Wine, bounded
#   wine-test.sh SECONDS script ARGS    run a test script (it finds the Wine environment already exported)
# SECONDS is the limit on a machine of the reference speed; it grows with the speed factor the run measured
# (at most VANTORIX_SPEED_FACTOR_MAX times), so a slow machine is given time and a hang still ends.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
case "${1:-}" in
  --up)
    wine_up || exit 1
    # The factor is the machine's, whichever prefix measured it: kept beside the 32-bit prefix.
    [ "$VANTORIX_WINE_ARCH" = win32 ] || exit 0
    bash "$here/speed.sh" > "$VANTORIX_WINE_DIR/speed-factor.new" && mv "$VANTORIX_WINE_DIR/speed-factor.new" "$VANTORIX_WINE_DIR/speed-factor"
    exit $? ;;
  --user-up) wine_user_up; exit $? ;;
  --down) wine_down; exit 0 ;;
  --check-installed)
    wine_up || exit 1
    [ -f "$(wine_system_folder)/Velview_G_201.ocx" ] || { echo "no control library installed"; exit 0; }
    # MiniblinkAPI's class; every class of the library is registered by the same call.
    server=$(wine_run 60 "$(wine_tool reg)" query 'HKCR\CLSID\{78A87BCF-47DB-4C87-825D-64C638194D4C}\InprocServer32' /ve 2>/dev/null | tr -d '\r')
    echo "$server"
    grep -qiF "${WIN_SYSTEM_FOLDER#C:\\windows\\}\\Velview_G_201.ocx" <<<"$server" && exit 0
    echo "the installed control library is not the registered one: a test left the prefix broken"
    exit 1 ;;
esac
limit=$1; shift
prog=$1; shift
wine_up || exit 1
scaled=$(_wine_limit "$limit")
[ "$scaled" = "$limit" ] || echo "[wine-test] time limit $scaled s ($limit s at the reference speed, speed factor $VANTORIX_SPEED_FACTOR)"
case "$prog" in
  *.exe) timeout -k 5 "$scaled" "$WINE" "$prog" "$@" ;;
  *) timeout -k 5 "$scaled" "$prog" "$@" ;;
esac
rc=$?
[ "$rc" = 124 ] && echo "[wine-test] FAILED: the time limit of $scaled s was reached"
exit "$rc"
