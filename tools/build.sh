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
# Update signatures: the launcher is built with the public half of an ECDSA P-256 key pair and unpacks only
# archives signed with the private half. VANTORIX_UPDATE_SIGNING_KEY names the maker's private key (PEM);
# without it a throw-away pair is made once under <build>/update-key, and the tests and the main job sign
# what they publish with it. VANTORIX_UPDATE_SIGNING_KEY=none builds a launcher without a key.
keys=$build/update-key
signing=${VANTORIX_UPDATE_SIGNING_KEY:-$keys/signing.pem}
public=
if [ "$signing" != none ]; then
  mkdir -p "$keys"
  if [ ! -s "$signing" ]; then
    [ -z "${VANTORIX_UPDATE_SIGNING_KEY:-}" ] || { echo "no signing key at $signing"; exit 1; }
    ( umask 077 && openssl ecparam -name prime256v1 -genkey -noout -out "$signing.new" ) && mv "$signing.new" "$signing"
  fi
  public=$keys/public.pem
  openssl ec -in "$signing" -pubout -out "$public.new" 2>/dev/null || { echo "not an EC private key: $signing"; exit 1; }
  # Rewritten only when it changes: the launcher's configuration depends on this file.
  if cmp -s "$public.new" "$public"; then rm "$public.new"; else mv "$public.new" "$public"; fi
else
  signing=
fi
cmake -S "$root" -B "$build/win" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DVANTORIX_UPDATE_PUBLIC_KEY="$public" \
  -DVANTORIX_UPDATE_SIGNING_KEY="$signing" >/dev/null
cmake --build "$build/win" -j "$jobs"
# The fuzz targets: the portable core once more, built with clang for libFuzzer (its runs are registered in
# the native tree's CTest, so it is configured first).
cmake -S "$root" -B "$build/fuzz" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVANTORIX_FUZZ=ON >/dev/null
cmake --build "$build/fuzz" -j "$jobs"
cmake -S "$root" -B "$build/native" "${gen[@]}" -DCMAKE_BUILD_TYPE=Debug -DVANTORIX_WIN_BUILD="$build/win" \
  -DVANTORIX_FUZZ_BUILD="$build/fuzz" >/dev/null
cmake --build "$build/native" -j "$jobs"
