#!/usr/bin/env bash
# Links the dialog fonts of the Wine prefix (Tahoma, MS Shell Dlg, ...), which carry no Chinese glyphs, to the
# WenQuanYi font from fonts-wqy-microhei, so message boxes and forms show their Chinese texts. Needs the Wine
# environment of tools/wine-env.sh; one regedit run, skipped when the prefix has the links already.
set -euo pipefail
grep -q 'WenQuanYi' "$WINEPREFIX/system.reg" 2>/dev/null && exit 0
value=$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei\0\0' | iconv -f utf-8 -t utf-16le | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
  for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    printf '"%s"=hex(7):%s\r\n' "$face" "$value"
  done
} | iconv -f utf-8 -t utf-16 > "$reg"
timeout -k 5 60 /usr/lib/wine/wine regedit /S "Z:${reg//\//\\}"
