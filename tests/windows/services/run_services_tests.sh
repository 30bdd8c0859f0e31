#!/usr/bin/env bash
# Runs services_tests.exe under Wine against three local HTTPS servers and one HTTP server, all on
# 127.0.0.1 and bounded. The test root CA is put into the Wine machine's Root certificate store for the
# run (as an administrator would add a company CA) and taken out again afterwards.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=${VANTORIX_SOURCE:-$(cd "$here/../../.." && pwd)}
win=${VANTORIX_WIN_BUILD:?cross build folder}
source "$src/tools/wine-env.sh"
wine_up
work=$(mktemp -d /tmp/vx-services.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  [ -f "$work/ca/ca.der" ] && wine_run 60 "$win/tests/windows/services/trust_root.exe" remove "$(winpath "$work/ca/ca.der")" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

bash "$src/tests/e2e/tls/make_test_ca.sh" "$work/ca" || exit 1
printf '%s' '{"Version_date":{"version":"1.0.0.2","url":"https://127.0.0.1/update.zip","uptext":"修复问题\r\n提升速度","new_title":"Vantorix 新版","force_mod":"1","new_skinurl":""}}' > "$work/updata.json"

serve() {  # serve NAME [--cert C --key K]
  local name=$1; shift
  python3 "$src/tests/e2e/tls/manifest_server.py" --manifest "$work/updata.json" --port-file "$work/$name.port" \
    --max-seconds 300 --delay 8 "$@" >"$work/$name.log" 2>&1 &
  pids+=($!)
}
serve http
serve https --cert "$work/ca/server.pem" --key "$work/ca/server.key"
serve untrusted --cert "$work/ca/selfsigned.pem" --key "$work/ca/selfsigned.key"
serve wrongname --cert "$work/ca/wrongname.pem" --key "$work/ca/wrongname.key"
for n in http https untrusted wrongname; do
  for _ in $(seq 100); do [ -s "$work/$n.port" ] && break; sleep 0.1; done
  [ -s "$work/$n.port" ] || { echo "server $n did not start"; cat "$work/$n.log"; exit 1; }
done
# A port with nobody listening: bound once to learn a free number, then released.
refused=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# A throw-away update signing key: a file signed the way update_package.py signs an archive, and a manifest
# of it signed the way update_package.py signs one (serial 3).
openssl ecparam -name prime256v1 -genkey -noout -out "$work/signing.pem" 2>/dev/null || { echo "cannot make a signing key"; exit 1; }
printf 'an update archive' > "$work/signed.zip"
read -r signature public_key < <(python3 -c '
import sys; sys.path.insert(0, sys.argv[1]); import update_package as u
open(sys.argv[4], "w", encoding="utf-8").write(u.manifest_text("1.0.0.2", "https://127.0.0.1/signed.zip", "说明",
    archive=sys.argv[2], signing_key=sys.argv[3], serial=3))
print(u.sign_archive(sys.argv[2], sys.argv[3]), u.public_key_xy(sys.argv[3]).hex())' \
  "$src/tools/update-server" "$work/signed.zip" "$work/signing.pem" "$work/signed.json")
export VX_SIGNED_FILE=$(winpath "$work/signed.zip") VX_SIGNATURE=$signature VX_PUBLIC_KEY=$public_key
export VX_SIGNED_MANIFEST=$(winpath "$work/signed.json")

wine_run 60 "$win/tests/windows/services/trust_root.exe" add "$(winpath "$work/ca/ca.der")" || { echo "cannot trust the test root"; exit 1; }

version=$(sed -n 's/^VANTORIX_VERSION:STRING=//p' "$win/CMakeCache.txt")
export VX_HTTP_PORT=$(cat "$work/http.port") VX_HTTPS_PORT=$(cat "$work/https.port")
export VX_UNTRUSTED_PORT=$(cat "$work/untrusted.port") VX_WRONGNAME_PORT=$(cat "$work/wrongname.port")
export VX_REFUSED_PORT=$refused VX_EXPECTED_VERSION=$version
export VX_VERSIONED_EXE=$(winpath "$win/bin/VantorixAssist.exe") VX_MANIFEST_FILE=$(winpath "$work/updata.json")
export WINEDEBUG=${WINEDEBUG:--all}
wine_run 300 "$win/tests/windows/services/services_tests.exe" "$@" > "$work/out.txt" 2>&1
rc=$?
cat "$work/out.txt"
exit $rc
