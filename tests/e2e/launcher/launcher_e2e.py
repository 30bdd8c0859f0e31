#!/usr/bin/env python3
"""End-to-end scenarios of VantorixAssist: the real launcher under Wine and Xvfb, a loopback update server
(tests/e2e/servers/httpserver.py) serving a manifest and a zip made here, and launcher_driver.exe playing the
user: it finds the real message boxes and the form, reads their texts, presses their buttons and takes
screenshots (kept under <build>/artifacts/launcher_e2e/<scenario>/).

    launcher_e2e.py GROUP [NAME...]   run one group of scenarios (start, registration, optional, mandatory,
                               update_mode, faults, close_guard, retries, trust, load, ...); exit 1 when any fails

Runs with the Wine environment exported by tools/wine-test.sh (VANTORIX_WIN_BUILD, VANTORIX_SOURCE, WINEPREFIX,
DISPLAY). client.exe is replaced by probe_client.exe, which writes "version|arguments|show state" lines into
bin\\started.txt, so every scenario can tell which client was started and how.
"""
import datetime
import getpass
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zipfile
import zlib

SOURCE = os.environ.get("VANTORIX_SOURCE") or os.path.abspath(os.path.join(os.path.dirname(__file__), "../../.."))
WIN_BUILD = os.environ["VANTORIX_WIN_BUILD"]
sys.path.insert(0, os.path.join(SOURCE, "tools", "update-server"))
import update_package  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE, "tools", "release"))
import release  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import wine_env  # noqa: E402

# Every manifest published here is signed with the key the launcher was built with (None: built without
# one), with a serial that grows with every manifest a scenario publishes.
SIGNING_KEY = update_package.build_signing_key(WIN_BUILD)
NEXT_KEY = update_package.build_next_signing_key(WIN_BUILD)
# The certificate the build signs what it ships with: a program whose version a scenario raises is signed
# again with it, as the maker's release tool does, or the elevated step would refuse it.
CODESIGN = update_package.build_codesign(WIN_BUILD)

WINE = wine_env.WINE
HELPERS = os.path.join(WIN_BUILD, "tests", "windows", "launcher_e2e")
DRIVER = os.path.join(HELPERS, "launcher_driver.exe")
PROBE = os.path.join(HELPERS, "probe_client.exe")
RUN_LIMITED = os.path.join(HELPERS, "run_limited.exe")
INSTALLATION = os.path.join(WIN_BUILD, "installation")
SERVER = os.path.join(SOURCE, "tests", "e2e", "servers", "httpserver.py")
TRUST_ROOT = os.path.join(WIN_BUILD, "tests", "windows", "services", "trust_root.exe")
KILL_TOOL = os.path.join(WIN_BUILD, "tests", "windows", "services", "install_kill_tool.exe")
RELEASE_APPLY = os.path.join(os.path.dirname(WIN_BUILD.rstrip("/")), "native", "tools", "release", "native", "release_apply")
ARTIFACTS = os.path.join(os.path.dirname(WIN_BUILD.rstrip("/")), "artifacts", "launcher_e2e")
# The system folder of a 32-bit program (SysWOW64 on a 64-bit prefix), where the control library belongs.
SYSTEM32 = wine_env.system_folder(os.environ["WINEPREFIX"])
CONTROL = os.path.join(SYSTEM32, "Velview_G_201.ocx")
WIN_CONTROL = wine_env.SYSTEM + "\\Velview_G_201.ocx"
# The launcher's diagnostic log (every scenario's launcher runs as this user on this prefix).
LAUNCHER_LOG = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", getpass.getuser(), "AppData", "Local",
                            "VantorixAssist", "logs", "launcher.log")
NEXT_KEY_LAUNCHER = os.path.join(HELPERS, "launcher_next_key_only.exe")
INTERNET_CONNECTIONS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"

# The standard user: an unprivileged account's Wine on a prefix of its own (tools/wine-env.sh, wine_user_up)
# over an installation that root owns, as "Program Files" is closed to a standard user.
TEST_USER = os.environ.get("VANTORIX_TEST_USER", "vantorix-user")
USER_PREFIX = os.environ.get("VANTORIX_USER_WINEPREFIX", "")
PLANTED = os.path.join(HELPERS, "planted_library.dll")
WITHOUT_SEAM = os.path.join(HELPERS, "launcher_without_seam.exe")
HOLD_FILE = os.path.join(HELPERS, "hold_file.exe")

# Every scenario's installation lies below a folder that root owns (mode 755) and that root's Wine sees as a
# drive of its own, as "C:\Program Files" lies on the prefix's drive_c, and is registered in root's prefix as
# the setup registers an installation (Scenario.register): the elevated steps act only on such a one (README,
# "The elevated steps"). Wine shows nothing above a drive's root; below Z:, /tmp would be seen, and anyone may
# write there.
INSTALLATIONS = os.path.join(os.environ["VANTORIX_WINE_DIR"], "installations")
INSTALLATIONS_DRIVE = "V:"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VantorixAssist"
SERVICE_SETUP = os.path.join(WIN_BUILD, "install", "setup", "ServiceSetup.exe")
SERVICE_START = os.path.join(WIN_BUILD, "tests", "windows", "setup", "service_start.exe")
SERVICE_CONFIG = "HKLM\\Software\\Vantorix\\VantorixAssist\\MaintenanceService"

OLD, NEW = "1.0.0.1", "1.0.0.2"
SW_SHOWMINIMIZED = "2"
ASK_REGISTER = "程序首次启动需要注册DLL控件，部分杀软可能会报毒，请点击仍要运行即或添加信任即可！是否继续？"
ASK_CLIENT_MISSING = "程序重要文件缺失，是否立即打开官网重新下载？"
ASK_FORCE_CLOSE = "您当前正在更新程序，无法退出。您可在更新完毕之后退出或者强制结束！是否强制结束？"
DOWNLOADED = "Vantorix已经成功下载了当前最新的：%s版本，点确定后程序自动更新文件" % NEW
REJECTED = "下载的更新文件不完整或已损坏"
WRITE_FAILED = "部分更新文件未能写入"
ELEVATION_DECLINED = "安装更新需要管理员权限，您已拒绝授权"
RECOVER_NEEDS_ADMIN = "上次更新没有完成，部分程序文件需要恢复。恢复需要管理员权限，点确定后请在系统询问时授权。"
UNSETTLED = "could not be settled"
INSTALLATION_REFUSED = "安装步骤只更新由安装程序登记、且仅管理员可以修改的安装目录"
STEP_REFUSED = 15  # the step's exit code for a folder that is not the protected, registered installation
DISCARDED = "journal was discarded, nothing rolled back: Skin\\UI.html is neither"
# The states a mandatory update passes, in order, as the launcher's log records its flow (the driver's
# "order" step): the first is the state before the manifest check.
FLOW = "starting,offered,downloading,downloaded,installing,installed"
# The same when the delta could not be applied and the full archive followed.
FLOW_AFTER_FALL_BACK = "starting,offered,downloading,downloaded,installing,downloading,downloaded,installing,installed"


def set_signed_version(path, version):
    """The program's version set, and the program signed again with the build's certificate."""
    update_package.set_file_version(path, version)
    if CODESIGN:
        update_package.sign_file(path, CODESIGN)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def root_drive_path(path):
    """The path of a file below INSTALLATIONS as root's Wine names it (the elevated step's own view)."""
    return INSTALLATIONS_DRIVE + "\\" + os.path.relpath(path, INSTALLATIONS).replace("/", "\\")


def protected_drive():
    """INSTALLATIONS, root's and closed to others, as a drive of root's prefix."""
    os.makedirs(INSTALLATIONS, exist_ok=True)
    os.chmod(INSTALLATIONS, 0o755)
    link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", INSTALLATIONS_DRIVE.lower())
    if os.path.realpath(link) != os.path.realpath(INSTALLATIONS):
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(INSTALLATIONS, link)


def typelib_id():
    with open(os.path.join(SOURCE, "webview", "idl", "Velview_G_201.idl"), encoding="utf-8") as f:
        text = f.read()
    return re.search(r"uuid\(([0-9A-Fa-f-]+)\)\s*,[^\]]*\]\s*library", text, re.S).group(1)


def wine(args, timeout=60, **kw):
    return subprocess.run([WINE] + args, timeout=wine_env.limit(timeout), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)


# Every process of wine_popen: outside the run's process group, so a time-out that ends the run ends them too
# (end_started_groups).
STARTED = []


def wine_popen(command, **kw):
    """A Wine process started in a process group of its own, which end_wine_process ends whole."""
    process = subprocess.Popen(command, start_new_session=True, **kw)
    STARTED.append(process)
    return process


def end_wine_process(process):
    """Ends a process of wine_popen and every process it started in its group. Killing the process alone is
    not enough for the standard user's: killing runuser leaves its Wine process running (on 64-bit Windows
    the loader's start.exe and, below it, the 32-bit program), with its windows, into the next scenario, whose
    user's steps would find them."""
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait(30)


def end_started_groups(signum, frame):
    """The run is being ended (its time limit): the groups of the processes it started still running go too."""
    for process in STARTED:
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    sys.exit(128 + signum)


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


