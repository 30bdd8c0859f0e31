#!/usr/bin/env python3
"""The cost of an update in the real launcher, printed (run by update_cost.sh in the Wine environment).

    update_cost.py BENCH_DIR ROUNDS SIZE_MB SMALL_FILES

Each round, paired in one run, the subject and its references one after the other, their order reversed
in every other round:
  1. the real launcher (the test build, its form showing progress, launcher_driver.exe playing the user)
     downloads a signed SIZE_MB update from the loopback server, checks it and installs it; the launcher
     logs its own processor time and peak working set at its milestones (started, manifest fetched and
     checked, download started, answered and complete with the form's share, archive checked, install
     done): each phase's share is a difference;
  2. the bare extraction: unzip_bench.exe (the launcher's extractor and commit, no check, no form) unpacks
     the same archive over a fresh copy of the same installation;
  3. the minimal download: winhttp_loop.exe fetches the same archive from the same server.
Then the same for an update of SMALL_FILES small files, per file, against the bare extraction under the
same Wine. Every Windows figure is what the process counted itself (GetProcessTimes, PeakWorkingSetSize),
without its start-up. Each ratio is taken within a round; the median is printed with the rounds' range,
and a spread too wide to trust is said so (bench_env.py). The last lines are the README's table."""
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
import bench_env  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e", "launcher"))
import launcher_e2e as e2e  # noqa: E402
import update_package  # noqa: E402  (put on the path by launcher_e2e)

BENCH_DIR, ROUNDS, SIZE_MB, SMALL_FILES = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
# The launcher's cost lines: "<place>: <milestone>[ ...], cpu 1.234 s, peak working set 35.1 MB[, in the form 0.1 s]".
COST = re.compile(r"(launcher: started|manifest: fetched|manifest: checked|download started|download answered|"
                  r"download complete|archive checked|install outcome)[^,\r\n]*, cpu ([0-9.]+) s, peak working set ([0-9.]+) MB"
                  r"(?:, in the form ([0-9.]+) s)?")
FIGURES = re.compile(r"(\w+)=([0-9.]+)")
# The form's share of the download, split: "(progress handler 0.5 s, messages 0.04 s), 86 blocks".
FORM_SPLIT = re.compile(r"download complete.*progress handler ([0-9.]+) s, messages (-?[0-9.]+) s\), ([0-9]+) blocks")


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


def costs_of(log):
    """The first cost line of each milestone: {milestone: (cpu, peak, form cpu or None)}."""
    found = {}
    for name, cpu, peak, form in COST.findall(log):
        key = name.split(": ")[-1] if name.startswith("launcher") else name
        found.setdefault(key, (float(cpu), float(peak), float(form) if form else None))
    return found


MILESTONES = ("started", "manifest: fetched", "manifest: checked", "download started", "download answered",
              "download complete", "archive checked", "install outcome")


def minimal_loop(s, archive):
    loop_out = os.path.join(s.dir, "loop.bin")
    result = e2e.wine([os.path.join(BENCH_DIR, "winhttp_loop.exe"), s.url("/newtemp.zip"), e2e.winpath(loop_out)],
                      timeout=900)
    loop = figures(result.stdout.decode(errors="replace"))
    e2e.check(result.returncode == 0 and int(loop.get("bytes", 0)) == os.path.getsize(archive),
              "the minimal loop did not fetch the archive (exit code %s)" % result.returncode)
    os.remove(loop_out)
    return loop


