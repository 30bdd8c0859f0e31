#!/usr/bin/env bash
# Installs TAVI助手Plus into a Wine prefix the way a managed install does: the built setup program run
# silently ("/S", and "/D=FOLDER" when a folder is named). Prints the installation folder as a Linux path.
#
#   tools/install-from-setup.sh [WINDOWS-FOLDER]      e.g. 'C:\Apps\Vantorix'; without one the setup
#                                                      chooses ("Program Files", or "Program Files (x86)" on
#                                                      64-bit Windows)
#
# Uses the Wine environment of the caller (WINEPREFIX, DISPLAY; tools/wine-env.sh exports them, wine_up
# brings them up). SETUP=<file> picks the setup program (default: build/win/VantorixSetup-*.exe, the newest).
# Exit code: the setup's (0 installed, 2 the control library did not register), 1 when anything is missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-binaries.sh"
setup=${SETUP:-$(ls -t "$here"/../build/win/VantorixSetup-*.exe 2>/dev/null | head -n 1)}
[ -n "$setup" ] && [ -f "$setup" ] || { echo "install-from-setup: no setup program built (build/win/VantorixSetup-*.exe)" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ] || { echo "install-from-setup: WINEPREFIX names no Wine prefix" >&2; exit 1; }
folder=${1:-}
case "$folder" in
  ''|[Cc]:\\*) ;;
  *) echo "install-from-setup: the folder must be on drive C: ('C:\\...'): $folder" >&2; exit 1 ;;
esac
case "$folder" in
  *[\"\&\|\<\>\^%]*) echo "install-from-setup: the folder holds a character cmd would interpret: $folder" >&2; exit 1 ;;
esac
# The setup reads "/D=" only unquoted at the end of its raw command line, blanks and all, but wine quotes
# an argument with blanks. So cmd runs the line as written: the setup from a copy under C:\windows\temp,
# whose path has no blanks, and "cmd /c" drops only the quotes around the whole line.
name=$(basename "$setup")
copy="$WINEPREFIX/drive_c/windows/temp/$name"
cp "$setup" "$copy" || exit 1
limit=$(awk -v f="${VANTORIX_SPEED_FACTOR:-1}" 'BEGIN { printf "%d", 300 * (f > 1 ? f : 1) }')
timeout -k 5 "$limit" "$WINE" cmd /c "C:\\windows\\temp\\$name /S${folder:+ /D=$folder}" </dev/null >/dev/null 2>&1
rc=$?
rm -f "$copy"
[ "$rc" = 0 ] || { echo "install-from-setup: the setup program ended with $rc" >&2; exit "$rc"; }
# The setup's own choice: wherever its launcher now is, of the two folders Windows offers.
if [ -z "$folder" ]; then
  for folder in 'C:\Program Files (x86)\VantorixAssist' 'C:\Program Files\VantorixAssist'; do
    [ -f "$WINEPREFIX/drive_c/$(printf '%s' "${folder:3}" | sed 's#\\#/#g')/VantorixAssist.exe" ] && break
  done
fi
linux="$WINEPREFIX/drive_c/$(printf '%s' "${folder:3}" | sed 's#\\#/#g')"
[ -f "$linux/VantorixAssist.exe" ] || { echo "install-from-setup: nothing was installed in $linux" >&2; exit 1; }
printf '%s\n' "$linux"
