#!/usr/bin/env bash
# The build's update keys: a release without the maker's public key stops before anything is built, naming
# the option (through tools/build.sh and when the cross tree is configured directly); a release takes the
# public half only, pinned by its fingerprint when one is given, and is not marked; the test build's
# launcher says in its version information that it carries a throw-away key. Code signing likewise: a
# release needs the maker's certificate and key (named when missing) and refuses the throw-away test
# certificate; the test build signs every program and library it ships, and not the outside engine. The
# test seams (VANTORIX_TEST_ELEVATION, and the service's start, VANTORIX_TEST_SERVICE) are a test build's
# only: asked for without the throw-away keys the configuration stops, a release's launcher is compiled
# without them, and the test build's seam-less launcher does not even hold the variables' names.
#     release_update_key.sh SOURCE WIN_BUILD
set -uo pipefail
src=$1 win=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
says() { tr -s ' \n' '  ' <<<"$1" | grep -q "$2"; }  # says OUTPUT TEXT: CMake wraps its messages
configure() {  # configure FOLDER CMAKE-ARGS...: the cross tree's configuration only
  local folder=$1; shift
  cmake -S "$src" -B "$work/$folder" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" "$@" 2>&1
}

out=$(env -u VANTORIX_TEST_UPDATE_KEYS -u VANTORIX_UPDATE_PUBLIC_KEY BUILD_DIR="$work/build" bash "$src/tools/build.sh" 2>&1) \
  && fail "build.sh built a release without a key"
grep -q "VANTORIX_UPDATE_PUBLIC_KEY is not set" <<<"$out" || fail "build.sh did not name the option: $out"
[ ! -e "$work/build/win" ] || fail "build.sh configured a tree before it refused"

# The maker's code-signing certificate (the update key's checks below are made with it in place).
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout "$work/maker-sign.key" -out "$work/maker-sign.pem" \
  -subj "/O=Vantorix/CN=Vantorix" -addext "extendedKeyUsage=codeSigning" 2>/dev/null || fail "no maker certificate made"
maker_signing=(-DVANTORIX_CODESIGN_CERT="$work/maker-sign.pem" -DVANTORIX_CODESIGN_KEY="$work/maker-sign.key")
out=$(configure nokey "${maker_signing[@]}") && fail "the cross tree was configured without a key"
grep -q "VANTORIX_UPDATE_PUBLIC_KEY is not set" <<<"$out" || fail "the configuration did not name the option: $out"

# The maker's side: only the public half reaches the build.
openssl ecparam -name prime256v1 -genkey -noout -out "$work/maker.pem" 2>/dev/null || fail "no key made"
openssl ec -in "$work/maker.pem" -pubout -out "$work/maker-public.pem" 2>/dev/null || fail "no public half"

