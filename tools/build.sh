#!/usr/bin/env bash
# Builds both trees: build/win (the Windows binaries, cross-compiled) and build/native (portable core and
# the CTest tree that also registers the Windows-side tests). BUILD_DIR overrides "build".
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
cmake -S "$root" -B "$build/win" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build/win" -j "$jobs"
cmake -S "$root" -B "$build/native" "${gen[@]}" -DCMAKE_BUILD_TYPE=Debug -DVANTORIX_WIN_BUILD="$build/win" >/dev/null
cmake --build "$build/native" -j "$jobs"
