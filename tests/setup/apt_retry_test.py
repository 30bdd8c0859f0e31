#!/usr/bin/env python3
"""The set-up's package installs against a stumbling mirror: tools/setup-apt.sh (the apt part of
tools/setup.sh) run with a stand-in apt-get first on PATH (tests/setup/apt-get), which answers as a mirror in
the middle of a sync does and records every call. Nothing is installed on the machine."""
import os
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SETUP_APT = os.path.join(HERE, "..", "..", "tools", "setup-apt.sh")
PACKAGES = ["wine64", "xvfb"]


class AptRetries(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vx-apt-test-")
        self.bin = os.path.join(self.dir, "bin")
        os.makedirs(self.bin)
        shutil.copy(os.path.join(HERE, "apt-get"), self.bin)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_setup(self, budget, **standin):
        """apt_get_packages PACKAGES as setup.sh runs it; (exit code, its output)."""
        env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ["PATH"], STANDIN_DIR=self.dir,
                   VANTORIX_APT_RETRY_BUDGET=str(budget), VANTORIX_APT_FIRST_WAIT="1",
                   **{k: str(v) for k, v in standin.items()})
        script = 'set -euo pipefail; APT=(apt-get -y); source "$1"; shift; apt_get_packages "$@"; apt_cleanup'
        run = subprocess.run(["bash", "-c", script, "setup", SETUP_APT] + PACKAGES, env=env, timeout=120,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return run.returncode, run.stdout

    def calls(self, command):
        with open(os.path.join(self.dir, "calls")) as f:
            return [line.split() for line in f if command in line.split()]

    def installed(self):
        path = os.path.join(self.dir, "installed")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().split()

    def test_lists_that_fail_their_first_answers_are_fetched_again_then_the_packages_install(self):
        rc, out = self.run_setup(budget=60, STANDIN_UPDATE_FAILS=2)
        self.assertEqual(rc, 0, out)
        self.assertEqual(len(self.calls("update")), 3, out)
        self.assertEqual(out.count("trying again in"), 2, out)
        self.assertEqual(self.installed(), PACKAGES)
        real = [c for c in self.calls("install") if "-s" not in c]
        self.assertEqual(len(real), 1, "installed before the lists were good: %s" % real)

    def test_a_mirror_that_never_recovers_ends_with_one_message_and_installs_nothing(self):
        rc, out = self.run_setup(budget=3, STANDIN_UPDATE_FAILS="always")
        self.assertEqual(rc, 1, out)
        failed = [line for line in out.splitlines() if "FAILED" in line]
        self.assertEqual(len(failed), 1, out)
        self.assertIn("packages: %s" % " ".join(PACKAGES), failed[0])
        self.assertIn("Mirror sync in progress?", out.split(failed[0], 1)[1], "the mirror's own error is not shown")
        self.assertGreater(len(self.calls("update")), 1, "no retry")
        self.assertEqual(self.installed(), [])
        self.assertEqual([c for c in self.calls("install") if "-s" not in c], [], "an install was attempted")

    def test_a_failed_suite_is_held_back_when_the_other_lists_can_install(self):
        rc, out = self.run_setup(budget=60, STANDIN_UPDATE_FAILS="always", STANDIN_HELD_BACK_OK=1)
        self.assertEqual(rc, 0, out)
        self.assertIn("apt-get update failed for: bookworm-security", out)
        self.assertEqual(len(self.calls("update")), 1, "retried although the lists could install: %s" % out)
        real = [c for c in self.calls("install") if "-s" not in c]
        self.assertEqual(len(real), 1)
        self.assertTrue(any(a.startswith("Dir::Etc::Preferences=") for a in real[0]), "installed without the hold: %s" % real)
        self.assertEqual(self.installed(), PACKAGES)

    def test_an_install_that_fails_mid_sync_is_tried_again(self):
        rc, out = self.run_setup(budget=60, STANDIN_INSTALL_FAILS=1)
        self.assertEqual(rc, 0, out)
        self.assertEqual(len([c for c in self.calls("install") if "-s" not in c]), 2, out)
        self.assertEqual(self.installed(), PACKAGES)

    def test_an_install_that_never_succeeds_names_the_packages_not_the_options(self):
        rc, out = self.run_setup(budget=3, STANDIN_INSTALL_FAILS="always")
        self.assertEqual(rc, 1, out)
        failed = [line for line in out.splitlines() if "FAILED" in line]
        self.assertEqual(len(failed), 1, out)
        self.assertTrue(failed[0].endswith("packages: %s; the mirror said:" % " ".join(PACKAGES)), failed[0])
        self.assertIn("wine64_8.0~repack-4_amd64.deb  File has unexpected size", out)
        self.assertEqual(self.installed(), [])


if __name__ == "__main__":
    unittest.main()
