#!/usr/bin/env bash
# Download benchmark: WinHttpDown (the Windows build, under Wine) against curl, fetching the same file from
# the same loopback server (tests/e2e/servers/httpserver.py) in the same run. Prints each one's transfer
# time (measured inside its own process), throughput, the ratio to curl and the downloader's peak memory
# for a small and the full size (memory must stay flat: one block is held at a time).
#   tools/bench/downloader_bench.sh [SIZE_MB]      (default 200)
# Needs the cross build (BUILD_DIR/win, target downloader_fetch), Wine (tools/wine-env.sh), curl, python3.
# Not part of the test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
size_mb=${1:-200}
fetch=${DOWNLOADER_FETCH:-$build/win/tests/windows/downloader/downloader_fetch.exe}
[ -f "$fetch" ] || { echo "missing $fetch: build the target downloader_fetch first"; exit 1; }
source "$root/tools/wine-env.sh"
work=$(mktemp -d /tmp/vx-download-bench.XXXXXX)
server=
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/www" "$work/out"
small_mb=$(( size_mb / 10 > 0 ? size_mb / 10 : 1 ))
head -c $(( size_mb << 20 )) /dev/urandom > "$work/www/big.bin"
head -c $(( small_mb << 20 )) "$work/www/big.bin" > "$work/www/small.bin"
python3 "$root/tests/e2e/servers/httpserver.py" --root "$work/www" --port-file "$work/port" --chunk 262144 \
  --max-requests 20 --max-seconds 1800 >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
wine_up

if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
  emulation="Wine $("$WINE" --version 2>/dev/null) on qemu-user $(qemu-i386 --version | head -1 | awk '{print $3}') (i386 emulated on $(uname -m))"
else
  emulation="Wine $("$WINE" --version 2>/dev/null), 32-bit code running natively on $(uname -m)"
fi

now() { date +%s.%N; }
run_curl() {  # name -> "wall_seconds transfer_seconds": the whole process, and curl's own transfer time
  local t0 t1 transfer; t0=$(now)
  transfer=$(curl -s -o "$work/out/curl-$1" -w '%{time_total}' "http://127.0.0.1:$port/$1")
  t1=$(now); echo "$(echo "$t1 - $t0" | bc -l) $transfer"
}
run_ours() {  # name -> "wall_seconds inner_line"
  local t0 t1 line; t0=$(now)
  line=$(wine_run 1200 "$fetch" "http://127.0.0.1:$port/$1" "$(winpath "$work/out/ours-$1")" 2>/dev/null | tr -d '\r')
  t1=$(now); echo "$(echo "$t1 - $t0" | bc -l) $line"
}
field() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }

echo "downloader benchmark, $emulation"
printf '%-10s %8s %12s %12s %10s %10s %8s %16s\n' file MB curl_s curl_MB/s ours_s ours_MB/s ratio peak_working_set
for name in small.bin big.bin; do
  mb=$([ "$name" = small.bin ] && echo "$small_mb" || echo "$size_mb")
  cc=$(run_curl "$name")
  curl_wall=${cc%% *}; c=${cc#* }
  o=$(run_ours "$name")
  wall=${o%% *}; rest=${o#* }
  inner=$(field seconds "$rest"); peak=$(field peak_working_set "$rest"); state=$(field state "$rest")
  cmp -s "$work/www/$name" "$work/out/curl-$name" || echo "curl result differs for $name"
  cmp -s "$work/www/$name" "$work/out/ours-$name" || echo "downloader result differs for $name (state $state)"
  printf '%-10s %8s %12.2f %12.1f %10.2f %10.1f %8.2f %13.1f MB\n' "$name" "$mb" "$c" "$(echo "$mb / $c" | bc -l)" \
    "$inner" "$(echo "$mb / $inner" | bc -l)" "$(echo "$inner / $c" | bc -l)" "$(echo "$peak / 1048576" | bc -l)"
  # Like with like: the downloader's time inside its process against curl's own transfer time; the
  # whole processes (Wine's start included for ours) are shown beside.
  printf "  (ratio = downloader's in-process time / curl's transfer time; whole processes: downloader %.2f s under Wine, curl %.2f s)\n" \
    "$wall" "$curl_wall"
  rm -f "$work/out/"*
done
