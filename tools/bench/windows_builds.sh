# Sourced by the benchmarks: builds the Windows bench programs with the cross compiler into a folder.
#   bench_build_extractor DIR     DIR/unzip_bench.exe: the launcher's extractor with the Win32 file system
#   bench_build_winhttp_loop DIR  DIR/winhttp_loop.exe: the minimal WinHTTP download (winhttp_loop.c)
# Needs $root (the source tree).
bench_minizip() { ls -d ${VANTORIX_THIRD_PARTY:-/opt/vantorix-deps}/zlib-*/contrib/minizip | head -1; }
# The extractor's portable sources, for the native and the Windows build.
bench_extractor_sources=("$root"/common/unzip/extract.cpp "$root"/common/unzip/install_commit.cpp
                         "$root"/common/unzip/paths.cpp "$root"/common/manifest/utf8_text.cpp
                         "$root"/common/text/utf8.cpp "$root"/common/text/ascii.cpp)

bench_build_extractor() {
  local dir=$1 minizip
  minizip=$(bench_minizip)
  ( cd "$dir" && i686-w64-mingw32-gcc-posix -O2 -w -c -I"$minizip" -DNOCRYPT -DNOUNCRYPT "$minizip/unzip.c" \
      "$minizip/ioapi.c" "$minizip/iowin32.c" )
  i686-w64-mingw32-g++-posix -std=c++17 -O2 -I"$root" -I"$minizip" -I/nonexistent-json -DNOCRYPT -DNOUNCRYPT -DUNICODE \
    -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 "$root/tools/bench/unzip_bench.cpp" \
    "$root/launcher/services/unzip_files.cpp" "$root/launcher/services/win32_file_system.cpp" \
    "$root/win/diagnostic_log.cpp" "$root/win/per_user_folder.cpp" "$root/win/process.cpp" \
    "$root/win/code_page.cpp" "$root/win/file_exists.cpp" "$root/win/final_path.cpp" "$root/win/module_path.cpp" "${bench_extractor_sources[@]}" "$dir"/unzip.o \
    "$dir"/ioapi.o "$dir"/iowin32.o /usr/i686-w64-mingw32/lib/libz.a -lole32 -luuid -lshell32 -static \
    -o "$dir/unzip_bench.exe"
}

bench_build_winhttp_loop() {
  i686-w64-mingw32-gcc-posix -O2 -municode "$root/tools/bench/winhttp_loop.c" -lwinhttp -static -o "$1/winhttp_loop.exe"
}
