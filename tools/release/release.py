#!/usr/bin/env python3
"""The maker's release tool: turns a release folder into what the update server hands out, checks it with
the launcher's own code, and signs it.

    release.py --release DIR --out OUT --base-url URL (--signing-key PEM | --unsigned)
               [--earlier DIR_OR_FULL_ARCHIVE ...]
               [--set-client-version A.B.C.D [--codesign-cert PEM --codesign-key PEM]]
               [--force-mod 0|1] [--title TEXT] [--notes TEXT]
               [--rollout-share PERCENT [--rollout-start YYYY-MM-DDTHH:MM:SSZ] [--rollout-hours H]]
               [--applier PATH]

DIR is the release as it is installed (VantorixAssist.exe, bin\\client.exe, bin\\node.dll, Skin\\UI.html,
Build\\...); its "update" folder and the first-start marker Build\\installock.txt are never published. The
release's version is the file version of its bin\\client.exe: the launcher compares exactly that with the
manifest. --set-client-version writes another version into the published copy of the client (never into
DIR); without it the client is published as it is. A changed client no longer matches its Authenticode
signature, and the elevated install step installs only programs signed by the launcher's own signer: a
client that was signed is signed again with the code-signing certificate and key given (--codesign-cert,
--codesign-key), and without them the tool refuses to publish it.

OUT receives
    <version>.zip                 the full archive: every file of the release; any installation can take it
    <from>-<version>.delta.zip    one delta package per --earlier release (see common/delta/delta_index.h)
    updata.json                   the manifest, written last
Every package is checked before anything is written to OUT: the full archive is unpacked over an empty
folder and over a copy of every earlier release, each delta is applied to a copy of its earlier release,
both by release_apply (the launcher's extractor and delta applier, built natively by tools/build.sh), and
the trees must come out byte for byte as the release says. Any difference: nothing is published, exit 1.

An earlier release is its folder or its full archive (unpacked by release_apply into a scratch folder).
The scratch folder lies beside OUT (".release-<OUT's name>-..."), never in it: the server never shows it,
and the finished packages move into OUT by a rename on the same file system.

A release is mandatory (the manifest's force_mod "1": the launcher updates before it starts the client)
only when the maker says so with --force-mod 1; by default it is optional (force_mod "0").
"""
import argparse
import datetime
import filecmp
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "update-server"))
import update_package  # noqa: E402

CLIENT = "bin/client.exe"
# The installation's own files, never part of a release.
WORK_FOLDER = "update/"
NOT_PUBLISHED = {"build/installock.txt"}
DEFAULT_APPLIER = os.path.join(ROOT, "build", "native", "tools", "release", "native", "release_apply")
INDEX_MEMBER, DATA_PREFIX = "delta.txt", "data/"


class ReleaseError(Exception):
    pass


def release_tree(folder):
    """{relative name with "/": absolute path} of every file of a release folder, sorted."""
    if not os.path.isdir(folder):
        raise ReleaseError("%s is not a folder" % folder)
    tree = {}
    for top, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            rel = os.path.relpath(path, folder).replace(os.sep, "/")
            if rel.lower().startswith(WORK_FOLDER) or rel.lower() in NOT_PUBLISHED:
                continue
            if os.path.islink(path) or not os.path.isfile(path):
                raise ReleaseError("%s is not a plain file" % rel)
            if "\\" in rel:
                raise ReleaseError("%r: a name holding \"\\\" would be a folder on Windows" % rel)
            tree[rel] = path
    return dict(sorted(tree.items()))


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return os.path.getsize(path), h.hexdigest()


