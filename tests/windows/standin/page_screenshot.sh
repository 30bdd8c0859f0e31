#!/usr/bin/env bash
# What a person sees of a page in the stand-in engine: a host program shows demo_page.html in a web window;
# the screen is kept as an artifact (artifacts/standin-page.png) and must show the page's header colour;
# then the page's own "关闭" button, clicked from outside through standinctl, ends the host.
set -u
source "$VANTORIX_SOURCE/tools/wine-env.sh"
bin=$VANTORIX_WIN_BUILD/bin
artifacts=$VANTORIX_WIN_BUILD/../artifacts
mkdir -p "$artifacts"
page=$(winpath "$VANTORIX_SOURCE/tests/windows/standin/demo_page.html")
status=$(mktemp)
( cd "$bin" && wine_run 90 standin_host.exe "$page"; echo $? > "$status" ) &
host=$!
ready=0
for _ in $(seq 60); do
  if [ "$(cd "$bin" && wine_run 20 standinctl.exe views 2>/dev/null | tr -d '\r')" = "1" ]; then ready=1; break; fi
  sleep 0.5
done
[ $ready = 1 ] || { echo "FAIL: the host's engine never answered"; wait $host; exit 1; }
sleep 1
import -display "$DISPLAY" -window root "$artifacts/standin-page.png"
clicked=$(cd "$bin" && wine_run 20 standinctl.exe click 关闭 | tr -d '\r')
wait $host
code=$(cat "$status"); rm -f "$status"
fail=0
[ "$clicked" = "1" ] || { echo "FAIL: the click on 关闭 reached no button ($clicked)"; fail=1; }
[ "$code" = "0" ] || { echo "FAIL: the host did not end through the page's close call (exit $code)"; fail=1; }
convert "$artifacts/standin-page.png" -format %c histogram:info:- | grep -qi '#1F4E79' \
  || { echo "FAIL: the screenshot does not show the page header"; fail=1; }
[ $fail = 0 ] && echo "page shown and closed; screenshot: $artifacts/standin-page.png"
exit $fail
