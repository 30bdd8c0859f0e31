#!/usr/bin/env python3
"""Tests of the release tool: what it publishes is what the launcher's own code makes of an earlier
release, and whatever it cannot check it does not publish. VANTORIX_RELEASE_APPLY names release_apply."""
import base64
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import release  # noqa: E402
import update_package  # noqa: E402

ROOT = release.ROOT

APPLIER = os.environ.get("VANTORIX_RELEASE_APPLY", release.DEFAULT_APPLIER)


def client_bytes(version, body=b""):
    """A client stand-in: bytes with a fixed version block where the PE reader looks for one."""
    a, b, c, d = (int(p) for p in version.split("."))
    fixed = struct.pack("<IIIIII", 0xFEEF04BD, 0x00010000, a << 16 | b, c << 16 | d, a << 16 | b, c << 16 | d)
    return b"MZ" + bytes(range(256)) * 300 + fixed + body + bytes(range(255, -1, -1)) * 300


def write_release(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return folder


def read(path):
    with open(path, "rb") as f:
        return f.read()


def manifest_members(out):
    with open(os.path.join(out, "updata.json"), encoding="utf-8") as f:
        return json.load(f)["Version_date"]


def tree_bytes(folder):
    return {name: read(path) for name, path in release.release_tree(folder).items()}


def der_signature(raw):
    def integer(v):
        v = v.lstrip(b"\0")
        v = b"\0" + v if v[0] & 0x80 else v
        return b"\x02" + bytes([len(v)]) + v
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


class ReleaseTool(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vx-release-test-")
        self.key = os.path.join(self.work, "signing.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", self.key],
                       check=True, stderr=subprocess.DEVNULL)
        engine = os.urandom(120000)
        self.v1 = {"bin/client.exe": client_bytes("1.0.0.1"), "bin/node.dll": engine, "Skin/UI.html": b"<p>1</p>",
                   "Build/\u6ce8\u518c\u63a7\u4ef6.bat": b"regsvr32 /s Velview_G_201.ocx\r\n", "old-only.txt": b"gone later"}
        self.v2 = dict(self.v1, **{"bin/client.exe": client_bytes("1.0.0.2", b"fix"), "Skin/UI.html": b"<p>2</p>"})
        del self.v2["old-only.txt"]
        self.v3 = dict(self.v2, **{"bin/client.exe": client_bytes("1.0.0.3", b"fix, faster"),
                                   "Skin/img/logo.png": os.urandom(4000)})

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def folder(self, name, files):
        return write_release(os.path.join(self.work, name), files)

    def publish(self, new, out, *extra):
        argv = ["--release", new, "--out", out, "--base-url", "https://updates.example/v/", "--applier", APPLIER]
        return release.main(argv + list(extra))

    def test_publishes_a_signed_full_archive_and_deltas_the_launchers_code_applies(self):
        v1, v2, v3 = self.folder("v1", self.v1), self.folder("v2", self.v2), self.folder("v3", self.v3)
        # The earlier release 1.0.0.2 as the maker kept it: its full archive.
        self.assertEqual(self.publish(v2, os.path.join(self.work, "out2"), "--signing-key", self.key), 0)
        v2_archive = os.path.join(self.work, "out2", "1.0.0.2.zip")
        out = os.path.join(self.work, "out3")
        self.assertEqual(self.publish(v3, out, "--signing-key", self.key, "--earlier", v1, "--earlier", v2_archive,
                                      "--rollout-share", "20", "--rollout-start", "2026-05-01T08:00:00Z",
                                      "--rollout-hours", "48"), 0)
        self.assertEqual(sorted(os.listdir(out)),
                         ["1.0.0.1-1.0.0.3.delta.zip", "1.0.0.2-1.0.0.3.delta.zip", "1.0.0.3.zip", "updata.json"])
        members = manifest_members(out)
        self.assertEqual((members["version"], members["url"]), ("1.0.0.3", "https://updates.example/v/1.0.0.3.zip"))
        self.assertEqual((members["rollout_share"], members["rollout_start"], members["rollout_hours"]),
                         ("20", "2026-05-01T08:00:00Z", "48"))
        full = os.path.join(out, "1.0.0.3.zip")
        listed = [(members["size"], members["sha256"], members["signature"], full)]
        self.assertEqual([d["from"] for d in members["deltas"]], ["1.0.0.1", "1.0.0.2"])
        for d in members["deltas"]:
            package = os.path.join(out, os.path.basename(d["url"]))
            listed.append((d["size"], d["sha256"], d["signature"], package))
            # Only the changed files travel: far less than the full archive.
            self.assertLess(os.path.getsize(package), os.path.getsize(full) / 10)
        public = os.path.join(self.work, "public.pem")
        subprocess.run(["openssl", "ec", "-in", self.key, "-pubout", "-out", public], check=True, stderr=subprocess.DEVNULL)
        for size, sha, signature, path in listed:
            data = read(path)
            self.assertEqual((int(size), sha), (len(data), hashlib.sha256(data).hexdigest()), path)
            sig = os.path.join(self.work, "sig.der")
            with open(sig, "wb") as f:
                f.write(der_signature(base64.b64decode(signature)))
            verified = subprocess.run(["openssl", "pkeyutl", "-verify", "-pubin", "-inkey", public, "-sigfile", sig],
                                      input=hashlib.sha256(data).digest(), stdout=subprocess.PIPE)
            self.assertEqual(verified.returncode, 0, "signature of %s" % path)
        # Each delta applied by the launcher's code to its earlier release makes the new release; what only
        # the earlier release had stays, as the full archive leaves it.
        for earlier, files in (("1.0.0.1", self.v1), ("1.0.0.2", self.v2)):
            installed = self.folder("installed-" + earlier, files)
            release.Applier(APPLIER).apply(installed, os.path.join(out, "%s-1.0.0.3.delta.zip" % earlier))
            self.assertEqual(tree_bytes(installed), dict(files, **self.v3))

    def test_what_cannot_be_checked_or_is_not_asked_for_is_not_published(self):
        def unversioned(r):
            r["bin/client.exe"] = b"MZ no version"

        def device_name(r):
            r["Skin/CON.txt"] = b"a name Windows keeps for a device"

        def other_skin(make_delta):
            # A delta that applies cleanly but makes another skin page than the release's.
            def make(old, new, from_version, to_version, path, scratch):
                other = os.path.join(scratch, "other.html")
                with open(other, "wb") as f:
                    f.write(b"<p>not the release</p>")
                return make_delta(old, dict(new, **{"Skin/UI.html": other}), from_version, to_version, path, scratch)
            return make

        signed = ["--signing-key", self.key]
        cases = [  # what, change to the release, arguments, make_delta wrapper
            ("a client without a version", unversioned, signed, None),
            ("a name the launcher refuses", device_name, signed, None),
            ("an earlier release of the same version", None, signed + ["--earlier", "NEW"], None),
            ("no signing key named", None, ["--earlier", "V1"], None),
            ("a rollout start that is not a UTC time", None, signed + ["--rollout-share", "5", "--rollout-start", "May 1"], None),
            ("a delta that does not make the release", None, signed + ["--earlier", "V1"], other_skin),
        ]
        real_make_delta = release.make_delta
        for n, (what, change, args, wrapper) in enumerate(cases):
            with self.subTest(what):
                files = dict(self.v2)
                if change:
                    change(files)
                new, v1 = self.folder("new%d" % n, files), self.folder("v1-%d" % n, self.v1)
                out = os.path.join(self.work, "out%d" % n)
                release.make_delta = wrapper(real_make_delta) if wrapper else real_make_delta
                try:
                    self.assertEqual(self.publish(new, out, *[{"NEW": new, "V1": v1}.get(a, a) for a in args]), 1)
                finally:
                    release.make_delta = real_make_delta
                self.assertEqual(os.listdir(out) if os.path.isdir(out) else [], [])

    def test_scratch_space_lies_outside_the_published_folder_and_goes(self):
        v1, v2 = self.folder("v1", self.v1), self.folder("v2", self.v2)
        out = os.path.join(self.work, "site", "out")
        seen = []
        check = release.check_packages

        def watching(new, full, checks, applier, scratch):
            seen.append((sorted(os.listdir(out)), scratch))
            return check(new, full, checks, applier, scratch)
        release.check_packages = watching
        try:
            self.assertEqual(self.publish(v2, out, "--signing-key", self.key, "--earlier", v1), 0)
        finally:
            release.check_packages = check
        (listed, scratch), = seen
        self.assertEqual(listed, [], "the published folder held scratch files while the packages were checked")
        self.assertFalse(os.path.realpath(scratch).startswith(os.path.realpath(out) + os.sep), scratch)
        self.assertFalse(os.path.exists(scratch), "the scratch folder was left behind")
        self.assertEqual(sorted(os.listdir(os.path.dirname(out))), ["out"])
        self.assertEqual(sorted(os.listdir(out)), ["1.0.0.1-1.0.0.2.delta.zip", "1.0.0.2.zip", "updata.json"])

    def test_a_release_is_mandatory_only_when_the_maker_says_so(self):
        v2 = self.folder("v2", self.v2)
        for extra, expected in (((), "0"), (("--force-mod", "0"), "0"), (("--force-mod", "1"), "1")):
            out = os.path.join(self.work, "out-" + expected + str(len(extra)))
            self.assertEqual(self.publish(v2, out, "--signing-key", self.key, *extra), 0)
            self.assertEqual(manifest_members(out)["force_mod"], expected, extra)
        with self.assertRaises(SystemExit):
            self.publish(v2, os.path.join(self.work, "out-bad"), "--signing-key", self.key, "--force-mod", "yes")
        self.assertFalse(os.path.exists(os.path.join(self.work, "out-bad")))

    def test_the_clients_version_changes_only_when_asked(self):
        new = self.folder("v2", self.v2)
        original = self.v2["bin/client.exe"]
        for asked, expected in ((None, "1.0.0.2"), ("1.0.0.9", "1.0.0.9")):
            with self.subTest(asked=asked):
                out = os.path.join(self.work, "out-%s" % asked)
                self.assertEqual(self.publish(new, out, "--unsigned", *(["--set-client-version", asked] if asked else [])), 0)
                manifest = manifest_members(out)
                self.assertEqual(manifest["version"], expected)
                with zipfile.ZipFile(os.path.join(out, expected + ".zip")) as z:
                    published = z.read("bin/client.exe")
                self.assertEqual(published == original, asked is None)
                self.assertEqual(read(os.path.join(new, "bin", "client.exe")), original)

    def test_a_signed_client_whose_version_is_raised_is_signed_again_or_not_published(self):
        # A real signed client of the cross build: the tool must not publish it with a broken signature.
        built = os.path.join(ROOT, "build", "win", "installation", "bin", "client.exe")
        self.assertTrue(update_package.has_signature(built), "the cross build's client is not signed: %s" % built)
        new = self.folder("signed", dict(self.v2, **{"bin/client.exe": read(built)}))
        out = os.path.join(self.work, "out-unsigned")
        self.assertEqual(self.publish(new, out, "--unsigned", "--set-client-version", "1.0.0.9"), 1)
        self.assertEqual(os.listdir(out) if os.path.isdir(out) else [], [])
        cert, key = os.path.join(self.work, "maker.pem"), os.path.join(self.work, "maker.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-keyout", key,
                        "-out", cert, "-subj", "/O=Vantorix/CN=Vantorix", "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        out = os.path.join(self.work, "out-signed")
        self.assertEqual(self.publish(new, out, "--unsigned", "--set-client-version", "1.0.0.9",
                                      "--codesign-cert", cert, "--codesign-key", key), 0)
        published = os.path.join(self.work, "published-client.exe")
        with zipfile.ZipFile(os.path.join(out, "1.0.0.9.zip")) as z, open(published, "wb") as f:
            f.write(z.read("bin/client.exe"))
        self.assertEqual(update_package.file_version(published), "1.0.0.9")
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", published],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(verified.returncode, 0, verified.stdout.decode("utf-8", "replace"))
        self.assertEqual(read(os.path.join(new, "bin", "client.exe")), read(built))


if __name__ == "__main__":
    unittest.main()
