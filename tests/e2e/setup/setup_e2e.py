#!/usr/bin/env python3
"""End-to-end scenarios of the setup program VantorixSetup-<version>.exe and its uninstaller, each on a fresh
Wine machine of its own: the cached clean prefix untarred into a temporary folder with its own wineserver
(the shared prefix of the other tests is never touched, so registry keys and system files seen here come
from this scenario alone).

    setup_e2e.py SCENARIO [SETUP.exe]   install | upgrade | uninstall | folder_rights; exit 1 when it fails
                                        (default: the one VantorixSetup-*.exe of the Windows build)

Runs with the environment exported by tools/wine-test.sh (VANTORIX_WIN_BUILD, VANTORIX_SOURCE,
VANTORIX_WINE_DIR with its prefix.tar, DISPLAY). The launcher is played by launcher_driver.exe against a
loopback update server (tests/e2e/servers/httpserver.py).
"""
import glob
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SOURCE = os.environ.get("VANTORIX_SOURCE") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
WIN_BUILD = os.environ["VANTORIX_WIN_BUILD"]
sys.path.insert(0, os.path.join(SOURCE, "tools", "update-server"))
import update_package  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import wine_env  # noqa: E402

SIGNING_KEY = update_package.build_signing_key(WIN_BUILD)  # None: the launcher was built without a key
CODESIGN = update_package.build_codesign(WIN_BUILD)  # (certificate, key) the build signs with; None: unsigned

WINE = wine_env.WINE
WINESERVER = wine_env.WINESERVER
# Where the 32-bit setup installs by default: "Program Files (x86)" on 64-bit Windows.
PROGRAM_FILES = "C:\\Program Files" if wine_env.ARCH == "win32" else "C:\\Program Files (x86)"
INSTALLED = PROGRAM_FILES + "\\VantorixAssist"
HELPERS = os.path.join(WIN_BUILD, "tests", "windows", "launcher_e2e")
DRIVER = os.path.join(HELPERS, "launcher_driver.exe")
PROBE = os.path.join(HELPERS, "probe_client.exe")
END_PROGRAMS = os.path.join(WIN_BUILD, "install", "setup", "EndPrograms.exe")
FOLDER_RIGHTS = os.path.join(WIN_BUILD, "install", "setup", "FolderRights.exe")
# What the setup gives a folder it makes, as the system writes it: owner Administrators, inheritance cut,
# SYSTEM and Administrators full control, Users read and execute, for the folder, subfolders and files.
PROGRAM_FILES_RIGHTS = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
SERVICE_SETUP = os.path.join(WIN_BUILD, "install", "setup", "ServiceSetup.exe")
SERVICE_START = os.path.join(WIN_BUILD, "tests", "windows", "setup", "service_start.exe")
SERVER = os.path.join(SOURCE, "tests", "e2e", "servers", "httpserver.py")
INSTALL = os.path.join(SOURCE, "tools", "install-from-setup.sh")
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VantorixAssist"
SHARED_DLLS = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
SERVICE = "VantorixAssistUpdate"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\" + SERVICE
SERVICE_CONFIG = "HKLM\\Software\\Vantorix\\VantorixAssist\\MaintenanceService"
SERVICE_POLICY = "HKLM\\Software\\Policies\\Vantorix\\VantorixAssist"
PRODUCT = "TAVI助手Plus"
ASK_REGISTER = "程序首次启动需要注册DLL控件"
MINIBLINK_API = "78A87BCF-47DB-4C87-825D-64C638194D4C"  # one class of the control library
DOWNLOADED = "Vantorix已经成功下载了当前最新的"


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def setup_program():
    if len(sys.argv) > 2:
        check(os.path.isfile(sys.argv[2]), "the setup program was not built: %s" % sys.argv[2])
        return sys.argv[2]
    found = sorted(glob.glob(os.path.join(WIN_BUILD, "VantorixSetup-*.exe")))
    check(len(found) == 1, "expected one built setup program, found %s" % found)
    return found[0]


