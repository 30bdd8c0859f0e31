#!/usr/bin/env python3
"""Two runs on one machine and the binfmt_misc entry (tools/machine.sh), with a stand-in entry file and lock
file: runs that need the entry as it is go on together; a run that must switch it waits for them, holds it
switched for its run alone and puts it back at its end. Each run is a bash that sources machine.sh and says
what it did in files; the test waits for those, never for a time."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
MACHINE = os.path.join(HERE, "..", "..", "tools", "machine.sh")
RUN = '''source "$1"; trap machine_unlock EXIT
binfmt_use "$2" || exit 1
echo "$(binfmt_state)" > "$3.holds"
while [ ! -e "$3.end" ]; do sleep 0.05; done
'''


class MachineLock(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vx-machine-test-")
        self.entry = os.path.join(self.dir, "qemu-i386")
        with open(self.entry, "w") as f:
            f.write("enabled\n")
        self.env = dict(os.environ, VANTORIX_BINFMT=self.entry,
                        VANTORIX_MACHINE_LOCK=os.path.join(self.dir, "machine.lock"), VANTORIX_MACHINE_LOCK_WAIT="60")
        self.runs = []

    def tearDown(self):
        for name, process in self.runs:
            open(os.path.join(self.dir, name + ".end"), "w").close()
            process.wait(30)
        shutil.rmtree(self.dir)

    def start(self, name, state):
        out = open(os.path.join(self.dir, name + ".out"), "w")
        process = subprocess.Popen(["bash", "-c", RUN, name, MACHINE, state, os.path.join(self.dir, name)],
                                   env=self.env, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        self.runs.append((name, process))
        return process

    def wait_for(self, what, condition, seconds=60):
        end = time.time() + seconds
        while not condition():
            self.assertLess(time.time(), end, "no %s within %d s" % (what, seconds))
            time.sleep(0.05)

    def holds(self, name):
        path = os.path.join(self.dir, name + ".holds")
        return open(path).read().strip() if os.path.exists(path) else None

    def said(self, name, text):
        with open(os.path.join(self.dir, name + ".out")) as f:
            return text in f.read()

    def end(self, name):
        open(os.path.join(self.dir, name + ".end"), "w").close()
        process = dict(self.runs)[name]
        self.assertEqual(process.wait(30), 0)
        self.runs = [(n, p) for n, p in self.runs if n != name]

    def entry_state(self):
        return open(self.entry).read().strip()

    def test_runs_that_need_the_entry_as_it_is_go_on_together(self):
        self.start("a", "1")
        self.start("b", "1")
        self.wait_for("first run", lambda: self.holds("a") == "1")
        self.wait_for("second run beside the first", lambda: self.holds("b") == "1")
        self.assertEqual(self.entry_state(), "enabled", "the entry was written")

    def test_a_run_that_switches_the_entry_waits_for_the_others_and_puts_it_back(self):
        self.start("qemu", "1")
        self.wait_for("the qemu run", lambda: self.holds("qemu") == "1")
        self.start("native", "0")
        self.wait_for("the native run to wait", lambda: self.said("native", "waiting for another run"))
        self.assertIsNone(self.holds("native"))
        self.assertEqual(self.entry_state(), "enabled", "switched under a running run")
        self.end("qemu")
        self.wait_for("the native run", lambda: self.holds("native") == "0")
        self.assertEqual(self.entry_state(), "0")
        # A third run that needs the entry on waits until the switching run has put it back.
        self.start("later", "1")
        self.wait_for("the later run to wait", lambda: self.said("later", "waiting for another run"))
        self.assertIsNone(self.holds("later"))
        self.end("native")
        self.wait_for("the later run", lambda: self.holds("later") == "1")
        self.assertEqual(self.entry_state(), "1", "the switching run did not put the entry back")


if __name__ == "__main__":
    unittest.main()
