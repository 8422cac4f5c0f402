#!/usr/bin/python3
"""The per-user install (scripts/install-desktop) in a throw-away HOME whose
path has blanks and accents: what it adds, every entry's command line run,
Thunar's uca.xml merged and restored, and an uninstall that leaves HOME as it
was found.

Usage: test_user_install.py <source dir> <build dir> [unittest arguments]
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvactions as qa  # noqa: E402
from test_deb import run_all  # noqa: E402

SOURCE = BUILD = None

USER_UCA = """<?xml version="1.0" encoding="UTF-8"?>
<actions>
<!-- mes actions à moi -->
<action>
\t<icon>utilities-terminal</icon>
\t<name>Ouvrir un terminal ici</name>
\t<unique-id>1700000000000000-1</unique-id>
\t<command>exo-open --working-directory %f --launch TerminalEmulator</command>
\t<description></description>
\t<patterns>*</patterns>
\t<startup-notify/>
\t<directories/>
</action>
</actions>
"""


def snapshot(root):
    """Every path under root with its type, mode and content digest."""
    out = {}
    for dirpath, dirs, files in os.walk(root):
        for name in dirs + files:
            p = os.path.join(dirpath, name)
            st = os.lstat(p)
            digest = None
            if os.path.isfile(p) and not os.path.islink(p):
                with open(p, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            out[os.path.relpath(p, root)] = (st.st_mode, digest)
    return out


class UserInstall(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qv_user_")
        self.home = os.path.join(self.tmp, "maison d'Élodie ’€")
        os.makedirs(os.path.join(self.home, ".local", "share", "applications"))
        with open(os.path.join(self.home, ".local", "share", "applications", "autre.desktop"),
                  "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Autre\nExec=true\n")
        os.makedirs(os.path.join(self.home, "Documents"))
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("XDG_") and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env["HOME"] = self.home

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def script(self, *args, check=True):
        r = subprocess.run([os.path.join(SOURCE, "scripts", "install-desktop")] + list(args),
                           env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if check:
            self.assertEqual(r.returncode, 0, r.stdout.decode("utf-8", "replace"))
        return r

    def install(self):
        return self.script("--programs", os.path.join(BUILD, "bin"))

    def uca(self):
        return os.path.join(self.home, ".config", "Thunar", "uca.xml")

    def test_install_run_uninstall_with_the_users_thunar_actions(self):
        os.makedirs(os.path.dirname(self.uca()))
        with open(self.uca(), "w", encoding="utf-8") as f:
            f.write(USER_UCA)
        before = snapshot(self.home)
        self.install()
        # Installing again replaces our entries instead of adding them twice.
        self.install()
        share = os.path.join(self.home, ".local", "share")
        for rel in (".local/bin/Quorvelpack", ".local/bin/Quorvelunpack",
                    ".local/lib/quorvel/quorvel-launch"):
            self.assertTrue(os.access(os.path.join(self.home, rel), os.X_OK), rel)
        for size in (16, 48, 256):
            self.assertTrue(os.path.isfile(os.path.join(
                share, "icons/hicolor/%dx%d/apps/quorvelunpack.png" % (size, size))))
        for name in ("quorvelpack.desktop", "quorvelunpack.desktop"):
            r = subprocess.run(["desktop-file-validate", os.path.join(share, "applications", name)],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertEqual((r.returncode, r.stdout), (0, b""), name)
        with open(self.uca(), encoding="utf-8") as f:
            merged = f.read()
        self.assertTrue(merged.startswith(USER_UCA[:USER_UCA.rindex("</actions>")]), merged)
        self.assertEqual(merged.count("<unique-id>quorvel-"), 5)
        self.assertIn("1700000000000000-1", merged)

        launcher = os.path.join(self.home, ".local", "lib", "quorvel", "quorvel-launch")

        def relocate(path):
            self.assertEqual(path, launcher)
            return path
        cmds = qa.desktop_commands(share, relocate)
        cmds += qa.thunar_commands(self.uca(), relocate)
        cmds += qa.nautilus_script_commands(os.path.join(share, "nautilus", "scripts"))
        self.assertEqual(sorted(c.mode for c in cmds if not c.source.startswith("applications/")),
                         sorted(["pack", "pack-trash", "pack-encrypt", "unpack",
                                 "unpack-delete"] * 5))
        run_all(self, cmds, os.path.join(self.tmp, "runs"))

        # A script started without arguments falls back on the paths, one a
        # line, of the environment.
        work = os.path.join(self.tmp, "env-only")
        os.makedirs(work)
        archive = os.path.join(work, qa.ZIP_NAMES[0])
        expected = qa.make_zip(archive, 7)
        env = qa.program_env(os.environ, os.path.join(work, "home"))
        env["NAUTILUS_SCRIPT_SELECTED_FILE_PATHS"] = archive + "\n"
        r = subprocess.run([os.path.join(share, "nautilus", "scripts", "Extraire avec Quorvelunpack")],
                           env=env, cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout.decode("utf-8", "replace"))
        self.assertEqual(qa.tree(archive[:-4]), expected)

        self.script("--uninstall")
        self.assertEqual(snapshot(self.home), before)

    def test_uninstall_after_thunar_rewrote_its_file(self):
        self.install()
        # Thunar rewrites uca.xml in its own layout when the user edits an
        # action; ours must still be found by their id, and the user's kept.
        with open(self.uca(), encoding="utf-8") as f:
            text = f.read()
        user_action = ("<action>\n\t<icon>x</icon>\n\t<name>Mienne</name>\n\t<unique-id>42-1"
                       "</unique-id>\n\t<command>true %f</command>\n\t<patterns>*</patterns>\n"
                       "\t<directories/>\n</action>\n")
        text = text.replace("\t", "  ").replace("</actions>", user_action + "</actions>")
        with open(self.uca(), "w", encoding="utf-8") as f:
            f.write(text)
        self.script("--uninstall")
        with open(self.uca(), encoding="utf-8") as f:
            rest = f.read()
        self.assertNotIn("quorvel", rest.lower())
        self.assertIn("<unique-id>42-1</unique-id>", rest)
        self.assertFalse(os.path.exists(os.path.join(self.home, ".local", "bin")))

    def test_compact_thunar_file_restored_byte_for_byte(self):
        os.makedirs(os.path.dirname(self.uca()))
        compact = USER_UCA.replace("\n", "").replace("\t", "")
        with open(self.uca(), "w", encoding="utf-8") as f:
            f.write(compact)
        self.install()
        with open(self.uca(), encoding="utf-8") as f:
            self.assertEqual(f.read().count("<unique-id>quorvel-"), 5)
        self.script("--uninstall")
        with open(self.uca(), encoding="utf-8") as f:
            self.assertEqual(f.read(), compact)

    def test_without_thunar_file_and_with_a_foreign_file(self):
        before = snapshot(self.home)
        self.install()
        self.assertTrue(os.path.isfile(self.uca()))
        self.script("--uninstall")
        # The uca.xml and the folders the install created are gone again.
        self.assertEqual(snapshot(self.home), before)
        # A file of the user's where ours would go: nothing is installed.
        scripts = os.path.join(self.home, ".local", "share", "nautilus", "scripts")
        os.makedirs(scripts)
        with open(os.path.join(scripts, "Extraire avec Quorvelunpack"), "w") as f:
            f.write("#!/bin/sh\necho le mien\n")
        before = snapshot(self.home)
        r = self.script("--programs", os.path.join(BUILD, "bin"), check=False)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("existent déjà", r.stdout.decode("utf-8"))
        self.assertEqual(snapshot(self.home), before)


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv[1])
    BUILD = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
