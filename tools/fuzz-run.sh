#!/usr/bin/env bash
# CTest's runner for one fuzz target: a bounded libFuzzer run from the target's seed corpus.
#   fuzz-run.sh NAME TARGET-EXE FOLDER [SEED-FOLDER...]
# FOLDER holds corpus/NAME/ (the seeds, never written) and, optionally, NAME.dict; more seed folders (files
# of the installation, for instance) are read as well, never written. New inputs that reach
# new code are kept in $VANTORIX_FUZZ_WORK/NAME (default: a scratch folder), so later runs on the same
# build start from them. VANTORIX_FUZZ_SECONDS sets the run's length (default 30). Any crash, leak,
# slow input (over 20 s) or broken invariant fails the run; the input is kept in
# $VANTORIX_ARTIFACTS/fuzz/NAME/ (default build/artifacts/fuzz/NAME/) with the run's log, and the line
# to replay it is printed.
set -u
name=$1 exe=$2 folder=$3
shift 3
seconds=${VANTORIX_FUZZ_SECONDS:-30}
seeds=$folder/corpus/$name
[ -d "$seeds" ] && [ -n "$(ls -A "$seeds")" ] || { echo "no seed corpus in $seeds"; exit 1; }
[ -x "$exe" ] || { echo "no fuzz target $exe (built by tools/build.sh with clang)"; exit 1; }
scratch=
if [ -n "${VANTORIX_FUZZ_WORK:-}" ]; then
  work=$VANTORIX_FUZZ_WORK/$name
  mkdir -p "$work"
else
  scratch=$(mktemp -d)
  work=$scratch
fi
artifacts=${VANTORIX_ARTIFACTS:-$(cd "$(dirname "$0")/.." && pwd)/build/artifacts}/fuzz/$name
mkdir -p "$artifacts"
dict=()
[ -f "$folder/$name.dict" ] && dict=(-dict="$folder/$name.dict")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "${dict[@]}" "$work" "$seeds" "$@" > "$artifacts/run.log" 2>&1
rc=$?
tail -n 40 "$artifacts/run.log"
if [ "$rc" != 0 ]; then
  for input in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
    [ -f "$input" ] && echo "replay: $exe $input"
  done
fi
[ -n "$scratch" ] && rm -rf "$scratch"
exit "$rc"
