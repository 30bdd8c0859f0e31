#!/usr/bin/env bash
# Source this file: the one place that names the Wine programs of this machine (Debian's wine32:i386 and,
# for 64-bit Windows, wine64 beside it). Python code reads the same names from the environment that
# tools/wine-env.sh exports (tools/wine_binaries.py).
#   VANTORIX_WINE_ARCH  win32 (default): a 32-bit prefix, 32-bit Windows
#                       win64: a 64-bit prefix, where our 32-bit programs run through WoW64
# Sets WINE (the loader for the prefix), WINESERVER (its server), WINE32_LOADER (the 32-bit loader, also the
# probe of the machine's road), WIN_SYSTEM_FOLDER (where a 32-bit program's system folder is, as a C: path).
WINE32_LOADER=/usr/lib/wine/wine
case "${VANTORIX_WINE_ARCH:-win32}" in
  win32)
    WINE=$WINE32_LOADER
    WINESERVER=/usr/lib/wine/wineserver32
    [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    WIN_SYSTEM_FOLDER='C:\windows\system32'
    ;;
  win64)
    WINE=/usr/lib/wine/wine64
    WINESERVER=/usr/lib/wine/wineserver64
    WIN_SYSTEM_FOLDER='C:\windows\syswow64'
    ;;
  *) echo "VANTORIX_WINE_ARCH must be win32 or win64, not ${VANTORIX_WINE_ARCH}" >&2; return 1 2>/dev/null || exit 1 ;;
esac
