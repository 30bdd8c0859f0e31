#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine, as root.
# Idempotent: a second run only checks. Chooses native 32-bit execution where the kernel allows it and
# qemu-user 10 (bookworm-backports) through binfmt_misc where it does not; only there is qemu-user installed.
# The binfmt_misc entry is changed only under the machine lock (tools/machine.sh), so a set-up never
# switches it under a test run on the same machine.
# osslsigncode 2.9 (bookworm-backports) signs what the build ships.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -o DPkg::Lock::Timeout=600 -y)
SRC=/etc/apt/sources.list.d/debian.sources

log() { printf '[setup] %s\n' "$*"; }

# apt-get, retried within a budget where the mirror stumbles (tools/setup-apt.sh).
here=$(cd "$(dirname "$0")" && pwd)
source "$here/setup-apt.sh"
source "$here/machine.sh"
trap 'apt_cleanup; machine_unlock' EXIT

# The archive address and keyring of the configured Debian entry, reused for deb-src and backports.
main_uri=$(awk '/^URIs:/{print $2; exit}' "$SRC" 2>/dev/null || true)
[ -n "$main_uri" ] || main_uri=http://deb.debian.org/debian
keyring=$(awk '/^Signed-By:/{print $2; exit}' "$SRC" 2>/dev/null || true)
[ -n "$keyring" ] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg

need_update=0
extra=/etc/apt/sources.list.d/vantorix-extra.sources
if [ ! -f "$extra" ]; then
  cat > "$extra" <<EOS
Types: deb-src
URIs: $main_uri
Suites: bookworm
Components: main
Signed-By: $keyring

Types: deb
URIs: $main_uri
Suites: bookworm-backports
Components: main
Signed-By: $keyring
EOS
  need_update=1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

pkgs=(cmake ninja-build g++ g++-mingw-w64-i686 mingw-w64-tools libz-mingw-w64-dev nlohmann-json3-dev
      googletest libgtest-dev zlib1g-dev wine wine32:i386 xvfb xauth xdotool x11-utils imagemagick
      wine64  # a 64-bit prefix beside the 32-bit one: the test run's WoW64 pass
      python3 openssl curl zip unzip file dpkg-dev libwine-dev
      fonts-wqy-microhei  # a font with Chinese glyphs, so the windows under Wine show their texts
      nginx-light nsis ccache
      zstd libssl-dev  # the release tool's patches; SHA-256 for the native delta tests and tools
      clang libclang-rt-14-dev)  # libFuzzer and the sanitizers' runtimes for the fuzz targets
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  log "installing: ${missing[*]:-(none, refreshing lists)}"
  apt_get_packages "${missing[@]}"
fi

# Does this kernel run 32-bit x86 code itself? (Probed without touching the qemu entry.) Only where it does
# not is qemu-user installed; where it does, a qemu-user that is there already stands by for the test run's
# second road.
binfmt=/proc/sys/fs/binfmt_misc
mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
if native_32bit; then
  log "32-bit code runs natively"
  if [ "$(binfmt_state)" = 1 ]; then
    binfmt_use 0
    _binfmt_restore=  # left off: this machine's road is the native one
  fi
else
  log "32-bit code needs qemu-user 10"
  if ! dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | grep -q '^1:10'; then
    apt_refresh_lists qemu-user/bookworm-backports
    apt_install -t bookworm-backports qemu-user
  fi
  # The entry is the machine's from now on: registered and switched on (under the lock, only if it is not).
  if [ "$(binfmt_state)" = none ]; then
    machine_lock exclusive
    [ -e "$binfmt/qemu-i386" ] || echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' > "$binfmt/register"
  fi
  binfmt_use 1
  _binfmt_restore=
  machine_unlock
  source "$here/wine-binaries.sh"
  "$WINE32_LOADER" --version >/dev/null
fi

# osslsigncode signs everything the build ships (Authenticode); 2.9 from bookworm-backports is the version
# the signatures were checked with under Wine (bookworm's own is 2.5).
if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null || echo 0)" ge 2.9; then
  apt_refresh_lists osslsigncode/bookworm-backports
  apt_install -t bookworm-backports osslsigncode
fi

# minizip's unzip sources come from Debian's zlib source package; the build compiles them.
srcdir=${VANTORIX_THIRD_PARTY:-/opt/vantorix-deps}
if ! ls "$srcdir"/zlib-*/contrib/minizip/unzip.c >/dev/null 2>&1; then
  mkdir -p "$srcdir"
  ( cd "$srcdir" && apt-get source -q --download-only zlib >/dev/null && dpkg-source -x --skip-debianization zlib_*.dsc >/dev/null 2>&1 || dpkg-source -x zlib_*.dsc >/dev/null )
fi
ls -d "$srcdir"/zlib-*/contrib/minizip >/dev/null
# zstd's decoder, for the launcher's delta updates, comes from Debian's zstd source package (libzstd) the
# same way.
if ! ls "$srcdir"/libzstd-*/lib/decompress/zstd_decompress.c >/dev/null 2>&1; then
  ( cd "$srcdir" && apt-get source -q --download-only libzstd >/dev/null && dpkg-source -x --skip-debianization libzstd_*.dsc >/dev/null 2>&1 || dpkg-source -x libzstd_*.dsc >/dev/null )
fi
ls -d "$srcdir"/libzstd-*/lib/decompress >/dev/null
# The standard user of the Windows-side tests: Wine run by an unprivileged account over a root-owned
# installation gets ERROR_ACCESS_DENIED where a standard user in "Program Files" would (tools/wine-env.sh,
# wine_user_up). No password, no login shell needed beyond running Wine.
test_user=${VANTORIX_TEST_USER:-vantorix-user}
id -u "$test_user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$test_user"
log "ready"
