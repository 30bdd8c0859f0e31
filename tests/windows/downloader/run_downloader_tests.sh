#!/usr/bin/env bash
# Runs downloader_tests.exe under Wine against tests/e2e/servers/httpserver.py on 127.0.0.1.
#   run_downloader_tests.sh path/to/downloader_tests.exe [gtest arguments]
# The server serves generated files (/gen/SIZE/NAME) and takes its per-path faults from a control file
# that the tests rewrite; it logs every request as a JSON line that the tests read back.
set -u
exe=$1; shift
src=${VANTORIX_SOURCE:-$(cd "$(dirname "$0")/../../.." && pwd)}
declare -F wine_run >/dev/null || source "$src/tools/wine-env.sh"
work=$(mktemp -d /tmp/vantorix-downloader.XXXXXX)
mkdir -p "$work/www" "$work/out"
echo '{}' > "$work/control.json"
python3 "$src/tests/e2e/servers/httpserver.py" --root "$work/www" --port-file "$work/port" \
  --log "$work/requests.jsonl" --control "$work/control.json" --max-requests 400 --max-seconds 560 \
  >"$work/server.out" 2>"$work/server.err" &
server=$!
# The same files over HTTPS with a throw-away self-signed certificate for localhost. Wine takes its trusted
# roots from the host's certificate files, which a test must not change: the certificate stays untrusted,
# and the test checks that the downloader speaks TLS to an https address and refuses that certificate.
tls_server=
if openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
     -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -addext "extendedKeyUsage=serverAuth" \
     -keyout "$work/tls.key" -out "$work/tls.pem" >/dev/null 2>&1; then
  python3 "$src/tests/e2e/servers/httpserver.py" --root "$work/www" --port-file "$work/tls-port" \
    --log "$work/requests.jsonl" --cert "$work/tls.pem" --key "$work/tls.key" --max-requests 50 --max-seconds 560 \
    >/dev/null 2>"$work/tls-server.err" &
  tls_server=$!
fi
for _ in $(seq 100); do [ -s "$work/port" ] && { [ -z "$tls_server" ] || [ -s "$work/tls-port" ]; } && break; sleep 0.1; done
if [ ! -s "$work/port" ]; then
  echo "test server did not start"; cat "$work/server.err"; kill "$server" $tls_server 2>/dev/null; exit 1
fi
[ -n "$tls_server" ] && export VANTORIX_DL_TLS_PORT=$(cat "$work/tls-port")
# Loopback only: no proxy may stand between the downloader and the test server.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export VANTORIX_DL_PORT=$(cat "$work/port")
export VANTORIX_DL_WORK=$(winpath "$work")
wine_up
wine_run 540 "$exe" "$@" > "$work/test.out" 2>&1
rc=$?
cat "$work/test.out"
kill "$server" $tls_server 2>/dev/null
wait "$server" $tls_server 2>/dev/null
if [ "$rc" = 0 ]; then rm -rf "$work"; else echo "kept for inspection: $work"; fi
exit "$rc"
