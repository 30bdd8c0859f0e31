#!/usr/bin/env bash
# Source this file: it brings up (once per run) an X server, a Wine prefix and one persistent wineserver,
# and exports what every Wine call of the tests and the demo needs.
#   VANTORIX_WINE_DIR   where the prefix, its cached tarball and the server state live (default: build/wine;
#                       a 64-bit prefix lives beside it, in the same name with "-win64")
#   VANTORIX_WINE_ARCH  win32 (default) or win64: a 64-bit prefix, where our 32-bit programs meet WoW64
#   VANTORIX_DISPLAY    X display number to use (default: 87; tools/test.sh gives each run one of its own)
#   VANTORIX_TEST_USER  the unprivileged account whose Wine plays a standard user (default: vantorix-user,
#                       made by tools/setup.sh)
#   VANTORIX_SPEED_FACTOR  how much slower than the reference this machine runs Wine now (tools/speed.sh;
#                       default 1): the time limits of bringing Wine up grow with it
# Functions: wine_up, wine_down, wine_run TIMEOUT EXE [ARGS...], wine_user_up, as_test_user CMD...
# Every failure to come up is said on stderr and returned: nothing goes on over a display or a server that
# is not there, and a prefix is kept (and cached) only when it was made completely.
_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export VANTORIX_WINE_ARCH=${VANTORIX_WINE_ARCH:-win32}
source "$_here/wine-binaries.sh" || return 1 2>/dev/null || exit 1
export VANTORIX_WINE=$WINE VANTORIX_WINESERVER=$WINESERVER VANTORIX_WIN_SYSTEM_FOLDER=$WIN_SYSTEM_FOLDER
export VANTORIX_WINE_DIR=${VANTORIX_WINE_DIR:-$_here/../build/wine}
if [ "$VANTORIX_WINE_ARCH" = win64 ] && [ "${VANTORIX_WINE_DIR%-win64}" = "$VANTORIX_WINE_DIR" ]; then
  VANTORIX_WINE_DIR=$VANTORIX_WINE_DIR-win64
fi
mkdir -p "$VANTORIX_WINE_DIR"
VANTORIX_WINE_DIR=$(cd "$VANTORIX_WINE_DIR" && pwd)
export WINEARCH=$VANTORIX_WINE_ARCH
export WINEPREFIX=$VANTORIX_WINE_DIR/prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY=:${VANTORIX_DISPLAY:-87}
# The factor the run measured when it brought Wine up (wine-test.sh --up), kept beside the 32-bit prefix.
if [ -z "${VANTORIX_SPEED_FACTOR:-}" ]; then
  VANTORIX_SPEED_FACTOR=$(cat "${VANTORIX_WINE_DIR%-win64}/speed-factor" 2>/dev/null || echo 1)
fi
export VANTORIX_SPEED_FACTOR

_wine_fail() { echo "[wine-env] FAILED: $*" >&2; return 1; }
# _wine_limit SECONDS: SECONDS grown by the speed factor (a whole number of seconds).
_wine_limit() { awk -v s="$1" -v f="$VANTORIX_SPEED_FACTOR" 'BEGIN { printf "%d", s * (f > 1 ? f : 1) + 0.5 }'; }

