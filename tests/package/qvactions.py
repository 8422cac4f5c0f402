"""What the package tests share: reading every file manager's action files
as that file manager does, running their command lines on awkward names, and
checking what the programs made of them."""
import configparser
import os
import re
import shlex
import shutil
import subprocess
import sys
import types
import zipfile
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "compressor"))
from e2e_test import tree  # noqa: E402  (a folder's files and contents, by relative path)

SEVENZIP = shutil.which("7zz")
UNZIP = shutil.which("unzip")

# A leading "#" (read as the prefix if it reached the program bare), blanks,
# a quote, accents, "’", "€" and an emoji.
FOLDER_NAMES = ("#Mes photos d'été ’€ 🎉", "deuxième  dossier (2)")
ZIP_NAMES = ("#Archive d'été ’€ 🎉.zip", "autre archive.zip")
PASSWORD = "Secret!1"

# What each mode does on two selected items, and the answers its runs read.
ANSWERS = {"pack": "", "pack-trash": "o\no\n", "pack-encrypt": (PASSWORD + "\nn\n") * 2,
           "unpack": "", "unpack-delete": ""}
KIND = {"pack": "dir", "pack-trash": "dir", "pack-encrypt": "dir",
        "unpack": "zip", "unpack-delete": "zip"}

Command = namedtuple("Command", "source mode label kind run")


# ---- reading the files -------------------------------------------------------

def keyfile(path):
    cp = configparser.RawConfigParser(interpolation=None, strict=True, delimiters=("=",))
    cp.optionxform = str
    with open(path, encoding="utf-8") as f:
        cp.read_file(f)
    return cp


def unescape(value):
    """A key file string value: \\s, \\n, \\t, \\r, \\\\."""
    return re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(
        m.group(1), m.group(1)), value)


