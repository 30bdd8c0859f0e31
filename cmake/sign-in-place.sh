#!/bin/sh
# Signs one file in place with osslsigncode (which writes a new file): what makensis runs through !finalize
# and !uninstfinalize for the setup and its uninstaller.
#   sign-in-place.sh <osslsigncode> <certificate PEM> <key PEM> <file> [<time-stamping URL>]
set -eu
tool=$1 cert=$2 key=$3 file=$4 ts=${5:-}
rm -f "$file.signed"
"$tool" sign -certs "$cert" -key "$key" -h sha256 -n "TAVI助手Plus" ${ts:+-ts "$ts"} -in "$file" -out "$file.signed" >/dev/null
mv -f "$file.signed" "$file"
