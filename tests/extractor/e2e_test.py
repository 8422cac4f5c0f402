"""Quorvelunpack as a user runs it: the built program, driven in line mode
(stdin and stdout are pipes) and under a pseudo-terminal, on archives made by
7-Zip and Info-ZIP, and on a hostile archive.

Usage: e2e_test.py <path of Quorvelunpack> [unittest arguments]
"""

import os
import pty
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

PROGRAM = None
TIMEOUT = 60


def have(tool):
    return shutil.which(tool) is not None


class Base(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="qv_unpack_e2e_")
        self.env = dict(os.environ)
        self.env["HOME"] = self.root
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.root, "config")
        # No desktop: opening the destination folder must not start anything.
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)
        self.env["LANG"] = "C.UTF-8"

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, rel, data):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        return p

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def sample_tree(self, name="src"):
        self.write(f"{name}/a.txt", "alpha\n")
        self.write(f"{name}/sous dossier/é.txt", "accent\n")
        self.write(f"{name}/sous dossier/data.bin", os.urandom(300000))
        return self.path(name)

    def check_sample(self, dest, name="src"):
        self.assertEqual(self.read(dest, "a.txt"), b"alpha\n")
        self.assertEqual(self.read(dest, "sous dossier", "é.txt"), b"accent\n")
        self.assertEqual(self.read(dest, "sous dossier", "data.bin"),
                         self.read(name, "sous dossier", "data.bin"))

    def run_lines(self, args, stdin_text="", timeout=TIMEOUT):
        """Line mode: stdin and stdout are pipes."""
        proc = subprocess.run([PROGRAM] + args, input=stdin_text.encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=self.env, cwd=self.root, timeout=timeout)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def run_split(self, args, stdin=None):
        """Line mode with standard error apart; stdin None is /dev/null."""
        proc = subprocess.run([PROGRAM] + args,
                              input=None if stdin is None else stdin.encode(),
                              stdin=subprocess.DEVNULL if stdin is None else None,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=self.env, cwd=self.root, timeout=TIMEOUT)
        return (proc.returncode, proc.stdout.decode("utf-8", "replace"),
                proc.stderr.decode("utf-8", "replace"))

    def snapshot_folder(self, folder):
        """Every file under folder: relative path -> (content, mtime)."""
        found = {}
        for base, _, files in os.walk(folder):
            for name in files:
                full = os.path.join(base, name)
                with open(full, "rb") as f:
                    found[os.path.relpath(full, folder)] = (f.read(), os.stat(full).st_mtime_ns)
        return found

    def seven_zip(self, archive, source, *switches):
        subprocess.run(["7zz", "a", "-tzip", "-bd", "-bso0", *switches, archive, "."],
                       cwd=source, check=True, env=self.env)

    def info_zip(self, archive, source, *switches):
        subprocess.run(["zip", "-q", "-r", *switches, archive, "."], cwd=source, check=True,
                       env=self.env)


