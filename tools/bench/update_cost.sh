#!/usr/bin/env bash
# The cost of an update in the real launcher against its references, printed (tools/bench/update_cost.py):
# checking and installing a large signed update against the bare extraction (goal: at most 1.3 times the
# processor time), its download against a minimal WinHTTP loop (goal: at most 1.1 times), peak working
# sets as the Windows processes count them (goal: at most 1.2 times the larger reference), the launcher's
# processor time by phase, and the install's cost per file at many small files against the bare
# extraction under the same Wine. Prints the road, Wine, the load before and after and the installation;
# says when the rounds disagree too much to trust their median.
#   tools/bench/update_cost.sh [ROUNDS] [SIZE_MB] [SMALL_FILES]      (default 3 200 5000)
# Needs the cross build with test keys (tools/build.sh with VANTORIX_TEST_UPDATE_KEYS=1) and Wine.
# Not part of the test run; run it under the Wine road lock like every Wine command.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
[ -f "$build/win/installation/VantorixAssist.exe" ] || { echo "no $build/win/installation: build first"; exit 1; }
source "$root/tools/bench/windows_builds.sh"
# The bench programs are kept in the build tree and made again only when a source is newer.
programs=$build/bench-win
mkdir -p "$programs"
if [ ! -f "$programs/unzip_bench.exe" ] || [ -n "$(find "$root/tools/bench" "$root/common/unzip" "$root/launcher/services" \
     "$root/win" -newer "$programs/unzip_bench.exe" -name '*.c*' 2>/dev/null | head -1)" ]; then
  echo "building the bench programs..."
  bench_build_extractor "$programs"
  bench_build_winhttp_loop "$programs"
fi
source "$root/tools/wine-env.sh"
wine_up
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
VANTORIX_WIN_BUILD=$build/win VANTORIX_SOURCE=$root python3 "$root/tools/bench/update_cost.py" "$programs" "${1:-3}" "${2:-200}" "${3:-5000}"