_wine_xvfb_up() {
  local n=${DISPLAY#:} lock pid
  xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
  lock=/tmp/.X$n-lock
  if [ -e "$lock" ]; then
    pid=$(tr -dc 0-9 < "$lock")
    # A lock whose server is gone is stale and may go; a live server's lock is never touched.
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      # It may be starting: give it the time a start takes, then say whose it is.
      _wine_wait_display "$(_wine_limit 30)" && return 0
      _wine_fail "display $DISPLAY belongs to process $pid, which does not answer: pick another VANTORIX_DISPLAY"
      return 1
    fi
    rm -f "$lock" "/tmp/.X11-unix/X$n"
  fi
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >"$VANTORIX_WINE_DIR/xvfb.log" 2>&1 &
  pid=$!
  # Named after the display: runs of one build folder on two displays each stop their own server.
  echo "$pid" > "$VANTORIX_WINE_DIR/xvfb-$n.pid"
  _wine_wait_display "$(_wine_limit 30)" "$pid" && return 0
  kill "$pid" 2>/dev/null
  rm -f "$VANTORIX_WINE_DIR/xvfb-$n.pid"
  _wine_fail "Xvfb did not come up on $DISPLAY within $(_wine_limit 30) s: $(tail -n 3 "$VANTORIX_WINE_DIR/xvfb.log" | tr '\n' ' ')"
}

_wine_wait_display() {  # _wine_wait_display SECONDS [PID]: the display answers (and PID still runs)
  local end=$(( SECONDS + $1 ))
  while [ $SECONDS -lt $end ]; do
    xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
    [ -z "${2:-}" ] || kill -0 "$2" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# _wine_server_ready PREFIX USER: a wineserver of USER serves PREFIX: it has made its socket in its server
# folder (named after the prefix's device and inode), which is its working folder.
_wine_server_ready() {
  local name pid
  name=$(stat -c 'server-%d-%i' "$1" 2>/dev/null | awk -F- '{ printf "server-%x-%x", $2, $3 }') || return 1
  for pid in $(pgrep -u "$2" -f wineserver); do
    [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$name" ] && [ -S "/proc/$pid/cwd/socket" ] && return 0
  done
  return 1
}

_wine_wait_server() {  # _wine_wait_server PREFIX USER [PID]: waits for the server within its time limit
  local limit end
  limit=$(_wine_limit 60)
  end=$(( SECONDS + limit ))
  while [ $SECONDS -lt $end ]; do
    _wine_server_ready "$1" "$2" && return 0
    [ -z "${3:-}" ] || kill -0 "$3" 2>/dev/null || { _wine_server_ready "$1" "$2" && return 0; break; }
    sleep 0.1
  done
  _wine_fail "no wineserver came up for $1 within $limit s"
}

# What every prefix of the tests carries, set once and checked cheaply afterwards (a prefix may come from an
# older tarball or another run's): no window manager runs here, so unmanaged windows close without waiting
# for one; a program that faults never waits for a debugger (Wine starts winedbg for an unhandled fault,
# which under Xvfb shows its crash dialog to nobody); message boxes get a font with Chinese glyphs.
_wine_prefix_settings() {  # _wine_prefix_settings RUNNER... (empty: this account; as_test_user: the test user's)
  local reg=$WINEPREFIX/system.reg user=$WINEPREFIX/user.reg limit
  [ $# -eq 0 ] || { reg=$VANTORIX_USER_WINEPREFIX/system.reg; user=$VANTORIX_USER_WINEPREFIX/user.reg; }
  limit=$(_wine_limit 120)
  if ! grep -q '^"Managed"="N"' "$user" 2>/dev/null; then
    "$@" timeout "$limit" "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 \
      || { _wine_fail "could not set the prefix's window management"; return 1; }
  fi
  # "false" names no Windows program: the fault's process ends at once with the fault's code. A 32-bit
  # program on a 64-bit prefix reads the key's 32-bit view, which its own reg.exe writes.
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' views=("$WINE reg")
  [ "$VANTORIX_WINE_ARCH" = win64 ] && views+=("$WINE $WIN_SYSTEM_FOLDER\\reg.exe")
  if [ "$(grep -c '^"Debugger"="false"' "$reg" 2>/dev/null)" -lt ${#views[@]} ]; then
    local view
    for view in "${views[@]}"; do
      # shellcheck disable=SC2086  # the loader and the program, as two words
      "$@" timeout "$limit" $view add "$key" /v Debugger /d false /f >/dev/null 2>&1 \
        && "$@" timeout "$limit" $view add "$key" /v Auto /d 1 /f >/dev/null 2>&1 \
        || { _wine_fail "could not keep the debugger from starting on a fault"; return 1; }
    done
  fi
  "$@" bash "$_here/wine-cjk-font.sh" || { _wine_fail "could not give the prefix a font with Chinese glyphs"; return 1; }
}

# A fresh prefix costs about half a minute under emulation: build it once and keep a tarball of it. The
# tarball is written only after every step succeeded; a prefix that failed is removed.
_wine_prefix_up() {
  local cache=$VANTORIX_WINE_DIR/prefix.tar limit
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  # A prefix made by another run on this machine can seed this one (VANTORIX_WINE_SEED: its tarball).
  if [ ! -f "$cache" ] && [ -n "${VANTORIX_WINE_SEED:-}" ] && [ -f "$VANTORIX_WINE_SEED" ]; then
    cp "$VANTORIX_WINE_SEED" "$cache"
  fi
  if [ -f "$cache" ]; then
    tar -C "$VANTORIX_WINE_DIR" -xf "$cache" && return 0
    rm -rf "$WINEPREFIX"
    _wine_fail "the cached prefix $cache does not unpack"
    return 1
  fi
  limit=$(_wine_limit 300)
  rm -rf "$WINEPREFIX"
  if ! timeout "$limit" "$WINE" wineboot -i >"$VANTORIX_WINE_DIR/wineboot.log" 2>&1 \
     || ! timeout "$limit" "$WINESERVER" -w || [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 60 "$WINESERVER" -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
    _wine_fail "wineboot did not make a prefix within $limit s (log: $VANTORIX_WINE_DIR/wineboot.log): $(tail -n 3 "$VANTORIX_WINE_DIR/wineboot.log" | tr '\n' ' ')"
    return 1
  fi
  if ! _wine_prefix_settings || ! timeout "$limit" "$WINESERVER" -w; then
    timeout 60 "$WINESERVER" -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
    return 1
  fi
  tar -C "$VANTORIX_WINE_DIR" -cf "$cache.new" prefix && mv "$cache.new" "$cache"
}

wine_up() {
  _wine_xvfb_up || return 1
  _wine_prefix_up || return 1
  _wine_server_ready "$WINEPREFIX" "$(id -u)" && return 0
  "$WINESERVER" -p -f >"$VANTORIX_WINE_DIR/server.log" 2>&1 &
  echo $! > "$VANTORIX_WINE_DIR/server.pid"
  _wine_wait_server "$WINEPREFIX" "$(id -u)" "$!" || return 1
  # The first process starts Wine's services, which live as long as the server: give them no pipe of the
  # caller's to hold open.
  timeout "$(_wine_limit 300)" "$WINE" wineboot </dev/null >"$VANTORIX_WINE_DIR/services.log" 2>&1 \
    || { _wine_fail "Wine's services did not start (log: $VANTORIX_WINE_DIR/services.log)"; return 1; }
  # A prefix seeded from an older tarball may lack a setting; a grep each when it has them.
  _wine_prefix_settings
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
    LOGNAME="$VANTORIX_TEST_USER" WINEARCH="$WINEARCH" WINEPREFIX="$VANTORIX_USER_WINEPREFIX" WINEDEBUG="$WINEDEBUG" \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES" DISPLAY="$DISPLAY" VANTORIX_WINE_ARCH="$VANTORIX_WINE_ARCH" \
    VANTORIX_SPEED_FACTOR="$VANTORIX_SPEED_FACTOR" "$@"
}

wine_user_up() {
  local uid dir=$VANTORIX_WINE_DIR/user cache=$VANTORIX_WINE_DIR/user-prefix.tar limit
  uid=$(id -u "$VANTORIX_TEST_USER" 2>/dev/null) || { _wine_fail "no test user $VANTORIX_TEST_USER: run tools/setup.sh"; return 1; }
  _wine_xvfb_up || return 1
  limit=$(_wine_limit 300)
  mkdir -p "$dir" && chown "$VANTORIX_TEST_USER" "$dir"
  if [ ! -f "$VANTORIX_USER_WINEPREFIX/system.reg" ]; then
    if [ -f "$cache" ]; then
      as_test_user tar -C "$dir" -xf "$cache" || { _wine_fail "the standard user's cached prefix does not unpack"; return 1; }
    else
      if ! as_test_user timeout "$limit" "$WINE" wineboot -i >"$dir/wineboot.log" 2>&1 \
         || ! as_test_user timeout "$limit" "$WINESERVER" -w || [ ! -f "$VANTORIX_USER_WINEPREFIX/system.reg" ] \
         || ! _wine_prefix_settings as_test_user || ! as_test_user timeout "$limit" "$WINESERVER" -w; then
        as_test_user timeout 60 "$WINESERVER" -k >/dev/null 2>&1
        rm -rf "$VANTORIX_USER_WINEPREFIX"
        _wine_fail "the standard user's prefix was not made (log: $dir/wineboot.log)"
        return 1
      fi
      as_test_user tar -C "$dir" -cf "$dir/prefix.tar.new" prefix && mv "$dir/prefix.tar.new" "$cache"
    fi
  fi
  # A persistent server for the run: each process of the account then starts quickly. Its first process
  # starts the account's Wine services, which live as long as the server: they get no pipe of the caller's.
  if ! _wine_server_ready "$VANTORIX_USER_WINEPREFIX" "$uid"; then
    as_test_user "$WINESERVER" -p </dev/null >/dev/null 2>&1 || { _wine_fail "the standard user's wineserver did not start"; return 1; }
    _wine_wait_server "$VANTORIX_USER_WINEPREFIX" "$uid" || return 1
    as_test_user timeout "$limit" "$WINE" wineboot </dev/null >"$dir/services.log" 2>&1 \
      || { _wine_fail "the standard user's Wine services did not start (log: $dir/services.log)"; return 1; }
    _wine_prefix_settings as_test_user
  fi
}

wine_down() {  # safe under "set -e": a process that is gone already is no failure
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
  if id -u "$VANTORIX_TEST_USER" >/dev/null 2>&1 && [ -f "$VANTORIX_USER_WINEPREFIX/system.reg" ]; then
    as_test_user timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
  fi
  local pid
  for pid in server "xvfb-${DISPLAY#:}"; do
    [ -f "$VANTORIX_WINE_DIR/$pid.pid" ] && { kill "$(cat "$VANTORIX_WINE_DIR/$pid.pid")" 2>/dev/null || true; }
  done
  rm -f "$VANTORIX_WINE_DIR/server.pid" "$VANTORIX_WINE_DIR/xvfb-${DISPLAY#:}.pid"
  return 0
}

# wine_run SECONDS program.exe [args...]: one bounded Wine process (the limit grown by the speed factor);
# output goes to the caller's streams.
wine_run() {
  local limit
  limit=$(_wine_limit "$1"); shift
  timeout -k 5 "$limit" "$WINE" "$@"
}

# wine_tool NAME: the 32-bit system program NAME as a 32-bit program of ours starts it (on a 64-bit prefix
# the one in SysWOW64, which sees the 32-bit registry view).
wine_tool() {
  if [ "$VANTORIX_WINE_ARCH" = win32 ]; then echo "$1"; else echo "$WIN_SYSTEM_FOLDER\\$1.exe"; fi
}

# The Linux path of the 32-bit system folder of the prefix.
wine_system_folder() { printf '%s/drive_c/%s' "$WINEPREFIX" "$(printf '%s' "${WIN_SYSTEM_FOLDER:3}" | tr '\\' /)"; }

# A test that registers a copy of the control library of its own calls this when it ends: the classes point
# again at the copy in the system folder, where the launcher installed it, so the prefix stays as a user's
# machine would be for whatever runs next (the main job or another test).
wine_restore_installed_control() {
  [ -f "$(wine_system_folder)/Velview_G_201.ocx" ] \
    && wine_run 120 "$(wine_tool regsvr32)" /s "$WIN_SYSTEM_FOLDER\\Velview_G_201.ocx"
  return 0
}

# The Windows path of a Linux file, as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "$(realpath -m "$1" | sed 's#/#\\#g')"; }