def launcher_round(archive, with_loop=True, loop_first=False):
    """The launcher's processor time by phase, its peak working set, and the minimal loop's figures for the
    same archive from the same server (fetched before the launcher's run when loop_first)."""
    s = e2e.Scenario("bench_update_cost")
    try:
        s.serve()
        shutil.copy(archive, os.path.join(s.root, "newtemp.zip"))
        s.write_manifest()
        loop = minimal_loop(s, archive) if with_loop and loop_first else None
        s.run(["box|ok|发现新版本！" + e2e.NEW + "|60", "box|ok|" + e2e.DOWNLOADED + "|600", "form|立即启动|1|900", "click",
               "gone|60"], timeout=1800)
        costs = costs_of(s.log)
        missing = [m for m in MILESTONES if m not in costs]
        if missing:
            raise SystemExit("the launcher logged no cost for %s:\n%s" % (", ".join(missing), s.log))
        e2e.check(update_package.file_version(s.client) == e2e.NEW, "the update was not installed")
        cpu = {m: costs[m][0] for m in MILESTONES}
        form = costs["download complete"][2] or 0.0
        split = FORM_SPLIT.search(s.log)
        handler, messages, blocks = (float(split.group(1)), float(split.group(2)), int(split.group(3))) if split else (0.0, 0.0, 0)
        row = {"download_cpu": cpu["download complete"] - cpu["download started"],
               "install_cpu": cpu["install outcome"] - cpu["download complete"],
               "check_cpu": cpu["archive checked"] - cpu["download complete"],
               "peak": costs["install outcome"][1],
               "peak_manifest": costs["manifest: checked"][1], "peak_download": costs["download complete"][1],
               "peak_check": costs["archive checked"][1],
               "phase_start": cpu["started"],
               "phase_manifest_fetch": cpu["manifest: fetched"] - cpu["started"],
               "phase_manifest_check": cpu["manifest: checked"] - cpu["manifest: fetched"],
               "phase_until_download": cpu["download started"] - cpu["manifest: checked"],
               "phase_request": cpu["download answered"] - cpu["download started"],
               "phase_form": form, "form_handler": handler, "form_messages": messages, "blocks": blocks,
               "phase_receive": cpu["download complete"] - cpu["download answered"] - form,
               "phase_check": cpu["archive checked"] - cpu["download complete"],
               "phase_unpack": cpu["install outcome"] - cpu["archive checked"]}
        if with_loop and loop is None:
            loop = minimal_loop(s, archive)
        if loop:
            row.update(loop_cpu=loop["cpu_s"], loop_peak=loop["peak_mb"])
        return row
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


def median(rows, key):
    return statistics.median(r[key] for r in rows)


PHASES = (("phase_start", "start (until the log is open)"),
          ("phase_manifest_fetch", "manifest fetch (proxy discovery, TLS, request)"),
          ("phase_manifest_check", "manifest and signature checks"),
          ("phase_until_download", "the form and its first message until the download starts"),
          ("phase_request", "download: proxy discovery, connection, answer"),
          ("phase_receive", "download: the receive loop (downloader, WinHTTP, file)"),
          ("phase_form", "download: the form (progress handler, repaints, messages)"),
          ("phase_check", "install: archive check (SHA-256, signature)"),
          ("phase_unpack", "install: unpack and commit"))


