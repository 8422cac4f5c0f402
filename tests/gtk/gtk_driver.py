#!/usr/bin/python3
"""The desktop dialogs of Quorvelpack and Quorvelunpack, driven through the
accessibility bus as a person would: rows chosen from the keyboard, buttons
clicked, text typed. Runs inside run-gtk-test (Xvfb and a D-Bus session).

Usage: gtk_driver.py <Quorvelpack> <Quorvelunpack> <artifacts dir> [unittest args]
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import pyatspi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "compressor"))
from e2e_test import tree  # noqa: E402  (a folder's files and contents, by relative path)

PACK = UNPACK = ARTIFACTS = None
SEVENZIP = shutil.which("7zz")

TITLE_PACK = "Quorvelpack : Compresser un dossier"
TITLE_UNPACK = "Quorvelunpack : Décompresser un fichier Zip"

KEY_RETURN, KEY_DOWN, KEY_BACKSPACE, KEY_ESCAPE = 0xFF0D, 0xFF54, 0xFF08, 0xFF1B


def make_folder(path, big=0, text=False):
    os.makedirs(os.path.join(path, "sous dossier"), exist_ok=True)
    with open(os.path.join(path, "a.txt"), "w", encoding="utf-8") as f:
        f.write("alpha\n")
    with open(os.path.join(path, "sous dossier", "été 2€ ’.txt"), "w", encoding="utf-8") as f:
        f.write("bravo\n")
    if big:
        # Long enough to be cancelled: incompressible data take an extraction
        # time; text a compression time (deflate skips through random bytes,
        # and through base64 nearly as fast). The text is cut from a pool of
        # words at random places, so every piece is new to the compressor.
        rnd = random.Random(7)
        words = ["archive", "dossier", "fichier", "été", "données", "valeur", "total", "client",
                 "janvier", "mars", "erreur", "succès", "et", "le", "la", "des", "pour", "dans"]
        pool = " ".join(rnd.choice(words) + str(rnd.randrange(1000)) for _ in range(600000)).encode()
        with open(os.path.join(path, "big.txt" if text else "big.bin"), "wb") as f:
            for _ in range(big):
                if text:
                    start = rnd.randrange(len(pool) - (1 << 20))
                    f.write(pool[start:start + (1 << 20)])
                else:
                    f.write(os.urandom(1 << 20))


# ---- the accessibility tree -------------------------------------------------

def walk(acc, depth=0):
    if acc is None or depth > 60:
        return
    yield acc
    try:
        n = acc.childCount
    except Exception:
        return
    for i in range(n):
        try:
            child = acc.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def name_of(acc):
    try:
        return acc.name or ""
    except Exception:
        return ""


def role_of(acc):
    try:
        return acc.getRole()
    except Exception:
        return None


def visible(acc):
    """GTK 4.8 reports no SHOWING state and keeps hidden pages in the tree:
    a widget is on screen when it has a size."""
    try:
        e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return e.width > 0 and e.height > 0
    except Exception:
        return False


def focused(acc):
    try:
        return acc.getState().contains(pyatspi.STATE_FOCUSED)
    except Exception:
        return False


def text_of(acc):
    try:
        t = acc.queryText()
        return t.getText(0, t.characterCount)
    except Exception:
        return None


def wait_for(what, probe, timeout=30.0):
    end = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.1)


def keysym(sym):
    pyatspi.Registry.generateKeyboardEvent(sym, None, pyatspi.KEY_SYM)
    time.sleep(0.05)


def type_text(text):
    """One key per character, by its keysym (Latin-1 keysyms are the code
    points; the others are 0x1000000 + the code point)."""
    for ch in text:
        cp = ord(ch)
        sym = cp if 0x20 <= cp <= 0xFF else 0x1000000 + cp
        pyatspi.Registry.generateKeyboardEvent(sym, None, pyatspi.KEY_SYM)
        time.sleep(0.04)


class App:
    """One running program and its accessible application."""

    def __init__(self, test, program, args, env):
        self.test = test
        self.name = os.path.basename(program)
        self.proc = subprocess.Popen([program] + args, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     env=env, cwd=test.work)

    def application(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            try:
                app = desktop.getChildAtIndex(i)
            except Exception:
                continue
            if app is not None and name_of(app) == self.name:
                return app
        return None

    def windows(self):
        app = self.application()
        if app is None:
            return []
        out = []
        for i in range(app.childCount):
            try:
                w = app.getChildAtIndex(i)
            except Exception:
                continue
            if w is not None and visible(w):
                out.append(w)
        return out

    def label_in(self, window, text):
        for acc in walk(window):
            if role_of(acc) == pyatspi.ROLE_LABEL and name_of(acc) == text and visible(acc):
                return acc
        return None

    def dialog(self, text, timeout=30.0):
        """The window showing a label `text`, once it is on screen."""
        def probe():
            if self.proc.poll() is not None:
                raise AssertionError("%s ended (%s) while waiting for « %s »:\n%s" % (
                    self.name, self.proc.returncode, text, self.output()))
            for w in self.windows():
                if self.label_in(w, text):
                    return w
            return None
        return self.point_at(wait_for("« %s »" % text, probe, timeout))

    @staticmethod
    def point_at(window):
        """Without a window manager the keyboard follows the pointer: it is
        put over the window, as a person's hand would be."""
        e = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        pyatspi.Registry.generateMouseEvent(e.x + e.width // 2, e.y + min(e.height // 2, 20), "abs")
        time.sleep(0.1)
        return window

    def labels(self, window):
        return [name_of(a) for a in walk(window)
                if role_of(a) == pyatspi.ROLE_LABEL and visible(a)]

    def wait_label(self, window, text, timeout=30.0):
        return wait_for("« %s »" % text, lambda: self.label_in(window, text), timeout)

    def shot(self, slug):
        self.test.shots += 1
        name = "%s-%02d-%s.png" % (self.test.id().split(".")[-1], self.test.shots, slug)
        time.sleep(0.3)  # the frame drawn
        subprocess.run(["import", "-window", "root", os.path.join(ARTIFACTS, name)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def button(self, window, label):
        """A push button found by its child label (its own accessible name
        carries the mnemonic)."""
        def probe():
            for acc in walk(window):
                if role_of(acc) not in (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON):
                    continue
                if not visible(acc):
                    continue
                names = [name_of(acc)] + [name_of(c) for c in walk(acc)]
                if any(n.replace("_", "") == label for n in names):
                    return acc
            return None
        return wait_for("button « %s »" % label, probe)

    def click(self, window, label):
        b = self.button(window, label)
        action = b.queryAction()
        for i in range(action.nActions):
            if action.getName(i) in ("click", "activate", "press"):
                action.doAction(i)
                return
        action.doAction(0)

    def rows(self, window):
        return [a for a in walk(window)
                if role_of(a) in (pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE_ROW) and visible(a)]

    def choose_row(self, window, title):
        """Moves the keyboard focus down to the row, then Enter."""
        target = wait_for("row « %s »" % title,
                          lambda: next((r for r in self.rows(window) if name_of(r) == title), None))
        for _ in range(10):
            if focused(target):
                break
            keysym(KEY_DOWN)
            time.sleep(0.15)
        self.test.assertTrue(focused(target), "row « %s » never took the focus" % title)
        keysym(KEY_RETURN)

    def entry(self, window):
        return wait_for("input box", lambda: next(
            (a for a in walk(window)
             if role_of(a) in (pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_TEXT)
             and visible(a)), None))

    def wait(self, timeout=120):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("%s did not end:\n%s" % (self.name, self.output()))
        return self.proc.returncode

    def output(self):
        if self.proc.poll() is None:
            return ""
        return self.proc.stdout.read().decode("utf-8", "replace")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Desktop(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="qv_gtk_")
        self.work = os.path.join(self.tmp, "work dé’€")
        os.makedirs(self.work)
        bin_dir = os.path.join(self.tmp, "bin")
        os.makedirs(bin_dir)
        self.opened = os.path.join(self.tmp, "opened.txt")
        # The desktop's default handler, standing in for the file manager.
        with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % self.opened)
        os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
        env = dict(os.environ)
        env.update({
            "QV_UI": "gtk",
            "HOME": self.tmp,
            "XDG_CONFIG_HOME": os.path.join(self.tmp, "config"),
            "XDG_DATA_HOME": os.path.join(self.tmp, "data"),
            "PATH": bin_dir + ":" + env.get("PATH", "/usr/bin:/bin"),
            "GSK_RENDERER": "cairo",
            "GTK_A11Y": "atspi",
        })
        env.pop("WAYLAND_DISPLAY", None)
        self.env = env
        self.apps = []
        self.shots = 0

    def tearDown(self):
        for app in self.apps:
            app.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, program, *args):
        app = App(self, program, list(args), self.env)
        self.apps.append(app)
        return app

    def opened_paths(self):
        # xdg-open is started detached: give it a moment.
        for _ in range(30):
            if os.path.exists(self.opened):
                break
            time.sleep(0.1)
        if not os.path.exists(self.opened):
            return []
        with open(self.opened, encoding="utf-8") as f:
            return [l.rstrip("\n") for l in f]

    def leftovers(self, folder):
        return [n for n in os.listdir(folder) if n.startswith(".") or n.endswith(".tmp")]

    # ---- the compressor ------------------------------------------------------

    def progress_done(self, app, finished):
        w = app.dialog("Compression en cours...")
        bar = wait_for("progress bar", lambda: next(
            (a for a in walk(w) if role_of(a) == pyatspi.ROLE_PROGRESS_BAR and visible(a)), None))
        app.shot("progression")
        app.wait_label(w, finished, 60)
        value = wait_for("bar at 100", lambda: bar.queryValue().currentValue >= 0.999 or None, 10)
        self.assertTrue(value)
        return w

    def test_compress_plain(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder)
        app = self.start(PACK, folder)
        self.progress_done(app, "Compression complète")
        shown = time.monotonic()
        app.shot("complete")
        self.assertEqual(app.wait(), 0, app.output())
        # The end stays on screen for its 2 s pause before the dialog closes.
        self.assertGreater(time.monotonic() - shown, 0.8)
        with zipfile.ZipFile(folder + ".zip") as z:
            self.assertIsNone(z.testzip())
            names = set(z.namelist())
        self.assertIn("sous dossier/été 2€ ’.txt", names)
        self.assertEqual(self.opened_paths(), [self.work])
        self.assertTrue(os.path.isdir(folder))

    def test_compress_password_refused_then_accepted(self):
        folder = os.path.join(self.work, "secret")
        make_folder(folder)
        app = self.start(PACK, "§" + folder)
        w = app.dialog("Chiffrage AES (compatible 7-Zip/WinZip)")
        app.wait_label(w, "Saisir un mot de passe :")
        app.wait_label(w, "Entrer le mot de passe puis OK pour continuer.")
        entry = app.entry(w)
        self.assertNotEqual(role_of(entry), pyatspi.ROLE_PASSWORD_TEXT)
        self.assertEqual(name_of(entry), "Saisir un mot de passe :")
        app.shot("mot-de-passe")
        type_text("abc")
        app.wait_label(w, "Mot de passe invalide !")
        # The compressor's box is in clear: what is typed is what shows.
        self.assertEqual(text_of(entry), "abc")
        app.click(w, "OK")
        app.wait_label(w, "Mot de passe invalide, veuillez le modifier !")
        app.shot("refuse")
        type_text("def")
        app.wait_label(w, "Sécurité du mot de passe : Faible")
        type_text("G1")
        app.wait_label(w, "Sécurité du mot de passe : Modérée")
        type_text("!")
        app.wait_label(w, "Sécurité du mot de passe : Forte")
        app.shot("forte")
        keysym(KEY_RETURN)  # Enter takes OK
        self.progress_done(app, "Compression complète")
        q = app.dialog("Voulez-vous supprimer le dossier qui vient d'être compressé ?", 30)
        app.shot("question")
        app.click(q, "Non")
        self.assertEqual(app.wait(), 0, app.output())
        self.assertTrue(os.path.isdir(folder))
        if SEVENZIP:
            ok = subprocess.run([SEVENZIP, "t", "-pabcdefG1!", folder + ".zip"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertEqual(ok.returncode, 0, ok.stdout.decode("utf-8", "replace"))
            bad = subprocess.run([SEVENZIP, "t", "-pabcdefG1", folder + ".zip"],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertNotEqual(bad.returncode, 0)

    def test_compress_password_cancelled_with_escape(self):
        folder = os.path.join(self.work, "secret")
        make_folder(folder)
        app = self.start(PACK, "§" + folder)
        w = app.dialog("Chiffrage AES (compatible 7-Zip/WinZip)")
        app.entry(w)
        type_text("abcdefgh")
        app.wait_label(w, "Sécurité du mot de passe : Faible")
        keysym(KEY_ESCAPE)
        self.assertEqual(app.wait(), 1, app.output())
        self.assertFalse(os.path.exists(folder + ".zip"))

    def test_compress_hash_yes_trashes_the_folder(self):
        folder = os.path.join(self.work, "à jeter")
        make_folder(folder)
        app = self.start(PACK, "#" + folder)
        self.progress_done(app, "Compression complète")
        q = app.dialog("Êtes-vous sûr de vouloir supprimer le dossier qui vient d'être compressé ?")
        app.wait_label(q, "Suppression du dossier compressé")
        app.shot("question")
        keysym(KEY_RETURN)  # Yes is the default button
        self.assertEqual(app.wait(), 0, app.output())
        self.assertFalse(os.path.exists(folder))
        trash = os.path.join(self.tmp, "data", "Trash", "files")
        self.assertIn("à jeter", os.listdir(trash))
        self.assertEqual(tree(os.path.join(trash, "à jeter"))["a.txt"], b"alpha\n")
        with zipfile.ZipFile(folder + ".zip") as z:
            self.assertIsNone(z.testzip())

    def test_existing_archive_abandoned_then_overwritten(self):
        folder = os.path.join(self.work, "photos")
        make_folder(folder)
        with open(folder + ".zip", "wb") as f:
            f.write(b"old archive")
        app = self.start(PACK, folder)
        w = app.dialog("Le fichier Zip existe déjà !.")
        app.wait_label(w, "Vous pouvez choisir de :")
        app.wait_label(w, "Choisissez une des options ci-dessus")
        titles = [name_of(r) for r in app.rows(w)]
        self.assertEqual(titles, ["Compresser le répertoire", "Abandonner"])
        app.shot("choix")
        # No way out but the links: Escape does nothing.
        keysym(KEY_ESCAPE)
        time.sleep(0.5)
        self.assertIsNone(app.proc.poll())
        app.choose_row(w, "Abandonner")
        self.assertEqual(app.wait(), 1, app.output())
        with open(folder + ".zip", "rb") as f:
            self.assertEqual(f.read(), b"old archive")

        app = self.start(PACK, folder)
        w = app.dialog("Le fichier Zip existe déjà !.")
        app.choose_row(w, "Compresser le répertoire")
        self.progress_done(app, "Compression complète")
        self.assertEqual(app.wait(), 0, app.output())
        with zipfile.ZipFile(folder + ".zip") as z:
            self.assertEqual(z.read("a.txt"), b"alpha\n")

    def test_cancel_during_the_write_leaves_nothing(self):
        folder = os.path.join(self.work, "gros")
        make_folder(folder, big=400, text=True)
        app = self.start(PACK, folder)
        w = app.dialog("Compression en cours...")
        wait_for("the write", lambda: any(l.startswith("    Compression : ") for l in app.labels(w)), 60)
        app.shot("annuler")
        started = time.monotonic()
        app.click(w, "Annuler")
        # The dialog leaves the screen when it is closed, 0.5 s after the
        # click, while the process waits its last second.
        hidden_while_running = False
        while app.proc.poll() is None and time.monotonic() - started < 10:
            if not app.windows():
                hidden_while_running = app.proc.poll() is None
                break
            time.sleep(0.05)
        self.assertEqual(app.wait(), 1, app.output())
        self.assertTrue(hidden_while_running, "the dialog stayed until the process ended")
        self.assertLess(time.monotonic() - started, 10)
        self.assertFalse(os.path.exists(folder + ".zip"))
        self.assertEqual(self.leftovers(self.work), [])

    def test_chooser_then_compression(self):
        folder = os.path.join(self.work, "choisi")
        make_folder(folder)
        app = self.start(PACK)
        chooser = self.chooser(app, "Sélectionnez un dossier à Compresser")
        app.shot("selecteur")
        self.type_location(app, chooser, folder)
        app.click(chooser, "Sélectionner")
        q = app.dialog("Voulez-vous crypter le fichier compressé ? ")
        app.shot("chiffrer")
        keysym(KEY_RETURN)  # No is the default button: no password is asked
        self.progress_done(app, "Compression complète")
        q = app.dialog("Voulez-vous supprimer le dossier qui vient d'être compressé ?")
        app.click(q, "Non")
        self.assertEqual(app.wait(), 0, app.output())
        with zipfile.ZipFile(folder + ".zip") as z:
            self.assertIsNone(z.testzip())
        settings = os.path.join(self.tmp, "config", "Quorvelpack", "Settings.ini")
        with open(settings, encoding="utf-8") as f:
            self.assertIn(self.work, f.read())

    # ---- the chooser ---------------------------------------------------------

    def chooser(self, app, title):
        def probe():
            if app.proc.poll() is not None:
                raise AssertionError("%s ended:\n%s" % (app.name, app.output()))
            for w in app.windows():
                if name_of(w) == title:
                    return w
            return None
        return app.point_at(wait_for("chooser « %s »" % title, probe))

    def type_location(self, app, chooser, path):
        """The location is typed as "/" first (which opens the location
        entry), the rest once that entry is there."""
        type_text("/")
        wait_for("location entry", lambda: next(
            (a for a in walk(chooser) if role_of(a) in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY)
             and visible(a) and (text_of(a) or "").startswith("/")), None), 10)
        time.sleep(0.3)
        type_text(path[1:])
        wait_for("path typed", lambda: next(
            (a for a in walk(chooser) if role_of(a) in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY)
             and text_of(a) == path), None), 10)
        time.sleep(0.3)

    # ---- the extractor -------------------------------------------------------

    def make_archive(self, name, password=None, big=0, text=False):
        src = os.path.join(self.tmp, "src-" + name)
        make_folder(src, big, text)
        archive = os.path.join(self.work, name + ".zip")
        if password:
            subprocess.run([SEVENZIP, "a", "-tzip", "-mem=AES256", "-p" + password, archive, "."],
                           cwd=src, check=True, stdout=subprocess.DEVNULL)
        else:
            with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
                for rel, data in sorted(tree(src).items()):
                    z.writestr(rel, data)
        return archive, tree(src)

    def extraction_done(self, app):
        w = app.dialog("Décompression en cours...")
        app.shot("progression")
        app.wait_label(w, "Décompression complète", 60)
        return w

    @unittest.skipUnless(SEVENZIP, "7zz is needed to write an AES archive")
    def test_extract_wrong_then_right_password(self):
        archive, content = self.make_archive("coffre", password="Bon-mot2passe")
        app = self.start(UNPACK, archive)
        w = app.dialog("Autorisation requise")
        app.wait_label(w, "Ce fichier est protégé par mot de passe")
        entry = app.entry(w)
        self.assertEqual(role_of(entry), pyatspi.ROLE_PASSWORD_TEXT)
        self.assertEqual(name_of(entry), "Ce fichier est protégé par mot de passe")
        app.shot("mot-de-passe")
        type_text("mauvais")
        app.click(w, "OK")
        app.wait_label(w, "Mot de passe incorrect, veuillez réessayer.")
        app.shot("refuse")
        for _ in range(len("mauvais")):
            keysym(KEY_BACKSPACE)
        type_text("Bon-mot2passe")
        time.sleep(0.3)
        app.click(w, "OK")
        self.extraction_done(app)
        self.assertEqual(app.wait(), 0, app.output())
        self.assertEqual(tree(archive[:-4]), content)
        self.assertEqual(self.opened_paths(), [archive[:-4]])

    @unittest.skipUnless(SEVENZIP, "7zz is needed to write an AES archive")
    def test_extract_wrong_password_then_cancel(self):
        archive, _content = self.make_archive("coffre", password="Bon-mot2passe")
        app = self.start(UNPACK, archive)
        w = app.dialog("Autorisation requise")
        app.entry(w)
        type_text("faux")
        app.click(w, "OK")
        app.wait_label(w, "Mot de passe incorrect, veuillez réessayer.")
        app.click(w, "Annuler")
        self.assertEqual(app.wait(), 1, app.output())
        self.assertFalse(os.path.exists(archive[:-4]))
        self.assertEqual(self.opened_paths(), [])

    def destination_choice(self, row):
        archive, content = self.make_archive("album")
        dest = archive[:-4]
        os.makedirs(dest)
        with open(os.path.join(dest, "a.txt"), "w") as f:
            f.write("mine\n")
        future = time.time() + 86400 * 400
        os.utime(os.path.join(dest, "a.txt"), (future, future))
        app = self.start(UNPACK, archive)
        w = app.dialog("Le dossier de décompression existe déjà !.")
        self.assertEqual([name_of(r) for r in app.rows(w)],
                         ["Mettre à jour le dossier", "Décompresser la totalité du ficher", "Abandonner"])
        app.shot("choix")
        app.choose_row(w, row)
        return app, dest, content

    def test_destination_update_only(self):
        app, dest, content = self.destination_choice("Mettre à jour le dossier")
        self.extraction_done(app)
        self.assertEqual(app.wait(), 0, app.output())
        got = tree(dest)
        self.assertEqual(got["a.txt"], b"mine\n")  # newer than the archive's
        self.assertEqual(got["sous dossier/été 2€ ’.txt"], content["sous dossier/été 2€ ’.txt"])

    def test_destination_everything(self):
        app, dest, content = self.destination_choice("Décompresser la totalité du ficher")
        self.extraction_done(app)
        self.assertEqual(app.wait(), 0, app.output())
        self.assertEqual(tree(dest), content)

    def test_destination_abandoned(self):
        app, dest, _content = self.destination_choice("Abandonner")
        self.assertEqual(app.wait(), 1, app.output())
        self.assertEqual(tree(dest), {"a.txt": b"mine\n"})

    def test_extract_cancelled_keeps_the_archive(self):
        # Deflated text: inflating it lasts seconds, where a stored file of
        # random bytes is copied out faster than the dialog can be clicked.
        archive, _content = self.make_archive("lourd", big=400, text=True)
        app = self.start(UNPACK, "#" + archive)
        w = app.dialog("Décompression en cours...")
        wait_for("the extraction", lambda: any(
            l.startswith("    Décompression : ") for l in app.labels(w)), 60)
        app.shot("annuler")
        app.click(w, "Annuler")
        self.assertEqual(app.wait(), 1, app.output())
        self.assertTrue(os.path.isfile(archive))

    def test_chooser_then_extraction(self):
        archive, content = self.make_archive("choisie")
        # The chooser starts in the folder of the last run.
        settings = os.path.join(self.tmp, "config", "Quorvelunpack")
        os.makedirs(settings)
        with open(os.path.join(settings, "Settings.ini"), "w", encoding="utf-8") as f:
            f.write("[Data]\nLastDir=%s\n" % self.work)
        app = self.start(UNPACK)
        chooser = self.chooser(app, "Sélectionnez un fichier Zip")
        filters = [name_of(a) for a in walk(chooser) if "Zip Files" in name_of(a)]
        self.assertTrue(filters, "no « Zip Files » filter shown")
        # GTK 4.8 keeps the file list out of the accessibility tree; the path
        # bar tells where the chooser is.
        def path_bar():
            bar = next((a for a in walk(chooser) if name_of(a) == "GtkPathBar"), None)
            return [name_of(l) for l in walk(bar) if role_of(l) == pyatspi.ROLE_LABEL and visible(l)]
        wait_for("the last folder", lambda: path_bar() and path_bar()[-1] == os.path.basename(self.work), 10)

        app.shot("selecteur")
        self.type_location(app, chooser, archive)
        keysym(KEY_RETURN)
        self.extraction_done(app)
        self.assertEqual(app.wait(), 0, app.output())
        self.assertEqual(tree(archive[:-4]), content)


if __name__ == "__main__":
    PACK, UNPACK, ARTIFACTS = sys.argv[1:4]
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
