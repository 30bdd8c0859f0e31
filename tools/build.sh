#!/usr/bin/env bash
# Builds the three trees: build/win (the Windows binaries, cross-compiled), build/fuzz (the fuzz targets,
# clang) and build/native (portable core and the CTest tree that also registers the Windows-side tests and
# the fuzz runs). BUILD_DIR overrides "build".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${JOBS:-$(nproc)}
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
# ccache, where present, makes a second tree (another clone or worktree of the same sources) cheap to build:
# paths below the root are hashed relative to it.
if command -v ccache >/dev/null && [ "${VANTORIX_NO_CCACHE:-0}" != 1 ]; then
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
# Update keys: the launcher acts only on manifests (and unpacks only archives) signed by a key built into it.
#   VANTORIX_UPDATE_PUBLIC_KEY=<PEM>   a release: the maker's public key (the public half only; the private
#                                      key never needs to be on this machine), or "none" for a launcher
#                                      without signature checks
#   VANTORIX_UPDATE_NEXT_PUBLIC_KEY=<PEM>   the key the maker moves to next, accepted beside it (optional)
#   VANTORIX_UPDATE_PUBLIC_KEY_SHA256=<hex> the fingerprint the current key must have (optional pin)
#   VANTORIX_TEST_UPDATE_KEYS=1        tests and the main job: a throw-away current and next pair, made once
#                                      under <build>/update-key/ with the openssl CLI; the build says so in its
#                                      output and in the launcher's version information. Such a test build
#                                      also carries the elevation seam (VANTORIX_TEST_ELEVATION, see
#                                      launcher/app/elevation.h), which no other build can have
# Without either the build fails: no release goes out with a key nobody chose.
keys=$build/update-key
public=${VANTORIX_UPDATE_PUBLIC_KEY:-}
next=${VANTORIX_UPDATE_NEXT_PUBLIC_KEY:-}
signing= next_signing= throwaway=OFF
if [ "${VANTORIX_TEST_UPDATE_KEYS:-0}" = 1 ]; then
  [ -z "$public$next" ] || { echo "build.sh: VANTORIX_TEST_UPDATE_KEYS=1 makes its own keys; do not also set VANTORIX_UPDATE_PUBLIC_KEY or VANTORIX_UPDATE_NEXT_PUBLIC_KEY" >&2; exit 1; }
  mkdir -p "$keys"
  for name in signing next-signing; do
    [ -s "$keys/$name.pem" ] && continue
    ( umask 077 && openssl ecparam -name prime256v1 -genkey -noout -out "$keys/$name.pem.new" ) && mv "$keys/$name.pem.new" "$keys/$name.pem"
  done
  for pair in signing:public next-signing:next-public; do
    private=$keys/${pair%%:*}.pem half=$keys/${pair##*:}.pem
    openssl ec -in "$private" -pubout -out "$half.new" 2>/dev/null || { echo "build.sh: not an EC private key: $private" >&2; exit 1; }
    # Rewritten only when it changes: the launcher's configuration depends on this file.
    if cmp -s "$half.new" "$half"; then rm "$half.new"; else mv "$half.new" "$half"; fi
  done
  public=$keys/public.pem next=$keys/next-public.pem
  signing=$keys/signing.pem next_signing=$keys/next-signing.pem throwaway=ON
  echo "build.sh: TEST BUILD with THROW-AWAY update keys from $keys and the elevation seam: for the tests and the main job, not for release"
elif [ -z "$public" ]; then
  echo "build.sh: VANTORIX_UPDATE_PUBLIC_KEY is not set. A release build needs the maker's public update key:" >&2
  echo "  VANTORIX_UPDATE_PUBLIC_KEY=<PEM file of the public half> (or none: a launcher without signature checks);" >&2
  echo "  tests and the main job use VANTORIX_TEST_UPDATE_KEYS=1 (a throw-away pair)." >&2
  exit 1
elif [ "$public" != none ]; then
  for pem in "$public" ${next:+"$next"}; do
    openssl ec -pubin -in "$pem" -noout 2>/dev/null || { echo "build.sh: not a PEM public key: $pem" >&2; exit 1; }
    echo "build.sh: update key $pem, sha256 $(openssl ec -pubin -in "$pem" -outform DER 2>/dev/null | sha256sum | cut -c1-64)"
  done
  public=$(realpath "$public"); [ -z "$next" ] || next=$(realpath "$next")
elif [ -n "$next" ]; then
  echo "build.sh: VANTORIX_UPDATE_NEXT_PUBLIC_KEY needs a current key in VANTORIX_UPDATE_PUBLIC_KEY" >&2
  exit 1
else
  echo "build.sh: no update key: the launcher checks sizes and hashes only"
fi
# Code signing: everything the build ships is Authenticode-signed with osslsigncode (cmake/codesign.cmake).
#   VANTORIX_CODESIGN_CERT=<PEM> VANTORIX_CODESIGN_KEY=<PEM>   the maker's certificate (chain, leaf first) and
#                                      its unencrypted private key; VANTORIX_CODESIGN_CERT=none: an unsigned
#                                      build, whose install step checks no signatures
#   VANTORIX_CODESIGN_TIMESTAMP_URL=<URL>  an RFC 3161 time-stamping service (optional)
# With VANTORIX_TEST_UPDATE_KEYS=1 and no certificate named: a throw-away self-signed one made once under
# <build>/codesign/; the build says so. A release build refuses it (CMake checks its subject).
cert=${VANTORIX_CODESIGN_CERT:-} cert_key=${VANTORIX_CODESIGN_KEY:-} cert_throwaway=OFF
if [ -z "$cert" ] && [ "$throwaway" = ON ]; then
  signing_folder=$build/codesign
  mkdir -p "$signing_folder"
  if [ ! -s "$signing_folder/cert.pem" ] || [ ! -s "$signing_folder/key.pem" ]; then
    ( umask 077 && openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "$signing_folder/key.pem.new" \
        -out "$signing_folder/cert.pem.new" -subj "/O=Vantorix/CN=Vantorix THROW-AWAY TEST CODE SIGNING" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" 2>/dev/null ) &&
      mv "$signing_folder/key.pem.new" "$signing_folder/key.pem" && mv "$signing_folder/cert.pem.new" "$signing_folder/cert.pem"
  fi
  cert=$signing_folder/cert.pem cert_key=$signing_folder/key.pem cert_throwaway=ON
  echo "build.sh: TEST BUILD signed with a THROW-AWAY code-signing certificate from $signing_folder: not for release"
elif [ -z "$cert" ]; then
  echo "build.sh: VANTORIX_CODESIGN_CERT is not set. A release build is signed with the maker's code-signing certificate:" >&2
  echo "  VANTORIX_CODESIGN_CERT=<PEM certificate> VANTORIX_CODESIGN_KEY=<PEM private key> (or VANTORIX_CODESIGN_CERT=none: unsigned)." >&2
  exit 1
elif [ "$cert" != none ]; then
  [ -n "$cert_key" ] || { echo "build.sh: VANTORIX_CODESIGN_KEY is not set: name the private key of $cert" >&2; exit 1; }
  cert=$(realpath "$cert") cert_key=$(realpath "$cert_key")
  echo "build.sh: code signing with $cert ($(openssl x509 -in "$cert" -noout -subject 2>/dev/null))"
else
  echo "build.sh: VANTORIX_CODESIGN_CERT=none: nothing is Authenticode-signed"
fi
# Warnings as errors (VANTORIX_WERROR in CMakeLists.txt), in all three trees: on for a test build
# (VANTORIX_TEST_UPDATE_KEYS=1), where a new warning is to stop the run; off otherwise, so that a release
# built with a newer compiler is not stopped by a warning that compiler adds. VANTORIX_WERROR=ON or OFF
# chooses either way.
werror=${VANTORIX_WERROR:-$throwaway}
case $werror in
  ON|OFF) ;;
  *) echo "build.sh: VANTORIX_WERROR must be ON or OFF, not $werror" >&2; exit 1 ;;