@unittest.skipUnless(have("7zz") and have("zip"), "7zz and zip are needed")
class LineMode(Base):
    def test_info_zip_archive_without_password(self):
        src = self.sample_tree()
        archive = self.path("photos.zip")
        self.info_zip(archive, src)
        code, out = self.run_lines([archive])
        self.assertEqual(code, 0, out)
        self.check_sample(self.path("photos"))
        self.assertIn("Décompression complète", out)
        self.assertNotIn("Autorisation requise", out)
        self.assertTrue(os.path.exists(archive))

    def test_hash_prefix_deletes_the_archive_after_success(self):
        src = self.sample_tree()
        archive = self.path("photos.zip")
        self.info_zip(archive, src)
        code, out = self.run_lines(["#" + archive])
        self.assertEqual(code, 0, out)
        self.check_sample(self.path("photos"))
        self.assertFalse(os.path.exists(archive))

    def test_an_archive_name_that_holds_double_quotes(self):
        # A Linux name may hold quotes: the archive named as it stands is
        # extracted beside itself, and the "#" deletes that one.
        archive = self.path('le "vrai" nom.zip')
        self.info_zip(archive, self.sample_tree())
        code, out = self.run_lines(["#" + archive])
        self.assertEqual(code, 0, out)
        self.check_sample(self.path('le "vrai" nom'))
        self.assertFalse(os.path.exists(archive))

    def test_path_with_blanks_in_several_arguments(self):
        src = self.sample_tree()
        os.makedirs(self.path("mes archives"))
        archive = self.path("mes archives", "été 2024.zip")
        self.info_zip(archive, src)
        # The arguments are joined by single blanks into one path.
        code, out = self.run_lines([self.path("mes"), "archives/été", "2024.zip"])
        self.assertEqual(code, 0, out)
        self.check_sample(self.path("mes archives", "été 2024"))

    def test_seven_zip_aes256_wrong_then_right_password(self):
        src = self.sample_tree()
        archive = self.path("secret.zip")
        self.seven_zip(archive, src, "-pS3cr3t-pw!", "-mem=AES256")
        code, out = self.run_lines([archive], "mauvais\nS3cr3t-pw!\n")
        self.assertEqual(code, 0, out)
        self.assertIn("Autorisation requise", out)
        self.assertIn("Mot de passe incorrect, veuillez réessayer.", out)
        self.check_sample(self.path("secret"))

    def test_each_wrong_password_is_answered(self):
        src = self.sample_tree()
        archive = self.path("secret.zip")
        self.seven_zip(archive, src, "-pS3cr3t-pw!", "-mem=AES256")
        code, out = self.run_lines([archive], "mauvais\nfaux\nS3cr3t-pw!\n")
        self.assertEqual(code, 0, out)
        self.assertEqual(out.count("Mot de passe incorrect, veuillez réessayer."), 2, out)
        self.check_sample(self.path("secret"))

    def test_seven_zip_zipcrypto(self):
        src = self.sample_tree()
        archive = self.path("zc.zip")
        self.seven_zip(archive, src, "-pmotdepasse", "-mem=ZipCrypto")
        code, out = self.run_lines([archive], "motdepasse\n")
        self.assertEqual(code, 0, out)
        self.assertEqual(out.count("Autorisation requise"), 1, out)
        self.check_sample(self.path("zc"))

    def test_info_zip_password_cancelled_at_end_of_input(self):
        src = self.sample_tree()
        archive = self.path("izc.zip")
        self.info_zip(archive, src, "-P", "motdepasse")
        code, out = self.run_lines(["#" + archive], "faux\n")
        self.assertEqual(code, 1, out)
        self.assertFalse(os.path.exists(self.path("izc")))
        self.assertTrue(os.path.exists(archive))

    def test_existing_destination_update_only(self):
        src = self.sample_tree()
        archive = self.path("photos.zip")
        self.info_zip(archive, src)
        self.write("photos/a.txt", "mine, newer")
        future = time.time() + 86400
        os.utime(self.path("photos", "a.txt"), (future, future))
        code, out = self.run_lines([archive], "1\n")
        self.assertEqual(code, 0, out)
        self.assertIn("Le dossier de décompression existe déjà !.", out)
        self.assertEqual(self.read("photos", "a.txt"), b"mine, newer")
        self.assertEqual(self.read("photos", "sous dossier", "é.txt"), b"accent\n")

    def test_existing_destination_abandon(self):
        src = self.sample_tree()
        archive = self.path("photos.zip")
        self.info_zip(archive, src)
        self.write("photos/a.txt", "mine")
        code, out = self.run_lines(["#" + archive], "3\n")
        self.assertEqual(code, 1, out)
        self.assertEqual(os.listdir(self.path("photos")), ["a.txt"])
        self.assertEqual(self.read("photos", "a.txt"), b"mine")
        self.assertTrue(os.path.exists(archive))

    def test_existing_destination_without_an_answer_changes_nothing(self):
        # Nobody there to answer (/dev/null, or a script whose input ends):
        # the choice is an abandon, whatever is newer in the folder.
        src = self.sample_tree()
        archive = self.path("photos.zip")
        self.info_zip(archive, src)
        self.write("photos/a.txt", "mine, older")
        past = time.time() - 400 * 86400
        os.utime(self.path("photos", "a.txt"), (past, past))
        self.write("photos/sous dossier/é.txt", "mine, newer")
        before = self.snapshot_folder(self.path("photos"))
        for stdin in (None, ""):
            with self.subTest(stdin="/dev/null" if stdin is None else "pipe"):
                code, out, err = self.run_split(["#" + archive], stdin)
                self.assertEqual(code, 1, out + err)
                self.assertIn("Le dossier de décompression existe déjà !.", out)
                self.assertNotIn("Décompression en cours...", out)
                self.assertEqual(self.snapshot_folder(self.path("photos")), before)
                self.assertTrue(os.path.exists(archive))

    def test_archive_that_cannot_be_opened_says_why_on_stderr(self):
        self.write("pas une archive.zip", "du texte, pas du zip")
        code, out, err = self.run_split([self.path("pas une archive.zip")])
        self.assertEqual(code, 2, out + err)
        self.assertEqual(out, "")
        self.assertEqual(err, "Le fichier « " + self.path("pas une archive.zip") +
                         " » n'est pas une archive zip lisible.\n")
        self.assertFalse(os.path.exists(self.path("pas une archive")))

    def test_archive_named_only_by_its_extension_is_not_extracted_over_its_folder(self):
        src = self.sample_tree()
        os.makedirs(self.path("dossier"))
        archive = self.path("dossier", ".zip")
        self.info_zip(archive, src)
        self.write("dossier/a.txt", "mine")
        code, out, err = self.run_split([archive], "2\n")
        self.assertEqual(code, 2, out + err)
        self.assertEqual(out, "")
        self.assertIn("ne laisse aucun dossier de décompression", err)
        self.assertEqual(err.count("\n"), 1, err)
        self.assertEqual(sorted(os.listdir(self.path("dossier"))), [".zip", "a.txt"])
        self.assertEqual(self.read("dossier", "a.txt"), b"mine")

    def test_no_command_line_asks_for_the_archive(self):
        src = self.sample_tree()
        os.makedirs(self.path("archives"))
        archive = self.path("archives", "choisi.zip")
        self.info_zip(archive, src)
        code, out = self.run_lines([], archive + "\n")
        self.assertEqual(code, 0, out)
        self.check_sample(self.path("archives", "choisi"))
        # First run: the chooser starts in the Documents folder (here the home).
        self.assertIn("Sélectionnez un fichier Zip (Zip Files : *.zip) dans " + self.root + " :", out)
        # The next one starts where the last archive was.
        code, out = self.run_lines([], "")
        self.assertEqual(code, 1, out)
        self.assertIn("dans " + self.path("archives") + " :", out)

    def test_no_command_line_and_no_answer_ends_silently(self):
        code, out = self.run_lines([], "")
        self.assertEqual(code, 1, out)

    def test_settings_that_cannot_be_written_end_the_run_with_a_message(self):
        src = self.sample_tree()
        archive = self.path("photos.zip")
        self.info_zip(archive, src)
        self.write("config", "a file where the settings folder should be")
        proc = subprocess.run([PROGRAM, archive], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=self.env, cwd=self.root, timeout=TIMEOUT)
        self.assertEqual(proc.returncode, 2)
        self.assertIn("Impossible", (proc.stdout + proc.stderr).decode("utf-8", "replace"))
        self.assertFalse(os.path.exists(self.path("photos")))

    def test_damaged_archive_fails_and_is_kept(self):
        self.write("src/big.bin", os.urandom(200000))
        archive = self.path("abime.zip")
        self.info_zip(archive, self.path("src"), "-0")
        with open(archive, "r+b") as f:
            f.seek(100000)
            b = f.read(1)
            f.seek(100000)
            f.write(bytes([b[0] ^ 0x5A]))
        # The failure waits for its "Annuler": end of input presses it.
        code, out = self.run_lines(["#" + archive])
        self.assertEqual(code, 2, out)
        lines = out.splitlines()
        self.assertIn("La décompression a échoué.", lines)
        reason = lines[lines.index("La décompression a échoué.") + 1]
        self.assertIn("big.bin", reason)
        self.assertNotIn("Décompression complète", out)
        self.assertTrue(os.path.exists(archive))
        dest = self.path("abime")
        self.assertFalse(os.path.exists(os.path.join(dest, "big.bin")))

    def start_slow_extraction(self):
        """A "#" run on an archive that takes a while to write out (zeros),
        returned once the extraction is under way: the process, its archive
        and what it printed so far."""
        big = self.path("src", "big.bin")
        os.makedirs(os.path.dirname(big))
        with open(big, "wb") as f:
            f.truncate(768 << 20)
        self.write("src/z_last.txt", "last")
        archive = self.path("gros.zip")
        self.info_zip(archive, self.path("src"))
        os.remove(big)
        proc = subprocess.Popen([PROGRAM, "#" + archive], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=self.env, cwd=self.root)
        seen = b""
        deadline = time.time() + TIMEOUT
        while b"compression : " not in seen and time.time() < deadline:
            r, _, _ = select.select([proc.stdout], [], [], 1)
            if r:
                chunk = os.read(proc.stdout.fileno(), 4096)
                if not chunk:
                    break
                seen += chunk
        return proc, archive, seen

    def assert_no_partial_files(self):
        dest = self.path("gros")
        left = sorted(os.listdir(dest)) if os.path.isdir(dest) else []
        for name in left:
            self.assertIn(name, ("big.bin", "z_last.txt"))
        if "big.bin" in left:
            self.assertEqual(os.path.getsize(os.path.join(dest, "big.bin")), 768 << 20)

    def test_interrupt_cancels_without_partial_files(self):
        proc, archive, seen = self.start_slow_extraction()
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=TIMEOUT)
        self.assertEqual(proc.returncode, 1, (seen + out).decode("utf-8", "replace"))
        self.assertTrue(os.path.exists(archive))
        self.assert_no_partial_files()

    def test_a_reader_that_goes_away_cancels_cleanly(self):
        # "Quorvelunpack #a.zip | head": the next footer raises SIGPIPE; the
        # run ends as cancelled, keeps the archive and leaves no partial file.
        proc, archive, seen = self.start_slow_extraction()
        proc.stdout.close()
        err = proc.stderr.read()
        proc.stderr.close()
        code = proc.wait(timeout=TIMEOUT)
        self.assertEqual(code, 1, (seen + err).decode("utf-8", "replace"))
        self.assertTrue(os.path.exists(archive))
        self.assert_no_partial_files()



