#!/usr/bin/env python3
"""The terminal renderer, through the demo program: line mode over pipes, and
the in-place drawing in a real pseudo-terminal driven by keys.

Usage: terminal_test.py <td_demo> [unittest arguments]
"""
import os
import pty
import re
import select
import signal
import subprocess
import sys
import termios
import time
import unittest

DEMO = None


def run_lines(args, stdin_text, timeout=20):
    p = subprocess.run([DEMO] + args, input=stdin_text.encode(), capture_output=True,
                       timeout=timeout)
    return p.returncode, p.stdout.decode(), p.stderr.decode()


class LineMode(unittest.TestCase):
    def test_choice_prints_each_text_on_its_own_line_and_reads_the_number(self):
        rc, out, err = run_lines(["choice"], "2\n")
        self.assertEqual(rc, 0, err)
        lines = out.splitlines()
        self.assertEqual(lines[:8], [
            "Démo : choix",
            "Le fichier Zip existe déjà !.",
            "Vous pouvez choisir de :",
            "  1. Compresser le répertoire",
            "     et écraser le fichier déjà présent",
            "  2. Abandonner",
            "     et renoncer à compresser le dossier",
            "Choisissez une des options ci-dessus",
        ])
        self.assertEqual(lines[-1], "choix : 400")

    def test_a_wrong_choice_is_asked_again(self):
        rc, out, err = run_lines(["choice"], "9\nabc\n1\n")
        self.assertEqual(rc, 0)
        self.assertEqual(err.count("Choix invalide : entrez un nombre de 1 à 2."), 2)
        self.assertEqual(out.splitlines()[-1], "choix : 200")

    def test_end_of_input_closes_a_choice(self):
        rc, out, _ = run_lines(["choice"], "")
        self.assertEqual(out.splitlines()[-1], "choix : 8")

    def test_password_refused_prints_the_new_footer_and_reads_again(self):
        rc, out, err = run_lines(["password"], "abc\nabcdéfg\n")
        self.assertEqual(rc, 0)
        lines = out.splitlines()
        self.assertIn("Entrer le mot de passe puis OK pour continuer.", lines)
        i = lines.index("Mot de passe trop court, veuillez le modifier !")
        self.assertEqual(lines[i - 1], "Longueur : 3")
        self.assertEqual(lines[i + 1], "Longueur : 7")
        self.assertEqual(lines[-1], "mot de passe : abcdéfg")
        self.assertIn("\a", err)  # the refusal beeps

    def test_end_of_input_cancels_the_password(self):
        rc, out, _ = run_lines(["password"], "abc\n")
        self.assertEqual(out.splitlines()[-1], "mot de passe : annulé (2)")

    def test_questions(self):
        for answer, expected in (("o\n", "oui"), ("non\n", "non"), ("N\n", "non"),
                                 ("yes\n", "oui"), ("\n", "oui"),
                                 # nobody answered: never the destructive yes
                                 ("", "non"),
                                 ("peut-être\nn\n", "non")):
            rc, out, err = run_lines(["question"], answer)
            lines = out.splitlines()
            self.assertEqual(lines[:2], ["Démo : question", "Voulez-vous continuer ?"])
            self.assertEqual(lines[-1], "question : " + expected, answer)

    def test_the_progress_dialog_reads_nothing_and_prints_each_footer(self):
        rc, out, err = run_lines(["progress", "password", "choice"], "secret1\n1\n")
        self.assertEqual(rc, 0, err)
        lines = out.splitlines()
        self.assertEqual(lines[:4], ["Démo : progression", "Compression en cours...",
                                     "Création de : démo.zip", "    Progression : 5 %  "])
        steps = [l for l in lines if l.startswith("    Progression : ")]
        self.assertEqual(len(steps), 20)
        self.assertIn("Terminé", lines)
        self.assertIn("progression : terminée", lines)
        self.assertIn("mot de passe : secret1", lines)
        self.assertEqual(lines[-1], "choix : 200")

    def test_every_footer_set_while_a_box_waits_is_printed_also_when_repeated(self):
        # Two refusals in a row set the same footer: the second is news too.
        rc, out, err = run_lines(["verify"], "abc\nabd\nabcdef\n")
        self.assertEqual(rc, 0, err)
        lines = out.splitlines()
        self.assertEqual(lines.count("Mot de passe trop court, veuillez le modifier !"), 2, out)
        self.assertEqual(lines[-1], "mot de passe : abcdef")

    def test_names_from_outside_never_reach_the_terminal_raw(self):
        for step in ("failure", "named"):
            rc, out, err = run_lines([step], "1\n")
            self.assertEqual(rc, 0, err)
            self.assertNotIn("\x1b", out, step)
            self.assertNotIn("\x07", out, step)
            self.assertIn("a\\x1b]0;pwned\\x07\\x1b[2Jb.txt", out, step)

    def test_no_echo_of_a_password_typed_at_a_terminal_into_a_pipe(self):
        # `program | tee log` typed at a terminal: stdin is the terminal,
        # stdout a pipe (line mode). What is typed must not show.
        master, slave = pty.openpty()
        try:
            before = termios.tcgetattr(slave)
            p = subprocess.Popen([DEMO, "password"], stdin=slave, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, start_new_session=True)
            first = p.stdout.readline()  # the dialog is printed: the box waits
            while b"Entrer le mot de passe" not in first:
                first = p.stdout.readline()
            time.sleep(0.2)
            os.write(master, b"motdepasse-secret\n")
            out, err = p.communicate(timeout=10)
            self.assertEqual(p.returncode, 0, err)
            self.assertIn(b"mot de passe : motdepasse-secret", out)
            echoed = b""
            while select.select([master], [], [], 0.2)[0]:
                echoed += os.read(master, 65536)
            self.assertNotIn(b"secret", echoed)
            self.assertEqual(termios.tcgetattr(slave)[3], before[3])  # echo back on
        finally:
            os.close(master)
            os.close(slave)

    def test_an_interrupt_clicks_the_progress_cancel(self):
        p = subprocess.Popen([DEMO, "--step-ms", "200", "progress", "choice"],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        # Wait until the dialog is up (its first footer is printed).
        buf = b""
        deadline = time.time() + 10
        while b"Progression : 5 %" not in buf and time.time() < deadline:
            r, _, _ = select.select([p.stdout], [], [], 0.5)
            if r:
                buf += os.read(p.stdout.fileno(), 4096)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(b"2\n", timeout=10)
        lines = (buf + out).decode().splitlines()
        self.assertEqual(p.returncode, 0, err)
        self.assertIn("Annulation...", lines)
        self.assertIn("progression : annulée", lines)
        self.assertEqual(lines[-1], "choix : 400")


def replay(data, columns=200):
    """The screen a terminal would show after `data`: enough of the VT100
    cursor moves and erasures the renderer uses (CR, LF, CUU, EL, ED)."""
    text = data.decode(errors="replace")
    screen = [""]
    row = col = 0
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\x1b":
            m = re.match(r"\x1b\[(\??)(\d*)([A-Za-z])", text[i:])
            if not m:
                i += 1
                continue
            n = int(m.group(2) or "0")
            cmd = m.group(3)
            if m.group(1):
                pass
            elif cmd == "A":
                row = max(0, row - max(1, n))
            elif cmd == "K":
                if n == 2:
                    screen[row] = ""
                else:
                    screen[row] = screen[row][:col]
            elif cmd == "J":
                screen[row] = screen[row][:col]
                del screen[row + 1:]
            i += len(m.group(0))
            continue
        if c == "\r":
            col = 0
        elif c == "\n":
            row += 1
            col = 0
            while len(screen) <= row:
                screen.append("")
        elif c in "\a":
            pass
        else:
            line = screen[row].ljust(col)
            screen[row] = line[:col] + c + line[col + 1:]
            col += 1
        i += 1
    return [re.sub(r"\x1b\[[0-9;]*m", "", l) for l in screen]


class Terminal:
    """The demo on a pseudo-terminal, read and typed into as a user would."""

    def __init__(self, args):
        self.master, slave = pty.openpty()
        self.slave = slave
        self.initial = termios.tcgetattr(slave)  # before the program touches it
        self.proc = subprocess.Popen([DEMO] + args, stdin=slave, stdout=slave, stderr=slave,
                                     close_fds=True, start_new_session=True)
        self.out = b""

    def read_until(self, pattern, timeout=10):
        deadline = time.time() + timeout
        rx = re.compile(pattern.encode() if isinstance(pattern, str) else pattern)
        while not rx.search(self.out):
            left = deadline - time.time()
            if left <= 0:
                raise AssertionError("no %r in %r" % (pattern, self.out[-2000:]))
            r, _, _ = select.select([self.master], [], [], left)
            if r:
                try:
                    self.out += os.read(self.master, 65536)
                except OSError:
                    break
        return self.out

    def send(self, keys):
        os.write(self.master, keys.encode() if isinstance(keys, str) else keys)

    def finish(self, timeout=10):
        deadline = time.time() + timeout
        while self.proc.poll() is None and time.time() < deadline:
            r, _, _ = select.select([self.master], [], [], 0.2)
            if r:
                try:
                    self.out += os.read(self.master, 65536)
                except OSError:
                    break
        try:
            while True:
                r, _, _ = select.select([self.master], [], [], 0.2)
                if not r:
                    break
                data = os.read(self.master, 65536)
                if not data:
                    break
                self.out += data
        except OSError:
            pass
        rc = self.proc.wait(timeout=5)
        return rc, self.out.decode(errors="replace")

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        os.close(self.master)
        os.close(self.slave)


class TtyMode(unittest.TestCase):
    def answer_no(self, t):
        """Answers the question on screen with "n" and checks the run ends so."""
        t.send("n")
        rc, screen = t.finish()
        self.assertEqual(rc, 0, screen)
        self.assertIn("question : non", screen)

    def test_progress_then_password_drawn_typed_and_closed_with_the_keyboard(self):
        t = Terminal(["--step-ms", "150", "progress", "password"])
        try:
            settings_before = t.initial
            # The progress dialog drawn in place: bar, percentage, footer glyph.
            t.read_until(r"Progression : 10 %")
            screen = t.out.decode(errors="replace")
            self.assertIn("Compression en cours...", screen)
            self.assertIn("Annuler", screen)
            self.assertRegex(screen, r"█+░+ +\d+ %")
            self.assertIn("ℹ", screen)
            self.assertIn("\x1b[2K", screen)       # lines rewritten in place
            self.assertRegex(screen, r"\x1b\[\d+A")  # back up to the first line
            # While a dialog is up, the terminal is in raw mode.
            raw = termios.tcgetattr(t.slave)
            self.assertFalse(raw[3] & termios.ICANON)
            t.send("a")  # the cancel key
            t.read_until("progression : annulée")
            # The password dialog: masked box, OK with the shield, Cancel.
            t.read_until("Autorisation requise")
            t.read_until(r"\[ Annuler \]")
            t.send("abc")
            t.read_until("Longueur : 3")
            t.send("\r")  # Enter in the box: OK, refused
            t.read_until("trop court")
            t.send("déf")
            t.read_until("Longueur : 6")
            t.send("\t")  # to the buttons: OK has the focus
            t.send("\r")
            rc, screen = t.finish()
            self.assertEqual(rc, 0, screen)
            self.assertIn("●●●●●●", screen)
            self.assertIn("⛨ OK", screen)
            self.assertIn("✖", screen)  # the refusal footer's error glyph
            self.assertIn("\a", screen)
            self.assertIn("mot de passe : abcdéf", screen)
            before_result = screen[:screen.index("mot de passe : abcdéf")]
            self.assertNotIn("abcdéf", before_result)  # never shown in clear
            # The terminal is given back as it was.
            self.assertEqual(termios.tcgetattr(t.slave)[3], settings_before[3])
            self.assertIn("\x1b[?25h", screen)
        finally:
            t.close()

    def test_escape_cancels_the_password_and_numbers_pick_a_link(self):
        t = Terminal(["password", "choice", "question"])
        try:
            t.read_until(r"\[ Annuler \]")
            t.send("x")
            t.read_until("Longueur : 1")
            t.send("\x1b")
            t.read_until(r"mot de passe : annulé \(2\)")
            t.read_until("Choisissez une des options")
            t.send("\x1b")  # a choice cannot be cancelled: nothing happens
            time.sleep(0.3)
            self.assertNotIn(b"choix :", t.out)
            t.send("\x1b[B")  # arrow down to the second link, then Enter
            t.send("\r")
            t.read_until("choix : 400")
            t.read_until(r"\[ Non \]")
            self.answer_no(t)
        finally:
            t.close()

    def test_keys_typed_before_a_question_do_not_answer_it(self):
        t = Terminal(["password", "question"])
        try:
            t.read_until(r"\[ Annuler \]")
            # A doubled Enter: the first one is OK, the second must not be
            # taken as an answer to the question that follows.
            t.send("abcdef\r\r")
            t.read_until(r"\[ Non \]")
            time.sleep(0.5)
            self.assertNotIn(b"question :", t.out)
            self.answer_no(t)
        finally:
            t.close()

    def test_a_closed_dialog_leaves_one_line_without_what_was_typed(self):
        t = Terminal(["password", "choice"])
        try:
            t.read_until(r"\[ Annuler \]")
            t.send("abcdef")
            t.read_until("Longueur : 6")
            t.send("\r")
            t.read_until("Choisissez une des options")
            t.send("2")
            rc, screen = t.finish()
            self.assertEqual(rc, 0, screen)
            # What stays on screen: replay the output on a small screen model.
            lines = replay(t.out)
            text = "\n".join(lines)
            self.assertNotIn("●", text)
            self.assertNotIn("Ce fichier est protégé", text)  # the dialog is gone
            self.assertIn("Autorisation requise", text)       # but for one line
            self.assertIn("Le fichier Zip existe déjà !. → Abandonner", text)
            # The last line is the program's own, on a line of its own.
            self.assertEqual([l for l in lines if l.strip()][-1], "choix : 400")
        finally:
            t.close()

    def test_digit_picks_a_link(self):
        t = Terminal(["choice"])
        try:
            t.read_until("Choisissez une des options")
            t.send("1")
            rc, screen = t.finish()
            self.assertIn("choix : 200", screen)
        finally:
            t.close()


if __name__ == "__main__":
    DEMO = sys.argv[1]
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:])
