#!/usr/bin/env bash
# The real client end to end under Wine: prepares installations in a scratch folder whose name has blanks,
# registers the control library, points the shell's https and tencent handlers at a recorder, runs the
# scenarios and keeps their screenshots as PNG artefacts.
#   run_client_e2e.sh DRIVER.exe RECORDER.exe [gtest args]
set -u
driver=$1 recorder=$2; shift 2
source "$VANTORIX_SOURCE/tools/wine-env.sh"
wine_up
win=$VANTORIX_WIN_BUILD
scratch=$(mktemp -d /tmp/client-e2e.XXXXXX)
root="$scratch/client e2e"
artifacts=${VANTORIX_ARTIFACTS:-$win/artifacts/client-e2e}
mkdir -p "$root" "$artifacts"
trap 'rm -rf "$scratch"' EXIT

install_client() {  # install_client FOLDER [noskin]
  mkdir -p "$1"
  cp "$win/bin/client.exe" "$win/bin/node.dll" "$win/bin/standinctl.exe" "$1/"
  [ "${2:-}" = noskin ] || cp -r "$VANTORIX_SOURCE/install/Skin" "$1/Skin"
}
install_client "$root/Vantorix Assist/bin"
install_client "$root/noskin/bin" noskin
install_client "$root/flat"
cp "$recorder" "$root/recorder.exe"
cp "$recorder" "$root/Vantorix.exe"  # the program a cut-off "...\client e2e\Vantorix Assist\..." would name
# The control library is registered from beside the engine, where it finds node.dll.
cp "$win/bin/Velview_G_201.ocx" "$root/Vantorix Assist/bin/"
wine_run 120 regsvr32 /s "$(winpath "$root/Vantorix Assist/bin/Velview_G_201.ocx")" || { echo "registration failed"; exit 1; }

# Opened addresses go to the recorder instead of a browser: the shell's handlers of the two schemes the
# client opens are pointed at it for the run and put back afterwards.
handler="\"$(winpath "$root/recorder.exe")\" \"%1\""
wine_run 60 reg export 'HKLM\Software\Classes\https' "$(winpath "$scratch/https.reg")" /y >/dev/null 2>&1
for scheme in https tencent; do
  wine_run 60 reg add "HKLM\\Software\\Classes\\$scheme" /v "URL Protocol" /d "" /f >/dev/null 2>&1
  wine_run 60 reg add "HKLM\\Software\\Classes\\$scheme\\shell\\open\\command" /ve /d "$handler" /f >/dev/null 2>&1
done
restore() {
  wine_run 60 regsvr32 /s /u "$(winpath "$root/Vantorix Assist/bin/Velview_G_201.ocx")"
  wine_restore_installed_control
  wine_run 60 reg delete 'HKLM\Software\Classes\tencent' /f >/dev/null 2>&1
  [ -f "$scratch/https.reg" ] && wine_run 60 reg import "$(winpath "$scratch/https.reg")" >/dev/null 2>&1
  rm -rf "$scratch"
}
trap restore EXIT

export CLIENT_E2E_ROOT=$(winpath "$root")
export CLIENT_E2E_ARTIFACTS=$(winpath "$artifacts")
export CLIENT_E2E_RECORDS=$(winpath "$root/records.txt")  # where every recorder copy writes
export WINEDEBUG=-all
wine_run 900 "$driver" "$@"
rc=$?
for bmp in "$artifacts"/*.bmp; do
  [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "screenshots: $artifacts"
exit $rc