def main():
    for line in bench_env.describe(e2e.INSTALLATION):
        print(line)
    e2e.control_present()  # as after the first start: the launcher asks nothing before its update
    e2e.protected_drive()  # the scenarios' installations live there, as in the e2e run
    work = tempfile.mkdtemp(prefix="bench-update-cost-")
    try:
        large = archive_of(work, "large.zip", {name: data for name, data, _ in mixed_entries(SIZE_MB)})
        small = archive_of(work, "small.zip", small_entries(SMALL_FILES))
        print("archives: %.1f MB (%d MB of files), %d small files in %.1f MB" %
              (os.path.getsize(large) / 1e6, SIZE_MB, SMALL_FILES, os.path.getsize(small) / 1e6))
        rows = []
        for n in range(ROUNDS):
            references_first = n % 2 == 1
            bare = bare_extraction(large) if references_first else None
            row = launcher_round(large, loop_first=references_first)
            bare = bare or bare_extraction(large)
            row.update(bare_cpu=bare["cpu_s"], bare_peak=bare["peak_mb"])
            rows.append(row)
            print("round %d (%s first): install cpu %.2f s (check %.2f s; bare %.2f s), download cpu %.2f s (loop %.2f s), "
                  "peak %.1f MB (bare %.1f, loop %.1f)" % (n + 1, "references" if references_first else "launcher",
                                                           row["install_cpu"], row["check_cpu"], row["bare_cpu"],
                                                           row["download_cpu"], row["loop_cpu"], row["peak"],
                                                           row["bare_peak"], row["loop_peak"]))
            sys.stdout.flush()
        install = [r["install_cpu"] / r["bare_cpu"] for r in rows]
        download = [r["download_cpu"] / r["loop_cpu"] for r in rows]
        memory = [r["peak"] / max(r["bare_peak"], r["loop_peak"]) for r in rows]
        print("install (check + unpack + commit, form showing progress) against the bare extraction: cpu %.2f s against %.2f s, %s"
              % (median(rows, "install_cpu"), median(rows, "bare_cpu"), bench_env.verdict(install, 1.3)))
        print("download (form showing progress) against the minimal WinHTTP loop: cpu %.2f s against %.2f s, %s"
              % (median(rows, "download_cpu"), median(rows, "loop_cpu"), bench_env.verdict(download, 1.1)))
        print("peak working set: launcher %.1f MB, bare extraction %.1f MB, minimal loop %.1f MB: against the larger "
              "reference %s" % (median(rows, "peak"), median(rows, "bare_peak"), median(rows, "loop_peak"),
                                bench_env.verdict(memory, 1.2)))
        print("the launcher's processor time by phase (medians, from its own cost lines):")
        for key, what in PHASES:
            print("  %-62s %7.3f s  (rounds %.3f-%.3f)" % (what, median(rows, key), min(r[key] for r in rows),
                                                           max(r[key] for r in rows)))
        print("  the form's share split: progress handler (the status line's and the bar's repaints) %.3f s, the "
              "messages let run after each block %.3f s, over %d blocks" % (median(rows, "form_handler"),
                                                                        median(rows, "form_messages"), median(rows, "blocks")))
        print("  peak working set reached by: the manifest check %.1f MB, the download %.1f MB, the archive check %.1f MB, "
              "the install %.1f MB" % (median(rows, "peak_manifest"), median(rows, "peak_download"),
                                       median(rows, "peak_check"), median(rows, "peak")))
        extra = median(rows, "download_cpu") - median(rows, "loop_cpu")
        print("  download beyond the minimal loop: %.3f s, of which request %.3f s, the form %.3f s, the receive loop "
              "%.3f s beyond the loop's %.3f s" % (extra, median(rows, "phase_request"), median(rows, "phase_form"),
                                                   median(rows, "phase_receive") - median(rows, "loop_cpu"),
                                                   median(rows, "loop_cpu")))
        per_file = []
        for n in range(ROUNDS):
            references_first = n % 2 == 1
            bare = bare_extraction(small)["cpu_s"] if references_first else None
            launcher = launcher_round(small, with_loop=False)["install_cpu"]
            bare = bare if bare is not None else bare_extraction(small)["cpu_s"]
            per_file.append({"launcher": launcher, "bare": bare})
        files = SMALL_FILES + 1
        launcher_ms, bare_ms = (median(per_file, k) * 1000 / files for k in ("launcher", "bare"))
        per_file_ratio = [r["launcher"] / r["bare"] for r in per_file]
        print("per file at %d small files: launcher install %.3f ms, bare extraction under the same Wine %.3f ms: %s"
              % (files, launcher_ms, bare_ms, bench_env.verdict(per_file_ratio)))
        print("load after: %s" % bench_env.load())
        print()
        print("README table (%d paired rounds, %d MB of mixed files, processor time):" % (ROUNDS, SIZE_MB))
        print("| | launcher | reference | ratio (rounds) | goal |")
        print("|---|---|---|---|---|")
        def cell(values):
            m, low, high, rel = bench_env.spread(values)
            return "%.2fx (%.2f-%.2f)%s" % (m, low, high, "" if rel <= bench_env.TRUSTED_SPREAD else ", spread too wide")
        print("| download, form showing progress | %.2f s | minimal WinHTTP loop %.2f s | %s | 1.1x |"
              % (median(rows, "download_cpu"), median(rows, "loop_cpu"), cell(download)))
        print("| install (check + unpack + commit) | %.2f s | bare extraction %.2f s | %s | 1.3x |"
              % (median(rows, "install_cpu"), median(rows, "bare_cpu"), cell(install)))
        print("| of which the archive check | %.2f s | - | - | |" % median(rows, "check_cpu"))
        print("| peak working set | %.1f MB | larger of %.1f / %.1f MB | %s | 1.2x |"
              % (median(rows, "peak"), median(rows, "bare_peak"), median(rows, "loop_peak"), cell(memory)))
        print("| per file at %d small files (install) | %.3f ms | bare extraction %.3f ms | %s | |"
              % (files, launcher_ms, bare_ms, cell(per_file_ratio)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
