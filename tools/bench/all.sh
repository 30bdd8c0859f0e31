#!/usr/bin/env bash
# Every figure of the README's "Benchmarks" section from one command: the update cost benchmark and the
# delta benchmark, each printing what it ran on and its own table; the tables are repeated at the end as
# the README shows them.
#   tools/bench/all.sh [ROUNDS] [SIZE_MB] [SMALL_FILES] [DELTA_ROUNDS]      (default 3 200 5000 9)
# Long on a 2-core machine under qemu (tens of minutes at the defaults): try `all.sh 3 50 500 5` first.
# Not part of the test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d /tmp/vx-bench-all.XXXXXX)
trap 'rm -rf "$out"' EXIT
bash "$root/tools/bench/update_cost.sh" "${1:-3}" "${2:-200}" "${3:-5000}" | tee "$out/update_cost.txt"
bash "$root/tools/bench/delta_bench.sh" "${4:-9}" | tee "$out/delta.txt"
echo
echo "== the README's tables =="
for f in update_cost delta; do
  sed -n '/^README table/,$p' "$out/$f.txt"
  echo
done
