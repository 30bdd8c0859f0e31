#!/usr/bin/env bash
# Extraction benchmark: the launcher's extractor against Info-ZIP unzip on the same ~200 MB mixed archive,
# in the same run. Prints wall and processor time, throughput (uncompressed MB/s), the ratio to unzip and
# each command's own peak memory (tools/bench/measure.c).
#   tools/bench/unzip_bench.sh [SIZE_MB]        natively; set BENCH_WINE=1 to add the Windows build under Wine
# Not part of the test run; needs g++, zlib1g-dev, unzip, python3 (and mingw + Wine for BENCH_WINE=1).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
size_mb=${1:-200}
work=$(mktemp -d /tmp/vx-unzip-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$root/tools/bench/windows_builds.sh"
minizip=$(bench_minizip)
sources=("${bench_extractor_sources[@]}" "$root"/common/unzip/posix_file_system.cpp)

echo "building the native extractor (-O2)..."
gcc -O2 -w -c -I"$minizip" -DNOCRYPT -DNOUNCRYPT "$minizip/unzip.c" -o "$work/unzip.o"
gcc -O2 -w -c -I"$minizip" "$minizip/ioapi.c" -o "$work/ioapi.o"
g++ -std=c++17 -O2 -I"$root" -I"$minizip" -DNOCRYPT -DNOUNCRYPT "$root/tools/bench/unzip_bench.cpp" "${sources[@]}" \
  "$work/unzip.o" "$work/ioapi.o" -lz -o "$work/unzip_bench"

echo "making a ${size_mb} MB mixed archive..."
python3 - "$work/mixed.zip" "$size_mb" "$root/tools/bench" <<'PY'
import os, sys, zipfile
sys.path.insert(0, sys.argv[3])
from mixed_files import mixed_entries
path, made = sys.argv[1], 0
entries = mixed_entries(int(sys.argv[2]))
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for name, data, stored in entries:
        if stored:
            z.writestr(zipfile.ZipInfo(name), data, zipfile.ZIP_STORED)
        else:
            z.writestr(name, data)
        made += len(data)
print(f"entries={len(entries)} uncompressed={made/1e6:.1f}MB archive={os.path.getsize(path)/1e6:.1f}MB")
PY
uncompressed=$(unzip -l "$work/mixed.zip" | tail -1 | awk '{print $1}')

# The measuring wrapper: wall and processor time and the command's own peak resident size (wait4 of that
# one child), each run's figures in a file of this run's folder.
gcc -O2 -o "$work/measure" "$root/tools/bench/measure.c"
"$work/measure" "$work/floor" /bin/true
floor=$(sed -n 's/.*peak_mb=\([0-9.]*\).*/\1/p' "$work/floor")

# run LABEL COMMAND...: prints the figures; $last_wall holds the wall time for the ratios.
run() {
  local label=$1; shift
  "$work/measure" "$work/figures" "$@" >"$work/output" 2>&1
  read -r wall cpu peak rc < <(sed 's/[a-z_]*=//g' "$work/figures")
  last_wall=$wall
  local tail=""
  [ "$rc" = 0 ] || tail=$(tail -1 "$work/output")
  awk -v l="$label" -v w="$wall" -v c="$cpu" -v p="$peak" -v r="$rc" -v s="$uncompressed" -v t="$tail" \
    'BEGIN { printf "%-28s %7.2f s  cpu %7.2f s  %7.1f MB/s  peak %7.1f MB  rc=%s %s\n", l, w, c, s / 1e6 / w, p, r, t }'
}
fresh() { rm -rf "$work/out"; mkdir -p "$work/out"; sync; }
echo "results (uncompressed $((uncompressed / 1000000)) MB; peak memory counts from ${floor} MB, the measuring process's own):"
fresh; run "Info-ZIP unzip" unzip -q -o "$work/mixed.zip" -d "$work/out"; ref=$last_wall
fresh; run "extractor (native)" "$work/unzip_bench" "$work/mixed.zip" "$work/out"; ours=$last_wall
# The checksums of unzip's output, once; each extractor's output must match them.
mkdir "$work/ref" && unzip -q "$work/mixed.zip" -d "$work/ref"
(cd "$work/ref" && find . -type f -exec md5sum {} + | sort) > "$work/ref.md5"
rm -rf "$work/ref"
same_as_unzip() {  # same_as_unzip LABEL
  cmp -s <(cd "$work/out" && find . -type f -exec md5sum {} + | sort) "$work/ref.md5" \
    && echo "$1 output identical to unzip's" || echo "$1 OUTPUT DIFFERS"
}
same_as_unzip native
python3 -c "print(f'ratio extractor/unzip time (native): {float($ours)/float($ref):.2f}')"

if [ "${BENCH_WINE:-0}" = 1 ]; then
  echo "building the Windows extractor..."
  bench_build_extractor "$work"
  source "$root/tools/wine-env.sh"
  wine_up
  fresh; run "extractor (Windows, Wine)" timeout 900 "$WINE" "$work/unzip_bench.exe" "$(winpath "$work/mixed.zip")" "$(winpath "$work/out")"
  wine=$last_wall
  same_as_unzip Windows
  python3 -c "print(f'ratio extractor-under-Wine/unzip time: {float($wine)/float($ref):.2f}')"
fi