# Code signing: named when missing, the throw-away certificate refused, the maker's taken.
out=$(env -u VANTORIX_TEST_UPDATE_KEYS -u VANTORIX_CODESIGN_CERT VANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" \
      BUILD_DIR="$work/build" bash "$src/tools/build.sh" 2>&1) && fail "build.sh built a release without a code-signing certificate"
grep -q "VANTORIX_CODESIGN_CERT is not set" <<<"$out" || fail "build.sh did not name the certificate's option: $out"
[ ! -e "$work/build/win" ] || fail "build.sh configured a tree before it refused the missing certificate"
out=$(configure nocert -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem") && fail "configured without a code-signing certificate"
grep -q "VANTORIX_CODESIGN_CERT is not set" <<<"$out" || fail "the configuration did not name the certificate's option: $out"
cached() { sed -n "s/^$1:[A-Z]*=//p" "$win/CMakeCache.txt"; }
test_cert=$(cached VANTORIX_CODESIGN_CERT) test_key=$(cached VANTORIX_CODESIGN_KEY)
[ -s "$test_cert" ] && [ -s "$test_key" ] || fail "the test build names no throw-away code-signing certificate"
out=$(configure throwaway -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" -DVANTORIX_CODESIGN_CERT="$test_cert" \
      -DVANTORIX_CODESIGN_KEY="$test_key") && fail "a release was configured with the throw-away code-signing certificate"
says "$out" "THROW-AWAY test code-signing certificate" || fail "the refusal does not say why: $out"
grep -q "VANTORIX_CODESIGN_CERT" <<<"$out" || fail "the refusal does not name the option: $out"
out=$(env -u VANTORIX_TEST_UPDATE_KEYS VANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" VANTORIX_CODESIGN_CERT="$test_cert" \
      VANTORIX_CODESIGN_KEY="$test_key" BUILD_DIR="$work/build2" bash "$src/tools/build.sh" 2>&1) \
  && fail "build.sh built a release signed with the throw-away certificate"
says "$out" "THROW-AWAY test code-signing certificate" || fail "build.sh's refusal does not say why: $out"

# What the test build ships is signed by its certificate; the outside engine is not ours to sign.
for file in VantorixAssist.exe bin/client.exe Build/Velview_G_201.ocx; do
  osslsigncode verify -CAfile "$test_cert" -in "$win/installation/$file" >"$work/verify.txt" 2>&1 \
    || fail "$file is not signed by the test certificate: $(tail -3 "$work/verify.txt")"
done
for helper in "$win"/install/setup/EndPrograms.exe "$win"/install/setup/StartAsUser.exe "$win"/install/setup/FolderRights.exe \
              "$win"/install/setup/ServiceSetup.exe \
              "$win"/VantorixSetup-*.exe; do
  osslsigncode verify -CAfile "$test_cert" -in "$helper" >"$work/verify.txt" 2>&1 \
    || fail "$helper is not signed: $(tail -3 "$work/verify.txt")"
done
! osslsigncode verify -CAfile "$test_cert" -in "$win/installation/bin/node.dll" >/dev/null 2>&1 || fail "the outside engine was signed"
fingerprint=$(openssl ec -pubin -in "$work/maker-public.pem" -outform DER 2>/dev/null | sha256sum | cut -c1-64)
out=$(configure pinned "${maker_signing[@]}" -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" \
      -DVANTORIX_UPDATE_PUBLIC_KEY_SHA256="$(printf '%064d' 0)") && fail "a key of another fingerprint was built in"
grep -q "VANTORIX_UPDATE_PUBLIC_KEY_SHA256" <<<"$out" || fail "the pin's mismatch was not named: $out"
out=$(configure release "${maker_signing[@]}" -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" \
      -DVANTORIX_UPDATE_PUBLIC_KEY_SHA256="$fingerprint") || fail "a release with the public key did not configure: $out"
xy=$(openssl ec -pubin -in "$work/maker-public.pem" -outform DER 2>/dev/null | tail -c 64 | od -An -tx1 | tr -d ' \n')
keys=$(tr -d '\n' < "$work/release/launcher/VantorixAssist-keys/launcher/update_keys.inc" | grep -o 'keys.current = [^;]*' \
       | sed 's/[^{]*{//; s/0x//g; s/[,}]//g')
[ "$keys" = "$xy" ] || fail "the built-in key is not the maker's: $keys"
! grep -q "keys.next" "$work/release/launcher/VantorixAssist-keys/launcher/update_keys.inc" || fail "a next key appeared"
! grep -q "SpecialBuild" "$work/release/launcher/VantorixAssist_version.rc" || fail "a release is marked as a test build"

out=$(configure seam "${maker_signing[@]}" -DVANTORIX_UPDATE_PUBLIC_KEY="$work/maker-public.pem" -DVANTORIX_TEST_ELEVATION_SEAM=ON) \
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
names = [n.encode("utf-16-le") for n in ("VANTORIX_TEST_ELEVATION", "VANTORIX_TEST_SERVICE")]
with_seam, without = (open(path, "rb").read() for path in sys.argv[1:])
sys.exit(0 if all(n in with_seam and n not in without for n in names) else 1)
PY
echo "PASS"
