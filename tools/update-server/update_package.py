#!/usr/bin/env python3
"""Makes what an update server hands out: the manifest "updata.json" and the update archive.

As a module (the launcher's end-to-end tests use it):
    set_file_version(exe, "1.0.0.2")      rewrites the four-part version in a PE file's VERSIONINFO
    file_version(exe)                      reads it back
    manifest_text(version, url, ..., archive=PATH, signing_key=PEM, serial=N, expires=T)   the manifest's
                                           JSON text; with archive, its "size" and "sha256" too; with
                                           signing_key the archive's "signature" and the signed payload
    build_signing_key(win_build)           the private key a build's launcher checks signatures against
    build_next_signing_key(win_build)      the private half of the build's next key (None without one)
    make_zip(path, {"bin/client.exe": source_path_or_bytes, ...})
    build_codesign(win_build)              (certificate, key) a build signs what it ships with (None: unsigned)
    sign_file(exe, (certificate, key))     Authenticode-signs a PE file in place (osslsigncode), replacing
                                           any signature it had: after set_file_version, whose change
                                           breaks the old one
    has_signature(exe)                     whether a PE file carries an Authenticode signature at all

As a program (the main job uses it):
    update_package.py --print-version EXE      prints the file version of EXE
    update_package.py --print-signing-key WIN_BUILD   prints build_signing_key's answer ("" for none)
    update_package.py --print-codesign WIN_BUILD      prints "--codesign-cert PEM --codesign-key PEM" of the
                                                      build's code-signing certificate ("" for an unsigned build)
    update_package.py --installation DIR --version 1.0.0.2 --base-url http://127.0.0.1:PORT --out ROOT
        [--force-mod 1] [--title T] [--notes TEXT] [--signing-key PEM --serial N [--expires-days D]]
        [--codesign-cert PEM --codesign-key PEM]
    writes ROOT/updata.json and ROOT/newtemp.zip holding DIR's bin/client.exe (version raised to --version,
    signed again with the code-signing certificate when given) and Skin/UI.html.

The signed manifest (see the README, "What an update has to pass"): "Version_date" keeps the six members,
"size", "sha256" and the archive's "signature" as launchers of every release read them, and adds
"payload", a JSON text holding all of these plus "serial" and "expires", and "payload_signature", the
base64 of the raw ECDSA P-256 signature (r || s) over the SHA-256 of the payload's UTF-8 bytes.
"""
import argparse
import base64
import datetime
import hashlib
import json
import os
import struct
import subprocess
import sys
import zipfile

# How long a signed manifest is accepted unless the maker says otherwise: it must be signed again (same
# serial or a higher one) before then, or launchers treat it as absent.
DEFAULT_EXPIRY_DAYS = 30

_FIXED_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def _parse(version):
    parts = [int(p) for p in version.split(".")]
    if len(parts) != 4 or any(p < 0 or p > 0xFFFF for p in parts):
        raise ValueError("a version has four parts of 0..65535: %r" % version)
    return parts


def _fixed_info_offsets(data):
    """Offsets of every VS_FIXEDFILEINFO in the file (one per VERSIONINFO resource)."""
    found, start = [], 0
    while True:
        i = data.find(_FIXED_SIGNATURE, start)
        if i < 0:
            return found
        # dwStrucVersion follows the signature and is 0x00010000 in every real resource.
        if data[i + 4:i + 8] == struct.pack("<I", 0x00010000):
            found.append(i)
        start = i + 4


