#!/usr/bin/env bash
# Source this file. What the scripts change machine-wide, and the one lock that guards it.
#
# The kernel-wide binfmt_misc entry for qemu-i386 decides for every i386 program on the machine whether it
# runs natively or through qemu-user. A run that switches it breaks every other run on the machine, so:
#   - whether this kernel runs 32-bit code itself is probed without touching the entry (native_32bit);
#   - a run that needs the entry as it is takes the machine lock shared: runs that need the same state go
#     on side by side;
#   - a run that must switch it takes the lock exclusively for as long as it needs the switched state, so it
#     waits for the others and they wait for it, and puts the entry back as it found it when it ends.
#   VANTORIX_MACHINE_LOCK       the lock file (default /run/lock/vantorix-machine.lock)
#   VANTORIX_MACHINE_LOCK_WAIT  seconds to wait for it before giving up (default 5400: a whole other run)
# Functions: machine_lock shared|exclusive, machine_unlock, binfmt_state, binfmt_use 0|1, native_32bit,
#            pick_display
VANTORIX_MACHINE_LOCK=${VANTORIX_MACHINE_LOCK:-/run/lock/vantorix-machine.lock}
VANTORIX_BINFMT=${VANTORIX_BINFMT:-/proc/sys/fs/binfmt_misc/qemu-i386}
_machine_lock_mode=
_binfmt_restore=

# machine_lock MODE: takes the lock on fd 9 (shared or exclusive), waiting for the other runs; says whom it
# waits for. Taking it again in another mode trades the old mode for the new one.
machine_lock() {
  local mode=$1 flag=-s
  [ "$mode" = exclusive ] && flag=-x
  [ "$_machine_lock_mode" = "$mode" ] && return 0
  mkdir -p "$(dirname "$VANTORIX_MACHINE_LOCK")"
  [ -n "$_machine_lock_mode" ] || exec 9>>"$VANTORIX_MACHINE_LOCK"
  if ! flock -n $flag 9; then
    echo "[machine] waiting for another run on this machine (lock $VANTORIX_MACHINE_LOCK, $mode)" >&2
    flock -w "${VANTORIX_MACHINE_LOCK_WAIT:-5400}" $flag 9 \
      || { echo "[machine] FAILED: the machine lock was not free within ${VANTORIX_MACHINE_LOCK_WAIT:-5400} s" >&2; return 1; }
  fi
  _machine_lock_mode=$mode
}

machine_unlock() {
  [ -n "$_machine_lock_mode" ] || return 0
  binfmt_restore
  flock -u 9
  exec 9>&-
  _machine_lock_mode=
}

binfmt_state() {  # 1, 0, or "none" when no qemu-i386 entry is registered
  [ -e "$VANTORIX_BINFMT" ] || { echo none; return 0; }
  # The kernel's file says "enabled"/"disabled"; a stand-in file (VANTORIX_BINFMT, in tests) holds what was
  # written to it.
  if grep -qE '^(enabled|1)$' "$VANTORIX_BINFMT"; then echo 1; else echo 0; fi
}

# binfmt_use 0|1: the entry in this state for the rest of the run. Holds the lock shared when the entry is
# so already, else exclusively while it is switched; binfmt_restore (machine_unlock, or the exit) puts it back.
binfmt_use() {
  local want=$1 now
  now=$(binfmt_state)
  [ "$now" != none ] || [ "$want" = 0 ] || { echo "[machine] FAILED: no qemu-i386 entry in binfmt_misc: run tools/setup.sh" >&2; return 1; }
  if [ "$now" = none ] || [ "$now" = "$want" ]; then
    [ "$_machine_lock_mode" = exclusive ] || { machine_lock shared || return 1; }
    now=$(binfmt_state)
    [ "$now" = none ] || [ "$now" = "$want" ] && return 0
  fi
  # Another state is needed: exclusively, and read again (a run that held it may have put it back).
  machine_lock exclusive || return 1
  now=$(binfmt_state)
  [ "$now" = "$want" ] && return 0
  [ -n "$_binfmt_restore" ] || _binfmt_restore=$now
  echo "$want" > "$VANTORIX_BINFMT" || { echo "[machine] FAILED: cannot write $VANTORIX_BINFMT" >&2; return 1; }
}

binfmt_restore() {
  [ -n "$_binfmt_restore" ] || return 0
  [ "$_machine_lock_mode" = exclusive ] && [ -e "$VANTORIX_BINFMT" ] && echo "$_binfmt_restore" > "$VANTORIX_BINFMT"
  _binfmt_restore=
}

# native_32bit: succeeds when this kernel runs 32-bit x86 code itself. The probe is a minimal static i386
# program (exit code 42) whose ELF ABI-version byte is 1: the kernel's loader ignores that byte, the
# qemu-i386 entry's mask does not, so the probe never goes through qemu and the entry is never switched.
native_32bit() {
  local probe rc
  probe=$(mktemp /tmp/vantorix-i386-probe.XXXXXX) || return 1
  python3 - "$probe" <<'EOF'
import struct, sys
base = 0x08048000
code = bytes.fromhex("b801000000" "bb2a000000" "cd80")   # exit(42) through int 0x80
entry = base + 52 + 32
header = b"\x7fELF" + bytes([1, 1, 1, 0, 1]) + bytes(7)  # ELFCLASS32, little-endian, ABI version 1
header += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, entry, 52, 0, 0, 52, 32, 1, 0, 0, 0)
segment = struct.pack("<IIIIIIII", 1, 0, base, base, 84 + len(code), 84 + len(code), 5, 0x1000)
open(sys.argv[1], "wb").write(header + segment + code)
EOF
  chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -f "$probe"
  [ "$rc" = 42 ]
}

# pick_display FIRST LAST: a display number between FIRST and LAST that no X server holds and no other run
# has reserved; the reservation (a file naming this shell's pid) lasts while the shell does.
pick_display() {
  local n dir=/run/lock
  [ -w "$dir" ] || dir=/tmp
  (
    flock -w 60 8 || exit 1
    for n in $(seq "$1" "$2"); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
      local held="$dir/vantorix-display-$n"
      [ -f "$held" ] && kill -0 "$(cat "$held" 2>/dev/null)" 2>/dev/null && continue
      echo "$$" > "$held"
      echo "$n"
      exit 0
    done
    exit 1
  ) 8>>"$dir/vantorix-display.lock"
}
