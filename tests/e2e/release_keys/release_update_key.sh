#!/usr/bin/env bash
# The build's update keys: a release without the maker's public key stops before anything is built, naming
# the option (through tools/build.sh and when the cross tree is configured directly); a release takes the
# public half only, pinned by its fingerprint when one is given, and is not marked; the test build's
# launcher says in its version information that it carries a throw-away key.
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

python3 - "$win/installation/VantorixAssist.exe" <<'PY' || fail "the test build's launcher is not marked"
import sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if "SpecialBuild".encode("utf-16-le") in data and "throw-away update key".encode("utf-16-le") in data else 1)
PY
echo "PASS"