def file_version(path):
    with open(path, "rb") as f:
        data = f.read()
    offsets = _fixed_info_offsets(data)
    if not offsets:
        return None
    ms, ls = struct.unpack_from("<II", data, offsets[0] + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def set_file_version(path, version):
    """Sets file and product version in the fixed part, and the "FileVersion"/"ProductVersion" texts when
    the new text has the old one's length (the resource keeps its size, so nothing else moves)."""
    new = _parse(version)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offsets = _fixed_info_offsets(data)
    if not offsets:
        raise ValueError("%s carries no version information" % path)
    old = file_version(path)
    ms, ls = (new[0] << 16) | new[1], (new[2] << 16) | new[3]
    for i in offsets:
        struct.pack_into("<IIII", data, i + 8, ms, ls, ms, ls)
    old_text, new_text = old.encode("utf-16-le"), version.encode("utf-16-le")
    if len(old_text) == len(new_text):
        for key in ("FileVersion", "ProductVersion"):
            needle = key.encode("utf-16-le") + b"\0\0" + old_text
            at = data.find(needle)
            if at >= 0:
                data[at + len(needle) - len(old_text):at + len(needle)] = new_text
            else:  # the value may be padded to a 32-bit boundary after the key
                needle = key.encode("utf-16-le") + b"\0\0\0\0" + old_text
                at = data.find(needle)
                if at >= 0:
                    data[at + len(needle) - len(old_text):at + len(needle)] = new_text
    with open(path, "wb") as f:
        f.write(data)


def archive_digest(path):
    """The archive's size in bytes (decimal text) and its SHA-256 (lower-case hex), as the manifest publishes them."""
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return str(os.path.getsize(path)), digest.hexdigest()


def _der_signature_to_raw(der):
    """ECDSA-Sig-Value (SEQUENCE of two INTEGERs), as openssl writes it, to the 64-byte r || s of P-256."""
    def integer(at):
        if der[at] != 0x02:
            raise ValueError("not a DER signature")
        length = der[at + 1]
        value = der[at + 2:at + 2 + length].lstrip(b"\0")
        if len(value) > 32:
            raise ValueError("not a P-256 signature")
        return value.rjust(32, b"\0"), at + 2 + length
    if der[0] != 0x30:
        raise ValueError("not a DER signature")
    r, at = integer(2)
    s, _ = integer(at)
    return r + s


def sign_digest(digest, private_key):
    """base64 of the raw ECDSA P-256 signature (r || s) over a SHA-256 digest, made by the openssl CLI."""
    der = subprocess.run(["openssl", "pkeyutl", "-sign", "-inkey", private_key],
                         input=digest, stdout=subprocess.PIPE, check=True).stdout
    return base64.b64encode(_der_signature_to_raw(der)).decode("ascii")


def sign_archive(path, private_key):
    """The archive's "signature": over its SHA-256."""
    _, hex_digest = archive_digest(path)
    return sign_digest(bytes.fromhex(hex_digest), private_key)


def utc_time_text(when):
    """A datetime as the payload's "expires" writes it: 2027-01-31T00:00:00Z."""
    return when.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def public_key_xy(private_or_public_key):
    """The X || Y coordinates (64 bytes) of a P-256 key: the last 64 bytes of its DER public key."""
    der = subprocess.run(["openssl", "ec", "-in", private_or_public_key, "-pubout", "-outform", "DER"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
    return der[-64:]


def _cached(win_build, name):
    with open(os.path.join(win_build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def _matching_private_key(win_build, public_option, private_option):
    public = _cached(win_build, public_option)
    if not public or public == "none":
        return None
    private = _cached(win_build, private_option)
    built_in = subprocess.run(["openssl", "ec", "-pubin", "-in", public, "-outform", "DER"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, check=True).stdout[-64:]
    if not private or not os.path.exists(private) or public_key_xy(private) != built_in:
        raise ValueError("the launcher of %s checks signatures against %s, and %s (%r) is not its private key"
                         % (win_build, public, private_option, private))
    return private


def build_signing_key(win_build):
    """The private key matching the current public key built into the launcher of a build tree (tools/build.sh
    records both in the cache for a test build); None when the launcher was built without a key. A build
    whose private key is unknown or does not match cannot publish updates its launcher accepts: an error."""
    return _matching_private_key(win_build, "VANTORIX_UPDATE_PUBLIC_KEY", "VANTORIX_UPDATE_SIGNING_KEY")


def build_next_signing_key(win_build):
    """The private half of the build's next key; None when the launcher carries no next key."""
    return _matching_private_key(win_build, "VANTORIX_UPDATE_NEXT_PUBLIC_KEY", "VANTORIX_UPDATE_NEXT_SIGNING_KEY")


def build_codesign(win_build):
    """(certificate, private key) the build Authenticode-signs what it ships with (tools/build.sh records
    both in the cache; a test build's are throw-away); None for a build made explicitly unsigned."""
    cert = _cached(win_build, "VANTORIX_CODESIGN_CERT")
    if not cert or cert == "none":
        return None
    key = _cached(win_build, "VANTORIX_CODESIGN_KEY")
    if not os.path.exists(cert) or not os.path.exists(key):
        raise ValueError("the code-signing certificate %s or its key %s of %s is missing" % (cert, key, win_build))
    return cert, key


def other_signer(folder, codesign):
    """A code-signing certificate that is not the build's (codesign), under the same name as the build's,
    made once in folder: (certificate PEM, private key PEM)."""
    cert, key = os.path.join(folder, "other-cert.pem"), os.path.join(folder, "other-key.pem")
    if not os.path.exists(cert):
        subject = subprocess.run(["openssl", "x509", "-in", codesign[0], "-noout", "-subject", "-nameopt", "compat"],
                                 stdout=subprocess.PIPE, check=True, timeout=30).stdout.decode().strip()
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-keyout", key,
                        "-out", cert, "-subj", subject.split("=", 1)[1], "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def sign_file(path, codesign):
    """Authenticode-signs the PE file in place with codesign = (certificate PEM, private key PEM); a
    signature it had is replaced."""
    cert, key = codesign
    signed = path + ".signed"
    run = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-n", "TAVI助手Plus",
                          "-in", path, "-out", signed], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if run.returncode != 0:
        if os.path.exists(signed):
            os.remove(signed)
        raise ValueError("%s could not be signed: %s" % (path, run.stdout.decode("utf-8", "replace").strip()))
    os.replace(signed, path)


def has_signature(path):
    """True when the PE file's certificate table (its security directory) is not empty."""
    with open(path, "rb") as f:
        data = f.read(4096)
    if data[:2] != b"MZ":
        return False
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return False
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    offset, size = struct.unpack_from("<II", data, directories + 4 * 8)
    return offset != 0 and size != 0


SAME_KEY = "same"


def manifest_text(version, url, uptext="", new_title="", force_mod="1", new_skinurl="", archive=None,
                  signing_key=None, serial=None, expires=None, archive_signing_key=SAME_KEY, extra=None):
    """The manifest's JSON text. With signing_key (a PEM private key) it is signed: archive and serial (an
    integer the maker raises with every manifest it publishes) are then required; expires (a datetime)
    defaults to DEFAULT_EXPIRY_DAYS from now. The archive's own "signature" is made with signing_key too,
    unless archive_signing_key names another key (None: no archive signature; tests of a maker's mistake).
    extra: further members (deltas, rollout), published beside the others and covered by the payload."""
    if archive_signing_key == SAME_KEY:
        archive_signing_key = signing_key
    members = {"version": version, "url": url, "uptext": uptext, "new_title": new_title,
               "force_mod": force_mod, "new_skinurl": new_skinurl}
    if archive:
        # The launcher refuses to unpack an archive that differs from these.
        members["size"], members["sha256"] = archive_digest(archive)
        if archive_signing_key:
            members["signature"] = sign_archive(archive, archive_signing_key)
    members.update(extra or {})
    if signing_key:
        if not archive or serial is None or int(serial) < 0:
            raise ValueError("a signed manifest needs its archive and a serial of 0 or more")
        if expires is None:
            expires = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=DEFAULT_EXPIRY_DAYS)
        payload = dict(members, serial=int(serial), expires=utc_time_text(expires))
        payload_text = json.dumps(payload, ensure_ascii=False, separators=(",", ":"))
        members["payload"] = payload_text
        members["payload_signature"] = sign_digest(hashlib.sha256(payload_text.encode("utf-8")).digest(), signing_key)
    return json.dumps({"Version_date": members}, ensure_ascii=False, indent=2)


def make_zip(path, entries):
    """entries: archive name -> a file path or bytes. Folders in names are stored as ZIP stores them."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, source in entries.items():
            if isinstance(source, (bytes, bytearray)):
                z.writestr(name, bytes(source))
            else:
                z.write(source, name)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--print-signing-key":
        print(build_signing_key(sys.argv[2]) or "")
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == "--print-codesign":
        codesign = build_codesign(sys.argv[2])
        print(" ".join(["--codesign-cert", codesign[0], "--codesign-key", codesign[1]]) if codesign else "")
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == "--print-version":
        version = file_version(sys.argv[2])
        print(version or "")
        return 0 if version else 1
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--installation", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--base-url", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--force-mod", default="1")
    ap.add_argument("--title", default="")
    ap.add_argument("--notes", default="")
    ap.add_argument("--signing-key", help="PEM private key (ECDSA P-256): the archive's \"signature\" and the "
                    "signed payload")
    ap.add_argument("--serial", type=int, help="the manifest's serial, higher than any published before "
                    "(required with --signing-key)")
    ap.add_argument("--expires-days", type=float, default=DEFAULT_EXPIRY_DAYS,
                    help="days from now until launchers refuse the manifest (default %(default)s)")
    ap.add_argument("--codesign-cert", help="the code-signing certificate (PEM) the client is signed with again "
                    "after its version is raised")
    ap.add_argument("--codesign-key", help="its private key (PEM)")
    a = ap.parse_args()
    if bool(a.codesign_cert) != bool(a.codesign_key):
        ap.error("--codesign-cert and --codesign-key go together")
    if a.signing_key and (a.serial is None or a.serial < 0):
        ap.error("--signing-key needs --serial (a whole number of 0 or more, raised with every manifest)")
    os.makedirs(a.out, exist_ok=True)
    staged = os.path.join(a.out, "client.exe")
    with open(os.path.join(a.installation, "bin", "client.exe"), "rb") as src, open(staged, "wb") as dst:
        dst.write(src.read())
    set_file_version(staged, a.version)
    if a.codesign_cert:
        sign_file(staged, (a.codesign_cert, a.codesign_key))
    elif has_signature(staged):
        print("warning: the client's signature no longer matches its raised version (no --codesign-cert)", file=sys.stderr)
    entries = {"bin/client.exe": staged}
    for skin in ("Skin/UI.html", "bin/Skin/UI.html"):  # the installation's skin page and the client's copy
        path = os.path.join(a.installation, *skin.split("/"))
        if os.path.exists(path):
            entries[skin] = path
    make_zip(os.path.join(a.out, "newtemp.zip"), entries)
    os.remove(staged)
    with open(os.path.join(a.out, "updata.json"), "w", encoding="utf-8") as f:
        f.write(manifest_text(a.version, a.base_url.rstrip("/") + "/newtemp.zip", a.notes, a.title, a.force_mod,
                              archive=os.path.join(a.out, "newtemp.zip"), signing_key=a.signing_key,
                              serial=a.serial, expires=datetime.datetime.now(datetime.timezone.utc) +
                              datetime.timedelta(days=a.expires_days)))
    print("update package %s in %s" % (a.version, a.out))


if __name__ == "__main__":
    sys.exit(main())
