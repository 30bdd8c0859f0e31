#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine, as root.
# Idempotent: a second run only checks. Chooses native 32-bit execution where the kernel allows it and
# qemu-user 10 (bookworm-backports) through binfmt_misc where it does not.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -o DPkg::Lock::Timeout=600 -y)
SRC=/etc/apt/sources.list.d/debian.sources

log() { printf '[setup] %s\n' "$*"; }

# A mirror in the middle of a sync answers with indexes that do not match its Release file, often for many
# minutes. apt_refresh_lists retries "apt-get update" with growing waits, but goes on at once (and says so)
# when the lists it has still make every package we need installable: one stale index of another suite or
# architecture must not end the set-up. A real failure ends it with one message naming the packages and
# the mirror's own error; nothing is installed before the lists are good enough, so nothing is half-installed.
# VANTORIX_APT_RETRY_BUDGET (seconds, default 600) bounds the retries; VANTORIX_APT_FIRST_WAIT the first wait.
apt_retry_budget=${VANTORIX_APT_RETRY_BUDGET:-600}
apt_first_wait=${VANTORIX_APT_FIRST_WAIT:-10}
apt_errors=$(mktemp)
apt_pins=$(mktemp)
trap 'rm -f "$apt_errors" "$apt_pins"' EXIT
APT_BASE=("${APT[@]}")
failed_suites=()
apt_hold_back_failed_suites() {
  mapfile -t failed_suites < <(grep -o 'dists/[^/]*/' "$apt_errors" | cut -d/ -f2 | sort -u)
  [ ${#failed_suites[@]} -gt 0 ] || return 1
  : > "$apt_pins"
  local suite
  for suite in "${failed_suites[@]}"; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 50\n\n' "$suite" >> "$apt_pins"
  done
  APT=("${APT_BASE[@]}" -o "Dir::Etc::Preferences=$apt_pins")
}
apt_installable() {  # apt_installable PKG...: the current lists can install all of them
  [ $# -eq 0 ] || "${APT[@]}" install -s -q --no-install-recommends "$@" >/dev/null 2>>"$apt_errors"
}
apt_fail() {  # apt_fail WHAT PKG...
  local what=$1; shift
  echo "[setup] FAILED: $what; packages: ${*:-(none)}; the mirror said:" >&2
  grep -E '^(E|W|Err):' "$apt_errors" | sort -u | tail -n 8 >&2
  exit 1
}
apt_refresh_lists() {  # apt_refresh_lists PKG...: lists good enough for PKG...
  local wait=$apt_first_wait start=$SECONDS
  while :; do
    : > "$apt_errors"
    "${APT[@]}" update -q > >(grep -v '^\(Get\|Hit\|Ign\):' >&2) 2>>"$apt_errors" && { cat "$apt_errors" >&2; return 0; }
    cat "$apt_errors" >&2
    if apt_installable "$@"; then
      log "apt-get update failed (above), but the lists we have can install what is needed: going on"
      return 0
    fi
    # A suite whose index failed for one architecture only (the security suite's i386 list, say) leaves
    # the other architecture's newer versions without their multi-arch twins. Taken at low priority for
    # this run, the suite's packages then come from the lists that did arrive, consistently.
    if apt_hold_back_failed_suites && apt_installable "$@"; then
      log "apt-get update failed for: ${failed_suites[*]}; installing without their newer versions for this run (they come with the next set-up that can read them)"
      return 0
    fi
    APT=("${APT_BASE[@]}")
    [ $(( SECONDS - start + wait )) -le "$apt_retry_budget" ] || apt_fail "the package lists could not be refreshed within ${apt_retry_budget} s" "$@"
    log "apt-get update failed and the lists cannot install what is needed: trying again in ${wait} s"
    sleep "$wait"
    wait=$(( wait * 2 ))
  done
}
apt_install() {  # apt_install [OPTIONS] PKG...: retried like the lists (a package file can fail mid-sync)
  local wait=$apt_first_wait start=$SECONDS
  while :; do
    : > "$apt_errors"
    "${APT[@]}" install -q "$@" 2>>"$apt_errors" && return 0
    cat "$apt_errors" >&2
    [ $(( SECONDS - start + wait )) -le "$apt_retry_budget" ] || apt_fail "the install did not succeed within ${apt_retry_budget} s" "$@"
    log "apt-get install failed: refreshing the lists and trying again in ${wait} s"
    sleep "$wait"
    wait=$(( wait * 2 ))
    "${APT[@]}" update -q >/dev/null 2>&1 || true
  done
}

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
  apt_refresh_lists "${missing[@]}"
  [ ${#missing[@]} -eq 0 ] || apt_install --no-install-recommends "${missing[@]}"
fi

# Does this kernel run 32-bit x86 code itself? Route around a qemu binfmt entry for the check.
binfmt=/proc/sys/fs/binfmt_misc
mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
[ -e "$binfmt/qemu-i386" ] && echo 0 > "$binfmt/qemu-i386" || true
native=0
/usr/lib/wine/wine --version >/dev/null 2>&1 && native=1
# qemu-user 10 is needed on both kinds of machine: it is the only road where the kernel cannot run 32-bit
# code, and the test run's second road where it can.
if ! dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | grep -q '^1:10'; then
  apt_refresh_lists qemu-user/bookworm-backports
  apt_install -t bookworm-backports qemu-user
fi
[ -e "$binfmt/qemu-i386" ] || echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' > "$binfmt/register"
if [ $native = 1 ]; then
  log "32-bit code runs natively (qemu-user 10 stands by for the test run's second road)"
  echo 0 > "$binfmt/qemu-i386"
else
  log "32-bit code needs qemu-user 10"
  echo 1 > "$binfmt/qemu-i386"
  /usr/lib/wine/wine --version >/dev/null
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