class Scenario:
    """One launcher run in a fresh copy of the installation, against its own server."""

    def __init__(self, name):
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="launcher-e2e-", dir=INSTALLATIONS)
        self.inst = os.path.join(self.dir, "installation")
        shutil.copytree(INSTALLATION, self.inst)
        self.entries = set()
        self.register(self.inst)
        self.client = os.path.join(self.inst, "bin", "client.exe")
        shutil.copy(PROBE, self.client)
        set_signed_version(self.client, OLD)
        os.makedirs(os.path.join(self.inst, "Build"), exist_ok=True)
        with open(os.path.join(self.inst, "Build", "installock.txt"), "wb") as f:
            f.write(b"marker\r\n")
        self.root = os.path.join(self.dir, "server")
        os.makedirs(self.root)
        self.shots = os.path.join(ARTIFACTS, name)
        shutil.rmtree(self.shots, ignore_errors=True)
        os.makedirs(self.shots, exist_ok=True)
        self.server = None
        self.port = None
        self.manifest_path = "/updata.json"
        self.stay = None
        self.foreign = None
        self.scheme = "http"
        self.trusted = None
        self.helpers = []
        self.proxy_settings = False
        self.serial = 0
        self.log = ""
        self.seam = os.path.join(self.dir, "seam")
        self.elevations = []  # (program, parameters) of every elevation the launcher asked for
        self.step_rcs = []    # exit codes of the elevated steps the harness ran
        self.service = None   # the maintenance service of this installation, in root's prefix and the user's
        self.service_requests = []  # start arguments of every request the launcher handed to the service
        self.alongside_failure = None

    # ---- the update server -------------------------------------------------------------------------
    def serve(self, tls=False):
        command = []
        if tls:
            # A throw-away root CA, trusted by the Wine machine for this scenario only, as an administrator
            # adds a company CA; certificate checking stays on.
            ca = os.path.join(self.dir, "ca")
            subprocess.run(["bash", os.path.join(SOURCE, "tests", "e2e", "tls", "make_test_ca.sh"), ca], check=True,
                           timeout=120)
            self.trusted = os.path.join(ca, "ca.der")
            check(wine([TRUST_ROOT, "add", winpath(self.trusted)]).returncode == 0, "the test root CA is not trusted")
            command += ["--cert", os.path.join(ca, "server.pem"), "--key", os.path.join(ca, "server.key")]
            self.scheme = "https"
        self.server, self.port = self.start_server("server", self.root,
                                                   command + ["--control", os.path.join(self.dir, "control.json")])

    def start_server(self, name, root, extra=()):
        """One httpserver.py on 127.0.0.1, logging to <name>.jsonl; returns (process, port)."""
        port_file = os.path.join(self.dir, name + ".port")
        process = subprocess.Popen([sys.executable, SERVER, "--root", root, "--port", "0", "--port-file", port_file,
                                    "--log", os.path.join(self.dir, name + ".jsonl"), "--max-seconds", "240"] + list(extra),
                                   stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.dir, name + ".err"), "w"))
        self.helpers.append(process)
        for _ in range(100):
            if os.path.exists(port_file) and open(port_file).read().strip():
                return process, int(open(port_file).read())
            time.sleep(0.05)
        raise Failure("the %s did not start" % name)

    def url(self, path):
        return "%s://127.0.0.1:%d%s" % (self.scheme, self.port, path)

    def publish(self, version=NEW, force_mod="1", zip_path="/newtemp.zip", zip_entries=None, notes="修复若干问题\r\n更稳定",
                tls=False, integrity=True, signing_key=SIGNING_KEY, **signing):
        if self.server is None:
            self.serve(tls)
        entries = zip_entries if zip_entries is not None else self.new_release_entries()
        update_package.make_zip(os.path.join(self.root, "newtemp.zip"), entries)
        return self.write_manifest(version, force_mod, zip_path, notes, integrity, signing_key, **signing)

    def write_manifest(self, version=NEW, force_mod="1", zip_path="/newtemp.zip", notes="修复若干问题\r\n更稳定",
                       integrity=True, signing_key=SIGNING_KEY, name="updata.json", url=None, **signing):
        """The manifest of the archive now on the server: its size, hash and signatures when integrity,
        signed with the next serial. signing: serial, expires, archive_signing_key as manifest_text takes
        them. Returns the manifest's text."""
        archive = os.path.join(self.root, "newtemp.zip")
        if "serial" not in signing:
            self.serial += 1
            signing["serial"] = self.serial
        text = update_package.manifest_text(version, url or self.url(zip_path), notes, "春季版", force_mod,
                                            archive=archive if integrity else None,
                                            signing_key=signing_key if integrity else None, **signing)
        with open(os.path.join(self.root, name), "w", encoding="utf-8") as f:
            f.write(text)
        return text

    def register(self, folder, entry=1):
        """The folder as the setup registers an installation in root's prefix: InstallLocation of its uninstall
        entry (HKLM; entry n > 1 as the setup names a further installation's). The scenario's own installation
        is entry 1; close() removes every entry. The setup is a 32-bit program and writes the 32-bit registry
        view (on 64-bit Windows, below Wow6432Node), where the steps look: so does the 32-bit reg here."""
        path = root_drive_path(folder) if folder.startswith(INSTALLATIONS + os.sep) else winpath(folder)
        key = UNINSTALL_KEY + ("" if entry == 1 else "-%d" % entry)
        check(wine([wine_env.tool("reg"), "add", key, "/v", "InstallLocation", "/d", path, "/f"]).returncode == 0,
              "the installation could not be registered")
        self.entries.add(key)

    def work_files(self):
        """What the installation's update folder holds besides its state file, the step's log and the
        maintenance service's results."""
        return sorted(f for f in os.listdir(self.file("update")) if f not in ("install.state", "install.log", "results"))

    def accepted_serial(self):
        path = self.file("update\\install.state")
        lines = open(path, encoding="utf-8").read().splitlines() if os.path.exists(path) else []
        return next((int(l.split("=", 1)[1]) for l in lines if l.startswith("manifest_serial=")), None)

    def new_release_entries(self):
        new_client = os.path.join(self.dir, "client-new.exe")
        shutil.copy(PROBE, new_client)
        set_signed_version(new_client, NEW)
        return {"bin/client.exe": new_client, "Skin/UI.html": b"<html><body>new skin</body></html>",
                # incompressible filler: the archive spans many blocks of the download
                "bin/data/filler.bin": os.urandom(400 * 1024)}

    def misbehave(self, path, **mode):
        """The server's behaviour for one path (see httpserver.py's control file)."""
        with open(os.path.join(self.dir, "control.json"), "w", encoding="utf-8") as f:
            json.dump({path: mode}, f)

    def answers(self, path):
        """(request, answer) log records of one path, in order."""
        records = self.requests()
        done = {}
        path_file = os.path.join(self.dir, "server.jsonl")
        for line in open(path_file, encoding="utf-8"):
            record = json.loads(line)
            if record.get("done"):
                done[record["n"]] = record
        return [(r, done.get(r["n"], {})) for r in records if r["path"] == path]

    def expect_one_manifest_request(self):
        """The start checks the manifest once: neither ticks during a message box nor a retry ask again."""
        asked = [r for r in self.requests() if r["path"] == self.manifest_path]
        check(len(asked) == 1, "the manifest was requested %d times" % len(asked))

    def requests(self, server="server"):
        path = os.path.join(self.dir, server + ".jsonl")
        if not os.path.exists(path):
            return []
        return [json.loads(line) for line in open(path, encoding="utf-8") if '"path"' in line]

    # ---- running the launcher and the user ---------------------------------------------------------
    def start_staying_client(self):
        self.stay = wine_popen([WINE, winpath(self.client), "-stay"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        self.wait_started(lambda line: line.endswith("|-stay|-1") or "|-stay|" in line, 20)

    def start_foreign_client(self):
        """A program of another vendor that happens to be called client.exe, running from its own folder."""
        folder = os.path.join(self.dir, "other vendor")
        os.makedirs(folder)
        shutil.copy(PROBE, os.path.join(folder, "client.exe"))
        self.foreign = wine_popen([WINE, winpath(os.path.join(folder, "client.exe")), "-stay"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        record = os.path.join(folder, "started.txt")
        end = time.time() + 20
        while time.time() < end and not os.path.exists(record):
            time.sleep(0.2)
        check(os.path.exists(record), "the other vendor's client.exe did not start")
        return self.foreign

    def run(self, steps, args=(), manifest_url=None, timeout=120, limited=False, as_user=False, elevation=None,
            launchers=1, alongside=None, extra_env=None, service=None):
        """One launcher start with the user's steps; self.log is what it wrote to its log meanwhile.
        as_user: the launcher and the user's steps run as the standard user; elevation(s, program, parameters)
        answers each elevation the launcher asks for ("declined", or None to run the step as root).
        service(s, arguments): answers each start of the maintenance service the launcher asks for (an error
        code, or None to start it with those arguments in root's prefix).
        launchers: how many start at once. alongside(s): runs in a thread of its own once they started.
        extra_env: more variables for the launcher and what it starts."""
        log_path = self.user_log() if as_user else LAUNCHER_LOG
        log_start = os.path.getsize(log_path) if os.path.exists(log_path) else 0
        env = dict(os.environ)
        env["VANTORIX_MANIFEST_URL"] = manifest_url or (self.url(self.manifest_path) if self.port else
                                                        "http://127.0.0.1:9/updata.json")
        if as_user:
            env = self.user_environment(env["VANTORIX_MANIFEST_URL"])
        env.update(extra_env or {})
        if service:
            env["VANTORIX_TEST_SERVICE"] = winpath(self.seam)
        steps = [s.replace("{shots}", winpath(self.shots)) for s in steps]
        log = open(os.path.join(self.shots, "driver.log"), "wb")
        # The user is there before the launcher starts, so even a window that lives a second is seen.
        driver = self.popen([DRIVER] + steps, env if as_user else None, as_user, stdout=log, stderr=subprocess.STDOUT)
        driver_log = os.path.join(self.shots, "driver.log")
        check(wine_env.driver_ready(driver_log, driver), "the user's driver did not start")
        # limited: with the user's limited token, as under UAC (this prefix starts everything elevated).
        command = ([RUN_LIMITED] if limited else []) + [winpath(os.path.join(self.inst, "VantorixAssist.exe"))] + list(args)
        started = [self.popen(command, env, as_user, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                   for _ in range(launchers)]
        done = threading.Event()
        threads = []
        if elevation:
            threads.append(threading.Thread(target=self.answer_elevations, args=(elevation, done)))
        if service:
            threads.append(threading.Thread(target=self.answer_service_starts, args=(service, done)))
        if alongside:
            threads.append(threading.Thread(target=self.run_alongside, args=(alongside,)))
        for thread in threads:
            thread.start()
        try:
            driver_rc = driver.wait(wine_env.limit(timeout))
        except subprocess.TimeoutExpired:
            end_wine_process(driver)
            driver_rc = "timeout"
        self.launcher_rcs = []
        for launcher in started:
            try:
                self.launcher_rcs.append(launcher.wait(30))
            except subprocess.TimeoutExpired:
                end_wine_process(launcher)
                self.launcher_rcs.append("still running")
        self.launcher_rc = self.launcher_rcs[0]
        done.set()
        for thread in threads:
            thread.join(60)
        log.close()
        self.driver_log = open(os.path.join(self.shots, "driver.log"), encoding="utf-8", errors="replace").read()
        for bmp in sorted(f for f in os.listdir(self.shots) if f.endswith(".bmp")):
            src = os.path.join(self.shots, bmp)
            if subprocess.run(["convert", src, src[:-4] + ".png"], timeout=60).returncode == 0:
                os.remove(src)
        self.log = read_log_since(log_start, log_path)
        check(driver_rc == 0, "the user's steps failed (%s):\n%s" % (driver_rc, self.driver_log))
        check(not self.alongside_failure, "alongside the launcher: %s" % self.alongside_failure)
        check(all(rc == 0 for rc in self.launcher_rcs), "a launcher did not end by itself (%s)" % self.launcher_rcs)

    def popen(self, command, env, as_user, **streams):
        """A Wine process of root on the shared prefix, or of the standard user on its own."""
        if not as_user:
            return wine_popen([WINE] + command, env=env, **streams)
        assignments = ["%s=%s" % item for item in env.items()]
        return wine_popen(["runuser", "-u", TEST_USER, "--", "env", "-i"] + assignments + [WINE] + command, **streams)

    # ---- the standard user ---------------------------------------------------------------------------
    def as_standard_user(self):
        """The installation stays root's (a standard user reads it, writes nothing); what the user's side
        must write is the user's: the screenshots, the elevation seam, the probe client's record."""
        check(USER_PREFIX and os.path.isdir(USER_PREFIX), "the standard user's prefix is not up")
        for folder, _, _ in os.walk(self.dir):
            os.chmod(folder, 0o755)
        for path in (self.shots, self.seam):
            os.makedirs(path, exist_ok=True)
            shutil.chown(path, TEST_USER)
        record = os.path.join(self.inst, "bin", "started.txt")
        open(record, "a").close()
        os.chmod(record, 0o666)

    def user_environment(self, manifest_url):
        home = os.path.expanduser("~" + TEST_USER)
        return {"PATH": "/usr/bin:/bin", "HOME": home, "USER": TEST_USER, "LOGNAME": TEST_USER, "WINEARCH": wine_env.ARCH,
                "WINEPREFIX": USER_PREFIX, "WINEDEBUG": os.environ.get("WINEDEBUG", "-all"),
                "WINEDLLOVERRIDES": os.environ.get("WINEDLLOVERRIDES", ""), "DISPLAY": os.environ["DISPLAY"],
                # Wine reads the command line in the account's locale: the steps' Chinese texts need UTF-8.
                "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8",
                "VANTORIX_MANIFEST_URL": manifest_url, "VANTORIX_TEST_ELEVATION": winpath(self.seam)}

    def user_local(self, *parts):
        """A path below the standard user's %LOCALAPPDATA% on disk."""
        return os.path.join(USER_PREFIX, "drive_c", "users", TEST_USER, "AppData", "Local", *parts)

    def user_log(self):
        return self.user_local("VantorixAssist", "logs", "launcher.log")

    def installation_id(self):
        return hashlib.sha256(winpath(self.inst).upper().encode("utf-8")).hexdigest()[:16]

    def user_folder(self):
        """The installation's per-user folder, as the user's launcher names it."""
        return "C:\\users\\%s\\AppData\\Local\\VantorixAssist\\%s" % (TEST_USER, self.installation_id())

    def on_disk(self, windows_path):
        """Where a path of the standard user's Wine lies on disk (its C: is its prefix's drive_c)."""
        if re.match(r"[Cc]:\\", windows_path):
            return os.path.join(USER_PREFIX, "drive_c", *windows_path[3:].split("\\"))
        check(windows_path.startswith("Z:\\"), "not a path of this machine: %s" % windows_path)
        return windows_path[2:].replace("\\", "/")

    def answer_elevations(self, policy, done):
        """The harness as the administrator who says yes at the prompt: each request the launcher records
        through the seam is run by root's Wine, its paths carried over to where the user's files lie."""
        request = os.path.join(self.seam, "elevation-request.txt")
        answer = os.path.join(self.seam, "elevation-answer.txt")
        while not done.is_set():
            if not os.path.exists(request) or os.path.exists(answer):
                time.sleep(0.1)
                continue
            program, parameters = open(request, encoding="utf-8").read().split("\n")[:2]
            self.elevations.append((program, parameters))
            verdict = policy(self, program, parameters)
            if verdict is None:
                arguments = [a or b for a, b in re.findall(r'"([^"]*)"|(\S+)', parameters)]
                arguments = [winpath(self.on_disk(a)) if re.match(r"[A-Za-z]:\\", a) else a for a in arguments]
                result = wine([program] + arguments, timeout=300)
                self.step_rcs.append(result.returncode)
                verdict = str(result.returncode)
            with open(answer + ".new", "w") as f:
                f.write(verdict)
            os.rename(answer + ".new", answer)

    # ---- the maintenance service -------------------------------------------------------------------------
    def install_service(self):
        """The installation's maintenance service as the setup installs it, in root's prefix (where it runs)
        and its configuration in the user's too (where the user's launcher looks it up). Under Wine the user's
        wineserver cannot reach root's service manager: the launcher's start goes through its seam, and
        answer_service_starts starts the service in root's prefix with the same arguments."""
        self.service = "VantorixAssistUpdate-e2e%d" % os.getpid()
        key = SERVICE_CONFIG + "\\" + self.service
        created = wine([SERVICE_SETUP, "install", self.service, winpath(self.file("VantorixAssist.exe"))])
        check(created.returncode == 0, "the service was not installed: %s" % created.stdout)
        add = [wine_env.tool("reg"), "add", key, "/v", "Installation", "/d", winpath(self.inst), "/f"]
        check(wine(add).returncode == 0, "no service configuration in root's prefix")
        check(self.user_wine(add).returncode == 0, "no service configuration in the user's prefix")

    def user_wine(self, args):
        return subprocess.run(["runuser", "-u", TEST_USER, "--", "env", "WINEPREFIX=" + USER_PREFIX, "WINEARCH=" + wine_env.ARCH,
                               "WINEDEBUG=-all", "LANG=C.UTF-8", "DISPLAY=" + os.environ["DISPLAY"], WINE] + args,
                              timeout=120, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def remove_service(self):
        key = SERVICE_CONFIG + "\\" + self.service
        wine([SERVICE_SETUP, "remove", self.service])
        wine([wine_env.tool("reg"), "delete", key, "/f"])
        self.user_wine([wine_env.tool("reg"), "delete", key, "/f"])

    def answer_service_starts(self, policy, done):
        """The harness as the service manager: each start the launcher records through the seam is made in
        root's prefix with the same arguments, the user's paths carried over to where they lie on disk."""
        request = os.path.join(self.seam, "service-request.txt")
        answer = os.path.join(self.seam, "service-answer.txt")
        while not done.is_set():
            if not os.path.exists(request) or os.path.exists(answer):
                time.sleep(0.1)
                continue
            lines = open(request, encoding="utf-8").read().split("\n")
            name, arguments = lines[0], [l for l in lines[1:] if l]
            self.service_requests.append((name, arguments))
            verdict = policy(self, arguments)
            if verdict is None:
                carried = [winpath(self.on_disk(a)) if re.match(r"[A-Za-z]:\\", a) else a for a in arguments]
                out = wine([SERVICE_START, name] + carried, timeout=300).stdout.decode("utf-8", "replace")
                m = re.search(r"(?:start|open) (\d+)", out)
                verdict = m.group(1) if m else "1053"
            with open(answer + ".new", "w") as f:
                f.write(verdict)
            os.rename(answer + ".new", answer)

    def run_alongside(self, work):
        try:
            work(self)
        except (Failure, subprocess.TimeoutExpired, OSError) as e:
            self.alongside_failure = str(e)

    def started_records(self):
        """(version|arguments|show, account) of every client start, in order."""
        path = os.path.join(self.inst, "bin", "started.txt")
        if not os.path.exists(path):
            return []
        return [tuple(l.rsplit("|", 1)) for l in open(path, encoding="utf-8").read().splitlines() if l]

    def started(self):
        return [line for line, _ in self.started_records()]

    def started_by(self):
        return [account for _, account in self.started_records()]

    def wait_started(self, test, seconds=15):
        end = time.time() + seconds
        while time.time() < end:
            if any(test(l) for l in self.started()):
                return True
            time.sleep(0.2)
        return False

    def expect_client(self, version):
        line = "%s|-2018.06.21|%s" % (version, SW_SHOWMINIMIZED)
        check(self.wait_started(lambda l: l == line), "client %s not started as expected; started: %s" %
              (version, self.started()))

    def expect_no_client(self):
        """The launcher's flow ended (run() waited for its process) without starting a client."""
        check(re.search(r" flow: \S+ -> ended \(", self.log), "the flow did not record its end:\n" + self.log)
        check("update: client started" not in self.log, "the launcher started a client:\n" + self.log)
        check(not [l for l in self.started() if "-2018.06.21" in l], "a client was started: %s" % self.started())

    def file(self, rel):
        return os.path.join(self.inst, *rel.split("\\"))

    def expect_nothing_installed(self, what, archive_gone=True):
        """Nothing of a refused archive (what) reached the installation; with archive_gone, the update
        folder holds neither the archive nor its side files."""
        check(update_package.file_version(self.client) == OLD, "the client was replaced from %s" % what)
        original_skin = open(os.path.join(INSTALLATION, "Skin", "UI.html"), "rb").read()
        check(open(self.file("Skin\\UI.html"), "rb").read() == original_skin, "the skin was touched")
        check(not os.path.exists(self.file("bin\\data")), "files of %s were written" % what)
        if archive_gone:
            check(self.work_files() == [], "the archive or its side files were kept: %s" % self.work_files())

    def next_start_settles(self):
        """A start of the launcher with nothing new to offer (the manifest names the installed client):
        it finds the committed install whole and removes its work files."""
        self.run(["neverform|60"])
        check(self.work_files() == [], "work files left after the next start: %s" % self.work_files())

    def wait_for(self, test, what, seconds=60):
        end = time.time() + seconds
        while time.time() < end:
            if test():
                return
            time.sleep(0.2)
        raise Failure(what)

    def use_proxy_settings(self, proxy="", script_url=""):
        """The user's Internet settings as the system's dialog stores them: a manual proxy and/or a proxy
        configuration script."""
        flags = 0x1 | (0x2 if proxy else 0) | (0x4 if script_url else 0)  # direct, manual proxy, script
        blob = struct.pack("<III", 0x46, 0, flags)
        for text in (proxy, "", script_url):  # proxy, bypass list, script address
            blob += struct.pack("<I", len(text)) + text.encode()
        blob += bytes(32)
        self.proxy_settings = True
        check(wine(["reg", "add", INTERNET_CONNECTIONS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                    "/d", blob.hex(), "/f"]).returncode == 0, "cannot write the user's proxy settings")

    def close(self):
        for process in self.helpers:
            process.terminate()
            process.wait(10)
        if self.proxy_settings:
            wine(["reg", "delete", INTERNET_CONNECTIONS, "/v", "DefaultConnectionSettings", "/f"])
        for process in (self.stay, self.foreign):
            if process and process.poll() is None:
                end_wine_process(process)
        if self.trusted:
            wine([TRUST_ROOT, "remove", winpath(self.trusted)])
        if self.service:
            self.remove_service()
        if USER_PREFIX:
            shutil.rmtree(self.user_local("VantorixAssist", self.installation_id()), ignore_errors=True)
        for key in self.entries:
            wine([wine_env.tool("reg"), "delete", key, "/f"])
        shutil.rmtree(self.dir, ignore_errors=True)


def read_log_since(offset, path=LAUNCHER_LOG):
    """The launcher log's lines written after offset (the part in the rotated file too, when it rotated)."""
    text = ""
    if os.path.exists(path) and os.path.getsize(path) < offset and os.path.exists(path + ".1"):
        text = open(path + ".1", "rb").read()[offset:].decode("utf-8", "replace")
        offset = 0
    if os.path.exists(path):
        text += open(path, "rb").read()[offset:].decode("utf-8", "replace")
    return text


# ---- the control library in the system folder ------------------------------------------------------
def control_present():
    """The state after a first start: the installation's own script has put the library (and the engine
    beside it) into the system folder and registered it."""
    if not os.path.exists(CONTROL) or not typelib_registered():
        script = os.path.join(INSTALLATION, "Build", "注册控件.bat")
        wine([wine_env.tool("cmd"), "/c", winpath(script)], timeout=wine_env.limit(120))
    check(os.path.exists(CONTROL) and typelib_registered(), "the registration script did not install the control library")


def control_removed():
    if os.path.exists(CONTROL):
        wine([wine_env.tool("regsvr32"), "/u", "/s", WIN_CONTROL])
        os.remove(CONTROL)
    if os.path.exists(os.path.join(SYSTEM32, "node.dll")):
        os.remove(os.path.join(SYSTEM32, "node.dll"))
    check(not typelib_registered(), "the control library's type library is still registered")


def typelib_registered():
    return wine([wine_env.tool("reg"), "query", "HKCR\\TypeLib\\{%s}" % typelib_id()]).returncode == 0


# ---- scenarios -------------------------------------------------------------------------------------
def same_version_starts_the_client_without_the_form(s):
    s.publish(version=OLD)
    shutil.rmtree(s.file("update"))
    s.run(["neverform|60"])
    s.expect_client(OLD)
    s.expect_one_manifest_request()
    check(os.path.isdir(s.file("update")), "the update folder was not created")
    check(not [r for r in s.requests() if r["path"].endswith(".zip")], "an archive was downloaded")


def first_start_writes_the_marker_then_starts_the_client(s):
    s.publish(version=OLD)
    os.remove(s.file("Build\\installock.txt"))
    s.run(["neverform|60"])
    data = open(s.file("Build\\installock.txt"), "rb").read()
    check(data.endswith(b"\r\n") and len(data) > 2, "the marker holds %r" % data)
    s.expect_client(OLD)


def marker_without_build_folder_creates_the_folder(s):
    s.publish(version=OLD)
    shutil.rmtree(s.file("Build"))
    s.run(["neverform|60"])
    check(os.path.isfile(s.file("Build\\installock.txt")), "no marker in a new Build folder")
    s.expect_client(OLD)


def missing_client_asks_and_no_ends(s):
    s.publish(version=OLD)
    os.remove(s.client)
    s.run(["box|no|" + ASK_CLIENT_MISSING])
    s.expect_no_client()


def registration_yes_runs_the_script_and_goes_on(s):
    control_removed()
    s.publish(version=OLD)
    os.remove(s.file("Build\\installock.txt"))
    # Started with a limited token, as under UAC: the script is asked for through the shell's "runas".
    s.run(["waitbox|" + ASK_REGISTER, "shot|{shots}\\1-registration-question.bmp", "box|yes|" + ASK_REGISTER,
           "nobox|120"], limited=True)
    check(os.path.exists(CONTROL), "the control library is not in the system folder")
    check(os.path.exists(os.path.join(SYSTEM32, "node.dll")), "the engine is not beside the control library")
    check(typelib_registered() and control_classes_point_at_the_system_file(), "the control library is not registered")
    check(os.path.isfile(s.file("Build\\installock.txt")), "no marker")
    s.expect_client(OLD)


def control_classes_point_at_the_system_file():
    for clsid in control_class_ids():
        out = wine([wine_env.tool("reg"), "query", "HKCR\\CLSID\\{%s}\\InprocServer32" % clsid]).stdout.decode(errors="replace")
        if WIN_CONTROL.lower() not in out.lower():
            return False
    return True


def control_class_ids():
    ids = []
    for name in ("Velview", "VelviewCls", "MiniblinkAPI", "MiniblinkCallBack", "MiniblinkTypeEnum"):
        with open(os.path.join(SOURCE, "webview", "idl", name + ".idl"), encoding="utf-8") as f:
            ids.append(re.search(r"uuid\(([0-9A-Fa-f-]+)\)[^\]]*\]\s*coclass", f.read(), re.S).group(1))
    return ids


def a_library_file_without_its_classes_is_registered_again(s):
    control_present()
    check(wine([wine_env.tool("regsvr32"), "/u", "/s", WIN_CONTROL]).returncode == 0, "unregister")
    check(os.path.exists(CONTROL) and not control_classes_point_at_the_system_file(), "the classes are still registered")
    s.publish(version=OLD)
    s.run(["box|yes|" + ASK_REGISTER, "nobox|120"])
    s.expect_client(OLD)
    check(control_classes_point_at_the_system_file(), "the classes were not registered again")


def registration_no_ends_at_once(s):
    control_removed()
    s.publish(version=OLD)
    os.remove(s.file("Build\\installock.txt"))
    s.run(["box|no|" + ASK_REGISTER, "gone|20"])
    check(not os.path.exists(CONTROL), "the control library appeared")
    check(not os.path.exists(s.file("Build\\installock.txt")), "a marker was written")
    s.expect_no_client()
    control_present()


def optional_release_starts_the_client_at_once(s):
    s.publish(force_mod="0")
    s.run(["neverform|60"])
    s.expect_client(OLD)
    s.expect_one_manifest_request()
    check(not [r for r in s.requests() if r["path"].endswith(".zip")], "an optional release was downloaded")


def optional_release_is_offered_in_update_mode(s):
    s.publish(force_mod="0")
    s.run(["form|立即升级|1", "label|101|当前程序版本：" + OLD, "label|102|最新程序版本：" + NEW,
           "label|103|是否重要升级：否", "label|107|最新版本名：春季版", "shot|{shots}\\1-offer.bmp", "close", "gone|20"],
          args=["-update"])
    s.expect_no_client()


def mandatory_release_updates_and_starts_the_new_client(s):
    # The installation's running client is ended before its files are replaced; another vendor's program
    # that is also called client.exe, elsewhere, keeps running.
    s.start_staying_client()
    foreign = s.start_foreign_client()
    s.manifest_path = "/updata.json"
    s.publish(zip_path="/slow/newtemp.zip?chunk=32768&delay=0.2")
    s.run(["waitbox|发现新版本！" + NEW, "shot|{shots}\\1-new-version.bmp", "box|ok|发现新版本！%s\r\n修复若干问题" % NEW,
           "flow|downloading", "shot|{shots}\\2-downloading.bmp",
           "waitbox|" + DOWNLOADED + "|90", "shot|{shots}\\3-downloaded.bmp", "box|ok|" + DOWNLOADED,
           "form|立即启动|1", "msg|更新完成！", "bar|100|5", "shot|{shots}\\4-start-now.bmp", "seenmsg|文件大小：",
           "order|" + FLOW, "click", "gone|30"])
    s.expect_client(NEW)
    check(update_package.file_version(s.client) == NEW, "bin\\client.exe was not replaced")
    check(open(s.file("Skin\\UI.html"), "rb").read() == b"<html><body>new skin</body></html>", "the skin was not replaced")
    check(os.path.getsize(s.file("bin\\data\\filler.bin")) == 400 * 1024, "a new sub-folder was not unpacked")
    check(not os.path.exists(s.file("update\\newtemp.zip")), "the archive was not deleted")
    check(s.stay.poll() is not None, "the running client was not ended before the update")
    s.expect_one_manifest_request()
    check(foreign.poll() is None, "another program named client.exe was ended")


def mandatory_release_over_https(s):
    s.publish(tls=True)
    check(s.url("/").startswith("https://"), "the server does not speak TLS")
    s.run(["box|ok|发现新版本！" + NEW, "flow|downloading", "waitbox|" + DOWNLOADED + "|120",
           "shot|{shots}\\1-downloaded.bmp", "box|ok|" + DOWNLOADED, "form|立即启动|1", "order|" + FLOW, "click",
           "gone|30"])
    s.expect_client(NEW)
    paths = [r["path"] for r in s.requests()]
    check("/updata.json" in paths and "/newtemp.zip" in paths, "requests seen by the TLS server: %s" % paths)
    s.expect_one_manifest_request()


def update_through_a_proxy(s, script):
    """The user's settings send every address through a proxy on 127.0.0.1, named by hand or by a proxy
    configuration script: manifest and archive both pass through that proxy."""
    s.publish(tls=True)
    proxy_root = os.path.join(s.dir, "proxy")
    os.makedirs(proxy_root)
    _, proxy_port = s.start_server("proxy", proxy_root)
    # "127.1" is 127.0.0.1 written another way: WinHTTP tunnels (CONNECT) only to a proxy whose host name
    # differs from the target's, and both servers live on 127.0.0.1.
    proxy = "127.1:%d" % proxy_port
    if script:
        with open(os.path.join(proxy_root, "proxy.pac"), "w") as f:
            f.write('function FindProxyForURL(url, host) { return "PROXY %s"; }\n' % proxy)
        s.use_proxy_settings(script_url="http://127.0.0.1:%d/proxy.pac" % proxy_port)
    else:
        s.use_proxy_settings(proxy=proxy)
    s.run(["box|ok|发现新版本！" + NEW, "flow|downloading", "waitbox|" + DOWNLOADED + "|120", "box|ok|" + DOWNLOADED,
           "form|立即启动|1", "order|" + FLOW, "click", "gone|30"])
    s.expect_client(NEW)
    through = [r["path"] for r in s.requests("proxy")]
    check(("/proxy.pac" in through) == script, "the proxy configuration script was read %s: %s" %
          ("never" if script else "unasked", through))
    check(through.count("127.0.0.1:%d" % s.port) >= 2, "manifest and archive did not pass the proxy: %s" % through)
    paths = [r["path"] for r in s.requests()]
    check("/updata.json" in paths and "/newtemp.zip" in paths, "requests seen by the update server: %s" % paths)


def mandatory_release_through_the_automatic_proxy(s):
    update_through_a_proxy(s, script=True)


def mandatory_release_through_the_manual_proxy(s):
    update_through_a_proxy(s, script=False)


def update_mode_without_new_version(s):
    s.publish(version=OLD)
    s.run(["form|您已是最新版本|0", "label|102|最新程序版本：" + OLD, "shot|{shots}\\1-latest.bmp", "close", "gone|20"],
          args=["-update"])
    s.expect_no_client()


def no_content_length_unpacks_only_the_complete_archive(s):
    s.publish(zip_path="/nolength/newtemp.zip")
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1", "click", "gone|30"])
    s.expect_client(NEW)
    check(os.path.getsize(s.file("bin\\data\\filler.bin")) == 400 * 1024, "the archive was cut short")


def damaged_archive_leaves_the_installation_and_starts_the_old_client(s):
    # The maker publishes a damaged archive, its size, hash and signature made from the damaged bytes:
    # they all match, and the zip's own CRC finds the damage.
    s.publish()
    path = os.path.join(s.root, "newtemp.zip")
    data = bytearray(open(path, "rb").read())
    for i in range(len(data) // 2, len(data) // 2 + 64):  # inside the filler's compressed bytes
        data[i] ^= 0x5A
    open(path, "wb").write(bytes(data))
    s.write_manifest()
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|" + REJECTED,
           "shot|{shots}\\1-rejected.bmp", "box|ok|" + REJECTED, "gone|30"])
    s.expect_client(OLD)
    s.expect_nothing_installed("a damaged archive", archive_gone=False)
    check(not os.path.exists(s.file("update\\newtemp.zip")), "the damaged archive was kept")


def tampered_archive_is_refused_by_its_published_hash(s):
    # Another archive of the same size in place of the published one, as a man in the middle of a plain
    # http download would serve it: refused before a file is touched.
    s.publish()
    path = os.path.join(s.root, "newtemp.zip")
    data = bytearray(open(path, "rb").read())
    data[len(data) // 2] ^= 0xFF
    open(path, "wb").write(bytes(data))
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|SHA-256 校验值与更新信息不符",
           "shot|{shots}\\1-tampered.bmp", "box|ok|" + REJECTED, "gone|30"])
    s.expect_client(OLD)
    s.expect_nothing_installed("a tampered archive")


def more_bytes_than_published_are_refused_while_downloading(s):
    # A server without a length sends more than the manifest's "size": the downloader stops at the first
    # byte too many and keeps nothing, nothing is unpacked, the current client starts.
    s.publish(zip_path="/nolength/newtemp.zip")
    with open(os.path.join(s.root, "newtemp.zip"), "ab") as f:
        f.write(os.urandom(64 * 1024))
    s.run(["box|ok|发现新版本！", "waitbox|文件大小与更新信息不符|90", "shot|{shots}\\1-oversized.bmp",
           "box|ok|" + REJECTED, "gone|30"])
    s.expect_client(OLD)
    s.expect_nothing_installed("an oversized archive")


def unsigned_and_badly_signed_archives_are_refused(s):
    # The archive carries a signature of its own, which launchers of earlier releases check: one missing or
    # made by another key under a validly signed manifest (a fault of the maker's tools) unpacks nothing.
    # A launcher built without a key installs an unsigned archive, as before.
    if SIGNING_KEY is None:
        s.publish(signing_key=None)
        s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1", "click", "gone|30"])
        s.expect_client(NEW)
        return
    other_key = os.path.join(s.dir, "other.pem")
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other_key], check=True,
                   timeout=60)
    for n, (key, reason) in enumerate([(None, "更新信息缺少发布者签名"), (other_key, "发布者签名无效")], 1):
        s.publish(archive_signing_key=key)
        s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|" + reason,
               "shot|{shots}\\%d-refused.bmp" % n, "box|ok|" + REJECTED, "gone|30"])
        # The client starts after the refusal's box closes, so its record may follow the launcher's end.
        s.wait_for(lambda n=n: client_starts(s, OLD) == n,
                   "the current client was not started after the refusal", 30)
        s.expect_nothing_installed("an archive without a valid signature")


