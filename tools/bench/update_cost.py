#!/usr/bin/env python3
"""The cost of an update in the real launcher, printed (run by update_cost.sh in the Wine environment).

    update_cost.py BENCH_DIR ROUNDS SIZE_MB SMALL_FILES

Each round, paired in one run:
  1. the real launcher (the test build, its form showing progress, launcher_driver.exe playing the user)
     downloads a signed SIZE_MB update from the loopback server, checks it and installs it; the launcher
     logs its own processor time and peak working set when the download starts, when it completes, when
     the archive passed its check and when the install is done: each step's share is a difference;
  2. the bare extraction: unzip_bench.exe (the launcher's extractor and commit, no check, no form) unpacks
     the same archive over a fresh copy of the same installation;
  3. the minimal download: winhttp_loop.exe fetches the same archive from the same server.
Then the same for an update of SMALL_FILES small files, per file, with Info-ZIP unzip (native) beside.
Every Windows figure is what the process counted itself (GetProcessTimes, PeakWorkingSetSize), without its
start-up."""
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

SOURCE = os.environ["VANTORIX_SOURCE"]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mixed_files import mixed_entries  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e", "launcher"))
import launcher_e2e as e2e  # noqa: E402
import update_package  # noqa: E402  (put on the path by launcher_e2e)

BENCH_DIR, ROUNDS, SIZE_MB, SMALL_FILES = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
COST = re.compile(r"(?:update|install): (?:full archive |delta )?(download started|download complete|archive checked|install outcome)[^,]*, cpu ([0-9.]+) s, "
                  r"peak working set ([0-9.]+) MB")
FIGURES = re.compile(r"(\w+)=([0-9.]+)")


def small_entries(count):
    rnd = random.Random(5)
    return {"Skin/small/f%05d.txt" % i: bytes(rnd.choice(b"abcdef \n") for _ in range(rnd.randint(200, 3000)))
            for i in range(count)}


def archive_of(work, name, entries):
    """The release as the e2e scenarios publish it: the new client plus entries."""
    client = os.path.join(work, "client-new.exe")
    shutil.copy(e2e.PROBE, client)
    update_package.set_file_version(client, e2e.NEW)
    path = os.path.join(work, name)
    update_package.make_zip(path, dict(entries, **{"bin/client.exe": client}))
    return path


def figures(line):
    return {k: float(v) for k, v in FIGURES.findall(line)}


def launcher_round(archive, with_loop=True):
    """The launcher's processor time for the download and for check plus install, its peak working set,
    and the minimal loop's figures for the same archive from the same server."""
    s = e2e.Scenario("bench_update_cost")
    try:
        s.serve()
        shutil.copy(archive, os.path.join(s.root, "newtemp.zip"))
        s.write_manifest()
        s.run(["box|ok|发现新版本！" + e2e.NEW + "|60", "box|ok|" + e2e.DOWNLOADED + "|600", "form|立即启动|1|900", "click",
               "gone|60"], timeout=1800)
        costs = {kind: (float(cpu), float(peak)) for kind, cpu, peak in COST.findall(s.log)}
        if len(costs) != 4:
            raise SystemExit("the launcher logged no costs:\n" + s.log)
        e2e.check(update_package.file_version(s.client) == e2e.NEW, "the update was not installed")
        started, download = costs["download started"], costs["download complete"]
        checked, installed = costs["archive checked"], costs["install outcome"]
        row = {"download_cpu": download[0] - started[0], "install_cpu": installed[0] - download[0],
               "check_cpu": checked[0] - download[0], "peak": installed[1]}
        if not with_loop:
            return row
        loop_out = os.path.join(s.dir, "loop.bin")
        result = e2e.wine([os.path.join(BENCH_DIR, "winhttp_loop.exe"), s.url("/newtemp.zip"), e2e.winpath(loop_out)],
                          timeout=900)
        loop = figures(result.stdout.decode(errors="replace"))
        e2e.check(result.returncode == 0 and int(loop.get("bytes", 0)) == os.path.getsize(archive),
                  "the minimal loop did not fetch the archive (exit code %s)" % result.returncode)
        return dict(row, loop_cpu=loop["cpu_s"], loop_peak=loop["peak_mb"])
    finally:
        s.close()


