#!/usr/bin/env bash
# The build's update keys: a release without the maker's public key stops before anything is built, naming
# the option (through tools/build.sh and when the cross tree is configured directly); a release takes the
# public half only, pinned by its fingerprint when one is given, and is not marked; the test build's
# launcher says in its version information that it carries a throw-away key. The elevation seam
# (VANTORIX_TEST_ELEVATION) is a test build's only: asked for without the throw-away keys the configuration
# stops, a release's launcher is compiled without it, and the test build's seam-less launcher does not even
# hold the variable's name.
#     release_update_key.sh SOURCE WIN_BUILD
set -uo pipefail
src=$1 win=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
configure() {  # configure FOLDER CMAKE-ARGS...: the cross tree's configuration only
  local folder=$1; shift
  cmake -S "$src" -B "$work/$folder" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" "$@" 2>&1
}

out=$(env -u VANTORIX_TEST_UPDATE_KEYS -u VANTORIX_UPDATE_PUBLIC_KEY BUILD_DIR="$work/build" bash "$src/tools/build.sh" 2>&1) \
  && fail "build.sh built a release without a key"
grep -q "VANTORIX_UPDATE_PUBLIC_KEY is not set" <<<"$out" || fail "build.sh did not name the option: $out"
[ ! -e "$work/build/win" ] || fail "build.sh configured a tree before it refused"

out=$(configure nokey) && fail "the cross tree was configured without a key"
grep -q "VANTORIX_UPDATE_PUBLIC_KEY is not set" <<<"$out" || fail "the configuration did not name the option: $out"

# The maker's side: only the public half reaches the build.
openssl ecparam -name prime256v1 -genkey -noout -out "$work/maker.pem" 2>/dev/null || fail "no key made"
openssl ec -in "$work/maker.pem" -pubout -out "$work/maker-public.pem" 2>/dev/null || fail "no public half"
fingerprint=$(openssl ec -pubin -in "$work/maker-public.pem" -outform DER 2>/dev/null | sha256sum | cut -c1-64)
out=$(configure pinned -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" \
      -DVANTORIX_UPDATE_PUBLIC_KEY_SHA256="$(printf '%064d' 0)") && fail "a key of another fingerprint was built in"
grep -q "VANTORIX_UPDATE_PUBLIC_KEY_SHA256" <<<"$out" || fail "the pin's mismatch was not named: $out"
out=$(configure release -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" \
      -DVANTORIX_UPDATE_PUBLIC_KEY_SHA256="$fingerprint") || fail "a release with the public key did not configure: $out"
xy=$(openssl ec -pubin -in "$work/maker-public.pem" -outform DER 2>/dev/null | tail -c 64 | od -An -tx1 | tr -d ' \n')
keys=$(tr -d '\n' < "$work/release/launcher/VantorixAssist-keys/launcher/update_keys.inc" | grep -o 'keys.current = [^;]*' \
       | sed 's/[^{]*{//; s/0x//g; s/[,}]//g')
[ "$keys" = "$xy" ] || fail "the built-in key is not the maker's: $keys"
! grep -q "keys.next" "$work/release/launcher/VantorixAssist-keys/launcher/update_keys.inc" || fail "a next key appeared"
! grep -q "SpecialBuild" "$work/release/launcher/VantorixAssist_version.rc" || fail "a release is marked as a test build"

out=$(configure seam -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" -DVANTORIX_TEST_ELEVATION_SEAM=ON) \
  && fail "a release was configured with the elevation seam"
grep -q "VANTORIX_TEST_ELEVATION_SEAM is for test builds only" <<<"$out" || fail "the seam's refusal was not named: $out"
# How each launcher's elevation source is compiled: without the seam in the release, with it in the test build.
seam_flag() {  # seam_flag TREE: the VANTORIX_ELEVATION_SEAM definition VantorixAssist's elevation.cpp gets
  python3 - "$1/compile_commands.json" <<'PY'
import json, re, sys
for entry in json.load(open(sys.argv[1])):
    if entry["file"].endswith("launcher/app/elevation.cpp") and "VantorixAssist.dir" in entry.get("output", entry["command"]):
        print(re.search(r"-DVANTORIX_ELEVATION_SEAM=(\d)", entry["command"]).group(1))
PY
}
[ "$(seam_flag "$work/release")" = 0 ] || fail "the release's launcher is compiled with the elevation seam"
[ "$(seam_flag "$win")" = 1 ] || fail "the test build's launcher is compiled without the elevation seam"

python3 - "$win/installation/VantorixAssist.exe" <<'PY' || fail "the test build's launcher is not marked"
import sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if "SpecialBuild".encode("utf-16-le") in data and "throw-away update key".encode("utf-16-le") in data else 1)
PY
python3 - "$win/installation/VantorixAssist.exe" "$win/tests/windows/launcher_e2e/launcher_without_seam.exe" <<'PY' \
  || fail "the seam is not where it belongs: in the test build's launcher, and not in the one built without it"
import sys
name = "VANTORIX_TEST_ELEVATION".encode("utf-16-le")
with_seam, without = (open(path, "rb").read() for path in sys.argv[1:])
sys.exit(0 if name in with_seam and name not in without else 1)
PY
echo "PASS"
