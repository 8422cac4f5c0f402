#!/usr/bin/python3
"""quorvel-launch, the launcher behind every file-manager entry, in front of a
recording stand-in for the programs: the one argument each run gets, the runs
one after another, the exit status, and the per-session queue.

Usage: test_launcher.py <source dir> [unittest arguments]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = None

# Records what it was given and which descriptors it inherited; a name
# holding "échec" makes it fail, as a program does on a folder it cannot read.
RECORDER = """#!/usr/bin/python3
import json, os, sys, time
start = time.time()
fds = sorted(int(f) for f in os.listdir("/proc/self/fd"))
time.sleep(float(os.environ.get("QV_FAKE_SLEEP", "0.2")))
with open(os.environ["QV_FAKE_LOG"], "a", encoding="utf-8") as f:
    f.write(json.dumps({"program": os.path.basename(sys.argv[0]), "argv": sys.argv[1:],
                        "start": start, "end": time.time(), "fds": fds}) + "\\n")
sys.exit(2 if any("échec" in a for a in sys.argv[1:]) else 0)
"""


class Launcher(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qv_launch_")
        # The installed layout: <prefix>/lib/quorvel/quorvel-launch, <prefix>/bin.
        self.prefix = os.path.join(self.tmp, "pré fixe")
        os.makedirs(os.path.join(self.prefix, "lib", "quorvel"))
        os.makedirs(os.path.join(self.prefix, "bin"))
        self.launcher = os.path.join(self.prefix, "lib", "quorvel", "quorvel-launch")
        shutil.copy(os.path.join(SOURCE, "packaging", "linux", "quorvel-launch"), self.launcher)
        for prog in ("Quorvelpack", "Quorvelunpack"):
            p = os.path.join(self.prefix, "bin", prog)
            with open(p, "w", encoding="utf-8") as f:
                f.write(RECORDER)
            os.chmod(p, 0o755)
        self.log = os.path.join(self.tmp, "log")
        self.work = os.path.join(self.tmp, "dossier de travail")
        os.makedirs(self.work)
        self.env = {k: v for k, v in os.environ.items() if k != "XDG_RUNTIME_DIR"}
        self.env.update(QV_FAKE_LOG=self.log, PATH="/usr/bin:/bin")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def launch(self, *args, env=None, wait=True):
        p = subprocess.Popen([self.launcher] + list(args), cwd=self.work, env=env or self.env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT)
        if not wait:
            return p
        p.communicate(timeout=60)
        return p.returncode

    def runs(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def test_each_run_gets_the_prefix_glued_to_one_absolute_path(self):
        names = ["#déjà là", "§ section", "l'été \"guillemets\" ’€ 🎉", "ligne\nsuivante",
                 "  blancs  "]
        cases = {"pack": ("Quorvelpack", ""), "pack-trash": ("Quorvelpack", "#"),
                 "pack-encrypt": ("Quorvelpack", "§"), "unpack": ("Quorvelunpack", ""),
                 "unpack-delete": ("Quorvelunpack", "#")}
        for mode, (program, prefix) in cases.items():
            if os.path.exists(self.log):
                os.unlink(self.log)
            # Absolute paths as most file managers give them, relative names
            # as Nautilus gives its scripts.
            given = [os.path.join(self.work, names[0])] + names[1:]
            self.assertEqual(self.launch(mode, *given), 0, mode)
            got = self.runs()
            self.assertEqual([r["program"] for r in got], [program] * len(names), mode)
            self.assertEqual([r["argv"] for r in got],
                             [[prefix + os.path.join(self.work, n)] for n in names], mode)

    def test_runs_follow_one_another_and_the_worst_status_is_returned(self):
        env = dict(self.env, QV_FAKE_SLEEP="0.3")
        code = self.launch("pack", "/a", "/échec", "/c", env=env)
        self.assertEqual(code, 2)
        got = self.runs()
        self.assertEqual([r["argv"] for r in got], [["/a"], ["/échec"], ["/c"]])
        for before, after in zip(got, got[1:]):
            self.assertLessEqual(before["end"], after["start"])

    def test_without_a_path(self):
        # The plain forms let the program ask; a prefix alone means nothing.
        self.assertEqual(self.launch("unpack"), 0)
        self.assertEqual([r["argv"] for r in self.runs()], [[]])
        self.assertEqual(self.launch("pack-trash"), 64)
        self.assertEqual(self.launch("compresser", "/a"), 64)
        self.assertEqual(len(self.runs()), 1)

    def test_separate_clicks_queue_up_and_the_lock_stays_with_the_launcher(self):
        runtime = os.path.join(self.tmp, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(self.env, XDG_RUNTIME_DIR=runtime, QV_FAKE_SLEEP="0.4")
        first = self.launch("pack", "/un", "/deux", env=env, wait=False)
        time.sleep(0.2)
        second = self.launch("unpack", "/trois.zip", env=env, wait=False)
        for p in (first, second):
            p.communicate(timeout=60)
            self.assertEqual(p.returncode, 0)
        got = sorted(self.runs(), key=lambda r: r["start"])
        self.assertEqual([r["argv"] for r in got], [["/un"], ["/deux"], ["/trois.zip"]])
        for before, after in zip(got, got[1:]):
            self.assertLessEqual(before["end"], after["start"])
        # Whatever a program starts (the file manager showing the result)
        # must not hold the queue's lock after the run.
        for r in got:
            self.assertNotIn(9, r["fds"], r)


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
