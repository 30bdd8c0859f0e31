#!/usr/bin/env bash
# Source this file: it brings up (once per run) an X server, a 32-bit Wine prefix and one persistent
# wineserver, and exports what every Wine call of the tests and the demo needs.
#   VANTORIX_WINE_DIR   where the prefix, its cached tarball and the server state live (default: build/wine)
#   VANTORIX_DISPLAY    X display number to use (default: 87)
#   VANTORIX_TEST_USER  the unprivileged account whose Wine plays a standard user (default: vantorix-user,
#                       made by tools/setup.sh)
# Functions: wine_up, wine_down, wine_run TIMEOUT EXE [ARGS...], wine_user_up, as_test_user CMD...
_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export VANTORIX_WINE_DIR=${VANTORIX_WINE_DIR:-$_here/../build/wine}
mkdir -p "$VANTORIX_WINE_DIR"
VANTORIX_WINE_DIR=$(cd "$VANTORIX_WINE_DIR" && pwd)
export WINEARCH=win32
export WINEPREFIX=$VANTORIX_WINE_DIR/prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY=:${VANTORIX_DISPLAY:-87}
WINE=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver32
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)

_wine_xvfb_up() {
  if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    rm -f "/tmp/.X${DISPLAY#:}-lock" "/tmp/.X11-unix/X${DISPLAY#:}"
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >"$VANTORIX_WINE_DIR/xvfb.log" 2>&1 &
    echo $! > "$VANTORIX_WINE_DIR/xvfb.pid"
    for _ in $(seq 100); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
  fi
}

# A fresh prefix costs about half a minute under emulation: build it once and keep a tarball of it.
_wine_prefix_up() {
  local cache=$VANTORIX_WINE_DIR/prefix.tar
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  # A prefix made by another run on this machine can seed this one (VANTORIX_WINE_SEED: its tarball).
  if [ ! -f "$cache" ] && [ -n "${VANTORIX_WINE_SEED:-}" ] && [ -f "$VANTORIX_WINE_SEED" ]; then
    cp "$VANTORIX_WINE_SEED" "$cache"
  fi
  if [ -f "$cache" ]; then
    tar -C "$VANTORIX_WINE_DIR" -xf "$cache" && return 0
  fi
  timeout 300 "$WINE" wineboot -i >"$VANTORIX_WINE_DIR/wineboot.log" 2>&1
  "$WINESERVER" -w
  # No window manager runs here: unmanaged windows close without waiting for one.
  timeout 120 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  bash "$_here/wine-cjk-font.sh"
  "$WINESERVER" -w
  tar -C "$VANTORIX_WINE_DIR" -cf "$cache" prefix
}

wine_up() {
  _wine_xvfb_up
  _wine_prefix_up
  if [ ! -f "$VANTORIX_WINE_DIR/server.pid" ] || ! kill -0 "$(cat "$VANTORIX_WINE_DIR/server.pid")" 2>/dev/null; then
    "$WINESERVER" -p -f >"$VANTORIX_WINE_DIR/server.log" 2>&1 &
    echo $! > "$VANTORIX_WINE_DIR/server.pid"
    sleep 0.5
    # The first process starts Wine's services, which live as long as the server: give them no pipe of
    # the caller's to hold open.
    timeout 300 "$WINE" wineboot </dev/null >"$VANTORIX_WINE_DIR/services.log" 2>&1
    # A prefix seeded from an older tarball may lack the Chinese UI font; a grep when it has it.
    bash "$_here/wine-cjk-font.sh"
  fi
}

# The standard user: Wine run by an unprivileged account on a prefix of its own (a prefix must belong to
# the account that runs Wine), so what root owns is closed to it, as "Program Files" is to a standard user.
# Its prefix is made once and cached as a tarball beside the shared one. The account's own wineserver
# serves it; it shares no windows or handles with root's.
export VANTORIX_TEST_USER=${VANTORIX_TEST_USER:-vantorix-user}
export VANTORIX_USER_WINEPREFIX=$VANTORIX_WINE_DIR/user/prefix