def desktop_exec_words(value):
    """Splits an Exec value as the desktop entry rules say: blanks separate
    words, a double-quoted word takes \\", \\`, \\$ and \\\\ as escapes."""
    words, word, i, quoted, any_ = [], "", 0, False, False
    while i < len(value):
        c = value[i]
        if quoted:
            if c == "\\" and i + 1 < len(value) and value[i + 1] in '"`$\\':
                word += value[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                word += c
        elif c == '"':
            quoted, any_ = True, True
        elif c == " ":
            if word or any_:
                words.append(word)
            word, any_ = "", False
        else:
            if c in "\\'`$;&|<>*?()#~\t\n":
                raise ValueError("reserved character outside quotes: %r" % value)
            word += c
        i += 1
    if quoted:
        raise ValueError("unterminated quote: %r" % value)
    if word or any_:
        words.append(word)
    return words


def expand_desktop(words, paths):
    """Field codes of a desktop Exec line: %F and %U take the whole
    selection as separate words, %f and %u one item per run."""
    out = []
    for w in words:
        if w in ("%F", "%U"):
            out.extend(paths)
        elif w in ("%f", "%u"):
            out.extend(paths[:1])
        elif "%" in w.replace("%%", ""):
            raise ValueError("field code inside a word: %r" % w)
        else:
            out.append(w.replace("%%", "%"))
    return out


def expand_shell(command, paths):
    """Nemo, FileManager-Actions and Thunar put each path in shell-quoted and
    then split the command line as a shell would."""
    quoted = " ".join(shlex.quote(p) for p in paths)
    text = re.sub(r"%(.)", lambda m: quoted if m.group(1) == "F" else
                  ("%" if m.group(1) == "%" else "\0"), command)
    if "\0" in text:
        raise ValueError("unexpected field code in %r" % command)
    return shlex.split(text)


def _runner(argv_of, relocate):
    def run(paths, stdin_text, env, cwd):
        argv = argv_of(paths)
        argv[0] = relocate(argv[0])
        return subprocess.run(argv, input=stdin_text.encode("utf-8"), env=env, cwd=cwd,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    return run


def desktop_commands(share, relocate):
    """Commands of the applications' entries, Nemo, Dolphin and
    FileManager-Actions under a share folder (…/share)."""
    cmds = []
    for name in ("quorvelpack", "quorvelunpack"):
        cp = keyfile(os.path.join(share, "applications", name + ".desktop"))
        e = cp["Desktop Entry"]
        words = desktop_exec_words(unescape(e["Exec"]))
        mode = words[1]
        cmds.append(Command("applications/" + name, mode, e["Name"], KIND[mode],
                            _runner(lambda p, w=words: expand_desktop(w, p), relocate)))
    nemo = os.path.join(share, "nemo", "actions")
    for f in sorted(os.listdir(nemo)):
        g = keyfile(os.path.join(nemo, f))["Nemo Action"]
        command = unescape(g["Exec"])
        mode = shlex.split(command)[1]
        kind = "dir" if g.get("Extensions") == "dir;" else "zip"
        if kind == "zip":
            assert g["Mimetypes"] == "application/zip;", f
        assert g["Selection"] == "notnone", f
        cmds.append(Command("nemo/" + f, mode, g["Name"], kind,
                            _runner(lambda p, c=command: expand_shell(c, p), relocate)))
    kio = os.path.join(share, "kio", "servicemenus")
    for f in sorted(os.listdir(kio)):
        assert os.stat(os.path.join(kio, f)).st_mode & 0o111, f + " is not executable"
        cp = keyfile(os.path.join(kio, f))
        e = cp["Desktop Entry"]
        assert e["Type"] == "Service" and "KonqPopupMenu/Plugin" in e["X-KDE-ServiceTypes"], f
        kind = {"inode/directory;": "dir", "application/zip;": "zip"}[e["MimeType"]]
        for action in [a for a in e["Actions"].split(";") if a]:
            g = cp["Desktop Action " + action]
            words = desktop_exec_words(unescape(g["Exec"]))
            cmds.append(Command("kio/%s/%s" % (f, action), words[1], g["Name"], kind,
                                _runner(lambda p, w=words: expand_desktop(w, p), relocate)))
    fma = os.path.join(share, "file-manager", "actions")
    for f in sorted(os.listdir(fma)):
        cp = keyfile(os.path.join(fma, f))
        e = cp["Desktop Entry"]
        assert e["Type"] == "Action", f
        for prof in [p for p in e["Profiles"].split(";") if p]:
            g = cp["X-Action-Profile " + prof]
            command = unescape(g["Exec"])
            kind = {"inode/directory;": "dir", "application/zip;": "zip"}[g["MimeTypes"]]
            cmds.append(Command("file-manager/" + f, shlex.split(command)[1], e["Name"], kind,
                                _runner(lambda p, c=command: expand_shell(c, p), relocate)))
    return cmds


def thunar_commands(uca_path, relocate=lambda p: p):
    import xml.etree.ElementTree as ET
    cmds = []
    for a in ET.parse(uca_path).getroot().findall("action"):
        uid = a.findtext("unique-id")
        if not uid.startswith("quorvel-"):
            continue
        command = a.findtext("command")
        kind = "dir" if a.find("directories") is not None else "zip"
        if kind == "zip":
            assert "*.zip" in a.findtext("patterns").split(";")
        cmds.append(Command("thunar/" + uid, shlex.split(command)[1], a.findtext("name"), kind,
                            _runner(lambda p, c=command: expand_shell(c, p), relocate)))
    return cmds


def nautilus_script_commands(scripts_dir):
    """Nautilus runs a script in the folder shown, with the selection as names
    relative to it and as absolute paths, one a line, in the environment."""
    cmds = []
    for f in sorted(os.listdir(scripts_dir)):
        path = os.path.join(scripts_dir, f)
        assert os.access(path, os.X_OK), path
        with open(path, encoding="utf-8") as fh:
            mode = re.search(r"^exec .* (\S+) \"\$@\"$", fh.read(), re.M).group(1)

        def run(paths, stdin_text, env, cwd, path=path):
            env = dict(env, NAUTILUS_SCRIPT_SELECTED_FILE_PATHS="".join(p + "\n" for p in paths))
            folder = os.path.dirname(paths[0])
            rel = [os.path.relpath(p, folder) for p in paths]
            return subprocess.run([path] + rel, input=stdin_text.encode("utf-8"), env=env,
                                  cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  timeout=120)
        cmds.append(Command("nautilus-script/" + f, mode, f, KIND[mode], run))
    return cmds


def nautilus_extension_commands(path, relocate):
    """Loads the nautilus-python extension against a small stand-in for the
    Nautilus and GLib bindings (Nautilus is not installed here): what the
    menu offers for a selection, and the command its items start."""
    spawned = []

    class MenuItem:
        def __init__(self, name, label, tip=None):
            self.name, self.label, self._cb = name, label, None

        def connect(self, signal, cb, *data):
            assert signal == "activate"
            self._cb = (cb, data)

        def activate(self):
            cb, data = self._cb
            cb(self, *data)

    class SpawnFlags:
        DEFAULT = 0
        STDIN_FROM_DEV_NULL = 1

    def spawn_async(argv, flags=0):
        spawned.append(list(argv))

    gi = types.ModuleType("gi")
    gi.require_version = lambda name, version: None
    repo = types.ModuleType("gi.repository")
    repo.GLib = types.SimpleNamespace(spawn_async=spawn_async, SpawnFlags=SpawnFlags)
    repo.GObject = types.SimpleNamespace(GObject=type("GObject", (), {}))
    repo.Nautilus = types.SimpleNamespace(MenuProvider=type("MenuProvider", (), {}),
                                          MenuItem=MenuItem)
    gi.repository = repo
    saved = {k: sys.modules.get(k) for k in ("gi", "gi.repository")}
    sys.modules["gi"], sys.modules["gi.repository"] = gi, repo
    try:
        ns = {}
        with open(path, encoding="utf-8") as f:
            exec(compile(f.read(), path, "exec"), ns)
    finally:
        for k, v in saved.items():
            if v is None:
                sys.modules.pop(k, None)
            else:
                sys.modules[k] = v
    provider = [v for v in ns.values() if isinstance(v, type) and hasattr(v, "get_file_items")][0]()

    class Info:
        def __init__(self, p, scheme="file"):
            self.p, self.scheme = p, scheme

        def get_uri_scheme(self):
            return self.scheme

        def is_directory(self):
            return os.path.isdir(self.p)

        def get_mime_type(self):
            return "application/zip" if self.p.endswith(".zip") else "text/plain"

        def get_name(self):
            return os.path.basename(self.p)

        def get_location(self):
            return types.SimpleNamespace(get_path=lambda: self.p)

    def items_for(paths, scheme="file"):
        return provider.get_file_items([Info(p, scheme) for p in paths])

    def command(mode, kind):
        def run(paths, stdin_text, env, cwd):
            items = {i.name: i for i in items_for(paths)}
            spawned.clear()
            items["Quorvel::" + mode].activate()
            argv = spawned[0]
            argv[0] = relocate(argv[0])
            return subprocess.run(argv, input=stdin_text.encode("utf-8"), env=env, cwd=cwd,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        return run

    cmds = [Command("nautilus-python/" + mode, mode, label, kind, command(mode, kind))
            for mode, label, kind in ns["ACTIONS"]]
    return cmds, items_for


# ---- fixtures and checks -----------------------------------------------------------

def fill_folder(path, seed):
    os.makedirs(os.path.join(path, "sous dossier"), exist_ok=True)
    with open(os.path.join(path, "a.txt"), "w", encoding="utf-8") as f:
        f.write("alpha %s\n" % seed)
    with open(os.path.join(path, "sous dossier", "é’€ 🎉.txt"), "w", encoding="utf-8") as f:
        f.write("bravo %s\n" % seed * 50)


def make_zip(path, seed):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("a.txt", "alpha %s\n" % seed)
        z.writestr("sous dossier/é’€ 🎉.txt", "bravo %s\n" % seed * 50)
    return {"a.txt": ("alpha %s\n" % seed).encode(),
            os.path.join("sous dossier", "é’€ 🎉.txt"): ("bravo %s\n" % seed * 50).encode()}


def program_env(base, home):
    env = {k: v for k, v in base.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR")}
    env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"), LANG="C.UTF-8",
               QV_UI="line")
    return env


def check_archive(test, zip_path, expected, password=None):
    test.assertTrue(os.path.isfile(zip_path), zip_path)
    pw = ["-p" + password] if password else []
    t = subprocess.run([SEVENZIP, "t"] + pw + [zip_path], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT)
    test.assertEqual(t.returncode, 0, t.stdout.decode("utf-8", "replace"))
    listing = subprocess.run([UNZIP, "-Z1", zip_path], stdout=subprocess.PIPE, check=True)
    names = {n for n in listing.stdout.decode("utf-8").splitlines() if not n.endswith("/")}
    test.assertEqual(names, {n.replace(os.sep, "/") for n in expected})
    out = zip_path + ".check"
    x = subprocess.run([SEVENZIP, "x", "-y", "-o" + out] + pw + [zip_path],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    test.assertEqual(x.returncode, 0, x.stdout.decode("utf-8", "replace"))
    test.assertEqual(tree(out), expected)
    shutil.rmtree(out)


def exercise(test, cmd, work, env):
    """Runs one command on two selected items with awkward names, as the file
    manager would, and checks the archives or folders it left."""
    os.makedirs(work)
    if cmd.kind == "dir":
        items = [os.path.join(work, n) for n in FOLDER_NAMES]
        expected = []
        for i, p in enumerate(items):
            fill_folder(p, i)
            expected.append(tree(p))
    else:
        items = [os.path.join(work, n) for n in ZIP_NAMES]
        expected = [make_zip(p, i) for i, p in enumerate(items)]
    r = cmd.run(items, ANSWERS[cmd.mode], env, work)
    out = r.stdout.decode("utf-8", "replace")
    where = "%s (%s):\n%s" % (cmd.source, cmd.mode, out)
    test.assertEqual(r.returncode, 0, where)
    if cmd.kind == "dir":
        # One run per item: each compression is announced once.
        test.assertEqual(out.count("Compression complète"), 2, where)
        for p, exp in zip(items, expected):
            check_archive(test, p + ".zip", exp, PASSWORD if cmd.mode == "pack-encrypt" else None)
            trashed = os.path.join(env["XDG_DATA_HOME"], "Trash", "files", os.path.basename(p))
            if cmd.mode == "pack-trash":
                test.assertFalse(os.path.exists(p), where)
                test.assertEqual(tree(trashed), exp, where)
            else:
                test.assertEqual(tree(p), exp, where)
    else:
        for p, exp in zip(items, expected):
            test.assertEqual(tree(p[:-4]), exp, where)
            test.assertEqual(os.path.exists(p), cmd.mode != "unpack-delete", where)
    return out
