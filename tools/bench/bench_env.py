"""What a benchmark ran on, and whether its rounds agree: shared by the benchmarks of tools/bench.

Every benchmark prints, before its figures, the road 32-bit code takes on this machine (native, or qemu-user
through binfmt_misc), Wine's version, the cores, the load before it started and the installation it measured;
after its figures the load again. Each figure it compares is a ratio taken within one round (subject and
reference measured one after the other, their order alternating from round to round), and the spread of
those ratios across rounds says whether the median can be trusted.
"""
import os
import statistics
import subprocess

# Rounds whose ratios differ by more than this share of their median do not give one answer.
TRUSTED_SPREAD = 0.15


def road():
    """'qemu-user' when an enabled binfmt_misc entry sends i386 programs through qemu, else 'native'."""
    entry = "/proc/sys/fs/binfmt_misc/qemu-i386"
    try:
        with open(entry) as f:
            if f.readline().strip() == "enabled":
                interpreter = next((line.split()[1] for line in f if line.startswith("interpreter")), "qemu-i386")
                version = subprocess.run([interpreter, "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                         timeout=20).stdout.decode(errors="replace").splitlines()
                return "qemu-user (%s)" % (version[0] if version else interpreter)
    except (OSError, subprocess.SubprocessError, StopIteration, IndexError):
        pass
    return "native 32-bit"


def wine_version():
    try:
        # The loader tools/wine-env.sh chose (tools/wine-binaries.sh), else the 32-bit one.
        out = subprocess.run([os.environ.get("VANTORIX_WINE", "/usr/lib/wine/wine"), "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             timeout=120).stdout.decode(errors="replace").strip()
        return out or "unknown"
    except (OSError, subprocess.SubprocessError):
        return "not found"


def load():
    """The 1-, 5- and 15-minute load averages and the running/total tasks, as /proc/loadavg gives them."""
    try:
        with open("/proc/loadavg") as f:
            one, five, fifteen, tasks = f.read().split()[:4]
        return "%s %s %s (%s tasks)" % (one, five, fifteen, tasks)
    except OSError:
        return "unknown"


def folder_size(folder):
    files, size = 0, 0
    for d, _, names in os.walk(folder):
        for name in names:
            files += 1
            size += os.path.getsize(os.path.join(d, name))
    return files, size


def describe(installation=None, wine=True):
    """The lines that say what the benchmark runs on."""
    lines = ["machine: %d cores, road of 32-bit code: %s" % (os.cpu_count() or 0, road())]
    if wine:
        lines.append("wine: %s" % wine_version())
    lines.append("load before: %s" % load())
    if installation:
        files, size = folder_size(installation)
        lines.append("installation: %s, %d files, %.2f MB" % (installation, files, size / 1e6))
    return lines


def spread(values):
    """(median, low, high, relative spread) of a list of per-round figures."""
    m = statistics.median(values)
    low, high = min(values), max(values)
    return m, low, high, ((high - low) / m if m else 0.0)


def verdict(values, goal=None, lower_is_better=True):
    """One line on a list of per-round ratios: the median, its range, whether the rounds agree, and the goal."""
    m, low, high, rel = spread(values)
    text = "%.2fx (rounds %.2f-%.2f, spread %.0f %%" % (m, low, high, rel * 100)
    text += ")" if rel <= TRUSTED_SPREAD or len(values) < 2 else "; TOO WIDE TO TRUST, more than %.0f %%)" % (TRUSTED_SPREAD * 100)
    if len(values) < 3:
        text += " [fewer than 3 rounds]"
    if goal is not None:
        met = m <= goal if lower_is_better else m >= goal
        text += ", goal at most %.2fx: %s" % (goal, "met" if met else "NOT met")
    return text
