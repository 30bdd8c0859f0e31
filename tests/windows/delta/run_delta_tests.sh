#!/usr/bin/env bash
# Makes a release pair from the cross build's installation with the release tool (checked natively by
# release_apply), a damaged copy of its delta, and runs delta_tests.exe under Wine against them.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=${VANTORIX_SOURCE:-$(cd "$here/../../.." && pwd)}
win=${VANTORIX_WIN_BUILD:?cross build folder}
native=${VANTORIX_NATIVE_BUILD:-$(dirname "$win")/native}
source "$src/tools/wine-env.sh"
wine_up
work=$(mktemp -d /tmp/vx-delta.XXXXXX)
trap 'rm -rf "$work"' EXIT

cp -r "$win/installation" "$work/old" && rm -rf "$work/old/update" && mkdir "$work/old/update"
cp -r "$work/old" "$work/new"
python3 - "$src" "$work" <<'PY' || exit 1
import os, sys, zipfile
sys.path.insert(0, os.path.join(sys.argv[1], "tools", "update-server"))
import update_package
work = sys.argv[2]
update_package.set_file_version(os.path.join(work, "old", "bin", "client.exe"), "1.0.0.1")
with open(os.path.join(work, "new", "Skin", "UI.html"), "a", encoding="utf-8") as f:
    f.write("<!-- 新版 -->\n")
os.makedirs(os.path.join(work, "new", "Skin", "图片"))
with open(os.path.join(work, "new", "Skin", "图片", "新.png"), "wb") as f:
    f.write(os.urandom(3000))
PY
codesign=$(python3 "$src/tools/update-server/update_package.py" --print-codesign "$win")
python3 "$src/tools/release/release.py" --release "$work/new" --earlier "$work/old" --out "$work/out" \
  --base-url http://127.0.0.1/ --unsigned --set-client-version 1.0.0.2 $codesign \
  --applier "$native/tools/release/native/release_apply" || exit 1
package=$(ls "$work"/out/*.delta.zip)
cp "$package" "$work/package.zip"
# What the full archive makes of the earlier release, by the native extractor.
cp -r "$work/old" "$work/expected"
"$native/tools/release/native/release_apply" unpack "$work/expected" "$(ls "$work"/out/1.0.0.2.zip)" >/dev/null || exit 1
# The same package with one byte of the client's patch changed.
python3 - "$work/package.zip" "$work/damaged.zip" <<'PY' || exit 1
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as src, zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_STORED) as out:
    for info in src.infolist():
        data = bytearray(src.read(info))
        if info.filename == "data/bin/client.exe":
            data[len(data) // 2] ^= 0x20
        out.writestr(info, bytes(data))
PY
export VX_DELTA_WORK=$(winpath "$work")
wine_run 240 "$win/tests/windows/delta/delta_tests.exe" "$@"