def stale_archive_does_not_divert_the_download(s):
    s.publish()
    update = s.file("update")
    open(os.path.join(update, "newtemp.zip"), "wb").write(b"an archive of an earlier run")
    open(os.path.join(update, "newtemp.zip.dl"), "wb").write(b"half of another download")
    open(os.path.join(update, "newtemp.zip.dl.cfg"), "wb").write(b"http://127.0.0.1:9/other.zip")
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1", "click", "gone|30"])
    s.expect_client(NEW)
    # The launcher that committed settled its own install: no journal or rollback copy waits for a start.
    check(s.work_files() == [], "files left in the update folder: %s" % s.work_files())


def unreadable_manifests_start_the_client(s):
    s.serve()
    bodies = {"/notjson.json": "<html>503 Service Unavailable</html>",
              "/nodate.json": json.dumps({"Version": {"version": NEW}}),
              "/forcemod.json": update_package.manifest_text(NEW, s.url("/newtemp.zip"), force_mod="soon"),
              "/empty.json": "",
              # values the launcher could never act on: no update is offered, the client starts
              "/noversion.json": update_package.manifest_text("", s.url("/newtemp.zip")),
              "/scriptUrl.json": update_package.manifest_text(NEW, "javascript:alert(1)"),
              "/nul.json": update_package.manifest_text(NEW, s.url("/newtemp.zip")) + "\0trailing"}
    for path, body in bodies.items():
        open(os.path.join(s.root, path[1:]), "w", encoding="utf-8").write(body)
    update_package.make_zip(os.path.join(s.root, "newtemp.zip"), s.new_release_entries())
    dead = socket.socket()
    dead.bind(("127.0.0.1", 0))
    dead_port = dead.getsockname()[1]
    dead.close()
    cases = [s.url(p) for p in bodies] + [s.url("/404/updata.json"), "http://127.0.0.1:%d/updata.json" % dead_port]
    for n, url in enumerate(cases, 1):
        s.run(["neverform|60"], manifest_url=url)
        check(s.wait_started(lambda l, n=n: len([x for x in s.started() if "-2018.06.21" in x]) == n),
              "no client start for manifest %s" % url)
    s.expect_client(OLD)
    check(not [r for r in s.requests() if r["path"].endswith(".zip")], "an archive was downloaded")


