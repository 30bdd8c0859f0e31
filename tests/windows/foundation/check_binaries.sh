#!/usr/bin/env bash
# The four deliverables are 32-bit Windows files, carry version information, and import nothing but
# system DLLs (static runtime: no libstdc++, libgcc, winpthread or zlib DLL may be needed beside them).
set -u
bin=$VANTORIX_WIN_BUILD/bin
fail=0
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|winhttp|version|msvcrt|ws2_32|crypt32|uxtheme|msimg32|imm32|winmm|rpcrt4|secur32|bcrypt|ntdll|api-ms-win-.*)\.dll$'
for f in VantorixAssist.exe client.exe Velview_G_201.ocx node.dll; do
  path=$bin/$f
  if [ ! -f "$path" ]; then echo "FAIL $f: missing"; fail=1; continue; fi
  desc=$(file -b "$path")
  case "$desc" in
    PE32\ *Intel\ 80386*) ;;
    *) echo "FAIL $f: not a PE32 i386 file: $desc"; fail=1 ;;
  esac
  python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.exit(0 if all(k.encode("utf-16-le") in d for k in ("VS_VERSION_INFO","FileVersion")) else 1)' "$path" ||
    { echo "FAIL $f: no version information"; fail=1; }
  while read -r dll; do
    if ! printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "FAIL $f imports $dll"; fail=1
    fi
  done < <(i686-w64-mingw32-objdump -p "$path" | awk '/DLL Name:/{print $3}')
  echo "checked $f: $desc"
done
# The installation ships them stripped (an update downloads a tenth of the size); the debug information of
# each is kept beside the build, and the shipped file names it.
inst=$VANTORIX_WIN_BUILD/installation
for f in VantorixAssist.exe bin/client.exe bin/node.dll Build/Velview_G_201.ocx; do
  name=$(basename "$f")
  if i686-w64-mingw32-objdump -h "$inst/$f" | grep -q '\.debug_'; then echo "FAIL $f: shipped with debug sections"; fail=1; fi
  i686-w64-mingw32-objdump -h "$VANTORIX_WIN_BUILD/debug/$name.debug" 2>/dev/null | grep -q '\.debug_info' ||
    { echo "FAIL $f: no debug information kept in debug/$name.debug"; fail=1; }
  grep -qa "$name.debug" "$inst/$f" || { echo "FAIL $f: does not name its debug file"; fail=1; }
  echo "shipped $f: $(stat -c %s "$inst/$f") bytes (built: $(stat -c %s "$VANTORIX_WIN_BUILD/bin/$name"))"
done
[ $fail = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
