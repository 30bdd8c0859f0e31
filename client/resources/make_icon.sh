#!/usr/bin/env bash
# Draws the client's program icon: one 128 x 128 image, 32 bits per pixel (alpha), written as an .ico.
#   make_icon.sh OUTPUT.ico
set -euo pipefail
out=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 128x128 xc:none \
  -fill '#0F6CBD' -draw 'roundrectangle 6,6,121,121,26,26' \
  -fill '#FFFFFF' -draw 'polygon 30,34 98,34 98,50 72,50 72,98 56,98 56,50 30,50' \
  -fill '#F2A900' -draw 'circle 96,96 96,84' \
  -depth 8 -alpha on "PNG32:$tmp/icon.png"
# BMP-encoded entry (not PNG): every reader of icon resources takes it.
convert "$tmp/icon.png" -define icon:format=bmp -depth 8 "$out"
