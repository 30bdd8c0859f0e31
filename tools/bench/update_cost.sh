#!/usr/bin/env bash
# The cost of an update in the real launcher against its references, printed (tools/bench/update_cost.py):
# checking and installing a large signed update against the bare extraction (goal: at most 1.3 times the
# processor time), its download against a minimal WinHTTP loop (goal: at most 1.1 times), peak working
# sets as the Windows processes count them, and the install's cost per file at many small files.
#   tools/bench/update_cost.sh [ROUNDS] [SIZE_MB] [SMALL_FILES]      (default 3 200 5000)
# Needs the cross build with test keys (tools/build.sh with VANTORIX_TEST_UPDATE_KEYS=1), Wine, unzip.
# Not part of the test run; run it under the Wine road lock like every Wine command.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
[ -f "$build/win/installation/VantorixAssist.exe" ] || { echo "no $build/win/installation: build first"; exit 1; }
work=$(mktemp -d /tmp/vx-update-cost.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$root/tools/bench/windows_builds.sh"
echo "building the bench programs..."
bench_build_extractor "$work"
bench_build_winhttp_loop "$work"
gcc -O2 -o "$work/measure" "$root/tools/bench/measure.c"
source "$root/tools/wine-env.sh"
wine_up
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
echo "Wine $("$WINE" --version 2>/dev/null), $(nproc) cores"
VANTORIX_WIN_BUILD=$build/win VANTORIX_SOURCE=$root python3 "$root/tools/bench/update_cost.py" "$work" "${1:-3}" "${2:-200}" "${3:-5000}"
