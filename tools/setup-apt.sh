#!/usr/bin/env bash
# Source this file: apt-get for tools/setup.sh, made to survive a stumbling package mirror.
# A mirror in the middle of a sync answers with indexes that do not match its Release file, often for many
# minutes. apt_refresh_lists retries "apt-get update" with growing waits, but goes on at once (and says so)
# when the lists it has still make every package we need installable: one stale index of another suite or
# architecture must not end the set-up. A real failure ends it with one message naming the packages and
# the mirror's own error; nothing is installed before the lists are good enough, so nothing is half-installed.
# VANTORIX_APT_RETRY_BUDGET (seconds, default 600) bounds the retries; VANTORIX_APT_FIRST_WAIT the first wait.
declare -F log >/dev/null || log() { printf '[setup] %s\n' "$*"; }
apt_retry_budget=${VANTORIX_APT_RETRY_BUDGET:-600}
apt_first_wait=${VANTORIX_APT_FIRST_WAIT:-10}
# APT (an array) is the apt-get command with its options; apt_cleanup removes this file's scratch files.
apt_errors=$(mktemp)
apt_pins=$(mktemp)
apt_cleanup() { rm -f "$apt_errors" "$apt_pins"; }
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
apt_fail() {  # apt_fail WHAT [OPTIONS] PKG...: one message, the packages (not apt's options) and the mirror's words
  local what=$1 names=() skip=0 a; shift
  for a in "$@"; do
    if [ $skip = 1 ]; then skip=0; elif [ "$a" = -t ]; then skip=1; elif [ "${a#-}" = "$a" ]; then names+=("${a%%/*}"); fi
  done
  echo "[setup] FAILED: $what; packages: ${names[*]:-(none)}; the mirror said:" >&2
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

# apt_get_packages PKG...: fresh enough lists for PKG... (retried), then PKG... installed (retried); a real
# failure ends the shell with apt_fail's one message.
apt_get_packages() {
  apt_refresh_lists "$@"
  [ $# -eq 0 ] || apt_install --no-install-recommends "$@"
}
