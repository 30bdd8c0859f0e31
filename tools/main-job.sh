#!/usr/bin/env bash
# The main job: installs what is missing, builds, and lets the launcher update an installation from a local
# update server, as a user would see it under Wine and Xvfb:
#   1. a fresh Wine machine (its own prefix, seeded from the tests' cached one when there is one) on which the
#      built setup program installs the installation silently into "C:\Program Files\VantorixAssist"
#      (client version V, the control library registered), and release V+1 made by the maker's release tool
#      (tools/release/release.py) from the built installation folder with the client's version raised: the
#      full archive "V+1.zip", the delta "V-V+1.delta.zip" from the installed folder, and the manifest
#      "updata.json" (mandatory, signed with the build's signing key, the delta listed in the payload),
#      served over HTTPS on 127.0.0.1 by nginx (started and stopped here), as the maker's site serves them;
#   2. the installed VantorixAssist.exe started with VANTORIX_MANIFEST_URL pointing at that server;
#   3. a user (launcher_driver.exe) sees no registration question (the setup registered the library),
#      confirms "发现新版本！", waits for the download and the unpacking, presses
#      "立即启动" and brings the started client's window up (restored, not minimised); the flow's button
#      states are recorded and must come in order, however fast the download passes them;
#   4. screenshots of each state in build/artifacts/main-job/, the final screen in build/artifacts/main-job.png.
# Bounded: every step has a time limit; the server, the client and the machine are stopped at the end.
# Environment: SKIP_SETUP=1 skips tools/setup.sh, SKIP_BUILD=1 the build; BUILD_DIR, VANTORIX_WINE_DIR, VANTORIX_DISPLAY as for the tests;
# VANTORIX_UPDATE_RATE the rate nginx sends the archive at (default 256k; 0 sends it at once).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
log() { printf '[main-job] %s\n' "$*"; }

if [ "${SKIP_SETUP:-0}" != 1 ]; then
  if [ "$(id -u)" = 0 ]; then bash "$root/tools/setup.sh"; else sudo bash "$root/tools/setup.sh"; fi
fi
# The job publishes signed updates: a throw-away key pair unless the caller names keys of its own.
[ -n "${VANTORIX_UPDATE_PUBLIC_KEY:-}" ] || export VANTORIX_TEST_UPDATE_KEYS=1
[ "${SKIP_BUILD:-0}" = 1 ] || BUILD_DIR=$build bash "$root/tools/build.sh"

# A machine of its own, new for every run, so the job sees what a user's machine sees after the setup and
# neither it nor the test run can leave the other anything.
export VANTORIX_WINE_DIR=${VANTORIX_WINE_DIR:-$build/wine-main-job}
export VANTORIX_DISPLAY=${VANTORIX_DISPLAY:-88}
[ -f "$build/wine/prefix.tar" ] && export VANTORIX_WINE_SEED=${VANTORIX_WINE_SEED:-$build/wine/prefix.tar}
source "$root/tools/wine-env.sh"
wine_down
rm -rf "$VANTORIX_WINE_DIR/prefix"
win=$build/win
work=$build/main-job
artifacts=$build/artifacts
shots=$artifacts/main-job
driver=$win/tests/windows/launcher_e2e/launcher_driver.exe
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots" "$artifacts"

nginx_pid=
launcher_pid=
trusted=
inst=
trust_root=$win/tests/windows/services/trust_root.exe
cleanup() {
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  # The client this job started (by its program path, so nothing else is touched).
  [ -f "$driver" ] && [ -n "$inst" ] && timeout 30 "$WINE" "$driver" "end|$(winpath "$inst/bin/client.exe")" >/dev/null 2>&1 || true
  [ -n "$trusted" ] && timeout 60 "$WINE" "$trust_root" remove "$trusted" >/dev/null 2>&1 || true
  wine_down
}
trap cleanup EXIT

log "bringing up Xvfb, the Wine prefix and wineserver"
wine_up

log "installing with the setup program, silently"
inst=$(SETUP=$(ls -t "$win"/VantorixSetup-*.exe 2>/dev/null | head -n 1) bash "$root/tools/install-from-setup.sh") || { log "the setup program did not install"; exit 1; }
log "installed in $inst"
current=$(python3 "$root/tools/update-server/update_package.py" --print-version "$inst/bin/client.exe")
next=$(python3 -c 'import sys; p=sys.argv[1].split("."); p[3]=str(int(p[3])+1); print(".".join(p))' "$current")

# The maker's side: nginx serving the manifest and the archive over HTTPS on 127.0.0.1, with a certificate
# from a throw-away root CA that the Wine machine trusts for this run only (as an administrator adds a
# company CA; certificate checks stay on). The archive goes out at a bounded rate, so the download can be
# watched however fast this machine is.
mkdir -p "$work/server" "$work/nginx"
bash "$root/tests/e2e/tls/make_test_ca.sh" "$work/ca"
timeout 60 "$WINE" "$trust_root" add "$(winpath "$work/ca/ca.der")" >/dev/null 2>&1 \
  || { log "the test root CA could not be trusted"; exit 1; }