def installed_release_with_another_version_starts_without_a_second_download(s):
    # The release's client carries 1.0.0.2 while the manifest announces "abc", which no file version can
    # equal: it is offered as any other version text, and after the install "立即启动" starts what was
    # installed instead of downloading the same archive again.
    s.publish(version="abc")
    s.run(["box|ok|发现新版本！abc", "box|ok|Vantorix已经成功下载了当前最新的：abc版本|90", "form|立即启动|1",
           "label|101|当前程序版本：" + NEW, "shot|{shots}\\1-start-now.bmp", "click", "gone|30"])
    s.expect_client(NEW)
    check(len([r for r in s.requests() if r["path"].endswith(".zip")]) == 1, "the archive was downloaded again")


def tree(root):
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs:
            found[os.path.relpath(os.path.join(folder, name), root)] = "/"
        for name in files:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = open(path, "rb").read()
    return found


def install_killed_mid_commit_is_rolled_back_at_the_next_start(s):
    # The real extractor ends its own process after three file moves of the commit: the new skin and a new
    # file are in place, the old client is not yet replaced. The next start puts the old tree back first.
    s.publish(version=OLD)
    archive = os.path.join(s.dir, "cut.zip")
    update_package.make_zip(archive, s.new_release_entries())
    before = tree(s.inst)
    rc = wine([KILL_TOOL, winpath(s.inst), winpath(archive), "m3"]).returncode
    check(rc == 3, "the install was not cut (exit %s)" % rc)
    check(os.path.exists(s.file("update\\install.journal")), "no journal left by the cut install")
    check(open(s.file("Skin\\UI.html"), "rb").read() != before[os.path.join("Skin", "UI.html")], "the cut came too early")
    s.run(["neverform|60"])
    s.expect_client(OLD)
    after = tree(s.inst)
    after.pop(os.path.join("bin", "started.txt"), None)
    # The start accepted the manifest of this version: its serial is the one thing it may add.
    check(after.pop(os.path.join("update", "install.state"), None) == b"manifest_serial=1\n" or SIGNING_KEY is None,
          "the accepted serial was not recorded")
    check(after == before, "the installation differs from before the update: %s" %
          sorted(k for k in set(after) | set(before) if after.get(k) != before.get(k)))


def update_replaces_the_running_launcher_and_the_new_one_runs_the_next_update(s):
    # The running VantorixAssist.exe is never moved aside (a cut between two moves would leave no
    # launcher): the new one waits in update\\stage\\, started there, and once the running one has ended
    # it takes its place in one move. That new launcher carries out the next update.
    launcher = s.file("VantorixAssist.exe")
    new_launcher = os.path.join(s.dir, "launcher-new.exe")
    shutil.copy(launcher, new_launcher)
    set_signed_version(new_launcher, "9.0.0.7")
    entries = s.new_release_entries()
    entries["VantorixAssist.exe"] = new_launcher
    s.publish(zip_entries=entries)
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1", "click", "gone|30"])
    s.expect_client(NEW)
    s.wait_for(lambda: update_package.file_version(launcher) == "9.0.0.7", "the launcher was not replaced")

    third = os.path.join(s.dir, "client-third.exe")
    shutil.copy(PROBE, third)
    set_signed_version(third, "1.0.0.3")
    s.publish(version="1.0.0.3", zip_entries={"bin/client.exe": third})
    s.run(["box|ok|发现新版本！", "box|ok|Vantorix已经成功下载了当前最新的：1.0.0.3版本|90", "form|立即启动|1", "click",
           "gone|30"])
    s.expect_client("1.0.0.3")
    s.next_start_settles()


def self_replacing_release(s, version="9.0.0.7"):
    """The archive of a release that brings a new launcher first, then the rest."""
    new_launcher = os.path.join(s.dir, "launcher-new.exe")
    shutil.copy(s.file("VantorixAssist.exe"), new_launcher)
    set_signed_version(new_launcher, version)
    entries = {"VantorixAssist.exe": new_launcher}
    entries.update(s.new_release_entries())
    archive = os.path.join(s.dir, "self.zip")
    update_package.make_zip(archive, entries)
    return archive


def a_kill_right_after_the_launcher_was_replaced_is_rolled_back_by_the_new_one(s):
    # An install (by a program that is not the launcher, so it moves the launcher's file as any other)
    # cut right after both moves of VantorixAssist.exe: the new launcher is in place, everything else is
    # old. The new launcher starts: it goes aside itself and puts the old tree back whole, and every later
    # start works (before, each one failed on the journal and the installation stayed mixed).
    s.publish(version=OLD)
    before = tree(s.inst)
    archive = self_replacing_release(s)
    rc = wine([KILL_TOOL, winpath(s.inst), winpath(archive), "m3"]).returncode
    check(rc == 3, "the install was not cut (exit %s)" % rc)
    check(update_package.file_version(s.file("VantorixAssist.exe")) == "9.0.0.7", "the cut came too early")
    s.run(["neverform|60"])
    s.expect_client(OLD)
    check(update_package.file_version(s.file("VantorixAssist.exe")) != "9.0.0.7", "the old launcher is not back")
    s.next_start_settles()
    after = tree(s.inst)
    # The start records the serial of the manifest it accepted; the client records how it was started.
    for noted in (os.path.join("bin", "started.txt"), os.path.join("update", "install.state")):
        after.pop(noted, None)
        before.pop(noted, None)
    check(after == before, "the installation differs from before the update: %s" %
          sorted(k for k in set(after) | set(before) if after.get(k) != before.get(k)))


def a_launcher_killed_after_committing_a_new_launcher_is_replaced_after_the_next_start(s):
    # The launcher's install (the tool counts VantorixAssist.exe as the running program, as the launcher
    # does) committed, and the launcher was killed before it could start its staged successor. The old
    # launcher is still in place at every moment; the next start hands over to the staged one, which takes
    # its place once that start has ended.
    s.publish()
    archive = self_replacing_release(s)
    rc = wine([KILL_TOOL, winpath(s.inst), winpath(archive), "-1", "launcher"]).returncode
    check(rc == 0, "the install did not commit (exit %s)" % rc)
    launcher = s.file("VantorixAssist.exe")
    check(update_package.file_version(launcher) not in ("", "9.0.0.7"), "the running launcher's file was touched")
    check(os.path.exists(s.file("update\\stage\\VantorixAssist.exe")), "the new launcher is not staged")
    s.run(["neverform|60"])
    s.expect_client(NEW)
    s.wait_for(lambda: update_package.file_version(launcher) == "9.0.0.7", "the staged launcher did not take its place")
    s.next_start_settles()
    check(update_package.file_version(s.client) == NEW, "the client is not the new one")


def links_in_the_work_folders_touch_nothing_outside(s):
    # Links planted from outside Windows into update\\stage\\ and as update\\rollback\\, pointing at a folder
    # with files: the start-up clean-up and an install never recurse into them, delete or move through
    # them. (Wine resolves such a link at every open, so it cannot be removed as a link either: the
    # install is refused with the write-failure message and offered again; Windows removes it as a link.)
    outside = os.path.join(s.dir, "outside")
    os.makedirs(os.path.join(outside, "keep"))
    for name, data in (("precious.txt", b"precious"), ("keep\\deep.txt", b"deep"), ("client.exe", b"not ours")):
        open(os.path.join(outside, *name.split("\\")), "wb").write(data)
    snapshot = tree(outside)
    os.makedirs(s.file("update\\stage"))
    os.symlink(outside, s.file("update\\stage\\bin"))
    os.symlink(os.path.join(outside, "precious.txt"), s.file("update\\stage\\a.txt"))
    os.symlink(outside, s.file("update\\rollback"))
    s.publish(version=OLD)
    s.run(["neverform|60"])
    s.expect_client(OLD)
    check(tree(outside) == snapshot, "the start-up clean-up touched what a link points at")
    s.publish()
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|" + WRITE_FAILED,
           "shot|{shots}\\1-refused.bmp", "box|ok|" + WRITE_FAILED, "form|立即升级|1", "close", "gone|20"])
    check(tree(outside) == snapshot, "the install touched what a link points at")
    s.expect_nothing_installed("an install over links", archive_gone=False)


def unreadable_manifest_in_update_mode_offers_nothing(s):
    s.serve()
    open(os.path.join(s.root, "updata.json"), "w").write("not json")
    # The form cannot know whether the installation is current, and does not say it is.
    s.run(["form|无法检查更新|0", "msg|无法获取更新信息", "shot|{shots}\\1-no-manifest.bmp",
           "order|starting,no-manifest", "close", "gone|20"], args=["-update"])
    s.expect_no_client()


def closing_during_the_download_asks_first(s):
    # A large archive that the server trickles without pause (16 KiB every 20 ms, about 40 s in all): the
    # download is running at every step however fast this machine is, and data keeps coming, so the form
    # answers between blocks. (A server that stops sending would hold the form's thread in Wine's WinHTTP
    # until its receive time-out.)
    entries = s.new_release_entries()
    entries["bin/data/filler.bin"] = os.urandom(32 * 1024 * 1024)
    s.publish(force_mod="0", zip_path="/slow/newtemp.zip?chunk=16384&delay=0.02", zip_entries=entries)
    s.run(["form|立即升级|1", "click", "form|升级中|0", "msg|文件大小：", "bar|1", "shot|{shots}\\0-downloading.bmp",
           "close", "waitbox|" + ASK_FORCE_CLOSE,
           "shot|{shots}\\1-close-guard.bmp", "box|no|" + ASK_FORCE_CLOSE, "event|close-refused", "form|升级中|0",
           "msg|文件大小：", "close", "box|yes|" + ASK_FORCE_CLOSE, "gone|20"], args=["-update"])
    s.expect_no_client()
    check(update_package.file_version(s.client) == OLD, "the client was replaced")


RETRY_SHOWN = "自动重试"
OFFER_AGAIN = "请点击“立即升级”重试"


def install_after_a_fault(s, **fault):
    """The archive's server misbehaves as told; the retries are shown and the update still installs."""
    s.publish()
    s.misbehave("/newtemp.zip", **fault)
    s.run(["box|ok|发现新版本！", "waitbox|" + DOWNLOADED + "|120", "seenmsg|" + RETRY_SHOWN,
           "box|ok|" + DOWNLOADED, "form|立即启动|1", "click", "gone|30"])
    s.expect_client(NEW)


def server_errors_are_retried_then_the_update_installs(s):
    install_after_a_fault(s, mode="status", code=503, times=2)
    answers = s.answers("/newtemp.zip")
    check([a.get("status") for _, a in answers][:2] == [503, 503] and len(answers) == 3,
          "archive answers: %s" % [a.get("status") for _, a in answers])
    gaps = [answers[i + 1][0]["time"] - answers[i][0]["time"] for i in range(2)]
    # 2 s and 4 s, each spread over half to one and a half times itself (and bounded generously above).
    check(0.95 <= gaps[0] <= 3 + 10 and 1.95 <= gaps[1] <= 6 + 10, "the waits between attempts: %s" % gaps)


def a_cut_connection_resumes_where_it_stopped(s):
    install_after_a_fault(s, mode="short", after=150000, times=1)
    check(os.path.getsize(s.file("bin\\data\\filler.bin")) == 400 * 1024, "the archive was not whole")
    ranges = [r["range"] for r, _ in s.answers("/newtemp.zip")]
    check(ranges == [None, "bytes=150000-"], "ranges asked: %s" % ranges)


def a_server_that_stays_down_offers_the_update_again_and_closing_starts_the_client(s):
    dead = socket.socket()
    dead.bind(("127.0.0.1", 0))
    dead_port = dead.getsockname()[1]
    dead.close()
    s.publish(zip_path="/newtemp.zip")
    s.write_manifest(url="http://127.0.0.1:%d/newtemp.zip" % dead_port)
    s.run(["box|ok|发现新版本！", "form|立即升级|1|120", "seenmsg|" + RETRY_SHOWN, "msg|" + OFFER_AGAIN,
           "shot|{shots}\\1-offered-again.bmp", "close", "nobox|20", "gone|20"])
    s.expect_client(OLD)
    check(update_package.file_version(s.client) == OLD, "the client was replaced")


def rollout_draw(s):
    path = s.file("update\\install.state")
    lines = open(path, encoding="utf-8").read().splitlines() if os.path.exists(path) else []
    return next((int(l.split("=", 1)[1]) for l in lines if l.startswith("rollout_draw=")), None)


def set_rollout_draw(s, draw):
    path = s.file("update\\install.state")
    lines = [l for l in open(path, encoding="utf-8").read().splitlines() if not l.startswith("rollout_draw=")]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines + ["rollout_draw=%d" % draw]) + "\n")