def fixed_version(path):
    """The file version of the VERSIONINFO resource. NSIS leaves dwStrucVersion 0, so the first signature
    is taken as it is (update_package.file_version insists on 0x00010000)."""
    data = read(path)
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Machine:
    """A fresh Wine machine: the clean cached prefix in a folder of its own, with its own wineserver."""

    def __init__(self, name):
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="setup-e2e-")
        self.prefix = os.path.join(self.dir, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix)
        self.server = None
        self.http = None
        self.port = None
        self.children = []
        self.artifacts = os.path.join(os.path.dirname(WIN_BUILD.rstrip("/")), "artifacts", "setup_e2e", name)

    def boot(self):
        cache = os.path.join(os.environ["VANTORIX_WINE_DIR"], "prefix.tar")
        check(os.path.isfile(cache), "no cached clean prefix at %s" % cache)
        subprocess.run(["tar", "-C", self.dir, "-xf", cache], check=True, timeout=wine_env.limit(300))
        self.start_server()
        shutil.rmtree(self.artifacts, ignore_errors=True)
        os.makedirs(self.artifacts)

    def start_server(self):
        self.server = subprocess.Popen([WINESERVER, "-p", "-f"], env=self.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        check(wine_env.server_up(self.server), "the machine's wineserver did not come up (%s)" % self.server.poll())
        # The first process starts Wine's services, which live as long as the server: they get no pipe of
        # ours to hold open.
        subprocess.run([WINE, "wineboot"], env=self.env, timeout=wine_env.limit(300), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def allow_slow_service_starts(self):
        """Wine's service manager waits 10 s for a service's process to connect; a process started through
        qemu on a loaded machine can take longer. The machine's services start again with 3 minutes."""
        check(self.wine(wine_env.SLOW_SERVICE_STARTS).returncode == 0, "ServicesPipeTimeout was not set")
        subprocess.run([WINESERVER, "-k"], env=self.env, timeout=60)
        self.server.wait(60)
        self.start_server()

    def c(self, windows_path):
        """The Linux path of a C: path of this machine."""
        check(windows_path[:3].lower() == "c:\\", "not a C: path: %s" % windows_path)
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def wine(self, args, timeout=120, env=None):
        return subprocess.run([WINE] + args, env=env or self.env, timeout=wine_env.limit(timeout), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def start(self, args, extra_env=None):
        process = subprocess.Popen([WINE] + args, env=dict(self.env, **(extra_env or {})), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self.children.append(process)
        return process

    def install(self, folder=None):
        """The setup run silently through tools/install-from-setup.sh; the installation's Linux path."""
        run = subprocess.run(["bash", INSTALL] + ([folder] if folder else []), timeout=wine_env.limit(360),
                             env=dict(self.env, SETUP=setup_program()),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        check(run.returncode == 0, "silent install failed (%d): %s" % (run.returncode, run.stderr))
        return run.stdout.strip()

    def reg_values(self, key):
        """name -> data (text, or int for a DWORD) of a key's own values; None when the key does not exist.
        Read through "reg export", whose UTF-16 file keeps every character ("reg query" prints in the
        console's code page)."""
        out = os.path.join(self.dir, "key.reg")
        if os.path.exists(out):
            os.remove(out)
        if self.wine([wine_env.tool("reg"), "export", key, winpath(out), "/y"]).returncode != 0 or not os.path.exists(out):
            return None
        values, own = {}, False
        text = re.sub(r"\\\r?\n\s*", "", read(out).decode("utf-16"))  # a long value goes on over lines ending in "\"
        for line in text.splitlines():
            if line.startswith("["):
                own = line.strip("[]").lower() == key.lower().replace("hklm\\", "hkey_local_machine\\")
                continue
            m = re.match(r'^"((?:[^"\\]|\\.)*)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-f]{8})|hex\(2\):([0-9a-f,]*))$', line)
            if own and m:
                name = m.group(1).replace("\\\\", "\\").replace('\\"', '"')
                if m.group(4) is not None:  # REG_EXPAND_SZ: UTF-16 bytes with the closing NUL
                    values[name] = bytes(int(b, 16) for b in m.group(4).split(",") if b).decode("utf-16-le").rstrip("\0")
                elif m.group(3) is not None:
                    values[name] = int(m.group(3), 16)
                else:
                    values[name] = m.group(2).replace("\\\\", "\\").replace('\\"', '"')
        return values

    def entry_keys(self):
        out = self.wine([wine_env.tool("reg"), "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"])
        return [l.strip() for l in out.stdout.decode("utf-8", "replace").splitlines() if "\\VantorixAssist" in l]

    def control_count(self):
        values = self.reg_values(SHARED_DLLS) or {}
        counts = [data for name, data in values.items() if name.lower().endswith("\\velview_g_201.ocx")]
        return counts[0] if counts else None

    def end_programs(self, *paths):
        """How many processes of exactly these program files EndPrograms.exe ended."""
        out = self.wine([END_PROGRAMS] + list(paths), timeout=60).stdout.decode("utf-8", "replace")
        m = re.search(r"ended (\d+) process", out)
        check(m, "EndPrograms said: %s" % out)
        return int(m.group(1))

    # ---- the update server and the launcher --------------------------------------------------------
    def serve(self, root):
        port_file = os.path.join(self.dir, "port")
        self.http_log = os.path.join(self.dir, "server.jsonl")
        self.http = subprocess.Popen([sys.executable, SERVER, "--root", root, "--port", "0", "--port-file", port_file,
                                      "--log", self.http_log, "--max-seconds", "300"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(port_file) and open(port_file).read().strip():
                self.port = int(open(port_file).read())
                return
            time.sleep(0.05)
        raise Failure("the update server did not start")

    def requests(self):
        if not os.path.exists(self.http_log):
            return []
        return [json.loads(l) for l in open(self.http_log, encoding="utf-8") if '"path"' in l]

    def run_launcher(self, inst, steps, timeout=180):
        """launcher_driver plays the user while the installed launcher runs; both must end by themselves."""
        env = dict(self.env, VANTORIX_MANIFEST_URL="http://127.0.0.1:%d/updata.json" % self.port)
        log_path = os.path.join(self.artifacts, "driver.log")
        with open(log_path, "wb") as log:
            driver = subprocess.Popen([WINE, DRIVER] + steps, env=self.env, stdout=log, stderr=subprocess.STDOUT)
            # The user is there before the launcher starts: the driver says so once it noted the log.
            if not wine_env.driver_ready(log_path, driver):
                driver.kill()
                raise Failure("the user's driver did not start:\n" + open(log_path, encoding="utf-8", errors="replace").read())
            launcher = subprocess.Popen([WINE, os.path.join(inst, "VantorixAssist.exe")], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.children += [driver, launcher]
            try:
                driver_rc = driver.wait(wine_env.limit(timeout))
            except subprocess.TimeoutExpired:
                driver_rc = "timeout"
            try:
                launcher_rc = launcher.wait(60)
            except subprocess.TimeoutExpired:
                launcher_rc = "still running"
        text = open(log_path, encoding="utf-8", errors="replace").read()
        for bmp in glob.glob(os.path.join(self.artifacts, "*.bmp")):
            if subprocess.run(["convert", bmp, bmp[:-4] + ".png"], timeout=60).returncode == 0:
                os.remove(bmp)
        check(driver_rc == 0, "the user's steps failed (%s):\n%s" % (driver_rc, text))
        check(launcher_rc == 0, "the launcher did not end by itself (%s)" % launcher_rc)

    def close(self):
        if self.http:
            self.http.terminate()
            self.http.wait(10)
        for process in self.children:
            if process.poll() is None:
                process.kill()
        if self.server:
            subprocess.run([WINESERVER, "-k"], env=self.env, timeout=60)
            try:
                self.server.wait(30)
            except subprocess.TimeoutExpired:
                self.server.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def wait_until(condition, seconds):
    end = time.time() + seconds
    while not condition() and time.time() < end:
        time.sleep(0.25)
    return condition()


def wait_gone(path, seconds):
    return wait_until(lambda: not os.path.exists(path), seconds)


# ---- scenarios -------------------------------------------------------------------------------------
def install(m):
    """Silent install into the default folder; the launcher's first start asks nothing and starts the client."""
    setup = setup_program()
    version = re.search(r"VantorixSetup-(.+)\.exe$", setup).group(1)
    check(fixed_version(setup) == version, "the setup program carries no version %s" % version)
    system32 = wine_env.system_folder(m.prefix)
    control = os.path.join(system32, "Velview_G_201.ocx")
    check(not os.path.exists(control), "the clean machine has the control library already")

    inst = m.install()
    check(inst == m.c(INSTALLED), "installed into %s" % inst)
    for rel in ["VantorixAssist.exe", "bin/client.exe", "bin/node.dll", "bin/Skin/UI.html", "Skin/UI.html",
                "Build/注册控件.bat", "Build/Velview_G_201.ocx", "uninstall.exe"]:
        check(os.path.isfile(os.path.join(inst, rel)), "missing after install: %s" % rel)
    check(os.listdir(os.path.join(inst, "update")) == [], "the update folder is not empty")
    check(not os.path.exists(os.path.join(inst, "Build", "installock.txt")), "setup wrote the first-start marker")
    check(read(control) == read(os.path.join(inst, "Build", "Velview_G_201.ocx")), "no control library in System32")
    check(os.path.isfile(os.path.join(system32, "node.dll")), "the engine is not beside the control library")
    check(m.control_count() == 1, "SharedDLLs count of the control library: %s" % m.control_count())
    # Registered where a 32-bit program looks for its classes (the registry's 32-bit view, Wow6432Node on
    # 64-bit Windows), to the file in its system folder; nothing in the 64-bit system folder.
    classes = m.wine([wine_env.tool("reg"), "query", "HKCR\\CLSID\\{%s}\\InprocServer32" % MINIBLINK_API, "/ve"])
    server = classes.stdout.decode("utf-8", "replace")
    check((wine_env.SYSTEM + "\\Velview_G_201.ocx").lower() in server.lower(), "the classes are registered as: %s" % server)
    if wine_env.ARCH == "win64":
        check(not os.path.exists(m.c("C:\\windows\\system32\\Velview_G_201.ocx")),
              "the control library went into the 64-bit system folder")

    entry = m.reg_values(UNINSTALL_KEY)
    check(entry is not None, "no uninstall entry")
    expected = {"DisplayName": PRODUCT, "DisplayVersion": version, "Publisher": "Vantorix",
                "InstallLocation": INSTALLED,
                "DisplayIcon": INSTALLED + "\\VantorixAssist.exe,0",
                "UninstallString": '"%s\\uninstall.exe"' % INSTALLED,
                "QuietUninstallString": '"%s\\uninstall.exe" /S' % INSTALLED}
    for name, data in expected.items():
        check(entry.get(name) == data, "uninstall entry %s: %r, expected %r" % (name, entry.get(name), data))
    start_menu = m.c("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\%s\\%s.lnk" % (PRODUCT, PRODUCT))
    check(os.path.isfile(start_menu), "no Start-menu shortcut")
    check(os.path.isfile(m.c("C:\\users\\Public\\Desktop\\%s.lnk" % PRODUCT)), "no desktop shortcut")

    # The launcher's first start: the same version is published, so it starts the installed client at once.
    root = os.path.join(m.dir, "server")
    os.makedirs(root)
    m.serve(root)
    # Signed as every manifest is: it describes the release's archive, which is never fetched here.
    archive = os.path.join(root, "newtemp.zip")
    update_package.make_zip(archive, {"bin/client.exe": os.path.join(inst, "bin", "client.exe")})
    with open(os.path.join(root, "updata.json"), "w", encoding="utf-8") as f:
        f.write(update_package.manifest_text(version, "http://127.0.0.1:%d/newtemp.zip" % m.port, archive=archive,
                                             signing_key=SIGNING_KEY, serial=1))
    m.run_launcher(inst, ["nobox|120", "shot|%s" % winpath(os.path.join(m.artifacts, "first-start.bmp"))])
    check(os.path.isfile(os.path.join(inst, "Build", "installock.txt")), "the first start wrote no marker")
    # The launcher has ended; the client it started keeps running until it is ended here.
    check(m.end_programs(INSTALLED + "\\bin\\client.exe") == 1, "the client is not running")

    # The launcher's elevated steps act on the installation the setup registered (its InstallLocation) in
    # folders only the administrators change; a copy of it elsewhere is refused (15) with nothing done.
    step = m.wine([INSTALLED + "\\VantorixAssist.exe", "-register"])
    check(step.returncode == 0, "the installation's own -register step ended with %d" % step.returncode)
    shutil.copytree(inst, m.c("C:\\Copy"))
    step = m.wine(["C:\\Copy\\VantorixAssist.exe", "-register"])
    check(step.returncode == 15, "a copy of the installation was not refused (%d)" % step.returncode)
    log = read(os.path.join(inst, "update", "install.log")).decode("utf-8", "replace")
    check("registered" in log and "is not an installation the setup registered" in log, "install.log:\n" + log)


def upgrade(m):
    """Setup over an installation with an unfinished download keeps the marker and the side files; the next
    start resumes the download where it stopped."""
    folder = "C:\\Apps\\Vantorix Assist"
    inst = m.install(folder)
    marker = os.path.join(inst, "Build", "installock.txt")
    with open(marker, "wb") as f:
        f.write("创建文件\r\n".encode("gbk"))

    version = update_package.file_version(os.path.join(inst, "bin", "client.exe"))
    new = version.rsplit(".", 1)[0] + "." + str(int(version.rsplit(".", 1)[1]) + 1)
    root = os.path.join(m.dir, "server")
    os.makedirs(root)
    m.serve(root)
    new_client = os.path.join(m.dir, "client-new.exe")
    shutil.copy(PROBE, new_client)
    update_package.set_file_version(new_client, new)
    archive = os.path.join(root, "newtemp.zip")
    update_package.make_zip(archive, {"bin/client.exe": new_client, "bin/data/filler.bin": os.urandom(300 * 1024)})
    url = "http://127.0.0.1:%d/newtemp.zip" % m.port
    with open(os.path.join(root, "updata.json"), "w", encoding="utf-8") as f:
        f.write(update_package.manifest_text(new, url, "修复若干问题", "春季版", "1", archive=archive,
                                             signing_key=SIGNING_KEY, serial=2))
    # A download of that archive that stopped half-way, as the launcher leaves it.
    half = os.path.getsize(archive) // 2
    side = {"newtemp.zip.dl": read(archive)[:half], "newtemp.zip.dl.cfg": url.encode("ascii")}
    for name, data in side.items():
        with open(os.path.join(inst, "update", name), "wb") as f:
            f.write(data)

    again = m.install(folder)
    check(again == inst, "the upgrade went to %s" % again)
    check(read(marker) == "创建文件\r\n".encode("gbk"), "the first-start marker was touched")
    for name, data in side.items():
        path = os.path.join(inst, "update", name)
        check(os.path.isfile(path) and read(path) == data, "side file %s did not survive the upgrade" % name)
    check(len(m.entry_keys()) == 1, "uninstall entries after the upgrade: %s" % m.entry_keys())
    check(m.control_count() == 1, "the upgrade counted the control library again: %s" % m.control_count())

    m.run_launcher(inst, ["box|ok|发现新版本！" + new, "box|ok|" + DOWNLOADED + "|120", "form|立即启动|1", "click",
                          "gone|30"])
    ranges = [r.get("range") for r in m.requests() if r["path"] == "/newtemp.zip"]
    check(ranges and ranges[0] == "bytes=%d-" % half, "the download did not resume at %d: %s" % (half, ranges))
    check(update_package.file_version(os.path.join(inst, "bin", "client.exe")) == new, "the update was not applied")


def uninstall(m):
    """Silent uninstall with the client running: the client ends, every file, key and shortcut of setup goes,
    a file the user added and another client.exe elsewhere stay."""
    # A second installation shares the control library: it must stay until that one goes too.
    inst = m.install()
    second = m.install("C:\\Second")
    check(m.control_count() == 2, "SharedDLLs count with two installations: %s" % m.control_count())
    client = os.path.join(inst, "bin", "client.exe")
    user_files = [os.path.join(inst, "notes.txt"), os.path.join(inst, "bin", "my-settings.ini")]
    for path in user_files:
        with open(path, "w") as f:
            f.write("the user's own\n")
    # The launcher's own files: the marker and a download in progress.
    with open(os.path.join(inst, "Build", "installock.txt"), "wb") as f:
        f.write(b"marker\r\n")
    for name in ["newtemp.zip.dl", "newtemp.zip.dl.cfg", "newtemp(1).zip.dl", "newtemp(1).zip.dl.cfg"]:
        with open(os.path.join(inst, "update", name), "wb") as f:
            f.write(b"partial")
    other = m.c("C:\\Other\\bin\\client.exe")
    os.makedirs(os.path.dirname(other))
    shutil.copy(PROBE, other)
    # The installed client is up once its engine has started: the stand-in engine notes its start.
    notes = os.path.join(m.dir, "client-engine.txt")
    installed_client = m.start([client, "-2018.06.21"], extra_env={"VANTORIX_STANDIN_LOG": winpath(notes)})
    other_client = m.start([other, "-stay"])
    check(wait_until(lambda: os.path.exists(os.path.join(os.path.dirname(other), "started.txt")), wine_env.limit(60)),
          "the other client did not start")
    check(wait_until(lambda: os.path.exists(notes) and "#engine" in open(notes, errors="replace").read(),
                     wine_env.limit(90)), "the installed client did not start its engine")
    check(installed_client.poll() is None, "the installed client did not keep running")

    uninstaller = os.path.join(inst, "uninstall.exe")
    entry = m.reg_values(UNINSTALL_KEY)
    check(entry and entry.get("QuietUninstallString", "").endswith("/S"), "no quiet uninstall command")
    # As the system runs it: the uninstaller copies itself away and returns; its own file goes last.
    check(m.wine([INSTALLED + "\\uninstall.exe", "/S"]).returncode == 0,
          "the uninstaller did not start")
    check(wait_gone(uninstaller, 180), "the uninstaller did not finish")
    try:
        installed_client.wait(30)
    except subprocess.TimeoutExpired:
        raise Failure("the installed client is still running")
    check(other_client.poll() is None, "the other client.exe was ended")

    left = sorted(os.path.relpath(os.path.join(d, f), inst) for d, _, fs in os.walk(inst) for f in fs)
    check(left == ["bin/my-settings.ini", "notes.txt"], "left in the installation folder: %s" % left)
    check(m.reg_values(UNINSTALL_KEY) is None, "the uninstall entry remains")
    menu = m.c("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\%s" % PRODUCT)
    desktop = m.c("C:\\users\\Public\\Desktop")
    check(not os.path.exists(os.path.join(menu, PRODUCT + ".lnk")), "the Start-menu shortcut remains")
    check(not os.path.exists(os.path.join(desktop, PRODUCT + ".lnk")), "the desktop shortcut remains")
    check(os.path.isfile(os.path.join(menu, PRODUCT + " (2).lnk")), "the other installation's shortcut went too")
    system32 = wine_env.system_folder(m.prefix)
    check(os.path.isfile(os.path.join(system32, "Velview_G_201.ocx")), "the control library went with another in use")
    check(m.control_count() == 1, "SharedDLLs count after one of two uninstalls: %s" % m.control_count())
    check(os.path.isfile(os.path.join(second, "VantorixAssist.exe")) and len(m.entry_keys()) == 1,
          "the other installation was touched: %s" % m.entry_keys())

    # The last one takes the library with it. "_?=" runs the uninstaller in place and waits for it.
    check(m.wine(["C:\\Second\\uninstall.exe", "/S", "_?=C:\\Second"], timeout=180).returncode == 0,
          "the second uninstall failed")
    for name in ["Velview_G_201.ocx", "node.dll"]:
        check(not os.path.exists(os.path.join(system32, name)), "%s remains in System32" % name)
    check(m.control_count() is None, "the SharedDLLs count remains")
    check(m.entry_keys() == [], "uninstall entries remain: %s" % m.entry_keys())
    check(not os.path.exists(menu) and os.listdir(desktop) == [], "shortcuts remain")


def folder_rights(m):
    """A custom folder the setup makes passes the rights check when read back; a repair into it installs; an
    existing folder that others may write is refused (exit 4) and nothing is installed there. Windows reads
    the folder back as PROGRAM_FILES_RIGHTS. Wine 8 keeps no descriptor that is set (not in the extended
    attribute user.wine.sd either): it reports one made from the Unix owner and mode, the Wine user as owner,
    which the helper says and counts as the administrator there."""
    folder = "C:\\Apps\\Vantorix Custom"
    inst = m.install(folder)
    read_back = m.wine([FOLDER_RIGHTS, "check", folder], timeout=60)
    text = read_back.stdout.decode("utf-8", "replace")
    with open(os.path.join(m.artifacts, "rights.txt"), "w", encoding="utf-8") as f:
        f.write(text)
    check(read_back.returncode == 0, "the installed folder fails the check (%d): %s" % (read_back.returncode, text))
    found = re.search(r"descriptor: (\S+)", text)
    check(found, "the check printed no descriptor: %s" % text)
    if found.group(1) != PROGRAM_FILES_RIGHTS:
        kept = "user.wine.sd" in os.listxattr(inst)
        check(not kept and "under Wine" in text,
              "the folder's rights read back as %s, not %s (xattr kept: %s)" % (found.group(1), PROGRAM_FILES_RIGHTS, kept))
    check(m.install(folder) == inst, "a repair into the checked folder did not install")
    # The uninstaller was signed before the setup packed it, as every program the build ships.
    codesign = update_package.build_codesign(WIN_BUILD)
    if codesign:
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", codesign[0], "-in", os.path.join(inst, "uninstall.exe")],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        check(verified.returncode == 0, "the uninstaller is not signed: %s" % verified.stdout.decode("utf-8", "replace"))

    # A folder anyone may write (made beforehand, as a folder under C:\ can be): refused, nothing written.
    open_folder = m.c("C:\\Open")
    os.makedirs(open_folder)
    os.chmod(open_folder, 0o777)
    refused = m.wine([FOLDER_RIGHTS, "check", "C:\\Open"], timeout=60)
    check(refused.returncode == 3, "the open folder passes the check: %s" % refused.stdout.decode("utf-8", "replace"))
    run = subprocess.run(["bash", INSTALL, "C:\\Open"], timeout=wine_env.limit(360), env=dict(m.env, SETUP=setup_program()),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    check(run.returncode == 4, "the setup into a folder others may change ended with %d, not 4" % run.returncode)
    check(os.listdir(open_folder) == [], "the refused setup wrote into the folder: %s" % os.listdir(open_folder))
    check(len(m.entry_keys()) == 1, "the refused setup wrote an uninstall entry: %s" % m.entry_keys())


def service(m):
    """The maintenance service through the service manager of one prefix (Wine's services cannot be reached
    from another user's wineserver; the launcher's side is tested through its seam in launcher_e2e.py):
    the setup installs it, it installs a valid request and refuses every other one without touching the
    installation, and the uninstaller removes it with its configuration."""
    check(CODESIGN is not None, "the build signs nothing: the service needs a signed build")
    m.allow_slow_service_starts()
    inst = m.install()
    win_inst = INSTALLED
    registered = m.reg_values(SERVICE_KEY) or {}
    check(registered.get("ImagePath") == '"%s\\VantorixAssist.exe" -service' % win_inst,
          "the service's program: %r" % registered.get("ImagePath"))
    check(registered.get("Start") == 3 and registered.get("Type") == 0x10 and registered.get("ObjectName") == "LocalSystem",
          "the service is not an own process started on demand as LocalSystem: %s" % registered)
    config = m.reg_values(SERVICE_CONFIG + "\\" + SERVICE) or {}
    check(config.get("Installation") == win_inst and set(config) == {"Installation", "Signer"} and
          re.fullmatch(r"(?:[0-9a-f]{2})+", config.get("Signer", "")), "the service's configuration: %s" % config)

    client = os.path.join(inst, "bin", "client.exe")
    old = update_package.file_version(client)
    old_bytes = read(client)
    new = old.rsplit(".", 1)[0] + "." + str(int(old.rsplit(".", 1)[1]) + 1)
    # The user's files, where the user's launcher keeps them.
    user = m.c("C:\\users\\Public\\request")
    os.makedirs(user)
    def client_of(name, signer):
        path = os.path.join(m.dir, name)
        shutil.copy(PROBE, path)
        update_package.set_file_version(path, new)
        if signer:
            update_package.sign_file(path, signer)
        return path

    new_client = client_of("client-new.exe", CODESIGN)
    archive = os.path.join(user, "newtemp.zip")
    # Large enough that the install takes far longer than the two starts of the busy case below take.
    update_package.make_zip(archive, {"bin/client.exe": new_client, "bin/data/filler.bin": os.urandom(24 << 20)})
    # The same release with a client that carries no signature, or another signer's under the build's name.
    others = {"unsigned.zip": client_of("client-unsigned.exe", None),
              "foreign.zip": client_of("client-foreign.exe", update_package.other_signer(m.dir, CODESIGN))}
    for name, other in others.items():
        update_package.make_zip(os.path.join(user, name), {"bin/client.exe": other})
    url = "http://127.0.0.1:1/newtemp.zip"
    now = __import__("datetime").datetime.now(__import__("datetime").timezone.utc)
    manifests = {
        "valid.json": update_package.manifest_text(new, url, archive=archive, signing_key=SIGNING_KEY, serial=20),
        "lower.json": update_package.manifest_text(new, url, archive=archive, signing_key=SIGNING_KEY, serial=3),
        "expired.json": update_package.manifest_text(new, url, archive=archive, signing_key=SIGNING_KEY, serial=21,
                                                     expires=now - __import__("datetime").timedelta(hours=1)),
    }
    # The same serial as the valid one: each request's manifest that the service accepts becomes the
    # installation's floor, whatever becomes of its archive.
    for name in others:
        manifests[name.replace(".zip", ".json")] = update_package.manifest_text(
            new, url, archive=os.path.join(user, name), signing_key=SIGNING_KEY, serial=20)
    for name, text in manifests.items():
        with open(os.path.join(user, name), "w", encoding="utf-8") as f:
            f.write(text)
    # The installation accepted serial 10 before.
    with open(os.path.join(inst, "update", "install.state"), "w") as f:
        f.write("manifest_serial=10\n")
    changed = os.path.join(user, "changed.zip")  # the archive with one byte changed after the user's check
    data = bytearray(read(archive))
    data[len(data) // 2] ^= 0xFF
    with open(changed, "wb") as f:
        f.write(bytes(data))
    win_user = "C:\\users\\Public\\request\\"
    results = os.path.join(inst, "update", "results")
    nonces = iter("%032x" % n for n in range(1, 100))

    def ask(args, service_name=SERVICE):
        """Starts the service with a fresh nonce; (its output, the nonce, the result file's text or None)."""
        nonce = next(nonces)
        out = m.wine([SERVICE_START, service_name, nonce] + args, timeout=300).stdout.decode("utf-8", "replace")
        path = os.path.join(results, nonce + ".result")
        return out, nonce, (read(path).decode("ascii") if os.path.exists(path) else None)

    def unchanged(what):
        check(read(client) == old_bytes, "%s: the installation changed" % what)
        check(not os.path.exists(os.path.join(inst, "update", "newtemp.zip")), "%s: the copy stayed" % what)

    step = lambda package, manifest: ["-install-update", win_user + package, win_user + manifest]
    refused = [
        ("an archive changed after the user's check", step("changed.zip", "valid.json"), "exit=5\n"),
        ("a manifest with a lower serial", step("newtemp.zip", "lower.json"), "exit=2\n"),
        ("an expired manifest", step("newtemp.zip", "expired.json"), "exit=2\n"),
        ("an unsigned client", step("unsigned.zip", "unsigned.json"), "exit=16\n"),
        ("a client signed by another certificate", step("foreign.zip", "foreign.json"), "exit=16\n"),
        ("a path with a '..' part", ["-install-update", win_user + "..\\request\\newtemp.zip", win_user + "valid.json"], "exit=1\n"),
        ("a folder as the archive", ["-install-update", win_user[:-1], win_user + "valid.json"], "exit=3\n"),
        ("a device as the manifest", step("newtemp.zip", "NUL"), "exit=1\n"),
    ]
    for what, args, expected in refused:
        out, _, result = ask(args)
        check("start 0" in out and result == expected, "%s: %s, result %r" % (what, out.strip(), result))
        unchanged(what)
    # A nonce that is not 32 hex digits (here a path): refused before anything is read, no result anywhere.
    out = m.wine([SERVICE_START, SERVICE, "..\\..\\evil"] + step("newtemp.zip", "valid.json"), timeout=300).stdout.decode()
    check("stopped 1066 17" in out, "a request with a path for a nonce: %s" % out.strip())
    check(sorted(os.listdir(results)) == sorted(n + ".result" for n in ["%032x" % i for i in range(1, len(refused) + 1)]),
          "results: %s" % os.listdir(results))
    unchanged("a path for a nonce")

    # The administrator's policy disables the service: refused, nothing written.
    policy = ["reg", "add", SERVICE_POLICY, "/v", "DisableMaintenanceService", "/t", "REG_DWORD", "/d", "1", "/f"]
    check(m.wine(policy).returncode == 0, "the policy could not be set")
    out, _, result = ask(step("newtemp.zip", "valid.json"))
    check("stopped 1066 17" in out and result is None, "disabled by policy: %s, result %r" % (out.strip(), result))
    unchanged("disabled by policy")
    check(m.wine(["reg", "delete", SERVICE_POLICY, "/f"]).returncode == 0, "the policy could not be removed")

    # A signer in the configuration that is not the one of the service's own program: refused, nothing written.
    signer_value = ["reg", "add", SERVICE_CONFIG + "\\" + SERVICE, "/v", "Signer", "/d"]
    check(m.wine(signer_value + ["00" + config["Signer"], "/f"]).returncode == 0, "the signer could not be changed")
    out, _, result = ask(step("newtemp.zip", "valid.json"))
    check("stopped 1066 17" in out and result is None, "another signer configured: %s, result %r" % (out.strip(), result))
    unchanged("another signer configured")
    check(m.wine(signer_value + [config["Signer"], "/f"]).returncode == 0, "the signer could not be put back")

    # The service's program copied to another folder, registered as a service of this installation: refused.
    other = m.c("C:\\Other\\VantorixAssist.exe")
    os.makedirs(os.path.dirname(other))
    shutil.copy(os.path.join(inst, "VantorixAssist.exe"), other)
    created = m.wine([SERVICE_SETUP, "install", SERVICE + "-9", "C:\\Other\\VantorixAssist.exe"])
    check(created.returncode == 0, "the second service: %s" % created.stdout)
    check(m.wine(["reg", "add", SERVICE_CONFIG + "\\" + SERVICE + "-9", "/v", "Installation", "/d", win_inst, "/f"])
          .returncode == 0, "the second service's configuration")
    out, _, result = ask(step("newtemp.zip", "valid.json"), SERVICE + "-9")
    # Not the installation the setup registered: refused as the elevated step refuses it (15).
    check("stopped 1066 15" in out and result is None, "a program from another folder: %s, result %r" % (out.strip(), result))
    unchanged("a program from another folder")
    check(m.wine([SERVICE_SETUP, "remove", SERVICE + "-9"]).returncode == 0 and
          m.wine(["reg", "delete", SERVICE_CONFIG + "\\" + SERVICE + "-9", "/f"]).returncode == 0,
          "the second service was not removed")

    # The valid request, and a second one while it runs: the second is refused by the service manager,
    # the first installs.
    first, second = next(nonces), next(nonces)
    out = m.wine([SERVICE_START, "--twice", SERVICE, first] + step("newtemp.zip", "valid.json") + ["--", second] +
                 step("newtemp.zip", "valid.json"), timeout=300).stdout.decode()
    check(out.split() [:4] == ["start", "0", "start", "1056"], "two requests at once: %s" % out.strip())
    check("stopped 0 0" in out, "the valid request: %s" % out.strip())
    check(read(os.path.join(results, first + ".result")) == b"exit=0\n", "no result for the valid request")
    check(not os.path.exists(os.path.join(results, second + ".result")), "the refused request has a result")
    check(update_package.file_version(client) == new, "the update was not installed")
    check("manifest_serial=20" in read(os.path.join(inst, "update", "install.state")).decode(), "the serial was not kept")
    log = read(os.path.join(inst, "update", "install.log")).decode("utf-8", "replace")
    check(log.count("request accepted") == len(refused) + 1, "install.log: %s" % log[-2000:])

    # The uninstaller removes the service and its configuration (and the results).
    check(m.wine([win_inst + "\\uninstall.exe", "/S", "_?=" + win_inst], timeout=180).returncode == 0,
          "the uninstall failed")
    check(m.reg_values(SERVICE_KEY) is None, "the service remains")
    check(m.reg_values(SERVICE_CONFIG + "\\" + SERVICE) is None and m.reg_values(SERVICE_CONFIG) is None,
          "the service's configuration remains")
    check(not os.path.exists(results), "the results remain")


SCENARIOS = {"install": install, "upgrade": upgrade, "uninstall": uninstall, "folder_rights": folder_rights, "service": service}


def main():
    name = sys.argv[1] if len(sys.argv) > 1 else ""
    if name not in SCENARIOS:
        print("usage: setup_e2e.py {%s}" % ",".join(SCENARIOS))
        return 2
    started = time.time()
    m = Machine(name)
    # The runner's time-out sends SIGTERM: the machine's wineserver and folder still go.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAIL %s: stopped by the time-out" % name))
    try:
        m.boot()
        SCENARIOS[name](m)
        print("PASS %s (%.1f s)" % (name, time.time() - started))
        return 0
    except (Failure, subprocess.TimeoutExpired, OSError) as e:
        print("FAIL %s (%.1f s): %s" % (name, time.time() - started, e))
        return 1
    finally:
        m.close()


if __name__ == "__main__":
    sys.exit(main())