class Applier:
    """release_apply: the launcher's extractor and delta applier, natively built."""

    def __init__(self, path):
        if not os.access(path, os.X_OK):
            raise ReleaseError("no release_apply at %s: build it with tools/build.sh (or name it with --applier)" % path)
        self.path = path

    def run(self, command, folder, package):
        r = subprocess.run([self.path, command, folder, package], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if r.returncode != 0:
            raise ReleaseError("%s of %s over %s refused: %s" % (command, os.path.basename(package), folder,
                                                                   r.stderr.decode(errors="replace").strip()))
        return dict(field.split("=", 1) for field in r.stdout.decode().split())

    def unpack(self, folder, archive):
        return self.run("unpack", folder, archive)

    def apply(self, folder, package):
        return self.run("delta", folder, package)


def earlier_tree(path, scratch, applier):
    """The tree of an earlier release given as its folder or its full archive."""
    if os.path.isdir(path):
        return release_tree(path)
    if not zipfile.is_zipfile(path):
        raise ReleaseError("%s is neither a release folder nor a full archive" % path)
    folder = tempfile.mkdtemp(prefix="earlier-", dir=scratch)
    applier.unpack(folder, path)
    return release_tree(folder)


def client_version(tree, what):
    if CLIENT not in tree:
        raise ReleaseError("%s has no %s" % (what, CLIENT))
    version = update_package.file_version(tree[CLIENT])
    if not version:
        raise ReleaseError("%s: %s carries no file version" % (what, CLIENT))
    return version


def zstd(arguments, output):
    """One zstd frame of the highest ordinary level, its content size and checksum included."""
    r = subprocess.run(["zstd", "-q", "-f", "-19", "--single-thread", "--no-progress"] + arguments + ["-o", output],
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    # Its advice on tuning goes to stderr even when quiet: shown only when it failed.
    if r.returncode != 0:
        raise ReleaseError("zstd %s: %s" % (" ".join(arguments), r.stderr.decode(errors="replace").strip()))
    return os.path.getsize(output)


def make_delta(old, new, from_version, to_version, path, scratch):
    """Writes the delta package from tree old to tree new; returns its index records."""
    records, members = [], []
    for n, (name, source) in enumerate(new.items()):
        size, sha = digest(source)
        if name in old and filecmp.cmp(old[name], source, shallow=False):
            records.append("keep\t%d\t%s\t%s" % (size, sha, name))
            continue
        whole = os.path.join(scratch, "%d.whole" % n)
        best, record = zstd([source], whole), "whole\t%d\t%s\t%s" % (size, sha, name)
        if name in old:
            patch = os.path.join(scratch, "%d.patch" % n)
            if zstd(["--patch-from=" + old[name], source], patch) < best:
                whole = patch
                record = "patch\t%d\t%s\t%s\t%d\t%s" % ((size, sha, name) + digest(old[name]))
        records.append(record)
        members.append((DATA_PREFIX + name, whole))
    index = "vantorix-delta 1\nfrom\t%s\nto\t%s\n%s\nend\n" % (from_version, to_version, "\n".join(records))
    # Every member stored: the frames are compressed already.
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        z.writestr(INDEX_MEMBER, index.encode("utf-8"))
        for member, frame in members:
            z.write(frame, member)
    return records


def compare_trees(expected, found, what):
    """Raises unless the two folders hold the same files with the same bytes (their work folders aside)."""
    a, b = release_tree(expected), release_tree(found)
    if a.keys() != b.keys():
        raise ReleaseError("%s: files differ: %s" % (what, sorted(set(a) ^ set(b))))
    for name in a:
        if not filecmp.cmp(a[name], b[name], shallow=False):
            raise ReleaseError("%s: %s differs" % (what, name))


def copy_release(tree, folder):
    for name, source in tree.items():
        target = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
    return folder


def check_packages(new, full, deltas, applier, scratch):
    """Applies every package as the launcher would and compares the results byte for byte."""
    fresh = tempfile.mkdtemp(prefix="fresh-", dir=scratch)
    applier.unpack(fresh, full)
    compare_trees(copy_release(new, tempfile.mkdtemp(prefix="new-", dir=scratch)), fresh, "full archive over nothing")
    for old, package in deltas:
        by_full = copy_release(old, tempfile.mkdtemp(prefix="by-full-", dir=scratch))
        applier.unpack(by_full, full)
        # What the full archive makes of the earlier release: the new release plus what only the earlier had.
        for name in new:
            if not filecmp.cmp(new[name], os.path.join(by_full, *name.split("/")), shallow=False):
                raise ReleaseError("full archive over %s: %s differs" % (os.path.basename(package), name))
        by_delta = copy_release(old, tempfile.mkdtemp(prefix="by-delta-", dir=scratch))
        applier.apply(by_delta, package)
        compare_trees(by_full, by_delta, "delta %s" % os.path.basename(package))


def manifest_text(version, base_url, full, deltas, signing_key, force_mod="0", title="", notes="", rollout=None,
                  serial=None, expires_days=update_package.DEFAULT_EXPIRY_DAYS):
    """The manifest, signed as update_package.py signs it (the payload over its exact bytes, with serial and
    expiry); the deltas and the rollout members are part of the payload. Every delta package carries its own
    signature over its SHA-256, as the full archive does."""
    listed = []
    for from_version, package in deltas:
        size, sha = update_package.archive_digest(package)
        entry = {"from": from_version, "url": base_url + os.path.basename(package), "size": size, "sha256": sha}
        if signing_key:
            entry["signature"] = update_package.sign_archive(package, signing_key)
        listed.append(entry)
    extra = dict(rollout or {})
    if listed:
        extra["deltas"] = listed
    expires = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=expires_days)
    return update_package.manifest_text(version, base_url + os.path.basename(full), notes, title, force_mod,
                                        archive=full, signing_key=signing_key, serial=serial, expires=expires,
                                        extra=extra)


def rollout_members(share, start, hours):
    if share is None:
        if start or hours is not None:
            raise ReleaseError("--rollout-start and --rollout-hours need --rollout-share")
        return None
    if not 0 <= share <= 100:
        raise ReleaseError("--rollout-share is a percentage, 0 to 100")
    members = {"rollout_share": str(share)}
    if start:
        try:
            datetime.datetime.strptime(start, "%Y-%m-%dT%H:%M:%SZ")
        except ValueError:
            raise ReleaseError("--rollout-start is a UTC time such as 2026-05-01T08:00:00Z: %r" % start)
        members["rollout_start"] = start
    if hours is not None:
        if hours < 0:
            raise ReleaseError("--rollout-hours cannot be negative")
        members["rollout_hours"] = str(hours)
    return members


def publish(a):
    applier = Applier(a.applier)
    if not a.signing_key and not a.unsigned:
        raise ReleaseError("name the maker's signing key (--signing-key), or publish --unsigned for launchers without one")
    rollout = rollout_members(a.rollout_share, a.rollout_start, a.rollout_hours)
    out = os.path.abspath(a.out)
    os.makedirs(out, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix=".release-%s-" % os.path.basename(out), dir=os.path.dirname(out))
    try:
        new = release_tree(a.release)
        if a.set_client_version:
            client_version(new, a.release)
            staged = os.path.join(tempfile.mkdtemp(prefix="client-", dir=scratch), "client.exe")
            shutil.copyfile(new[CLIENT], staged)
            update_package.set_file_version(staged, a.set_client_version)
            if a.codesign_cert:
                update_package.sign_file(staged, (a.codesign_cert, a.codesign_key))
            elif update_package.has_signature(new[CLIENT]):
                raise ReleaseError("the client is Authenticode-signed and --set-client-version changes it: name the "
                                   "code-signing certificate and key (--codesign-cert, --codesign-key) to sign it again")
            new[CLIENT] = staged
        version = client_version(new, a.release)
        if a.set_client_version and version != a.set_client_version:
            raise ReleaseError("the client's version could not be set to %s" % a.set_client_version)
        ready = tempfile.mkdtemp(prefix="ready-", dir=scratch)
        full = os.path.join(ready, "%s.zip" % version)
        update_package.make_zip(full, new)
        deltas, checks = [], []
        for path in a.earlier:
            old = earlier_tree(path, scratch, applier)
            old_version = client_version(old, path)
            if old_version == version:
                raise ReleaseError("%s is version %s already: no delta to make" % (path, version))
            if any(v == old_version for v, _ in deltas):
                raise ReleaseError("two earlier releases carry version %s" % old_version)
            package = os.path.join(ready, "%s-%s.delta.zip" % (old_version, version))
            make_delta(old, new, old_version, version, package, tempfile.mkdtemp(prefix="frames-", dir=scratch))
            deltas.append((old_version, package))
            checks.append((old, package))
        check_packages(new, full, checks, applier, scratch)
        base_url = a.base_url.rstrip("/") + "/"
        manifest = manifest_text(version, base_url, full, deltas, a.signing_key, a.force_mod, a.title, a.notes, rollout,
                                   a.serial, a.expires_days)
        # The packages first, the manifest last: a server never names a file it does not have yet.
        written = []
        for path in [full] + [p for _, p in deltas]:
            os.replace(path, os.path.join(out, os.path.basename(path)))
            written.append(os.path.basename(path))
        with open(os.path.join(ready, "updata.json"), "w", encoding="utf-8") as f:
            f.write(manifest)
        os.replace(os.path.join(ready, "updata.json"), os.path.join(out, "updata.json"))
        full_size = os.path.getsize(os.path.join(out, written[0]))
        print("release %s in %s (checked with %s)" % (version, out, applier.path))
        for name in written:
            size = os.path.getsize(os.path.join(out, name))
            print("  %-40s %10d bytes  %6.2f %% of the full archive" % (name, size, 100.0 * size / full_size))
        return version
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--release", required=True, help="the new release's folder, laid out as installed")
    ap.add_argument("--out", required=True, help="the folder the update server serves")
    ap.add_argument("--base-url", required=True, help="the address OUT is served under")
    ap.add_argument("--earlier", action="append", default=[], help="an earlier release: its folder or full archive")
    ap.add_argument("--signing-key", help="the maker's ECDSA P-256 private key (PEM)")
    ap.add_argument("--serial", type=int, default=int(time.time()),
                    help="the manifest's serial, raised with every publish (default: the time in seconds now)")
    ap.add_argument("--expires-days", type=int, default=update_package.DEFAULT_EXPIRY_DAYS,
                    help="days until launchers refuse this manifest as expired")
    ap.add_argument("--unsigned", action="store_true", help="publish without signatures (launchers built without a key)")
    ap.add_argument("--set-client-version", help="write this four-part version into the published client")
    ap.add_argument("--codesign-cert", help="the maker's code-signing certificate (PEM): signs the client again "
                    "after --set-client-version")
    ap.add_argument("--codesign-key", help="the code-signing certificate's private key (PEM)")
    ap.add_argument("--force-mod", default="0", choices=["0", "1"],
                    help="1: a mandatory release, installed before the client starts (default 0: optional)")
    ap.add_argument("--title", default="")
    ap.add_argument("--notes", default="")
    ap.add_argument("--rollout-share", type=int, help="percentage of installations offered the release (0..100)")
    ap.add_argument("--rollout-start", help="when the share starts growing, UTC, e.g. 2026-05-01T08:00:00Z")
    ap.add_argument("--rollout-hours", type=int, help="hours over which the share grows from 0 to --rollout-share")
    ap.add_argument("--applier", default=os.environ.get("VANTORIX_RELEASE_APPLY", DEFAULT_APPLIER))
    a = ap.parse_args(argv)
    if bool(a.codesign_cert) != bool(a.codesign_key):
        ap.error("--codesign-cert and --codesign-key go together")
    try:
        publish(a)
    except (ReleaseError, ValueError, subprocess.CalledProcessError) as e:
        print("release refused: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