def a_phased_release_reaches_only_the_draws_within_its_share(s):
    # One installation through four manifests of a mandatory release: its draw is made once and kept, a
    # share that does not cover it is no update (the client starts, the log says why), one that does is.
    check(SIGNING_KEY is not None, "a phased release needs a launcher built with a key")
    s.publish()
    first = None
    runs = [("0", None, False), ("0", None, False), ("99", 0xFFFFFFFF, False), ("100", "first", True)]
    for n, (share, draw, offered) in enumerate(runs, 1):
        s.write_manifest(extra={"rollout_share": share})
        if draw is not None:
            set_rollout_draw(s, first if draw == "first" else draw)
        requests_before = len(s.requests())
        s.run(install_steps(NEW) if offered else ["neverform|60"])
        asked = [r["path"] for r in s.requests()[requests_before:]]
        check(asked.count(s.manifest_path) == 1, "run %d asked for the manifest %d times" % (n, asked.count(s.manifest_path)))
        check(("/newtemp.zip" in asked) == offered, "run %d (share %s): archive requests %s" % (n, share, asked))
        first = first if first is not None else rollout_draw(s)
        check(first is not None and rollout_draw(s) == (draw if isinstance(draw, int) else first),
              "run %d: the draw is %s, first %s" % (n, rollout_draw(s), first))
        check(("manifest: rollout: held back, draw %d" % rollout_draw(s) in s.log) == (not offered),
              "run %d: the log does not say why:\n%s" % (n, s.log))
        s.expect_client(NEW if offered else OLD)


def attempt_times(s):
    return [r["time"] for r, _ in s.answers("/newtemp.zip")]


def retry_after_honoured(after, at_least):
    """A 503 whose Retry-After (seconds, or an HTTP date "date+N" seconds after the server's clock) delays the
    next attempt at least as asked, and not much longer. More than the 3 s the spread retry wait can reach
    by itself, so only a launcher that reads the header waits this long."""
    def scenario(s):
        s.publish()
        s.misbehave("/newtemp.zip", mode="status", code=503, retry_after=after, times=1)
        s.run(install_steps(NEW))
        s.expect_client(NEW)
        times = attempt_times(s)
        check(len(times) == 2, "archive requests at %s" % times)
        check(at_least - 0.05 <= times[1] - times[0] <= at_least * 1.25 + 1 + 10,
              "Retry-After %s: the next attempt came %.2f s later" % (after, times[1] - times[0]))
        s.expect_one_manifest_request()
    scenario.__name__ = "a_retry_after_of_%s_delays_the_next_attempt" % after.replace("+", "_plus_")
    return scenario


def planned_waits_of_an_outage(s):
    """One launcher meets a server that answers every archive request with 500 until it gives up; its
    planned waits, each checked against the server's request times."""
    s.publish()
    s.misbehave("/newtemp.zip", mode="status", code=500)
    s.run(["box|ok|发现新版本！", "form|立即升级|1|120", "close", "nobox|20", "gone|20"])
    planned = [int(ms) for ms in re.findall(r"update: next attempt in (\d+) ms", s.log)]
    times = attempt_times(s)
    check(len(planned) == 3 and len(times) == 4, "planned waits %s, attempts at %s" % (planned, times))
    for k, wait in enumerate(planned):
        check(wait / 1000 - 0.05 <= times[k + 1] - times[k] <= wait / 1000 + 10,
              "attempt %d came %.2f s after the last, %d ms were planned" % (k + 2, times[k + 1] - times[k], wait))
    s.expect_one_manifest_request()
    return planned


def two_launchers_wait_different_times_before_their_retries(s):
    # The same outage meets two installations: their waits are spread by chance, not the same 2, 4, 8 s.
    other = Scenario(s.name + "_second")
    try:
        waits = [planned_waits_of_an_outage(s), planned_waits_of_an_outage(other)]
    finally:
        other.close()
    check(waits[0] != waits[1], "both launchers waited %s" % waits[0])


def client_starts(s, version):
    return len([l for l in s.started() if l == "%s|-2018.06.21|%s" % (version, SW_SHOWMINIMIZED)])


def install_steps(version):
    """The user's steps of a mandatory update of `version` that installs."""
    return ["box|ok|发现新版本！" + version, "box|ok|Vantorix已经成功下载了当前最新的：%s版本|90" % version,
            "form|立即启动|1", "click", "gone|30"]


def refused_manifests_start_the_client_and_the_log_says_why(s):
    # Whoever controls the server or the connection can change or replace the manifest, but cannot sign
    # it: a manifest changed after signing, signed by another key, unsigned, or past its expiry is no
    # manifest. No update, the current client starts, the log says why, and no serial is recorded.
    if SIGNING_KEY is None:  # built without a key: an unsigned manifest is acted on as before
        s.publish(signing_key=None)
        s.run(install_steps(NEW))
        s.expect_client(NEW)
        return
    s.publish()
    changed = json.loads(s.write_manifest(name="changed.json"))
    changed["Version_date"]["version"] = "1.0.0.9"
    with open(os.path.join(s.root, "changed.json"), "w", encoding="utf-8") as f:
        json.dump(changed, f, ensure_ascii=False)
    other_key = os.path.join(s.dir, "other.pem")
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other_key], check=True,
                   timeout=60)
    s.write_manifest(name="other.json", signing_key=other_key)
    s.write_manifest(name="unsigned.json", signing_key=None)
    s.write_manifest(name="expired.json", expires=datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(hours=1))
    cases = [("changed.json", "1.0.0.9: \"version\" differs from the payload's"),
             ("other.json", NEW + ": no built-in key verifies the payload"),
             ("unsigned.json", NEW + ": no payload"), ("expired.json", NEW + ": expired at ")]
    for n, (name, reason) in enumerate(cases, 1):
        s.run(["neverform|60"], manifest_url=s.url("/" + name))
        check(s.wait_started(lambda l, n=n: client_starts(s, OLD) == n), "no client start for %s" % name)
        check("manifest: refused " + reason in s.log, "the log does not say why %s was refused:\n%s" % (name, s.log))
    check(not [r for r in s.requests() if r["path"].endswith(".zip")], "an archive was downloaded")
    check(s.accepted_serial() is None, "a refused manifest's serial was recorded")


def a_roll_back_is_the_older_version_republished_with_a_higher_serial(s):
    # 1.0.0.2 is installed with serial 1; the maker takes it back by publishing 1.0.0.1's archive with
    # serial 2: installed. The 1.0.0.2 manifest of serial 1 served again (still validly signed, as whoever
    # kept a copy can serve it) brings nothing back.
    if SIGNING_KEY is None:
        return
    replay = s.publish()
    s.run(install_steps(NEW))
    s.expect_client(NEW)
    check(s.accepted_serial() == 1, "serial 1 was not recorded: %s" % s.accepted_serial())
    older = os.path.join(s.dir, "client-older.exe")
    shutil.copy(PROBE, older)
    set_signed_version(older, OLD)
    s.publish(version=OLD, zip_entries={"bin/client.exe": older})
    s.run(install_steps(OLD))
    s.expect_client(OLD)
    check(update_package.file_version(s.client) == OLD and s.accepted_serial() == 2, "the roll-back was not installed")
    with open(os.path.join(s.root, "updata.json"), "w", encoding="utf-8") as f:
        f.write(replay)
    s.run(["neverform|60"])
    check(s.wait_started(lambda l: client_starts(s, OLD) == 2), "the client did not start after the replay")
    check("manifest: refused %s: serial 1 is lower than 2, accepted before" % NEW in s.log, "log:\n" + s.log)
    check(update_package.file_version(s.client) == OLD, "the replayed manifest was installed")


def the_next_key_takes_over_and_a_release_without_the_old_key_refuses_it(s):
    # The maker's rotation: the launcher in the field carries the current and the next key; the maker
    # signs with the next key a release whose launcher carries only that one. After it, a manifest signed
    # by the dropped key (with a higher serial) is refused.
    if SIGNING_KEY is None:
        return
    check(NEXT_KEY is not None, "this build carries no next key")
    entries = s.new_release_entries()
    entries["VantorixAssist.exe"] = NEXT_KEY_LAUNCHER
    s.publish(zip_entries=entries, signing_key=NEXT_KEY)
    s.run(install_steps(NEW))
    s.expect_client(NEW)
    check("manifest: accepted %s, serial 1" % NEW in s.log and "next key" in s.log, "log:\n" + s.log)
    # The new launcher takes the running one's place once that one has ended.
    s.wait_for(lambda: open(s.file("VantorixAssist.exe"), "rb").read() == open(NEXT_KEY_LAUNCHER, "rb").read(),
               "the release's launcher was not installed")
    third = os.path.join(s.dir, "client-third.exe")
    shutil.copy(PROBE, third)
    set_signed_version(third, "1.0.0.3")
    s.publish(version="1.0.0.3", zip_entries={"bin/client.exe": third}, signing_key=SIGNING_KEY)
    s.run(["neverform|60"])
    check(s.wait_started(lambda l: client_starts(s, NEW) == 2), "the client did not start after the refusal")
    check("manifest: refused 1.0.0.3: no built-in key verifies the payload" in s.log, "log:\n" + s.log)
    check(update_package.file_version(s.client) == NEW, "a manifest of the dropped key was installed")



# ---- a standard user: the elevated install step ---------------------------------------------------------
def quote_argument(text):
    """One argument as the launcher quotes it on a command line (win/process.h)."""
    return '"%s"' % text if not text or re.search(r'[ \t"]', text) else text


def user_control_present():
    """The standard user's own prefix has the control library in its system folder, registered: the
    launcher starts without asking. (The user's prefix is the user's: its system folder is no test here.)"""
    control = os.path.join(wine_env.system_folder(USER_PREFIX), "Velview_G_201.ocx")
    if not os.path.exists(control):
        script = winpath(os.path.join(INSTALLATION, "Build", "注册控件.bat"))
        subprocess.run(["runuser", "-u", TEST_USER, "--", "env", "WINEPREFIX=" + USER_PREFIX, "WINEARCH=" + wine_env.ARCH,
                        "WINEDEBUG=-all", "LANG=C.UTF-8", "DISPLAY=" + os.environ["DISPLAY"], WINE, wine_env.tool("cmd"),
                        "/c", script],
                       timeout=wine_env.limit(120), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL)
    check(os.path.exists(control),
          "the standard user's prefix has no control library")


def step_runs(s, program, parameters):
    return None


def step_declined(s, program, parameters):
    return "declined"


def archive_changed_before_the_step(s, program, parameters):
    """What another program of the user could do between the launcher's check and the step: a byte of the
    checked archive changed, its size kept."""
    quoted, bare = re.findall(r'"([^"]*)"|(\S+)', parameters)[1]
    archive = s.on_disk(quoted or bare)
    data = bytearray(open(archive, "rb").read())
    data[len(data) // 2] ^= 0xFF
    open(archive, "wb").write(bytes(data))
    return None


def expected_elevation(s):
    folder = s.user_folder() + "\\update\\"
    return (winpath(s.file("VantorixAssist.exe")),
            "-install-update %s %s" % (quote_argument(folder + "newtemp.zip"), quote_argument(folder + "newtemp.json")))


def a_standard_user_updates_through_the_elevated_step(s):
    # The installation is root's: the launcher cannot write it, downloads into the user's folder, asks for
    # its elevated step with exactly that command line, and the step run with root's rights installs the
    # archive. The client starts as the user; the first-start marker went to the user's folder.
    s.as_standard_user()
    os.remove(s.file("Build\\installock.txt"))
    s.publish()
    s.run(["box|ok|发现新版本！|120", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1", "shot|{shots}\\1-installed.bmp",
           "click", "gone|30"], as_user=True, elevation=step_runs, timeout=300)
    check(s.elevations == [expected_elevation(s)], "elevations asked for: %s, expected %s" %
          (s.elevations, [expected_elevation(s)]))
    check(s.step_rcs == [0], "the elevated step ended with %s" % s.step_rcs)
    s.expect_client(NEW)
    check(set(s.started_by()) == {TEST_USER}, "the client was started as %s" % s.started_by())
    check(update_package.file_version(s.client) == NEW and os.stat(s.client).st_uid == 0,
          "bin\\client.exe was not installed by the elevated step")
    check(not os.path.exists(s.file("Build\\installock.txt")) and
          os.path.isfile(s.on_disk(s.user_folder() + "\\installock.txt")), "the first-start marker is not the user's")
    check("installed" in open(s.file("update\\install.log"), encoding="utf-8").read(), "the step's log says nothing")
    check(os.listdir(s.on_disk(s.user_folder() + "\\update")) == [], "the user's download was left behind")
    check("install through the elevated step" in s.log, "the launcher's log does not say why:\n" + s.log)
    # The step settled its own install: nothing is left for a later step to act on, and neither this first
    # start nor the next one finds anything it could not settle.
    check(s.work_files() == [], "the step left work files: %s" % s.work_files())
    check(UNSETTLED not in s.log, "the first start found an unsettled update:\n" + s.log)
    s.run(["neverform|120"], as_user=True, timeout=300)
    s.wait_for(lambda: client_starts(s, NEW) == 2, "the next start did not start the client: %s" % s.started(), 30)
    check(UNSETTLED not in s.log and "recovery" not in s.log, "the next start's log:\n" + s.log)
    check(len(s.elevations) == 1, "elevations asked for: %s" % s.elevations)


def a_declined_elevation_starts_the_current_client_and_the_update_comes_again(s):
    s.as_standard_user()
    s.publish()
    for n in (1, 2):
        s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|" + ELEVATION_DECLINED,
               "shot|{shots}\\%d-declined.bmp" % n, "box|ok|" + ELEVATION_DECLINED, "nobox|30", "gone|30"],
              as_user=True, elevation=step_declined)
        check(len(s.elevations) == n, "elevations asked for: %s" % s.elevations)
        check(client_starts(s, OLD) == n, "the current client was not started: %s" % s.started())
        s.expect_nothing_installed("a declined install")


def the_elevated_step_refuses_an_archive_changed_after_the_launchers_check(s):
    s.as_standard_user()
    s.publish()
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|SHA-256 校验值与更新信息不符|120",
           "shot|{shots}\\1-refused.bmp", "box|ok|" + REJECTED, "gone|30"], as_user=True,
          elevation=archive_changed_before_the_step)
    check(s.step_rcs == [5], "the elevated step ended with %s, not 5 (wrong SHA-256)" % s.step_rcs)
    s.expect_client(OLD)
    s.expect_nothing_installed("a changed archive")


def the_elevated_step_takes_only_its_narrow_input(s):
    # Run as the administrator would, with what a user's program could hand it: each refused with its code,
    # nothing written to the installation.
    s.publish()
    good = os.path.join(s.dir, "good.zip")
    shutil.copy(os.path.join(s.root, "newtemp.zip"), good)
    manifest = os.path.join(s.dir, "manifest.json")
    shutil.copy(os.path.join(s.root, "updata.json"), manifest)
    junk = os.path.join(s.dir, "junk.json")
    open(junk, "w").write("not a manifest")
    program = winpath(s.file("VantorixAssist.exe"))
    cases = [
        (["-install-update"], 1),
        (["-install-update", "newtemp.zip", winpath(manifest)], 1),
        (["-install-update", winpath(good), winpath(manifest), "extra"], 1),
        (["-install-update", winpath(s.dir) + "\\x\\..\\good.zip", winpath(manifest)], 1),
        (["-install-update", "\\\\127.0.0.1\\share\\good.zip", winpath(manifest)], 1),
        (["-install-update", winpath(good), winpath(junk)], 2),
        (["-install-update", winpath(os.path.join(s.dir, "missing.zip")), winpath(manifest)], 3),
        (["-register", "extra"], 1),
    ]
    before = tree(s.inst)
    for arguments, code in cases:
        rc = wine([program] + arguments, timeout=120).returncode
        check(rc == code, "%s ended with %s, not %s" % (arguments, rc, code))
    after = tree(s.inst)
    after.pop(os.path.join("update", "install.log"), None)
    # The manifest the missing archive came with was accepted: the installation's floor is its serial now.
    check(after.pop(os.path.join("update", "install.state"), None) == b"manifest_serial=%d\n" % s.serial or
          SIGNING_KEY is None, "the accepted serial was not recorded")
    check(after == before, "the refused steps changed the installation")


