#!/usr/bin/env bash
# The main job: installs what is missing, builds, and lets the launcher update an installation from a local
# update server, as a user would see it under Wine and Xvfb:
#   1. a copy of build/win/installation (client version V) and an update package of version V+1: the
#      manifest "updata.json" (mandatory) and "newtemp.zip" holding bin\client.exe with the higher version and
#      the skin page, served on 127.0.0.1 by the loopback test server;
#   2. VantorixAssist.exe started from the copy with VANTORIX_MANIFEST_URL pointing at that server;
#   3. a user (launcher_driver.exe) answers the registration question when the control library is not yet
#      in the system folder, confirms "发现新版本！", waits for the download and the unpacking, presses
#      "立即启动" and brings the started client's window up;
#   4. screenshots of each state in build/artifacts/main-job/, the final screen in build/artifacts/main-job.png.
# Bounded: every step has a time limit; the server and the client are stopped at the end.
# Environment: SKIP_SETUP=1 skips tools/setup.sh, SKIP_BUILD=1 the build; BUILD_DIR, VANTORIX_WINE_DIR, VANTORIX_DISPLAY as for the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
log() { printf '[main-job] %s\n' "$*"; }

if [ "${SKIP_SETUP:-0}" != 1 ]; then
  if [ "$(id -u)" = 0 ]; then bash "$root/tools/setup.sh"; else sudo bash "$root/tools/setup.sh"; fi
fi
[ "${SKIP_BUILD:-0}" = 1 ] || BUILD_DIR=$build bash "$root/tools/build.sh"

export VANTORIX_WINE_DIR=${VANTORIX_WINE_DIR:-$build/wine}
source "$root/tools/wine-env.sh"
win=$build/win
work=$build/main-job
artifacts=$build/artifacts
shots=$artifacts/main-job
driver=$win/tests/windows/launcher_e2e/launcher_driver.exe
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots" "$artifacts"

server_pid=
launcher_pid=
trusted=
trust_root=$win/tests/windows/services/trust_root.exe
cleanup() {
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  # The client this job started (from its own copy of the installation, so nothing else is touched).
  [ -f "$driver" ] && timeout 30 "$WINE" "$driver" "end|$(winpath "$work/installation/bin/client.exe")" >/dev/null 2>&1 || true
  [ -n "$trusted" ] && timeout 60 "$WINE" "$trust_root" remove "$trusted" >/dev/null 2>&1 || true
}
trap cleanup EXIT

log "bringing up Xvfb, the Wine prefix and wineserver"
wine_up
bash "$root/tools/wine-cjk-font.sh"

cp -r "$win/installation" "$work/installation"
current=$(python3 "$root/tools/update-server/update_package.py" --print-version "$work/installation/bin/client.exe")
next=$(python3 -c 'import sys; p=sys.argv[1].split("."); p[3]=str(int(p[3])+1); print(".".join(p))' "$current")

mkdir -p "$work/server"
# HTTPS as on the maker's site: a throw-away root CA that the Wine machine trusts for this run only (as an
# administrator adds a company CA; certificate checks stay on), and a server certificate for 127.0.0.1.
scheme=http
tls=()
if [ -f "$trust_root" ] && bash "$root/tests/e2e/tls/make_test_ca.sh" "$work/ca" \
   && timeout 60 "$WINE" "$trust_root" add "$(winpath "$work/ca/ca.der")" >/dev/null 2>&1; then
  trusted=$(winpath "$work/ca/ca.der")
  scheme=https
  tls=(--cert "$work/ca/server.pem" --key "$work/ca/server.key")
else
  log "no test root CA could be trusted: serving plain HTTP"
fi
log "update server on 127.0.0.1 ($scheme) with version $next (installation has $current)"
python3 "$root/tests/e2e/servers/httpserver.py" --root "$work/server" --port 0 --port-file "$work/port" \
  --log "$work/server.jsonl" --max-seconds 300 --max-requests 200 "${tls[@]}" >/dev/null 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
python3 "$root/tools/update-server/update_package.py" --installation "$win/installation" --version "$next" \
  --base-url "$scheme://127.0.0.1:$port" --out "$work/server" --force-mod 1 --title "Vantorix $next" \
  --notes $'界面更新\r\n修复若干问题'

steps=()
system_dir=$WINEPREFIX/drive_c/windows/system32
if [ ! -f "$system_dir/Velview_G_201.ocx" ]; then
  steps+=("waitbox|程序首次启动需要注册DLL控件|90" "shot|$(winpath "$shots")\\0-register.bmp" "box|yes|程序首次启动需要注册DLL控件")
fi
steps+=("waitbox|发现新版本！$next|120" "shot|$(winpath "$shots")\\1-new-version.bmp" "box|ok|发现新版本！$next"
        "form|升级中|0|30" "shot|$(winpath "$shots")\\2-downloading.bmp"
        "waitbox|Vantorix已经成功下载了当前最新的：$next|120" "shot|$(winpath "$shots")\\3-downloaded.bmp"
        "box|ok|Vantorix已经成功下载了当前最新的：$next"
        "form|立即启动|1|60" "msg|更新完成！|30" "shot|$(winpath "$shots")\\4-start-now.bmp" "click" "gone|30"
        "restore|15" "sleep|4000")

log "starting the launcher; the user answers its questions"
timeout -k 5 300 "$WINE" "$driver" "${steps[@]}" >"$shots/driver.log" 2>&1 &
driver_pid=$!
sleep 1
VANTORIX_MANIFEST_URL="$scheme://127.0.0.1:$port/updata.json" \
  timeout -k 5 300 "$WINE" "$(winpath "$work/installation/VantorixAssist.exe")" >/dev/null 2>&1 &
launcher_pid=$!
driver_rc=0
wait "$driver_pid" || driver_rc=$?
import -display "$DISPLAY" -window root "$artifacts/main-job.png"
wait "$launcher_pid" || true
launcher_pid=
for bmp in "$shots"/*.bmp; do [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"; done
cat "$shots/driver.log"

installed=$(python3 "$root/tools/update-server/update_package.py" --print-version "$work/installation/bin/client.exe")
log "client version in the installation: $installed (was $current)"
log "screenshot: $artifacts/main-job.png; every state: $shots/"
if [ "$driver_rc" != 0 ] || [ "$installed" != "$next" ]; then
  log "the update did not go through"
  exit 1
fi
log "done: updated $current -> $next and started the new client"