# as_test_user CMD...: runs CMD as the test user with its Wine environment (and the shared display).
as_test_user() {
  local home
  home=$(getent passwd "$VANTORIX_TEST_USER" | cut -d: -f6)
  runuser -u "$VANTORIX_TEST_USER" -- env -i PATH=/usr/bin:/bin HOME="$home" USER="$VANTORIX_TEST_USER" \
    LOGNAME="$VANTORIX_TEST_USER" WINEARCH=win32 WINEPREFIX="$VANTORIX_USER_WINEPREFIX" WINEDEBUG="$WINEDEBUG" \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES" DISPLAY="$DISPLAY" "$@"
}

wine_user_up() {
  id -u "$VANTORIX_TEST_USER" >/dev/null 2>&1 || { echo "no test user $VANTORIX_TEST_USER: run tools/setup.sh"; return 1; }
  _wine_xvfb_up
  local dir=$VANTORIX_WINE_DIR/user cache=$VANTORIX_WINE_DIR/user-prefix.tar
  mkdir -p "$dir" && chown "$VANTORIX_TEST_USER" "$dir"
  if [ ! -f "$VANTORIX_USER_WINEPREFIX/system.reg" ]; then
    if [ -f "$cache" ]; then
      as_test_user tar -C "$dir" -xf "$cache" || return 1
    else
      as_test_user timeout 300 "$WINE" wineboot -i >"$dir/wineboot.log" 2>&1
      as_test_user "$WINESERVER" -w
      as_test_user timeout 120 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      as_test_user bash "$_here/wine-cjk-font.sh"
      as_test_user "$WINESERVER" -w
      as_test_user tar -C "$dir" -cf "$dir/prefix.tar.new" prefix && mv "$dir/prefix.tar.new" "$cache"
    fi
  fi
  # A persistent server for the run: each process of the account then starts quickly. Its first process
  # starts the account's Wine services, which live as long as the server: they get no pipe of the caller's.
  if ! pgrep -u "$VANTORIX_TEST_USER" -f wineserver >/dev/null; then
    as_test_user "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
    as_test_user timeout 300 "$WINE" wineboot </dev/null >"$dir/services.log" 2>&1
  fi
}

wine_down() {  # safe under "set -e": a process that is gone already is no failure
  "$WINESERVER" -k >/dev/null 2>&1 || true
  if id -u "$VANTORIX_TEST_USER" >/dev/null 2>&1 && [ -f "$VANTORIX_USER_WINEPREFIX/system.reg" ]; then
    as_test_user "$WINESERVER" -k >/dev/null 2>&1 || true
  fi
  local pid
  for pid in server xvfb; do
    [ -f "$VANTORIX_WINE_DIR/$pid.pid" ] && { kill "$(cat "$VANTORIX_WINE_DIR/$pid.pid")" 2>/dev/null || true; }
  done
  rm -f "$VANTORIX_WINE_DIR/server.pid" "$VANTORIX_WINE_DIR/xvfb.pid"
  return 0
}

# wine_run SECONDS program.exe [args...]: one bounded Wine process; output goes to the caller's streams.
wine_run() {
  local limit=$1; shift
  timeout -k 5 "$limit" "$WINE" "$@"
}

# A test that registers a copy of the control library of its own calls this when it ends: the classes point
# again at the copy in the system folder, where the launcher installed it, so the prefix stays as a user's
# machine would be for whatever runs next (the main job or another test).
wine_restore_installed_control() {
  [ -f "$WINEPREFIX/drive_c/windows/system32/Velview_G_201.ocx" ] \
    && wine_run 120 regsvr32 /s 'C:\windows\system32\Velview_G_201.ocx'
  return 0
}

# The Windows path of a Linux file, as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "$(realpath -m "$1" | sed 's#/#\\#g')"; }