def commit_and_keep_the_journal(s, repair):
    """A new release committed over the installation by a process killed before it settled (the journal,
    the mark and the rollback copies stay), then Skin\\UI.html changed as a setup repair changes it."""
    archive = os.path.join(s.dir, "committed.zip")
    update_package.make_zip(archive, s.new_release_entries())
    rc = wine([KILL_TOOL, winpath(s.inst), winpath(archive), "committed"]).returncode
    check(rc == 3 and os.path.exists(s.file("update\\install.done")), "the install was not cut after its commit (%s)" % rc)
    check(update_package.file_version(s.client) == NEW, "the commit did not reach the client")
    with open(s.file("Skin\\UI.html"), "wb") as f:
        f.write(repair)
    return tree_without_work(s.inst)


def a_file_repaired_after_an_install_is_never_rolled_back(s):
    # A later step (given a junk manifest, as anybody may hand it) and a later start each find a journal
    # whose file is neither the release it installed nor the one it replaced: nothing goes back to the
    # previous release, the journal is discarded, and the log that is open says so.
    s.publish(version=NEW)
    repaired = commit_and_keep_the_journal(s, b"<html>repaired by the setup</html>")
    junk = os.path.join(s.dir, "junk.json")
    open(junk, "w").write("not a manifest")
    rc = wine([winpath(s.file("VantorixAssist.exe")), "-install-update", winpath(junk), winpath(junk)], timeout=120).returncode
    check(rc == 2, "the step ended with %s, not 2" % rc)
    check(tree_without_work(s.inst) == repaired, "the step changed the repaired installation")
    check(s.work_files() == [], "the discarded journal's files stayed: %s" % s.work_files())
    check(DISCARDED in open(s.file("update\\install.log"), encoding="utf-8").read(), "install.log does not say so")
    repaired = commit_and_keep_the_journal(s, b"<html>upgraded by the setup</html>")
    s.run(["neverform|60"])
    s.expect_client(NEW)
    check(tree_without_work(s.inst) == repaired, "the start changed the repaired installation")
    check(s.work_files() == [], "the discarded journal's files stayed: %s" % s.work_files())
    check(DISCARDED in s.log, "launcher.log does not say so:\n" + s.log)


def a_cut_install_the_user_cannot_settle_asks_for_the_step_once(s):
    # An install cut part-way (the new skin in, the old client still there) in an installation the user may
    # not write: the user's launcher tells the user, asks once for the step that settles it, and the client
    # it starts is the old one in a whole old tree.
    s.as_standard_user()
    s.publish(version=OLD)
    before = tree_without_work(s.inst)
    archive = os.path.join(s.dir, "cut.zip")
    update_package.make_zip(archive, s.new_release_entries())
    rc = wine([KILL_TOOL, winpath(s.inst), winpath(archive), "m3"]).returncode
    check(rc == 3 and tree_without_work(s.inst) != before, "the install was not cut part-way (%s)" % rc)
    s.run(["waitbox|" + RECOVER_NEEDS_ADMIN + "|240", "shot|{shots}\\1-recover.bmp", "box|ok|" + RECOVER_NEEDS_ADMIN,
           "neverform|120", "nobox|2"], as_user=True, elevation=step_runs, timeout=420)
    check(s.elevations == [(winpath(s.file("VantorixAssist.exe")), "-recover")], "elevations asked for: %s" % s.elevations)
    check(s.step_rcs == [0], "the step ended with %s" % s.step_rcs)
    s.expect_client(OLD)
    check(tree_without_work(s.inst) == before, "the installation is not the old one again")
    check(s.work_files() == [], "work files stayed: %s" % s.work_files())
    check("rolled back" in open(s.file("update\\install.log"), encoding="utf-8").read(), "install.log does not say so")
    check("this user may not settle it" in s.log, "launcher.log:\n" + s.log)


NOT_SIGNED_BY_PUBLISHER = "更新中的程序文件缺少发布者的数字签名"


def unsigned_program(s, name, version=NEW):
    """The probe client with a raised version and no signature."""
    path = os.path.join(s.dir, name)
    shutil.copy(PROBE, path)
    update_package.set_file_version(path, version)
    check(not update_package.has_signature(path), "the probe carries a signature")
    return path


def tampered_after_signing(s, name):
    path = os.path.join(s.dir, name)
    shutil.copy(PROBE, path)
    set_signed_version(path, NEW)
    data = bytearray(open(path, "rb").read())
    data[len(data) // 3] ^= 0x5A  # in the code, far from the headers and the signature
    open(path, "wb").write(bytes(data))
    return path


def signed_by_another_certificate(s, name):
    path = os.path.join(s.dir, name)
    shutil.copy(PROBE, path)
    update_package.set_file_version(path, NEW)
    update_package.sign_file(path, update_package.other_signer(s.dir, CODESIGN))
    return path


def a_standard_user_is_told_when_the_step_refuses_an_unsigned_client(s):
    # A release whose archive is rightly signed but whose client carries no Authenticode signature: the step
    # refuses it with 16 before anything is committed, the user sees the refused-archive message with its
    # reason, and the current client starts.
    s.as_standard_user()
    s.publish(zip_entries=dict(s.new_release_entries(), **{"bin/client.exe": unsigned_program(s, "unsigned.exe")}))
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|" + NOT_SIGNED_BY_PUBLISHER + "|120",
           "shot|{shots}\\1-refused.bmp", "box|ok|" + REJECTED, "gone|30"], as_user=True, elevation=step_runs)
    check(s.step_rcs == [16], "the elevated step ended with %s, not 16 (not signed by the publisher)" % s.step_rcs)
    s.expect_client(OLD)
    s.expect_nothing_installed("an unsigned client")
    log = open(s.file("update\\install.log"), encoding="utf-8").read()
    check("bin\\client.exe" in log and "no valid Authenticode signature" in log, "install.log does not say why:\n" + log)


def the_elevated_step_installs_only_programs_of_the_launchers_signer(s):
    # Run as the administrator would, with archives whose size, hash and archive signature are all right:
    # a program in them that is unsigned, changed after signing, or signed by another certificate under the
    # same name is refused with 16, nothing written; the same archive with the build's signature installs.
    check(CODESIGN is not None, "the build signs nothing: this scenario needs a signed build")
    manifest = os.path.join(s.dir, "manifest.json")
    program = winpath(s.file("VantorixAssist.exe"))
    cases = [
        ("an unsigned client", "bin/client.exe", unsigned_program, "no valid Authenticode signature"),
        ("a client changed after signing", "bin/client.exe", tampered_after_signing, "invalid Authenticode signature"),
        ("a client signed by another certificate", "bin/client.exe", signed_by_another_certificate, "not by the running"),
        ("an unsigned control library", "Build/Velview_G_201.ocx", unsigned_program, "no valid Authenticode signature"),
    ]
    def but_log_and_floor(root):
        # The step records each manifest it accepted (its serial is the installation's floor) before it judges
        # the programs: the state file and the log change, nothing else may.
        found = tree(root)
        for name in ("install.log", "install.state"):
            found.pop(os.path.join("update", name), None)
        return found

    before = but_log_and_floor(s.inst)
    for n, (what, member, make, why) in enumerate(cases):
        s.publish(zip_entries=dict(s.new_release_entries(), **{member: make(s, "case%d.exe" % n)}))
        shutil.copy(os.path.join(s.root, "updata.json"), manifest)
        archive = os.path.join(s.dir, "case%d.zip" % n)
        shutil.copy(os.path.join(s.root, "newtemp.zip"), archive)
        rc = wine([program, "-install-update", winpath(archive), winpath(manifest)], timeout=180).returncode
        check(rc == 16, "%s: the step ended with %s, not 16" % (what, rc))
        log = open(s.file("update\\install.log"), encoding="utf-8").read()
        named = member.replace("/", "\\")
        check(any(("refused %s: " % named) in line and why in line for line in log.splitlines()),
              "%s: install.log does not name the file and why:\n%s" % (what, log))
        check(but_log_and_floor(s.inst) == before, "%s: the refused step changed the installation" % what)
    # A delta that builds an unsigned client: refused the same way before its commit.
    release_with_delta(s, entries=dict(s.new_release_entries(), **{"bin/client.exe": unsigned_program(s, "delta.exe")}))
    shutil.copy(os.path.join(s.root, "updata.json"), manifest)
    rc = wine([program, "-install-update", winpath(os.path.join(s.root, DELTA[1:])), winpath(manifest), "-delta"],
              timeout=180).returncode
    check(rc == 16, "a delta with an unsigned client: the step ended with %s, not 16" % rc)
    check(but_log_and_floor(s.inst) == before, "the refused delta changed the installation")
    # The genuine release: signed by the build's certificate, it installs.
    s.publish()
    shutil.copy(os.path.join(s.root, "updata.json"), manifest)
    rc = wine([program, "-install-update", winpath(os.path.join(s.root, "newtemp.zip")), winpath(manifest)],
              timeout=180).returncode
    check(rc == 0, "the signed release: the step ended with %s" % rc)
    check(update_package.file_version(s.client) == NEW, "the signed release was not installed")


# ---- the elevated steps act only on the protected installation the setup registered --------------------
def users_folder(s, name):
    """A folder of the standard user's (a Unix account other than root's), as a folder under C:\\Users is."""
    folder = os.path.join(s.dir, name)
    os.makedirs(folder)
    for path in (s.dir, folder):
        os.chmod(path, 0o755)
    shutil.chown(folder, TEST_USER)
    return folder


RUN_IN_JOB = os.path.join(HELPERS, "run_in_job.exe")


def run_counting_processes(command, timeout=120):
    """Runs a Windows command in a job of its own: (exit code, how many processes the job held in all, the
    command's own included). What the command starts joins the job, however quickly it ends."""
    result = wine([winpath(RUN_IN_JOB)] + command, timeout=timeout)
    counted = re.search(r"processes=(\d+)", result.stdout.decode("utf-8", "replace"))
    check(counted is not None, "run_in_job counted nothing: %s" % result.stdout[-500:])
    return result.returncode, int(counted.group(1))


def give_to_user(folder):
    for root, dirs, files in os.walk(folder):
        for name in dirs + files + [""]:
            shutil.chown(os.path.join(root, name), TEST_USER)


def system_folder_snapshot():
    return {name: open(os.path.join(SYSTEM32, name), "rb").read() for name in ("Velview_G_201.ocx", "node.dll")
            if os.path.exists(os.path.join(SYSTEM32, name))}


def planted_traces():
    return [f for f in os.listdir(SYSTEM32) if f.startswith("planted-")]