class Hostile(Base):
    def make_hostile(self, archive):
        outside_abs = self.path("absolu", "pwned_abs.txt")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("ok.txt", "fine")
            z.writestr("../pwned_parent.txt", "x")
            z.writestr("sous/../../pwned_dotdot.txt", "x")
            z.writestr(outside_abs, "x")
            z.writestr("..\\pwned_backslash.txt", "x")
            # A link that points outside, then a file written through it.
            link = zipfile.ZipInfo("lien")
            link.create_system = 3
            link.external_attr = (stat.S_IFLNK | 0o777) << 16
            z.writestr(link, self.path("absolu"))
            z.writestr("lien/pwned_link.txt", "x")
            rel = zipfile.ZipInfo("lienrel")
            rel.create_system = 3
            rel.external_attr = (stat.S_IFLNK | 0o777) << 16
            z.writestr(rel, "../..")
            z.writestr("lienrel/pwned_rel.txt", "x")

    def snapshot(self):
        found = set()
        for base, dirs, files in os.walk(self.root, followlinks=False):
            for name in files + dirs:
                found.add(os.path.relpath(os.path.join(base, name), self.root))
        return found

    # An entry whose name is longer than the file system takes (here 264
    # bytes) is refused as such, not as a write failure "(disque plein ?)" that
    # would send the user looking at a disk that is not full.
    def test_an_entry_name_too_long_for_the_disk_says_so(self):
        archive = self.path("long.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("ok.txt", "ok")
            z.writestr("é" * 130 + ".txt", "x")
        code, out, _ = self.run_split([archive])
        self.assertEqual(code, 2, out)
        self.assertIn("La décompression a échoué.", out)
        self.assertNotIn("disque plein", out)
        self.assertIn("trop long", out)

    # Names that are ordinary on Linux, which our own compressor archives as
    # they are ("c:d.txt", "a\\b.txt"), land on the names of other entries of
    # the same archive ("d.txt", "a/b.txt"): every entry's data comes out, or
    # the run fails and says so; one file never silently replaces another.
    def test_entries_that_land_on_the_same_file_are_not_lost(self):
        archive = self.path("collision.zip")
        contents = {"c:d.txt": b"drive", "d.txt": b"plain",
                    "a\\b.txt": b"backslash", "a/b.txt": b"slash"}
        with zipfile.ZipFile(archive, "w") as z:
            for name, data in contents.items():
                z.writestr(name, data)
        code, out, _ = self.run_split([archive])
        if code == 0:
            found = [data for data, _ in self.snapshot_folder(self.path("collision")).values()]
            self.assertEqual(sorted(found), sorted(contents.values()), out)
        else:
            self.assertEqual(code, 2, out)
            self.assertIn("La décompression a échoué.", out)

    def test_entry_names_reach_the_output_escaped(self):
        archive = self.path("noms.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("a\x1b]0;pwned\x07\x1b[2Jb.txt", "x")
        code, out = self.run_lines([archive])
        self.assertIn(code, (0, 2), out)
        self.assertNotIn("\x1b", out)
        self.assertNotIn("\x07", out)

    def test_a_destination_that_is_a_link_is_not_followed(self):
        # "arch" is a link to a folder elsewhere: choosing to extract
        # everything over it must not fill that other folder.
        os.makedirs(self.path("ailleurs"))
        archive = self.path("arch.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("f.txt", "x")
        os.symlink(self.path("ailleurs"), self.path("arch"))
        code, out = self.run_lines([archive], "2\n")
        self.assertEqual(code, 2, out)
        self.assertIn("La décompression a échoué.\nLe dossier de destination", out)
        self.assertEqual(os.listdir(self.path("ailleurs")), [])
        self.assertTrue(os.path.islink(self.path("arch")))

    def test_nothing_is_written_outside_the_destination(self):
        os.makedirs(self.path("travail"))
        os.makedirs(self.path("absolu"))
        archive = self.path("travail", "hostile.zip")
        self.make_hostile(archive)
        before = self.snapshot()
        code, out = self.run_lines([archive])
        self.assertIn(code, (0, 2), out)
        after = self.snapshot()
        new = {p for p in after - before
               if not p.startswith(os.path.join("travail", "hostile") + os.sep)
               and p != os.path.join("travail", "hostile")
               and not p.startswith("config")}
        self.assertEqual(new, set(), out)
        self.assertEqual(os.listdir(self.path("absolu")), [])
        for base, _, files in os.walk(self.path("travail", "hostile")):
            self.assertNotIn("pwned_parent.txt", files)


class Terminal(Base):
    """Under a pseudo-terminal: the dialogs are drawn in place and read keys."""

    def run_pty(self, args, keys_after, timeout=TIMEOUT):
        """Runs the program on a pty. keys_after: list of (text to wait for, keys)."""
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.root)
            os.execve(PROGRAM, [PROGRAM] + args, self.env)
        out = b""
        pending = list(keys_after)
        deadline = time.time() + timeout
        status = None
        try:
            while time.time() < deadline:
                r, _, _ = select.select([fd], [], [], 0.2)
                if r:
                    try:
                        chunk = os.read(fd, 65536)
                    except OSError:
                        chunk = b""
                    if not chunk:
                        break
                    out += chunk
                while pending and pending[0][0].encode() in out:
                    _, keys = pending.pop(0)
                    out += b"\n<<sent>>\n"
                    time.sleep(0.2)
                    os.write(fd, keys.encode())
                done, st = os.waitpid(pid, os.WNOHANG)
                if done:
                    status = st
                    break
            # The terminal closes a moment before the process is reaped.
            while status is None and time.time() < deadline:
                done, st = os.waitpid(pid, os.WNOHANG)
                if done:
                    status = st
                else:
                    time.sleep(0.05)
            if status is None:
                done, status = os.waitpid(pid, os.WNOHANG)
                if not done:
                    os.kill(pid, signal.SIGKILL)
                    os.waitpid(pid, 0)
                    self.fail("the program did not end:\n" + out.decode("utf-8", "replace"))
        finally:
            os.close(fd)
        return os.waitstatus_to_exitcode(status), out.decode("utf-8", "replace")

    @unittest.skipUnless(have("7zz"), "7zz is needed")
    def test_password_typed_on_the_terminal(self):
        src = self.sample_tree()
        archive = self.path("secret.zip")
        self.seven_zip(archive, src, "-pTerminal9", "-mem=AES256")
        code, out = self.run_pty([archive], [("Autorisation requise", "Terminal9\r")])
        self.assertEqual(code, 0, out)
        self.assertNotIn("Terminal9", out.split("<<sent>>")[-1], "the password is masked")
        self.check_sample(self.path("secret"))

    @unittest.skipUnless(have("zip"), "zip is needed")
    def test_plain_archive_on_the_terminal(self):
        src = self.sample_tree()
        archive = self.path("simple.zip")
        self.info_zip(archive, src)
        code, out = self.run_pty(["#" + archive], [])
        self.assertEqual(code, 0, out)
        self.check_sample(self.path("simple"))
        self.assertFalse(os.path.exists(archive))

    @unittest.skipUnless(have("zip"), "zip is needed")
    def test_choice_and_cancel_keys_on_the_terminal(self):
        big = self.path("src", "big.bin")
        os.makedirs(os.path.dirname(big))
        with open(big, "wb") as f:
            f.truncate(768 << 20)
        archive = self.path("gros.zip")
        self.info_zip(archive, self.path("src"))
        os.remove(big)
        os.makedirs(self.path("gros"))
        # "2": extract everything; then "a" cancels the progress dialog.
        code, out = self.run_pty(["#" + archive], [("renoncer", "2\r"), (" %", "a")])
        self.assertEqual(code, 1, out)
        self.assertTrue(os.path.exists(archive))
        left = os.listdir(self.path("gros"))
        self.assertIn(left, ([], ["big.bin"]))
        if left:
            self.assertEqual(os.path.getsize(self.path("gros", "big.bin")), 768 << 20)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