trusted=$(winpath "$work/ca/ca.der")
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { application/json json; application/zip zip; }
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/ca/server.pem;
    ssl_certificate_key $work/ca/server.key;
    root $work/server;
    location ~ \.zip\$ { limit_rate ${VANTORIX_UPDATE_RATE:-256k}; }
  }
}
EOF
# Signed as the maker signs: with the private key matching the one built into the launcher, if any.
signing_key=$(python3 "$root/tools/update-server/update_package.py" --print-signing-key "$win")
# The raised client is signed again with the build's code-signing certificate, as the maker's is.
codesign=$(python3 "$root/tools/update-server/update_package.py" --print-codesign "$win")
python3 "$root/tools/release/release.py" --release "$win/installation" --set-client-version "$next" \
  --earlier "$inst" --out "$work/server" --base-url "https://127.0.0.1:$port/" --force-mod 1 --title "Vantorix $next" \
  --notes $'界面更新\r\n修复若干问题' --applier "$build/native/tools/release/native/release_apply" $codesign \
  $([ -n "$signing_key" ] && echo --signing-key "$signing_key" || echo --unsigned)
log "nginx on https://127.0.0.1:$port with version $next (installation has $current)"
# Bounded like every server of the tests: it ends by itself after ten minutes at the latest.
timeout 600 nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>"$work/nginx/stderr.log" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -sf --cacert "$work/ca/ca.pem" -o /dev/null "https://127.0.0.1:$port/updata.json" && break
  sleep 0.1
done
curl -sf --cacert "$work/ca/ca.pem" -o /dev/null "https://127.0.0.1:$port/updata.json" \
  || { cat "$work/nginx/stderr.log" "$work/nginx/error.log" 2>/dev/null; log "nginx does not serve the manifest"; exit 1; }

steps=()
steps+=("waitbox|发现新版本！$next|120" "shot|$(winpath "$shots")\\1-new-version.bmp" "box|ok|发现新版本！$next"
        "flow|downloading|30" "shot|$(winpath "$shots")\\2-downloading.bmp"
        "waitbox|Vantorix已经成功下载了当前最新的：$next|120" "shot|$(winpath "$shots")\\3-downloaded.bmp"
        "box|ok|Vantorix已经成功下载了当前最新的：$next"
        "form|立即启动|1|60" "msg|更新完成！|30" "shot|$(winpath "$shots")\\4-start-now.bmp"
        "order|starting,offered,downloading,downloaded,installing,installed" "click" "gone|30"
        "restore|15" "shown|VantorixMainForm|30" "sleep|4000")

log "starting the launcher; the user answers its questions"
timeout -k 5 300 "$WINE" "$driver" "${steps[@]}" >"$shots/driver.log" 2>&1 &
driver_pid=$!
# The launcher starts once the user is there (the driver has noted where the launcher's log stands).
ready=0
for _ in $(seq 1800); do  # up to 3 minutes: a slow machine under qemu
  grep -q 'driver ready' "$shots/driver.log" 2>/dev/null && { ready=1; break; }
  kill -0 "$driver_pid" 2>/dev/null || break
  sleep 0.1
done
[ "$ready" = 1 ] || { log "the scripted user did not start:"; cat "$shots/driver.log"; exit 1; }
VANTORIX_MANIFEST_URL="https://127.0.0.1:$port/updata.json" \
  timeout -k 5 300 "$WINE" "$(winpath "$inst/VantorixAssist.exe")" >/dev/null 2>&1 &
launcher_pid=$!
driver_rc=0
wait "$driver_pid" || driver_rc=$?
import -display "$DISPLAY" -window root "$artifacts/main-job.png"
wait "$launcher_pid" || true
launcher_pid=
for bmp in "$shots"/*.bmp; do [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"; done
cat "$shots/driver.log"

installed=$(python3 "$root/tools/update-server/update_package.py" --print-version "$inst/bin/client.exe")
log "client version in the installation: $installed (was $current)"
log "screenshot: $artifacts/main-job.png; every state: $shots/"
if [ "$driver_rc" != 0 ] || [ "$installed" != "$next" ]; then
  log "the update did not go through"
  exit 1
fi
# The installed release had its delta: the full archive was never asked for.
if ! grep -q "GET /$current-$next.delta.zip " "$work/nginx/access.log" || grep -q "GET /$next.zip " "$work/nginx/access.log"; then
  log "the update did not come as the delta: $(grep -o 'GET [^ ]*' "$work/nginx/access.log" | tr '\n' ' ')"
  exit 1
fi
log "done: updated $current -> $next through the delta and started the new client"