esac
if [ "$werror" = ON ]; then echo "build.sh: compiler warnings are errors (VANTORIX_WERROR=ON)"; fi
cmake -S "$root" -B "$build/win" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DVANTORIX_UPDATE_PUBLIC_KEY="$public" \
  -DVANTORIX_UPDATE_NEXT_PUBLIC_KEY="$next" -DVANTORIX_UPDATE_PUBLIC_KEY_SHA256="${VANTORIX_UPDATE_PUBLIC_KEY_SHA256:-}" \
  -DVANTORIX_UPDATE_KEYS_THROWAWAY=$throwaway -DVANTORIX_TEST_ELEVATION_SEAM=$throwaway -DVANTORIX_UPDATE_SIGNING_KEY="$signing" \
  -DVANTORIX_UPDATE_NEXT_SIGNING_KEY="$next_signing" -DVANTORIX_CODESIGN_CERT="$cert" -DVANTORIX_CODESIGN_KEY="$cert_key" \
  -DVANTORIX_CODESIGN_THROWAWAY=$cert_throwaway -DVANTORIX_CODESIGN_TIMESTAMP_URL="${VANTORIX_CODESIGN_TIMESTAMP_URL:-}" \
  -DVANTORIX_WERROR=$werror >/dev/null
cmake --build "$build/win" -j "$jobs"
# The fuzz targets: the portable core once more, built with clang for libFuzzer (its runs are registered in
# the native tree's CTest, so it is configured first).
cmake -S "$root" -B "$build/fuzz" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVANTORIX_FUZZ=ON -DVANTORIX_WERROR=$werror >/dev/null
cmake --build "$build/fuzz" -j "$jobs"
cmake -S "$root" -B "$build/native" "${gen[@]}" -DCMAKE_BUILD_TYPE=Debug -DVANTORIX_WIN_BUILD="$build/win" \
  -DVANTORIX_FUZZ_BUILD="$build/fuzz" -DVANTORIX_WERROR=$werror >/dev/null
cmake --build "$build/native" -j "$jobs"