def bare_extraction(archive):
    folder = tempfile.mkdtemp(prefix="bench-bare-")
    try:
        target = os.path.join(folder, "installation")
        shutil.copytree(e2e.INSTALLATION, target)
        result = e2e.wine([os.path.join(BENCH_DIR, "unzip_bench.exe"), e2e.winpath(archive), e2e.winpath(target)],
                          timeout=900)
        out = result.stdout.decode(errors="replace")
        e2e.check(result.returncode == 0 and "status=" in out, "the bare extraction failed: " + out)
        return figures(out)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def info_zip(archive):
    folder = tempfile.mkdtemp(prefix="bench-unzip-")
    try:
        out = os.path.join(folder, "figures")
        subprocess.run([os.path.join(BENCH_DIR, "measure"), out, "unzip", "-q", "-o", archive, "-d",
                        os.path.join(folder, "out")], check=True, timeout=900)
        return figures(open(out).read())
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def median(rows, key):
    return statistics.median(r[key] for r in rows)


def main():
    work = tempfile.mkdtemp(prefix="bench-update-cost-")
    try:
        large = archive_of(work, "large.zip", {name: data for name, data, _ in mixed_entries(SIZE_MB)})
        small = archive_of(work, "small.zip", small_entries(SMALL_FILES))
        print("archives: %.1f MB (%d MB of files), %d small files in %.1f MB" %
              (os.path.getsize(large) / 1e6, SIZE_MB, SMALL_FILES, os.path.getsize(small) / 1e6))
        rows = []
        for n in range(ROUNDS):
            row = launcher_round(large)
            bare = bare_extraction(large)
            row.update(bare_cpu=bare["cpu_s"], bare_peak=bare["peak_mb"])
            rows.append(row)
            print("round %d: install cpu %.2f s (check %.2f s; bare %.2f s), download cpu %.2f s (loop %.2f s), peak %.1f MB "
                  "(bare %.1f, loop %.1f)" % (n + 1, row["install_cpu"], row["check_cpu"], row["bare_cpu"], row["download_cpu"],
                                              row["loop_cpu"], row["peak"], row["bare_peak"], row["loop_peak"]))
            sys.stdout.flush()
        install, bare = median(rows, "install_cpu"), median(rows, "bare_cpu")
        download, loop = median(rows, "download_cpu"), median(rows, "loop_cpu")
        print("median install (check + unpack, form showing progress): cpu %.2f s against the bare extraction's %.2f s:"
              " %.2f times (goal at most 1.3)" % (install, bare, install / bare))
        print("median download (form showing progress): cpu %.2f s against the minimal WinHTTP loop's %.2f s:"
              " %.2f times (goal at most 1.1)" % (download, loop, download / loop))
        print("peak working set: launcher %.1f MB, bare extraction %.1f MB, minimal loop %.1f MB" %
              (median(rows, "peak"), median(rows, "bare_peak"), median(rows, "loop_peak")))
        per_file = []
        for n in range(ROUNDS):
            row = launcher_round(small, with_loop=False)
            per_file.append({"launcher": row["install_cpu"], "bare": bare_extraction(small)["cpu_s"],
                             "unzip": info_zip(small)["cpu_s"]})
        files = SMALL_FILES + 1
        launcher_ms, bare_ms, unzip_ms = (median(per_file, k) * 1000 / files for k in ("launcher", "bare", "unzip"))
        print("per file at %d small files: launcher install %.3f ms, bare extraction %.3f ms, Info-ZIP unzip (native) "
              "%.3f ms: %.1f and %.1f times unzip's" % (files, launcher_ms, bare_ms, unzip_ms, launcher_ms / unzip_ms,
                                                       bare_ms / unzip_ms))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
