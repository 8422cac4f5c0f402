#!/usr/bin/env python3
"""Quorvelpack as a user runs it: the built program on real folders, driven
through the terminal dialogs in line mode (pipes) and under a pseudo-terminal.

Usage: e2e_test.py <path of Quorvelpack> [unittest arguments, e.g. -k Plain]
"""
import os
import pty
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

PROGRAM = None
SEVENZIP = shutil.which("7zz")


def make_folder(path, big=0):
    os.makedirs(os.path.join(path, "sub"), exist_ok=True)
    with open(os.path.join(path, "a.txt"), "w", encoding="utf-8") as f:
        f.write("alpha\n")
    with open(os.path.join(path, "sub", "é b.txt"), "w", encoding="utf-8") as f:
        f.write("bravo\n")
    with open(os.path.join(path, "sub", "c.bin"), "wb") as f:
        f.write(os.urandom(300000))
    if big:
        # Incompressible data: the write lasts long enough to be interrupted.
        with open(os.path.join(path, "big.bin"), "wb") as f:
            for _ in range(big):
                f.write(os.urandom(1 << 20))


def tree(path):
    out = {}
    for root, _dirs, files in os.walk(path):
        for name in files:
            full = os.path.join(root, name)
            with open(full, "rb") as f:
                out[os.path.relpath(full, path)] = f.read()
    return out


class Run:
    def __init__(self, code, output):
        self.code = code
        self.output = output