def a_copied_launcher_in_a_users_folder_registers_nothing(s):
    # The shipped launcher copied into a folder the user owns, with the user's own DLL as its control library
    # and engine, run as the administrator's "-register": not an installation the setup registered, and once
    # registered there by a careless setup, not one only the administrators may change. Both times the step
    # ends with 15: nothing reaches the system folder, the planted DLL is never loaded, and the refusal is
    # written only into the log of the installation the setup did register.
    copy = users_folder(s, "copy")
    shutil.copy(s.file("VantorixAssist.exe"), copy)
    for name in ("Build\\Velview_G_201.ocx", "bin\\node.dll"):
        target = os.path.join(copy, *name.split("\\"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(PLANTED, target)
    give_to_user(copy)
    for trace in planted_traces():  # left by an earlier run that failed here
        os.remove(os.path.join(SYSTEM32, trace))
    before = system_folder_snapshot()
    for registered in (False, True):
        if registered:
            s.register(copy, entry=2)
        rc = wine([winpath(os.path.join(copy, "VantorixAssist.exe")), "-register"], timeout=120).returncode
        check(rc == STEP_REFUSED, "-register from the user's folder (registered: %s) ended with %s" % (registered, rc))
        check(system_folder_snapshot() == before, "the system folder was changed")
        check(planted_traces() == [], "the planted library was loaded: %s" % planted_traces())
        check(not os.path.exists(os.path.join(copy, "update")), "the step wrote into the user's folder")
    log = open(s.file("update\\install.log"), encoding="utf-8").read() if os.path.exists(s.file("update\\install.log")) else ""
    check("is not an installation the setup registered" in log and "is not protected" in log and "owner S-1-5-7" in log,
          "the installation's log does not say why:\n" + log)


def a_planted_journal_in_a_users_folder_starts_nothing(s):
    # A committed journal whose launcher waits in update\stage\ (a program of the user's: it records its
    # start beside itself), in a copy of the installation the user owns; the administrator's step with two
    # junk paths. Refused before the journal is read: nothing is started, moved or written there.
    copy = users_folder(s, "copy")
    shutil.copy(s.file("VantorixAssist.exe"), copy)
    stage = os.path.join(copy, "update", "stage")
    os.makedirs(stage)
    shutil.copy(PROBE, os.path.join(stage, "VantorixAssist.exe"))
    data = open(os.path.join(stage, "VantorixAssist.exe"), "rb").read()
    journal = "vantorix-install 2\nfile\t1\t%d\t%08x\tVantorixAssist.exe\ndeferred\tVantorixAssist.exe\nend\n" % (
        len(data), zlib.crc32(data))
    open(os.path.join(copy, "update", "install.journal"), "w").write(journal)
    open(os.path.join(copy, "update", "install.done"), "w").write("done\n")
    give_to_user(copy)
    planted = tree(copy)
    junk = [winpath(os.path.join(copy, "a.zip")), winpath(os.path.join(copy, "b.json"))]
    # The count's own check: a program that starts the probe, which ends at once.
    control = os.path.join(s.dir, "control")
    os.makedirs(control, exist_ok=True)
    shutil.copy(PROBE, control)
    _, processes = run_counting_processes(["cmd", "/c", winpath(os.path.join(control, "probe_client.exe"))])
    check(processes >= 2, "a started program was not counted (%d process(es))" % processes)
    for registered in (False, True):
        if registered:
            s.register(copy, entry=2)
        rc, processes = run_counting_processes([winpath(os.path.join(copy, "VantorixAssist.exe")), "-install-update"] + junk)
        check(rc == STEP_REFUSED, "the step over a planted journal (registered: %s) ended with %s" % (registered, rc))
        check(processes == 1 and not os.path.exists(os.path.join(stage, "started.txt")),
              "the step started %d other process(es)" % (processes - 1))
        check(tree(copy) == planted, "the user's folder changed: %s" % sorted(
            k for k in set(tree(copy)) | set(planted) if tree(copy).get(k) != planted.get(k)))


def publish_to_files(s, version, serial, client_version=None):
    """A release of that version signed with that serial, as the step's files: (archive, manifest) paths."""
    client = os.path.join(s.dir, "client-%s.exe" % version)
    shutil.copy(PROBE, client)
    set_signed_version(client, client_version or version)
    s.publish(version=version, zip_entries={"bin/client.exe": client}, serial=serial)
    archive, manifest = (os.path.join(s.dir, "%s-%d%s" % (version, serial, ext)) for ext in (".zip", ".json"))
    shutil.copy(os.path.join(s.root, "newtemp.zip"), archive)
    shutil.copy(os.path.join(s.root, "updata.json"), manifest)
    return archive, manifest


def step(s, archive, manifest):
    return wine([winpath(s.file("VantorixAssist.exe")), "-install-update", winpath(archive), winpath(manifest)],
                timeout=300).returncode


def the_steps_floor_is_the_installations_own_and_rises_to_what_it_accepts(s):
    # The step as an administrator with UAC on runs it: the same account as the user, whose per-user copy
    # says 42 (root's prefix stands for that account here). That copy is the user's hint, never the step's
    # input: a manifest of serial 10 is judged against the installation's 5, accepted, and the installation's
    # floor becomes 10. Then a signed older manifest (serial 6, version 0.9.0.6) is refused.
    if SIGNING_KEY is None:
        return
    open(s.file("update\\install.state"), "w").write("manifest_serial=5\n")
    local = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", getpass.getuser(), "AppData", "Local", "VantorixAssist")
    ids = [hashlib.sha256(p.upper().encode("utf-8")).hexdigest()[:16] for p in (winpath(s.inst), root_drive_path(s.inst))]
    for folder in ids:
        os.makedirs(os.path.join(local, folder), exist_ok=True)
        open(os.path.join(local, folder, "install.state"), "w").write("manifest_serial=42\n")
    try:
        archive, manifest = publish_to_files(s, NEW, 10)
        check(step(s, archive, manifest) == 0, "the serial-10 manifest was not installed over the installation's 5")
        check(update_package.file_version(s.client) == NEW, "the client was not installed")
        check(s.accepted_serial() == 10, "the installation's floor is %s, not 10" % s.accepted_serial())
        archive, manifest = publish_to_files(s, "0.9.0.6", 6)
        check(step(s, archive, manifest) == 2, "the older manifest was not refused")
        check(update_package.file_version(s.client) == NEW and s.accepted_serial() == 10, "the older release was installed")
        log = open(s.file("update\\install.log"), encoding="utf-8").read()
        check("serial 6 is lower than 10" in log, "the step's log does not say why:\n" + log)
    finally:
        for folder in ids:
            shutil.rmtree(os.path.join(local, folder), ignore_errors=True)


def an_installation_state_that_cannot_be_read_refuses_the_update(s):
    # Held open without sharing by another program, or not a state file: either would read as "no floor".
    archive, manifest = publish_to_files(s, NEW, 1)
    state = s.file("update\\install.state")
    for case, content in (("held", b"manifest_serial=1\n"), ("garbage", b"\x00\xff\x12 not a state\nmanifest_serial=x\n")):
        open(state, "wb").write(content)
        holder = None
        if case == "held":
            mark = os.path.join(s.dir, "held")
            holder = wine_popen([WINE, HOLD_FILE, winpath(state), winpath(mark), "120"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            s.wait_for(lambda: os.path.exists(mark), "the state file is not held", 60)
        try:
            rc = step(s, archive, manifest)
        finally:
            if holder:
                end_wine_process(holder)
        check(rc == 2, "%s state: the step ended with %s, not 2" % (case, rc))
        s.expect_nothing_installed("a step without its floor")
        check(open(state, "rb").read() == content, "%s state: the state file was changed" % case)
    log = open(s.file("update\\install.log"), encoding="utf-8").read()
    check(log.count("the installation's state cannot be read") == 2, "the step's log does not say why:\n" + log)
    os.remove(state)
    check(step(s, archive, manifest) == 0, "the same update was not installed once the state could be read")


def a_launcher_built_without_the_seam_asks_for_the_real_elevation(s):
    # As a release is built: VANTORIX_TEST_ELEVATION is set for the user's launcher, which asks for the step
    # with the shell's "runas" all the same (under Wine it runs as the user, in the user's own prefix, where
    # no installation is registered: the step refuses with 15, and the user sees that message once).
    shutil.copy(WITHOUT_SEAM, s.file("VantorixAssist.exe"))
    s.as_standard_user()
    s.publish()
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|" + INSTALLATION_REFUSED + "|180",
           "shot|{shots}\\1-refused.bmp", "box|ok|" + INSTALLATION_REFUSED, "nobox|2", "gone|30"],
          as_user=True, elevation=step_runs)
    check(s.elevations == [] and not os.listdir(s.seam), "the seam was used: %s, %s" % (s.elevations, os.listdir(s.seam)))
    check("elevation: started -install-update" in s.log, "the real elevation was not asked for:\n" + s.log)
    check("the elevated step ended (code 0x0000000F)" in s.log, "the step did not end with 15:\n" + s.log)
    s.expect_client(OLD)
    s.expect_nothing_installed("a refused step")


def a_standard_users_update_replaces_the_running_launcher_without_starting_it(s):
    # The release brings a new VantorixAssist.exe. The step starts no program: it moves the running launcher
    # (its own image and the user's launcher's) aside into update\rollback\ and the new one into its place;
    # nothing waits in update\stage\ for a program to be started.
    s.as_standard_user()
    new_launcher = os.path.join(s.dir, "launcher-new.exe")
    shutil.copy(s.file("VantorixAssist.exe"), new_launcher)
    set_signed_version(new_launcher, "9.0.0.7")
    entries = s.new_release_entries()
    entries["VantorixAssist.exe"] = new_launcher
    s.publish(zip_entries=entries)
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1", "click", "gone|30"],
          as_user=True, elevation=step_runs)
    check(s.step_rcs == [0], "the elevated step ended with %s" % s.step_rcs)
    check(update_package.file_version(s.file("VantorixAssist.exe")) == "9.0.0.7", "the launcher was not replaced")
    check(not os.path.exists(s.file("update\\stage\\VantorixAssist.exe")), "a launcher waits to be started")
    s.expect_client(NEW)
    check(set(s.started_by()) == {TEST_USER}, "a program was started as %s" % s.started_by())


# ---- a standard user: the maintenance service ------------------------------------------------------------
def service_starts(s, arguments):
    return None


def service_not_allowed(s, arguments):
    return "5"  # ERROR_ACCESS_DENIED: the service's rights do not let this user start it


def service_changed_archive(s, arguments):
    """The archive changed between the launcher's check and the service's copy (a byte, its size kept)."""
    archive = s.on_disk(arguments[2])
    data = bytearray(open(archive, "rb").read())
    data[len(data) // 2] ^= 0xFF
    open(archive, "wb").write(bytes(data))
    return None


def no_prompt(s, program, parameters):
    return "declined"


def expected_service_request(s, nonce):
    folder = s.user_folder() + "\\update\\"
    return (s.service, [nonce, "-install-update", folder + "newtemp.zip", folder + "newtemp.json"])


def a_standard_user_updates_through_the_service_without_a_prompt(s):
    # The setup's service serves the installation: the launcher hands it the same narrow request as the
    # elevated step's, with a nonce of its own, never asks for elevation, reads the result the service wrote
    # and starts the new client as the user.
    s.as_standard_user()
    s.install_service()
    s.publish()
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1|300", "shot|{shots}\\1-installed.bmp",
           "click", "gone|30"], as_user=True, elevation=no_prompt, service=service_starts, timeout=480)
    check(s.elevations == [], "elevations asked for: %s" % s.elevations)
    check(len(s.service_requests) == 1, "service requests: %s" % s.service_requests)
    nonce = s.service_requests[0][1][0]
    check(re.fullmatch(r"[0-9a-f]{32}", nonce) and s.service_requests[0] == expected_service_request(s, nonce),
          "the service request: %s" % (s.service_requests,))
    check(open(s.file("update\\results\\%s.result" % nonce), "rb").read() == b"exit=0\n", "no result for the request")
    s.expect_client(NEW)
    check(set(s.started_by()) == {TEST_USER}, "the client was started as %s" % s.started_by())
    check(update_package.file_version(s.client) == NEW and os.stat(s.client).st_uid == 0,
          "bin\\client.exe was not installed by the service")
    check("request accepted" in open(s.file("update\\install.log"), encoding="utf-8").read(), "the service logged nothing")
    check("the maintenance service answered" in s.log, "the launcher's log does not say so:\n" + s.log)


def a_refusal_of_the_service_is_final_no_prompt_follows(s):
    s.as_standard_user()
    s.install_service()
    s.publish()
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "waitbox|SHA-256 校验值与更新信息不符|300",
           "shot|{shots}\\1-refused.bmp", "box|ok|" + REJECTED, "gone|30"], as_user=True, elevation=no_prompt,
          service=service_changed_archive, timeout=480)
    check(len(s.service_requests) == 1 and s.elevations == [],
          "service requests %s, elevations %s" % (s.service_requests, s.elevations))
    nonce = s.service_requests[0][1][0]
    check(open(s.file("update\\results\\%s.result" % nonce), "rb").read() == b"exit=5\n", "the service's result")
    s.expect_client(OLD)
    s.expect_nothing_installed("a changed archive")


def a_service_the_user_may_not_start_leaves_the_prompt_as_before(s):
    s.as_standard_user()
    s.install_service()
    s.publish()
    s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1|300", "click", "gone|30"], as_user=True,
          elevation=step_runs, service=service_not_allowed, timeout=480)
    check(len(s.service_requests) == 1, "service requests: %s" % s.service_requests)
    check(s.elevations == [expected_elevation(s)] and s.step_rcs == [0], "elevations: %s" % s.elevations)
    s.expect_client(NEW)
    check(not os.path.exists(s.file("update\\results")), "the service ran")


# ---- updates that carry the engine and the control library ---------------------------------------------
ENGINE_VERSION, LIBRARY_VERSION = "9.9.0.1", "9.9.0.2"


def an_update_with_a_new_engine_runs_the_client_on_it(s):
    # The release carries the real client, a new engine and a new control library. After the install both
    # are in the system folder, where the library loads the engine from, the library is registered there,
    # and the client the launcher starts runs on the new engine.
    client = os.path.join(s.dir, "client.exe")
    shutil.copy(os.path.join(INSTALLATION, "bin", "client.exe"), client)
    set_signed_version(client, NEW)
    engine = os.path.join(s.dir, "node.dll")
    shutil.copy(os.path.join(INSTALLATION, "bin", "node.dll"), engine)
    set_signed_version(engine, ENGINE_VERSION)
    library = os.path.join(s.dir, "Velview_G_201.ocx")
    shutil.copy(os.path.join(INSTALLATION, "Build", "Velview_G_201.ocx"), library)
    set_signed_version(library, LIBRARY_VERSION)
    s.publish(zip_entries={"bin/client.exe": client, "bin/node.dll": engine, "Build/Velview_G_201.ocx": library})
    notes = os.path.join(s.dir, "engine-notes.txt")  # the engine the client starts notes its own version
    try:
        s.run(["box|ok|发现新版本！", "box|ok|" + DOWNLOADED + "|90", "form|立即启动|1", "click", "gone|30",
               "restore|30", "note|%s|#engine %s|90" % (winpath(notes), ENGINE_VERSION),
               "shot|{shots}\\1-client-on-the-new-engine.bmp", "end|" + winpath(s.client)],
              extra_env={"VANTORIX_STANDIN_LOG": winpath(notes)})
        check(update_package.file_version(os.path.join(SYSTEM32, "node.dll")) == ENGINE_VERSION,
              "the new engine is not in the system folder")
        check(update_package.file_version(CONTROL) == LIBRARY_VERSION, "the new control library is not in the system folder")
        check(control_classes_point_at_the_system_file(), "the control library is not registered in the system folder")
        check("engine and control library in the system folder" in s.log, "the log does not say so:\n" + s.log)
    finally:
        control_removed()
        control_present()


# ---- one launcher per installation ---------------------------------------------------------------------
def start_update_mode_launchers(s):
    """The page's "updateme" pressed three times while the update downloads: each start hands over to the
    running launcher and ends at once."""
    partial = s.file("update\\newtemp.zip.dl")
    end = time.time() + 60
    while not os.path.exists(partial) and time.time() < end:
        time.sleep(0.1)
    check(os.path.exists(partial), "the download did not start")
    for _ in range(3):
        rc = wine([winpath(s.file("VantorixAssist.exe")), "-update"], timeout=60).returncode
        check(rc == 0, "a later launcher ended with %s" % rc)
        check(os.path.exists(partial), "a later launcher did not end while the download ran")


def two_launchers_and_repeated_updateme_give_one_installation_and_one_form(s):
    entries = s.new_release_entries()
    entries["bin/data/filler.bin"] = os.urandom(2 * 1024 * 1024)
    s.publish(zip_path="/slow/newtemp.zip?chunk=32768&delay=0.2", zip_entries=entries)
    s.run(["box|ok|发现新版本！", "flow|downloading", "waitbox|" + DOWNLOADED + "|180", "box|ok|" + DOWNLOADED,
           "form|立即启动|1", "maxforms|1", "click", "gone|30", "nobox|5"], launchers=2,
          alongside=start_update_mode_launchers, timeout=300)
    s.expect_client(NEW)
    check(len([r for r in s.requests() if r["path"].endswith(".zip")]) == 1, "the archive was fetched more than once")
    check(len([r for r in s.requests() if r["path"] == "/updata.json"]) == 1, "a second launcher read the manifest")
    check(update_package.file_version(s.client) == NEW and
          os.path.getsize(s.file("bin\\data\\filler.bin")) == 2 * 1024 * 1024 and
          open(s.file("Skin\\UI.html"), "rb").read() == b"<html><body>new skin</body></html>", "the installation is mixed")


def a_library_planted_beside_the_launcher_is_not_loaded(s):
    # Under the names of the system libraries the launcher uses, preferred to the system's own as Windows
    # would prefer a file in the program's folder. (Wine's own libraries load version.dll and bcrypt.dll
    # while a process starts, before any code of the program runs; Windows' do not: those two are planted
    # but not preferred here.)
    for name in ("version.dll", "winhttp.dll", "bcrypt.dll", "comctl32.dll"):
        shutil.copy(PLANTED, s.file(name))
    s.publish(version=OLD)
    overrides = os.environ.get("WINEDLLOVERRIDES", "")
    os.environ["WINEDLLOVERRIDES"] = overrides + ";winhttp,comctl32=n,b"
    try:
        s.run(["neverform|60"])
    finally:
        os.environ["WINEDLLOVERRIDES"] = overrides
    s.expect_client(OLD)
    traces = [f for f in os.listdir(s.inst) if f.startswith("planted-")]
    check(traces == [], "planted libraries were loaded: %s" % traces)


# ---- delta updates ---------------------------------------------------------------------------------------
FULL, DELTA = "/%s.zip" % NEW, "/%s-%s.delta.zip" % (OLD, NEW)
FELL_BACK = "falling back to the full archive"


