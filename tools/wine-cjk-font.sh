#!/usr/bin/env bash
# Makes the Wine prefix draw its own surfaces (message boxes, captions, menus, the tray menu) with a font
# that has Chinese glyphs: the system UI faces (Tahoma, MS Shell Dlg, ...) carry none, so they are
# substituted by WenQuanYi Micro Hei from fonts-wqy-microhei, which also has the Latin letters. (Font links
# from these faces to the WenQuanYi file are not followed by Wine 8 for the dialog font.) Needs the Wine
# environment of tools/wine-env.sh; one regedit run, skipped when the prefix has the substitutes already.
# A prefix update (wineboot) writes Wine's own "MS Shell Dlg"="Tahoma" back, so that face is the one checked.
# On a 64-bit prefix our 32-bit programs read the key's 32-bit view, which the 32-bit regedit writes.
set -euo pipefail
source "$(dirname "$0")/wine-binaries.sh"
editors=("$WINE regedit")
[ "${VANTORIX_WINE_ARCH:-win32}" = win64 ] && editors+=("$WINE $WIN_SYSTEM_FOLDER\\regedit.exe")
[ "$(grep -c '"MS Shell Dlg"="WenQuanYi Micro Hei"' "$WINEPREFIX/system.reg" 2>/dev/null)" -ge ${#editors[@]} ] && exit 0
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
  for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "MS Sans Serif"; do
    printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"
  done
} | iconv -f utf-8 -t utf-16 > "$reg"
for editor in "${editors[@]}"; do
  # shellcheck disable=SC2086  # the loader and the program, as two words
  timeout -k 5 "$(awk -v f="${VANTORIX_SPEED_FACTOR:-1}" 'BEGIN { printf "%d", 60 * (f > 1 ? f : 1) }')" $editor /S "Z:${reg//\//\\}"
done
