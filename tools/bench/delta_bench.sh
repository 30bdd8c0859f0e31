#!/usr/bin/env bash
# Delta benchmark: three release pairs made from the project's own build (build/win/installation), each
# published by the release tool; prints the delta's size against the full archive's and the processor
# time of applying the delta against unpacking the full archive over the same earlier release, both by
# release_apply (the launcher's extractor and applier, built natively with -O2), in paired rounds of one
# run, their order alternating (the median of each, and of the per-round ratios with their range; a spread
# too wide to trust is said so). Prints the machine, its load before and after, and the installation.
#   tools/bench/delta_bench.sh [ROUNDS]      (default 9)
# Goals: a release that changes only the client gives a delta of at most 5 % of the full archive; applying
# a delta takes at most the full unpack's processor time. Needs the cross build, cmake, zstd.
# Not part of the test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
rounds=${1:-9}
installation=$build/win/installation
[ -f "$installation/bin/client.exe" ] || { echo "no $installation: build first (tools/build.sh)"; exit 1; }
work=$(mktemp -d /tmp/vx-delta-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "building release_apply (-O2, no sanitizers) in $build/bench-native..."
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1 CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
cmake -S "$root" -B "$build/bench-native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTORIX_SANITIZE=OFF >/dev/null
cmake --build "$build/bench-native" --target release_apply >/dev/null
applier=$build/bench-native/tools/release/native/release_apply

python3 - "$root" "$installation" "$applier" "$work" "$rounds" <<'PY'
import os, random, shutil, statistics, subprocess, sys
root, installation, applier, work, rounds = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
sys.path.insert(0, os.path.join(root, "tools", "update-server"))
sys.path.insert(0, os.path.join(root, "tools", "bench"))
import update_package
import bench_env
for line in bench_env.describe(installation, wine=False):
    print(line)
print("release_apply runs natively (x86-64, -O2): the same on either road")

rnd = random.Random(27)
def path(folder, name):
    return os.path.join(folder, *name.split("/"))
def release(name, base=None):
    folder = os.path.join(work, name)
    shutil.copytree(base or installation, folder, ignore=shutil.ignore_patterns("update"))
    return folder
def edit(folder, name, change):
    with open(path(folder, name), "rb") as f:
        data = bytearray(f.read())
    with open(path(folder, name), "wb") as f:
        f.write(change(data))

def client_rebuilt(data):
    # A rebuilt client: another version, and 4 KiB of code in its middle that is new.
    middle = len(data) // 2
    data[middle:middle + 4096] = bytes(rnd.getrandbits(8) for _ in range(4096))
    return data
def skin_edited(data):
    return data.replace(b"</body>", b"<section>" + b"<p>new release notes</p>" * 80 + b"</section></body>")
def engine_grown(data):
    middle = len(data) // 2
    return data[:middle] + bytes(rnd.getrandbits(8) for _ in range(8192)) + data[middle:]

old = release("old")
update_package.set_file_version(path(old, "bin/client.exe"), "1.0.0.1")
pairs = []
a = release("client", old); update_package.set_file_version(path(a, "bin/client.exe"), "1.0.0.2")
edit(a, "bin/client.exe", client_rebuilt)
pairs.append(("only the client changed", a))
b = release("client-skin", a)
for skin in ("Skin/UI.html", "bin/Skin/UI.html"):
    edit(b, skin, skin_edited)
pairs.append(("client and skin changed", b))
c = release("engine", old); update_package.set_file_version(path(c, "bin/client.exe"), "1.0.0.2")
edit(c, "bin/node.dll", engine_grown)
pairs.append(("engine grown by 8 KiB", c))

def run(command, folder, package):
    out = subprocess.run([applier, command, folder, package], stdout=subprocess.PIPE, check=True).stdout.decode()
    fields = dict(f.split("=", 1) for f in out.split())
    return float(fields["cpu_seconds"])

total = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(old) for f in fs)
print("release pairs from %s (%d files, %.2f MB unpacked), %d paired rounds, processor time of the calling thread"
      % (installation, sum(len(fs) for _, _, fs in os.walk(old)), total / 1e6, rounds))
print("%-26s %12s %10s %8s %12s %12s %7s  %s" % ("pair", "full_bytes", "delta_bytes", "delta_%", "unpack_ms", "delta_ms",
                                                "ratio", "per-round ratios"))
table = []
for n, (what, new) in enumerate(pairs):
    out = os.path.join(work, "out%d" % n)
    subprocess.run([sys.executable, os.path.join(root, "tools", "release", "release.py"), "--release", new, "--earlier", old,
                    "--out", out, "--base-url", "http://127.0.0.1/", "--unsigned", "--applier", applier],
                   stdout=subprocess.DEVNULL, check=True)
    full = os.path.join(out, "1.0.0.2.zip")
    delta = os.path.join(out, "1.0.0.1-1.0.0.2.delta.zip")
    unpack, apply = [], []
    for r in range(rounds):
        for kind, times in (("unpack", unpack), ("delta", apply))[:: 1 if r % 2 else -1]:  # alternate the order
            target = os.path.join(work, "target")
            shutil.rmtree(target, ignore_errors=True)
            shutil.copytree(old, target)
            times.append(run(kind, target, full if kind == "unpack" else delta))
    u, d = statistics.median(unpack) * 1000, statistics.median(apply) * 1000
    fs, ds = os.path.getsize(full), os.path.getsize(delta)
    ratios = [a / b for a, b in zip(apply, unpack)]
    print("%-26s %12d %10d %7.2f%% %12.2f %12.2f %7.2f  %s" % (what, fs, ds, 100.0 * ds / fs, u, d, d / u,
                                                               bench_env.verdict(ratios, 1.0)))
    m, low, high, rel = bench_env.spread(ratios)
    table.append("| %s | %s B | %s B | %.2f %% | %.1f ms | %.1f ms | %.2f (%.2f-%.2f)%s |" % (
        what, format(fs, ","), format(ds, ","), 100.0 * ds / fs, u, d, m, low, high,
        "" if rel <= bench_env.TRUSTED_SPREAD else ", spread too wide"))
print("goals: only the client changed <= 5 % of the full archive; delta_ms <= unpack_ms")
print("load after: %s" % bench_env.load())
print()
print("README table (%d paired rounds, processor time):" % rounds)
print("| pair | full archive | delta | delta / full | unpack full | apply delta | ratio (rounds) |")
print("|---|---|---|---|---|---|---|")
for row in table:
    print(row)
PY