def release_with_delta(s, earlier_version=OLD, entries=None):
    """The next release made by the maker's tool from a folder: the new client, skin and a new file (or
    entries), with a delta from the installation as it is (its client carrying earlier_version). Returns the
    folder the full archive's result is compared with: the installation with the full archive unpacked over it."""
    if s.server is None:
        s.serve()
    folder = os.path.join(s.dir, "release")
    for name, source in (entries or s.new_release_entries()).items():
        target = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if isinstance(source, bytes):
            open(target, "wb").write(source)
        else:
            shutil.copy(source, target)
    earlier = os.path.join(s.dir, "earlier")
    shutil.copytree(s.inst, earlier)
    if earlier_version != OLD:
        set_signed_version(os.path.join(earlier, "bin", "client.exe"), earlier_version)
    s.serial += 1
    check(release.main(["--release", folder, "--out", s.root, "--base-url", s.url("/"), "--earlier", earlier,
                        "--serial", str(s.serial), "--applier", RELEASE_APPLY, "--force-mod", "1"] +
                       (["--signing-key", SIGNING_KEY] if SIGNING_KEY else ["--unsigned"])) == 0,
          "the release tool refused the release")
    check(os.path.exists(os.path.join(s.root, FULL[1:])), "the release tool wrote no full archive")
    expected = os.path.join(s.dir, "expected")
    shutil.copytree(s.inst, expected)
    check(subprocess.run([RELEASE_APPLY, "unpack", expected, os.path.join(s.root, FULL[1:])],
                         stdout=subprocess.DEVNULL).returncode == 0, "the full archive does not unpack")
    return expected


def republish_delta(s, change):
    """The delta rebuilt with change(index text, members) applied, and the manifest signed again over it: a
    package whose own hash and signature are right, whose content is not."""
    path = os.path.join(s.root, DELTA[1:])
    with zipfile.ZipFile(path) as z:
        members = {name: z.read(name) for name in z.namelist()}
    index = change(members["delta.txt"].decode("utf-8"), members)
    members["delta.txt"] = index.encode("utf-8")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for name, data in members.items():
            z.writestr(name, data)
    s.serial += 1
    text = release.manifest_text(NEW, s.url("/"), os.path.join(s.root, FULL[1:]), [(OLD, path)], SIGNING_KEY,
                                 force_mod="1", serial=s.serial)
    open(os.path.join(s.root, "updata.json"), "w", encoding="utf-8").write(text)


def wrong_result_hash(index, members):
    """The client's record announces a result no patch makes."""
    lines = index.split("\n")
    for n, line in enumerate(lines):
        fields = line.split("\t")
        if fields[0] in ("patch", "whole") and fields[3] == "bin/client.exe":
            fields[2] = "0" * 64
            lines[n] = "\t".join(fields)
    return "\n".join(lines)


def damaged_frame(index, members):
    name = next(n for n in members if n.startswith("data/"))
    members[name] = members[name][: len(members[name]) // 2]
    return index


def tree_without_work(root):
    found = tree(root)
    return {k: v for k, v in found.items()
            if not k.startswith("update") and k not in (os.path.join("bin", "started.txt"), os.path.join("Build", "installock.txt"))}


def delta_steps(fell_back=False):
    """The user's steps of a mandatory update: one "downloaded" message whichever package brought it. After
    a fall-back the button went from "升级完毕" back to "升级中" for the full archive."""
    return (["box|ok|发现新版本！" + NEW + "|120", "waitbox|" + DOWNLOADED + "|120", "box|ok|" + DOWNLOADED, "form|立即启动|1",
             "msg|更新完成！", "order|" + (FLOW_AFTER_FALL_BACK if fell_back else FLOW), "click", "gone|30"])


def package_requests(s):
    return [r["path"] for r in s.requests() if r["path"] in (FULL, DELTA)]


def a_delta_brings_the_installation_to_the_full_archives_result_or_the_full_archive_comes_once(s, case):
    what, prepare, change, expected_requests = case
    expected = release_with_delta(s, OLD if what != "a delta for another version" else "1.0.0.0")
    if change:
        republish_delta(s, change)
    if prepare:
        prepare(s)
    s.run(delta_steps(fell_back=expected_requests == [DELTA, FULL]))
    s.expect_client(NEW)
    check(package_requests(s) == expected_requests, "%s: packages requested %s, expected %s" %
          (what, package_requests(s), expected_requests))
    check(tree_without_work(s.inst) == tree_without_work(expected), "%s: the tree differs from the full archive's: %s" % (
        what, sorted(k for k in set(tree_without_work(s.inst)) | set(tree_without_work(expected))
                     if tree_without_work(s.inst).get(k) != tree_without_work(expected).get(k))))
    check((FELL_BACK in s.log) == (expected_requests == [DELTA, FULL]), "%s: the log says:\n%s" % (what, s.log))
    check(not [f for f in os.listdir(s.file("update")) if "newtemp" in f], "packages left: %s" % os.listdir(s.file("update")))


def modify_installed_client(s):
    """The client the delta patches changed on disk, its version kept (bytes after its image)."""
    with open(s.client, "ab") as f:
        f.write(b"changed on this machine")


DELTA_CASES = [
    ("the delta for the installed version", None, None, [DELTA]),
    ("a modified installed file", modify_installed_client, None, [DELTA, FULL]),
    ("a delta for another version", None, None, [FULL]),
    ("a damaged delta", None, damaged_frame, [DELTA, FULL]),
    ("a patch whose result has the wrong hash", None, wrong_result_hash, [DELTA, FULL]),
]


def delta_scenario(case):
    def scenario(s):
        a_delta_brings_the_installation_to_the_full_archives_result_or_the_full_archive_comes_once(s, case)
    scenario.__name__ = "delta_" + re.sub(r"\W+", "_", case[0])
    return scenario


def a_delta_killed_mid_commit_is_rolled_back_at_the_next_start(s):
    # The real applier ends its own process after three file moves of the commit; the next start puts the old
    # tree back, as after a cut full install.
    release_with_delta(s)
    shutil.copy(os.path.join(s.root, FULL[1:]), os.path.join(s.root, "newtemp.zip"))
    s.write_manifest(version=OLD)
    before = tree_without_work(s.inst)
    rc = wine([KILL_TOOL, winpath(s.inst), winpath(os.path.join(s.root, DELTA[1:])), "m3"]).returncode
    check(rc == 3, "the delta's commit was not cut (exit %s)" % rc)
    check(os.path.exists(s.file("update\\install.journal")), "no journal left by the cut commit")
    check(tree_without_work(s.inst) != before, "the cut came before any file was moved")
    s.run(["neverform|60"])
    s.expect_client(OLD)
    check(tree_without_work(s.inst) == before, "the installation differs from before the delta")


def a_leftover_delta_package_of_the_installed_version_goes_at_the_next_start(s):
    # A run that ended between its install and its clean-up left the delta package that made the installed
    # client, in the installation's update folder and in the user's: the next start removes both, with
    # the package's side files.
    release_with_delta(s)
    update_package.set_file_version(s.client, NEW)
    own = s.file("update\\newtemp.delta.zip")
    per_user = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", getpass.getuser(), "AppData", "Local",
                            "VantorixAssist", s.installation_id(), "update", "newtemp.delta.zip")
    os.makedirs(os.path.dirname(per_user), exist_ok=True)
    for path in (own, per_user):
        shutil.copy(os.path.join(s.root, DELTA[1:]), path)
        open(path + ".dl.cfg", "w").write(s.url(DELTA))
    try:
        s.run(["neverform|60"])
        s.expect_client(NEW)
        left = [p for p in (own, own + ".dl.cfg", per_user, per_user + ".dl.cfg") if os.path.exists(p)]
        check(left == [], "left: %s" % left)
        check("a delta package of the installed version was left: removed" in s.log, "launcher.log:\n" + s.log)
    finally:
        shutil.rmtree(os.path.dirname(os.path.dirname(per_user)), ignore_errors=True)


def standard_user_delta(s, change, package):
    """The standard user's launcher with a delta published (changed by change): one elevation, for package."""
    s.as_standard_user()
    expected = release_with_delta(s)
    if change:
        republish_delta(s, change)
    for folder, _, _ in os.walk(s.dir):
        os.chmod(folder, 0o755)
    s.run(delta_steps(fell_back=bool(change)), as_user=True, elevation=step_runs, timeout=300)
    folder = s.user_folder() + "\\update\\"
    name, flag = ("newtemp.delta.zip", " -delta") if package == DELTA else ("newtemp.zip", "")
    asked = (winpath(s.file("VantorixAssist.exe")), "-install-update %s %s%s" % (
        quote_argument(folder + name), quote_argument(folder + "newtemp.json"), flag))
    check(s.elevations == [asked], "elevations asked for: %s, expected %s" % (s.elevations, [asked]))
    check(s.step_rcs == [0], "the elevated step ended with %s" % s.step_rcs)
    s.expect_client(NEW)
    check(package_requests(s) == ([DELTA] if package == DELTA else [DELTA, FULL]), "packages: %s" % package_requests(s))
    check(tree_without_work(s.inst) == tree_without_work(expected), "the tree differs from the full archive's")


def a_standard_user_takes_the_delta_through_the_elevated_step(s):
    standard_user_delta(s, None, DELTA)


def a_standard_users_delta_that_cannot_apply_costs_no_second_prompt(s):
    # The user's launcher builds the delta once itself before it asks: the one prompt is for the full archive.
    standard_user_delta(s, wrong_result_hash, FULL)

GROUPS = {
    "start": [same_version_starts_the_client_without_the_form, first_start_writes_the_marker_then_starts_the_client,
              marker_without_build_folder_creates_the_folder, missing_client_asks_and_no_ends],
    "registration": [registration_no_ends_at_once, registration_yes_runs_the_script_and_goes_on,
                     a_library_file_without_its_classes_is_registered_again],
    "optional": [optional_release_starts_the_client_at_once, optional_release_is_offered_in_update_mode],
    "mandatory": [mandatory_release_updates_and_starts_the_new_client, mandatory_release_over_https,
                  mandatory_release_through_the_automatic_proxy, mandatory_release_through_the_manual_proxy],
    "update_mode": [update_mode_without_new_version, unreadable_manifest_in_update_mode_offers_nothing],
    "faults": [no_content_length_unpacks_only_the_complete_archive,
               damaged_archive_leaves_the_installation_and_starts_the_old_client,
               tampered_archive_is_refused_by_its_published_hash, more_bytes_than_published_are_refused_while_downloading,
               unsigned_and_badly_signed_archives_are_refused,
               stale_archive_does_not_divert_the_download, unreadable_manifests_start_the_client,
               installed_release_with_another_version_starts_without_a_second_download,
               install_killed_mid_commit_is_rolled_back_at_the_next_start,
               update_replaces_the_running_launcher_and_the_new_one_runs_the_next_update,
               a_kill_right_after_the_launcher_was_replaced_is_rolled_back_by_the_new_one,
               a_launcher_killed_after_committing_a_new_launcher_is_replaced_after_the_next_start,
               links_in_the_work_folders_touch_nothing_outside],
    "close_guard": [closing_during_the_download_asks_first],
    "retries": [server_errors_are_retried_then_the_update_installs, a_cut_connection_resumes_where_it_stopped,
                a_server_that_stays_down_offers_the_update_again_and_closing_starts_the_client],
    "trust": [refused_manifests_start_the_client_and_the_log_says_why,
              a_roll_back_is_the_older_version_republished_with_a_higher_serial,
              the_next_key_takes_over_and_a_release_without_the_old_key_refuses_it],
    "standard_user": [a_standard_user_updates_through_the_elevated_step,
                      a_declined_elevation_starts_the_current_client_and_the_update_comes_again,
                      the_elevated_step_refuses_an_archive_changed_after_the_launchers_check,
                      the_elevated_step_takes_only_its_narrow_input,
                      a_file_repaired_after_an_install_is_never_rolled_back,
                      a_cut_install_the_user_cannot_settle_asks_for_the_step_once,
                      a_standard_user_is_told_when_the_step_refuses_an_unsigned_client,
                      the_elevated_step_installs_only_programs_of_the_launchers_signer],
    "service": [a_standard_user_updates_through_the_service_without_a_prompt,
                a_refusal_of_the_service_is_final_no_prompt_follows,
                a_service_the_user_may_not_start_leaves_the_prompt_as_before],
    "components": [an_update_with_a_new_engine_runs_the_client_on_it],
    "boundary": [a_copied_launcher_in_a_users_folder_registers_nothing, a_planted_journal_in_a_users_folder_starts_nothing,
                 the_steps_floor_is_the_installations_own_and_rises_to_what_it_accepts,
                 an_installation_state_that_cannot_be_read_refuses_the_update,
                 a_launcher_built_without_the_seam_asks_for_the_real_elevation,
                 a_standard_users_update_replaces_the_running_launcher_without_starting_it],
    "delta": [delta_scenario(case) for case in DELTA_CASES] + [a_delta_killed_mid_commit_is_rolled_back_at_the_next_start,
                                                              a_leftover_delta_package_of_the_installed_version_goes_at_the_next_start,
                                                              a_standard_user_takes_the_delta_through_the_elevated_step,
                                                              a_standard_users_delta_that_cannot_apply_costs_no_second_prompt],
    "load": [a_phased_release_reaches_only_the_draws_within_its_share, retry_after_honoured("4", 4.0),
             retry_after_honoured("date+6", 5.0), two_launchers_wait_different_times_before_their_retries],
    "one_launcher": [two_launchers_and_repeated_updateme_give_one_installation_and_one_form,
                     a_library_planted_beside_the_launcher_is_not_loaded],
}
# Groups whose scenarios need the standard user's Wine.
USER_GROUPS = {"standard_user", "delta", "boundary", "service"}


def slow_service_starts():
    """The prefix's services start again with 3 minutes for a service's process to connect (once: the value
    stays; wine_env.SLOW_SERVICE_STARTS)."""
    key = "HKLM\\System\\CurrentControlSet\\Control"
    if "0x2bf20" in wine(["reg", "query", key, "/v", "ServicesPipeTimeout"]).stdout.decode("utf-8", "replace"):
        return
    check(wine(wine_env.SLOW_SERVICE_STARTS).returncode == 0, "ServicesPipeTimeout was not set")
    # This prefix's server alone ends (the X server stays), and comes up again with its services.
    subprocess.run([wine_env.WINESERVER, "-k"], timeout=60)
    subprocess.run([wine_env.WINESERVER, "-w"], timeout=120)
    check(subprocess.run(["bash", os.path.join(SOURCE, "tools", "wine-test.sh"), "--up"], timeout=wine_env.limit(600)).returncode == 0,
          "the prefix did not come up again")


def main():
    signal.signal(signal.SIGTERM, end_started_groups)
    signal.signal(signal.SIGINT, end_started_groups)
    group = sys.argv[1] if len(sys.argv) > 1 else ""
    if group not in GROUPS:
        print("usage: launcher_e2e.py {%s}" % ",".join(GROUPS))
        return 2
    control_present()
    if group == "service":
        slow_service_starts()
    if group in USER_GROUPS:
        check(subprocess.run(["bash", os.path.join(SOURCE, "tools", "wine-test.sh"), "--user-up"], timeout=wine_env.limit(600)).returncode == 0,
              "the standard user's Wine did not come up")
        user_control_present()
    protected_drive()
    failed = 0
    only = sys.argv[2:]  # optional scenario names, to run a few by hand
    for scenario in GROUPS[group]:
        if only and scenario.__name__ not in only:
            continue
        started = time.time()
        s = Scenario(scenario.__name__)
        try:
            scenario(s)
            print("PASS %s (%.1f s)" % (scenario.__name__, time.time() - started))
        except (Failure, subprocess.TimeoutExpired, OSError) as e:
            failed += 1
            print("FAIL %s (%.1f s): %s" % (scenario.__name__, time.time() - started, e))
        finally:
            s.close()
        sys.stdout.flush()
    # Leave the prefix as a user's machine would be, whatever a scenario did to the registration.
    control_present()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