class E2E(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qv_pack_e2e_")
        self.work = os.path.join(self.tmp, "work")
        os.makedirs(self.work)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.tmp, "config")
        self.env["XDG_DATA_HOME"] = os.path.join(self.tmp, "data")
        self.env["HOME"] = self.tmp
        self.env["LANG"] = "C.UTF-8"

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    # ---- running the program -------------------------------------------------

    def run_lines(self, args, lines="", timeout=120):
        """Line mode: stdin and stdout are pipes."""
        p = subprocess.run([PROGRAM] + args, input=lines.encode("utf-8"),
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           env=self.env, cwd=self.work, timeout=timeout)
        return Run(p.returncode, p.stdout.decode("utf-8", "replace"))

    def spawn_pty(self, args):
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.work)
            os.execve(PROGRAM, [PROGRAM] + args, self.env)
        return pid, fd

    @staticmethod
    def read_until(fd, predicate, timeout, sink):
        """Reads the pseudo-terminal until predicate(text so far) or timeout."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if predicate(sink[0]):
                return True
            r, _, _ = select.select([fd], [], [], 0.1)
            if r:
                try:
                    data = os.read(fd, 65536)
                except OSError:
                    return predicate(sink[0])
                if not data:
                    return predicate(sink[0])
                sink[0] += data.decode("utf-8", "replace")
        return predicate(sink[0])

    def finish_pty(self, pid, fd, sink, timeout=120):
        self.read_until(fd, lambda _t: False, 0, sink)
        end = time.monotonic() + timeout
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            if time.monotonic() > end:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                self.fail("the program did not end:\n" + sink[0])
            self.read_until(fd, lambda _t: False, 0.1, sink)
        self.read_until(fd, lambda _t: False, 0.2, sink)
        os.close(fd)
        return os.waitstatus_to_exitcode(status)

    # ---- checks ----------------------------------------------------------------

    def assert_archive(self, zip_path, expected, password=None):
        self.assertTrue(os.path.isfile(zip_path), zip_path)
        if not SEVENZIP:
            if password is not None:
                self.skipTest("7zz is needed to check an AES archive")
            with zipfile.ZipFile(zip_path) as z:
                self.assertIsNone(z.testzip())
                got = {n: z.read(n) for n in z.namelist() if not n.endswith("/")}
            self.assertEqual(got, expected)
            return
        if SEVENZIP:
            cmd = [SEVENZIP, "t", zip_path]
            if password is not None:
                cmd.insert(2, "-p" + password)
            t = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertEqual(t.returncode, 0, t.stdout.decode("utf-8", "replace"))
            out = os.path.join(self.tmp, "x")
            cmd = [SEVENZIP, "x", "-y", "-o" + out, zip_path]
            if password is not None:
                cmd.insert(2, "-p" + password)
            x = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertEqual(x.returncode, 0, x.stdout.decode("utf-8", "replace"))
            self.assertEqual(tree(out), expected)
            shutil.rmtree(out)

    def start_writing(self, folder, lines=None):
        """Starts a line-mode run on `folder` (reading `lines`, else nothing)
        and returns once the write is under way: the process and what it
        printed so far."""
        p = subprocess.Popen([PROGRAM, folder],
                             stdin=subprocess.DEVNULL if lines is None else subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             env=self.env, cwd=self.work)
        if lines is not None:
            p.stdin.write(lines.encode("utf-8"))
            p.stdin.close()
        out = b""
        os.set_blocking(p.stdout.fileno(), False)
        end = time.monotonic() + 60
        while b"Compression :" not in out and time.monotonic() < end:
            select.select([p.stdout], [], [], 0.1)
            chunk = p.stdout.read()
            if chunk:
                out += chunk
            if p.poll() is not None:
                break
        self.assertIn(b"Compression :", out)
        return p, out

    def work_entries(self):
        return sorted(os.listdir(self.work))

    # ---- cases -----------------------------------------------------------------

    def test_plain_run_in_line_mode(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder)
        expected = tree(folder)
        r = self.run_lines([folder])
        self.assertEqual(r.code, 0, r.output)
        self.assertIn("Compression en cours...", r.output)
        self.assertIn("Compression complète", r.output)
        self.assert_archive(folder + ".zip", expected)
        self.assertEqual(self.work_entries(), ["photos", "photos.zip"])
        with open(os.path.join(self.tmp, "config", "Quorvelpack", "Settings.ini"),
                  encoding="utf-8") as f:
            self.assertIn("LastDir=" + self.work, f.read())

    def test_arguments_are_joined_into_one_path(self):
        folder = os.path.join(self.work, "my  files")
        make_folder(folder)
        expected = tree(folder)
        # Two arguments, joined by one blank: "my" + " " + " files".
        r = self.run_lines([os.path.join(self.work, "my"), " files/"])
        self.assertEqual(r.code, 0, r.output)
        self.assert_archive(folder + ".zip", expected)

    def test_section_prefix_with_password(self):
        folder = os.path.join(self.work, "secret")
        make_folder(folder)
        expected = tree(folder)
        # A short password first (refused), then a good one, then "no" to the
        # deletion offer.
        r = self.run_lines(["§" + folder], "abc\nSecret!1\nn\n")
        self.assertEqual(r.code, 0, r.output)
        self.assertIn("Mot de passe invalide, veuillez le modifier !", r.output)
        self.assertIn("Voulez-vous supprimer le dossier qui vient d'être compressé ?", r.output)
        self.assertTrue(os.path.isdir(folder))
        self.assert_archive(folder + ".zip", expected, password="Secret!1")
        if SEVENZIP:
            bad = subprocess.run([SEVENZIP, "t", "-pWrong!12", folder + ".zip"],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertNotEqual(bad.returncode, 0)

    def test_hash_prefix_yes_sends_the_folder_to_the_trash(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder)
        expected = tree(folder)
        r = self.run_lines(["#" + folder], "o\n")
        self.assertEqual(r.code, 0, r.output)
        self.assertIn("Êtes-vous sûr de vouloir supprimer le dossier qui vient d'être compressé ?",
                      r.output)
        self.assertFalse(os.path.exists(folder))
        trashed = os.path.join(self.tmp, "data", "Trash", "files", "photos")
        self.assertEqual(tree(trashed), expected)
        self.assert_archive(folder + ".zip", expected)

    def test_no_answer_never_trashes_the_folder(self):
        # What a launcher gives (/dev/null, or no standard input at all), an
        # empty pipe, and a pipe that answers only the password: nobody said
        # yes to the deletion.
        trash = os.path.join(self.tmp, "data", "Trash", "files")
        for prefix, lines in (("#", "/dev/null"), ("#", "closed"), ("#", ""),
                              ("§", "motdepasse\n")):
            folder = os.path.join(self.work, "photos")
            make_folder(folder)
            expected = tree(folder)
            if lines in ("/dev/null", "closed"):
                p = subprocess.run([PROGRAM, prefix + folder], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   env=self.env, cwd=self.work, timeout=120,
                                   preexec_fn=(lambda: os.close(0)) if lines == "closed"
                                   else None)
                r = Run(p.returncode, p.stdout.decode("utf-8", "replace"))
            else:
                r = self.run_lines([prefix + folder], lines)
            self.assertEqual(r.code, 0, r.output)
            self.assertIn("supprimer le dossier qui vient d'être compressé ?", r.output)
            self.assertEqual(tree(folder), expected, prefix)
            self.assertFalse(os.path.exists(trash) and os.listdir(trash), r.output)
            shutil.rmtree(folder)
            os.remove(folder + ".zip")

    def test_a_name_that_holds_double_quotes(self):
        # Quotes around a path go, but a Linux name may hold them itself: the
        # folder named as it stands is the one compressed.
        folder = os.path.join(self.work, 'Le "grand" projet')
        make_folder(folder)
        expected = tree(folder)
        r = self.run_lines([folder])
        self.assertEqual(r.code, 0, r.output)
        self.assert_archive(folder + ".zip", expected)
        os.remove(folder + ".zip")
        r = self.run_lines(['"' + folder.replace('"', '') + '"'])
        self.assertEqual(r.code, 2, r.output)
        self.assertIn("Le dossier « " + folder.replace('"', '') + " » est introuvable.", r.output)
        self.assertEqual(self.work_entries(), ['Le "grand" projet'])

    def test_a_typed_path_is_shown_escaped(self):
        typed = os.path.join(self.work, "absent\x1b]0;pwned\x07\x1b[2J")
        r = self.run_lines([], typed + "\n")
        self.assertNotIn("\x1b", r.output)
        self.assertNotIn("\x07", r.output)
        self.assertIn("absent\\x1b]0;pwned\\x07", r.output)

    def test_existing_archive_kept_on_abandon(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder)
        with open(folder + ".zip", "wb") as f:
            f.write(b"older archive")
        r = self.run_lines([folder], "2\n")
        self.assertEqual(r.code, 1, r.output)
        self.assertIn("Le fichier Zip existe déjà !.", r.output)
        self.assertIn("Abandonner", r.output)
        with open(folder + ".zip", "rb") as f:
            self.assertEqual(f.read(), b"older archive")
        self.assertEqual(self.work_entries(), ["photos", "photos.zip"])

    def test_existing_archive_overwritten(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder)
        expected = tree(folder)
        with open(folder + ".zip", "wb") as f:
            f.write(b"older archive")
        r = self.run_lines([folder], "1\n")
        self.assertEqual(r.code, 0, r.output)
        self.assert_archive(folder + ".zip", expected)

    def test_chooser_then_encryption_question(self):
        folder = os.path.join(self.work, "chosen")
        make_folder(folder)
        expected = tree(folder)
        # Empty command line: the path prompt, "no" to encryption, "no" to the
        # deletion offer.
        r = self.run_lines([], folder + "\nn\nn\n")
        self.assertEqual(r.code, 0, r.output)
        self.assertIn("Voulez-vous crypter le fichier compressé ?", r.output)
        self.assertIn("Voulez-vous supprimer le dossier qui vient d'être compressé ?", r.output)
        self.assert_archive(folder + ".zip", expected)
        self.assertTrue(os.path.isdir(folder))
        # The next run without a path starts where the last folder was, and a
        # chooser left without an answer ends the run as a cancel.
        r = self.run_lines([], "")
        self.assertEqual(r.code, 1, r.output)
        self.assertIn(" dans " + self.work + " :", r.output)
        self.assertNotIn("Voulez-vous crypter", r.output)

    def test_missing_folder_fails(self):
        # The failure and its reason wait for "Annuler"; end of input presses it.
        absent = os.path.join(self.work, "absent")
        r = self.run_lines([absent])
        self.assertEqual(r.code, 2, r.output)
        self.assertIn("La compression a échoué.\nLe dossier « " + absent + " » est introuvable.\n",
                      r.output)
        self.assertEqual(self.work_entries(), [])

    def test_archive_that_cannot_be_prepared_says_why(self):
        folder = os.path.join(self.tmp, "nulle part", "photos")
        r = self.run_lines([folder])
        self.assertEqual(r.code, 2, r.output)
        self.assertEqual(r.output, "Impossible de créer un fichier dans le dossier de « " +
                         folder + ".zip ».\n")

    def test_names_of_the_longest_lengths(self):
        # 251 bytes still take ".zip" within the 255 of a name; from 252 on
        # the archive cannot be named at all, which is said before anything is
        # compressed rather than as a full disk after it.
        for length in (240, 251, 252, 255):
            name = "é" * (length // 2) + "x" * (length % 2)
            folder = os.path.join(self.work, name)
            make_folder(folder)
            expected = tree(folder)
            r = self.run_lines(["§" + folder], "Secret!1\nn\n")
            if length <= 251:
                self.assertEqual(r.code, 0, r.output)
                self.assert_archive(folder + ".zip", expected, password="Secret!1")
                os.remove(folder + ".zip")
            else:
                self.assertEqual(r.code, 2, r.output)
                self.assertEqual(r.output, "Le nom de l'archive « " + folder +
                                 ".zip » est trop long pour le système de fichiers.\n")
            shutil.rmtree(folder)
            self.assertEqual(self.work_entries(), [])

    def test_overwrite_then_sigterm_keeps_the_older_archive(self):
        folder = os.path.join(self.work, "big")
        make_folder(folder, big=100)
        with open(folder + ".zip", "wb") as f:
            f.write(b"older archive")
        p, out = self.start_writing(folder, "1\n")
        p.send_signal(signal.SIGTERM)
        code = p.wait(timeout=30)
        p.stdout.close()
        self.assertEqual(code, 1, out.decode("utf-8", "replace"))
        with open(folder + ".zip", "rb") as f:
            self.assertEqual(f.read(), b"older archive")
        self.assertEqual(self.work_entries(), ["big", "big.zip"])
    def test_names_that_are_not_utf8_are_archived_readable(self):
        # What unzip leaves on disk from an old Windows archive: names in a
        # legacy code page, which are not UTF-8. They are archived under the
        # names they read as in Windows-1252, flagged UTF-8, with the rest.
        folder = os.path.join(self.work, "ancien")
        raw = os.fsencode(folder)
        os.makedirs(raw + b"/L\x92\xe9t\xe9")
        for name, data in ((b"caf\xe9.txt", b"cafe"), (b"L\x92\xe9t\xe9/\x80.txt", b"euro"),
                           (b"a.txt", b"a")):
            with open(raw + b"/" + name, "wb") as f:
                f.write(data)
        r = self.run_lines([folder])
        self.assertEqual(r.code, 0, r.output)
        self.assertIn("Compression complète", r.output)
        with zipfile.ZipFile(folder + ".zip") as z:
            infos = {i.filename: i for i in z.infolist()}
            self.assertEqual(sorted(infos), ["L’été/", "L’été/€.txt", "a.txt", "café.txt"])
            for name in ("L’été/", "L’été/€.txt", "café.txt"):
                self.assertTrue(infos[name].flag_bits & 0x800, name)
            self.assertEqual(z.read("café.txt"), b"cafe")
            self.assertEqual(z.read("L’été/€.txt"), b"euro")
        if SEVENZIP:
            t = subprocess.run([SEVENZIP, "t", folder + ".zip"], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
            self.assertEqual(t.returncode, 0, t.stdout.decode("utf-8", "replace"))
        self.assertEqual(self.work_entries(), ["ancien", "ancien.zip"])

    def test_settings_failure_is_reported(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder)
        with open(os.path.join(self.tmp, "config-file"), "w") as f:
            f.write("not a folder")
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.tmp, "config-file")
        r = self.run_lines([folder])
        self.assertEqual(r.code, 2, r.output)
        self.assertIn("Impossible d'ouvrir ou de créer la clef de registre", r.output)
        self.assertEqual(self.work_entries(), ["photos"])

    def test_cancel_with_sigint_leaves_nothing(self):
        folder = os.path.join(self.work, "big")
        make_folder(folder, big=100)
        p, out = self.start_writing(folder)
        clicked = time.monotonic()
        p.send_signal(signal.SIGINT)
        code = p.wait(timeout=30)
        elapsed = time.monotonic() - clicked
        rest = p.stdout.read()
        out += rest or b""
        p.stdout.close()
        self.assertEqual(code, 1, out.decode("utf-8", "replace"))
        self.assertGreater(elapsed, 1.3)
        self.assertLess(elapsed, 5.0)
        self.assertEqual(self.work_entries(), ["big"])
        self.assertTrue(os.path.isfile(os.path.join(folder, "big.bin")))

    def test_sigterm_during_the_write_leaves_nothing(self):
        folder = os.path.join(self.work, "big")
        make_folder(folder, big=100)
        p, out = self.start_writing(folder)
        p.send_signal(signal.SIGTERM)
        code = p.wait(timeout=30)
        p.stdout.close()
        self.assertEqual(code, 1, out.decode("utf-8", "replace"))
        # Neither the archive nor its temporary file is left beside the folder.
        self.assertEqual(self.work_entries(), ["big"])
        self.assertTrue(os.path.isfile(os.path.join(folder, "big.bin")))

    def test_a_file_size_limit_fails_the_run_and_keeps_the_older_archive(self):
        # A size limit (ulimit -f) acts like a full disk: the write fails with
        # its reason, instead of SIGXFSZ ending the process with the temporary
        # archive left behind.
        folder = os.path.join(self.work, "big")
        make_folder(folder, big=4)
        with open(folder + ".zip", "wb") as f:
            f.write(b"older archive")

        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))

        p = subprocess.run([PROGRAM, folder], input=b"1\n", stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, env=self.env, cwd=self.work,
                           timeout=120, preexec_fn=limit)
        out = p.stdout.decode("utf-8", "replace")
        self.assertEqual(p.returncode, 2, out)
        self.assertIn("Impossible d'écrire l'archive « " + folder + ".zip » (disque plein ?).",
                      out)
        self.assertNotIn("Compression complète", out)
        with open(folder + ".zip", "rb") as f:
            self.assertEqual(f.read(), b"older archive")
        self.assertEqual(self.work_entries(), ["big", "big.zip"])

    def test_a_reader_that_goes_away_cancels_cleanly(self):
        # "Quorvelpack dossier | head": once the reader has gone, the next
        # footer written raises SIGPIPE. The run stops as cancelled and takes
        # its temporary archive with it instead of dying in the middle.
        folder = os.path.join(self.work, "big")
        make_folder(folder, big=100)
        p, out = self.start_writing(folder)
        p.stdout.close()
        code = p.wait(timeout=30)
        self.assertEqual(code, 1, out.decode("utf-8", "replace"))
        self.assertEqual(self.work_entries(), ["big"])
        self.assertTrue(os.path.isfile(os.path.join(folder, "big.bin")))

    def test_pty_plain_run_shows_the_dialog(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder, big=40)
        expected = tree(folder)
        pid, fd = self.spawn_pty([folder])
        sink = [""]
        code = self.finish_pty(pid, fd, sink)
        self.assertEqual(code, 0, sink[0])
        self.assertIn("Compression en cours...", sink[0])
        self.assertIn("Création de : photos.zip", sink[0])
        self.assertIn("Annuler", sink[0])
        self.assert_archive(folder + ".zip", expected)

    def test_pty_password_typed_and_deletion_declined(self):
        folder = os.path.join(self.work, "secret")
        make_folder(folder)
        expected = tree(folder)
        pid, fd = self.spawn_pty(["§" + folder])
        sink = [""]
        self.assertTrue(self.read_until(fd, lambda t: "Saisir un mot de passe" in t, 30, sink),
                        sink[0])
        for ch in "Secret!1":
            os.write(fd, ch.encode())
            time.sleep(0.02)
        self.assertTrue(self.read_until(fd, lambda t: "Forte" in t, 10, sink), sink[0])
        os.write(fd, b"\r")
        self.assertTrue(self.read_until(
            fd, lambda t: "Voulez-vous supprimer le dossier" in t, 60, sink), sink[0])
        os.write(fd, b"n")
        os.write(fd, b"\r")
        code = self.finish_pty(pid, fd, sink)
        self.assertEqual(code, 0, sink[0])
        self.assertTrue(os.path.isdir(folder))
        self.assert_archive(folder + ".zip", expected, password="Secret!1")

    def test_pty_cancel_with_ctrl_c(self):
        folder = os.path.join(self.work, "big")
        make_folder(folder, big=100)
        pid, fd = self.spawn_pty([folder])
        sink = [""]
        self.assertTrue(self.read_until(fd, lambda t: "Compression :" in t, 60, sink), sink[0])
        os.write(fd, b"\x03")
        code = self.finish_pty(pid, fd, sink, timeout=30)
        self.assertEqual(code, 1, sink[0])
        self.assertEqual(self.work_entries(), ["big"])


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
