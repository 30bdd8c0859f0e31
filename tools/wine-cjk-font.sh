#!/usr/bin/env bash
# Makes the Wine prefix draw its own surfaces (message boxes, captions, menus, the tray menu) with a font
# that has Chinese glyphs: the system UI faces (Tahoma, MS Shell Dlg, ...) carry none, so they are
# substituted by WenQuanYi Micro Hei from fonts-wqy-microhei, which also has the Latin letters. (Font links
# from these faces to the WenQuanYi file are not followed by Wine 8 for the dialog font.) Needs the Wine
# environment of tools/wine-env.sh; one regedit run, skipped when the prefix has the substitutes already.
# A prefix update (wineboot) writes Wine's own "MS Shell Dlg"="Tahoma" back, so that face is the one checked.
set -euo pipefail
grep -q '"MS Shell Dlg"="WenQuanYi Micro Hei"' "$WINEPREFIX/system.reg" 2>/dev/null && exit 0
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
  for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "MS Sans Serif"; do
    printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"
  done
} | iconv -f utf-8 -t utf-16 > "$reg"
timeout -k 5 60 /usr/lib/wine/wine regedit /S "Z:${reg//\//\\}"
