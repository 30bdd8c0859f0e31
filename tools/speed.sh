#!/usr/bin/env bash
# Prints the run's speed factor: how many times longer than on the reference machine a fixed small Wine
# workload takes now (three console processes started one after another on the running wineserver),
# at least 1 and at most VANTORIX_SPEED_FACTOR_MAX (default 4). The time limits of the Windows-side tests
# are set for the reference (qemu road, 2 cores, lightly loaded); tools/wine-test.sh grows them by this
# factor, so a slow or shared machine is given time while a hang still ends at a bounded multiple.
# Needs the Wine environment up (tools/wine-env.sh, wine_up). The measurement goes to stderr.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
# The workload's time on the reference, in seconds: a console process takes 0.3-0.5 s there from the shell
# (qemu road, lightly loaded), so three about 1.5 s. At load 20-30 on 2 cores it took 27 s here.
reference=${VANTORIX_SPEED_REFERENCE:-1.5}
max=${VANTORIX_SPEED_FACTOR_MAX:-4}
start=$(date +%s.%N)
for _ in 1 2 3; do
  timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || { echo "[speed] FAILED: a console process did not run within 120 s" >&2; exit 1; }
done
took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
factor=$(awk -v t="$took" -v r="$reference" -v m="$max" 'BEGIN { f = t / r; if (f < 1) f = 1; if (f > m) f = m; printf "%.2f", f }')
echo "[speed] the workload took $took s (reference $reference s): speed factor $factor" >&2
echo "$factor"
