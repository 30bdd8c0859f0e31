"""The Wine environment of a test, as tools/wine-env.sh (which names the programs through
tools/wine-binaries.sh) exports it to every test it runs.

WINE         the loader for the prefix (32-bit, or 64-bit for a 64-bit prefix)
WINESERVER   its server
ARCH         "win32" or "win64"
SYSTEM       where a 32-bit program's system folder is, as a C: path (SysWOW64 on 64-bit Windows)
tool(name)   the 32-bit system program of that name (reg, regsvr32, cmd), as a 32-bit program of ours
             would start it: on 64-bit Windows the one in SysWOW64, which sees the 32-bit registry view
limit(s)     a time limit of s seconds at the reference speed, grown by the run's speed factor
driver_ready(log, process)  waits for the scripted user's "driver ready" line
server_up(process)          waits for a wineserver we started to make its socket
SLOW_SERVICE_STARTS         the reg command that gives a service's process 3 minutes to connect
"""
import os
import time


def _exported(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("%s is not set: run this through tools/wine-test.sh (or source tools/wine-env.sh)" % name)
    return value


WINE = _exported("VANTORIX_WINE")
WINESERVER = _exported("VANTORIX_WINESERVER")
ARCH = _exported("VANTORIX_WINE_ARCH")
SYSTEM = _exported("VANTORIX_WIN_SYSTEM_FOLDER")
SPEED_FACTOR = max(1.0, float(os.environ.get("VANTORIX_SPEED_FACTOR") or 1))


def tool(name):
    return name if ARCH == "win32" else SYSTEM + "\\" + name + ".exe"


def system_folder(prefix):
    """The Linux path of the 32-bit system folder of a prefix."""
    return os.path.join(prefix, "drive_c", *SYSTEM[3:].split("\\"))


def limit(seconds):
    return seconds * SPEED_FACTOR


def driver_ready(log_path, driver, seconds=60):
    """True once the scripted user (launcher_driver) has written "driver ready" to its log: it has noted where
    the program's log stands, so the program may start. False when the driver ended first, or the line did
    not come within limit(seconds)."""
    end = time.monotonic() + limit(seconds)
    while time.monotonic() < end:
        if os.path.exists(log_path) and "driver ready" in open(log_path, encoding="utf-8", errors="replace").read():
            return True
        if driver.poll() is not None:
            return False
        time.sleep(0.1)
    return False


def server_up(server, seconds=60):
    """True once the wineserver process we started (`wineserver -p -f`) has made its socket, in the folder it
    works in; False when it ended first or did not within limit(seconds)."""
    socket = "/proc/%d/cwd/socket" % server.pid
    end = time.monotonic() + limit(seconds)
    while time.monotonic() < end and server.poll() is None:
        if os.path.exists(socket):
            return True
        time.sleep(0.1)
    return False


# Wine's service manager waits 10 s for a service's process to connect; a process started through qemu on a
# loaded machine can take longer. With this value (read when the prefix's services start) it waits 3 minutes.
SLOW_SERVICE_STARTS = ["reg", "add", "HKLM\\System\\CurrentControlSet\\Control", "/v", "ServicesPipeTimeout", "/t",
                       "REG_DWORD", "/d", "180000", "/f"]
