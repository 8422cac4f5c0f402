#!/usr/bin/python3
"""Where Quorvelpack and Quorvelunpack meet the Linux desktop.

One list of actions, written out in each file manager's own format: the
applications' .desktop files, Nemo actions, Dolphin service menus,
FileManager-Actions/Caja actions, a nautilus-python extension, Nautilus
scripts and Thunar custom actions, plus the icons in hicolor.

  quorvel_desktop.py generate --launcher PATH --out DIR
      writes the system-wide files (what the Debian package ships under
      /usr/share) into DIR, with PATH as the launcher the entries start;
  quorvel_desktop.py install --programs DIR
      the per-user install: programs into ~/.local/bin, the launcher into
      ~/.local/lib/quorvel, the entries into the per-user places, Thunar's
      uca.xml merged; what it added is listed in ~/.local/share/quorvel;
  quorvel_desktop.py uninstall
      removes exactly what the install added and takes our actions out of
      uca.xml, leaving the rest of that file as it stands.

Every entry starts the launcher (quorvel-launch) with a mode word and the
selected paths: the launcher glues the prefix to each path and runs the
programs one after another.
"""
import argparse
import json
import os
import re
import shutil
import stat
import sys
import tempfile
import xml.etree.ElementTree as ET
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
ICON_SOURCE = os.path.join(HERE, "..", "..", "src", "resources")
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)

Action = namedtuple("Action", "mode label program target")
# target: "dir" (folders) or "zip" (zip archives)
ACTIONS = (
    Action("pack", "Compresser avec Quorvelpack", "quorvelpack", "dir"),
    Action("pack-trash", "Compresser avec Quorvelpack puis mettre le dossier à la corbeille",
           "quorvelpack", "dir"),
    Action("pack-encrypt", "Compresser avec Quorvelpack en chiffrant (AES-256)",
           "quorvelpack", "dir"),
    Action("unpack", "Extraire avec Quorvelunpack", "quorvelunpack", "zip"),
    Action("unpack-delete", "Extraire avec Quorvelunpack puis supprimer l'archive",
           "quorvelunpack", "zip"),
)
MIME = {"dir": "inode/directory", "zip": "application/zip"}

APPS = {
    "quorvelpack": dict(
        name="Quorvelpack", mode="pack", mime=None, nodisplay=True,
        generic="Compresseur de dossiers",
        comment="Compresser un dossier en une archive Zip, chiffrée en AES-256 au besoin",
        keywords="zip;compresser;archive;dossier;chiffrer;"),
    "quorvelunpack": dict(
        name="Quorvelunpack", mode="unpack", mime="application/zip", nodisplay=False,
        generic="Décompresseur d'archives Zip",
        comment="Décompresser une archive Zip dans un dossier du même nom",
        keywords="zip;décompresser;extraire;archive;"),
}

# Thunar keys its custom actions by this id; the uninstall finds ours by it.
THUNAR_ID_PREFIX = "quorvel-"


# ---- quoting -----------------------------------------------------------------

def keyfile_value(text):
    """A key file's string escapes (desktop files, Nemo actions)."""
    return (text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")
            .replace("\r", "\\r"))


_RESERVED = set(" \t\n\"'\\><~|&;$*?#()`")


def exec_word(arg):
    """One word of an Exec line, quoted as the desktop entry rules say. The
    double-quoted form is also what a POSIX shell and g_shell_parse_argv
    read, so the same word serves Nemo, FileManager-Actions and Thunar."""
    arg = arg.replace("%", "%%")
    if arg and not (_RESERVED & set(arg)):
        return arg
    return '"' + re.sub(r'(["`$\\])', r"\\\1", arg) + '"'


def sh_word(arg):
    return "'" + arg.replace("'", "'\\''") + "'"


def command(launcher, mode, field="%F"):
    return exec_word(launcher) + " " + mode + " " + field


# ---- the files ---------------------------------------------------------------

def keyfile(groups):
    out = []
    for name, keys in groups:
        if out:
            out.append("")
        out.append("[%s]" % name)
        out.extend("%s=%s" % (k, keyfile_value(v)) for k, v in keys)
    return "\n".join(out) + "\n"


def application_entries(launcher):
    files = {}
    for icon, app in APPS.items():
        keys = [("Type", "Application"), ("Version", "1.4"), ("Name", app["name"]),
                ("GenericName", app["generic"]), ("Comment", app["comment"]),
                ("Icon", icon), ("Exec", command(launcher, app["mode"])),
                ("Terminal", "false"), ("Categories", "Utility;Archiving;Compression;"),
                ("Keywords", app["keywords"])]
        if app["mime"]:
            keys.append(("MimeType", app["mime"] + ";"))
        if app["nodisplay"]:
            # Started by the folder actions; a menu entry alone would only ask
            # for a folder.
            keys.append(("NoDisplay", "true"))
        files["applications/%s.desktop" % icon] = (keyfile([("Desktop Entry", keys)]), 0o644)
    return files


def nemo_actions(launcher):
    files = {}
    for a in ACTIONS:
        keys = [("Active", "true"), ("Name", a.label), ("Comment", a.label),
                ("Exec", command(launcher, a.mode)), ("Icon-Name", a.program),
                ("Selection", "notnone")]
        if a.target == "dir":
            keys.append(("Extensions", "dir;"))
        else:
            keys.append(("Mimetypes", MIME["zip"] + ";"))
        files["nemo/actions/quorvel-%s.nemo_action" % a.mode] = (
            keyfile([("Nemo Action", keys)]), 0o644)
    return files


def dolphin_menus(launcher):
    files = {}
    for target, name in (("dir", "quorvelpack"), ("zip", "quorvelunpack")):
        actions = [a for a in ACTIONS if a.target == target]
        groups = [("Desktop Entry", [
            ("Type", "Service"), ("Name", APPS[name]["name"]),
            ("MimeType", MIME[target] + ";"),
            ("Actions", "".join(a.mode + ";" for a in actions)),
            # Plasma 5 looks for these two; Plasma 6 reads MimeType alone.
            ("ServiceTypes", "KonqPopupMenu/Plugin"),
            ("X-KDE-ServiceTypes", "KonqPopupMenu/Plugin"),
            ("X-KDE-Priority", "TopLevel")])]
        for a in actions:
            groups.append(("Desktop Action " + a.mode, [
                ("Name", a.label), ("Icon", a.program),
                ("Exec", command(launcher, a.mode))]))
        # Plasma 6 runs only service menus that are executable.
        files["kio/servicemenus/%s.desktop" % name] = (keyfile(groups), 0o755)
    return files


def fma_actions(launcher):
    files = {}
    for a in ACTIONS:
        groups = [("Desktop Entry", [
            ("Type", "Action"), ("Name", a.label), ("Tooltip", a.label),
            ("Icon", a.program), ("Profiles", "main;"), ("TargetContext", "true")]),
            ("X-Action-Profile main", [
                ("Name", a.label), ("MimeTypes", MIME[a.target] + ";"),
                ("SelectionCount", ">0"), ("Exec", command(launcher, a.mode))])]
        files["file-manager/actions/quorvel-%s.desktop" % a.mode] = (keyfile(groups), 0o644)
    return files


def nautilus_extension(launcher):
    with open(os.path.join(HERE, "nautilus", "quorvel_nautilus.py"), encoding="utf-8") as f:
        text = f.read()
    table = ",\n".join("    (%r, %r, %r)" % (a.mode, a.label, a.target) for a in ACTIONS)
    text = text.replace('LAUNCHER = "@LAUNCHER@"', "LAUNCHER = %r" % launcher)
    text = text.replace("ACTIONS = ()  # @ACTIONS@", "ACTIONS = (\n%s,\n)" % table)
    return {"nautilus-python/extensions/quorvel_nautilus.py": (text, 0o644)}


def nautilus_script(launcher, mode):
    return """#!/bin/sh
# Nautilus gives the selection as arguments, named relative to the folder
# shown (the launcher makes them absolute); the environment variable, one path
# a line, serves only when there are none.
if [ $# -eq 0 ] && [ -n "${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS-}" ]; then
  IFS='
'
  set -f
  set -- $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS
fi
exec %s %s "$@"
""" % (sh_word(launcher), mode)


def nautilus_scripts(launcher):
    return {"nautilus/scripts/" + a.label: (nautilus_script(launcher, a.mode), 0o755)
            for a in ACTIONS}


def thunar_action_xml(launcher, a):
    e = ET.Element("action")
    for tag, text in (("icon", a.program), ("name", a.label),
                      ("submenu", ""), ("unique-id", THUNAR_ID_PREFIX + a.mode),
                      ("command", command(launcher, a.mode)), ("description", a.label),
                      ("range", ""),
                      ("patterns", "*" if a.target == "dir" else "*.zip;*.ZIP;*.Zip")):
        ET.SubElement(e, tag).text = text
    ET.SubElement(e, "directories" if a.target == "dir" else "other-files")
    ET.indent(e, space="\t")
    e.tail = None
    return ET.tostring(e, encoding="unicode")


def icons():
    sys.path.insert(0, ICON_SOURCE)
    import make_icon  # the programs' own icon, drawn as for Windows
    files = {}
    for name in APPS:
        for size in ICON_SIZES:
            files["icons/hicolor/%dx%d/apps/%s.png" % (size, size, name)] = (
                make_icon.png_bytes(make_icon.render(size, name)), 0o644)
    return files


def system_files(launcher):
    files = {}
    for part in (application_entries, nemo_actions, dolphin_menus, fma_actions,
                 nautilus_extension):
        files.update(part(launcher))
    return files


# ---- writing -------------------------------------------------------------------

def write_file(path, data, mode):
    """Written under a temporary name and renamed: a reader never sees half a
    file, and an interrupted install leaves the old one."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".quorvel-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        os.chmod(tmp, mode)
        os.replace(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.unlink(tmp)
        raise


def generate(args):
    files = system_files(args.launcher)
    files.update(icons())
    for rel, (data, mode) in files.items():
        write_file(os.path.join(args.out, rel), data, mode)
    if args.stamp:
        write_file(args.stamp, "", 0o644)


# ---- per-user install ------------------------------------------------------------

class UserPlaces:
    def __init__(self):
        self.home = os.path.expanduser("~")
        self.data = os.environ.get("XDG_DATA_HOME") or os.path.join(self.home, ".local", "share")
        self.config = os.environ.get("XDG_CONFIG_HOME") or os.path.join(self.home, ".config")
        self.bin = os.path.join(self.home, ".local", "bin")
        self.lib = os.path.join(self.home, ".local", "lib", "quorvel")
        self.launcher = os.path.join(self.lib, "quorvel-launch")
        self.manifest = os.path.join(self.data, "quorvel", "installed.json")
        self.uca = os.path.join(self.config, "Thunar", "uca.xml")


def load_manifest(places):
    try:
        with open(places.manifest, encoding="utf-8") as f:
            return json.load(f)
    except FileNotFoundError:
        return {"files": [], "dirs": [], "uca_created": False}


def missing_dirs(path):
    """The folders above path that do not exist yet, outermost first."""
    out = []
    d = os.path.dirname(path)
    while d and not os.path.isdir(d):
        out.append(d)
        d = os.path.dirname(d)
    return list(reversed(out))


UCA_EMPTY = '<?xml version="1.0" encoding="UTF-8"?>\n<actions>\n</actions>\n'
# An action with the line break before it: what the install adds, and so
# what the uninstall takes away.
_ACTION_RE = re.compile(r"\n?[ \t]*<action>.*?</action>", re.S)


def _is_ours(block):
    m = re.search(r"<unique-id>\s*([^<]*?)\s*</unique-id>", block)
    return bool(m) and m.group(1).startswith(THUNAR_ID_PREFIX)


def uca_without_ours(text):
    return _ACTION_RE.sub(lambda m: "" if _is_ours(m.group(0)) else m.group(0), text)


def uca_with_ours(text, launcher):
    """Our actions go in just before </actions>; the user's own actions, the
    layout and the comments of the file stay as they are."""
    text = uca_without_ours(text)
    end = text.rfind("</actions>")
    if end < 0:
        raise ValueError("no </actions>")
    at = len(text[:end].rstrip())
    ours = "".join("\n" + thunar_action_xml(launcher, a) for a in ACTIONS)
    merged = text[:at] + ours + text[at:]
    ET.fromstring(merged.encode("utf-8"))  # refuse to write what Thunar cannot read
    return merged


def install(args):
    places = UserPlaces()
    manifest = load_manifest(places)
    owned = set(manifest["files"])
    launcher = places.launcher
    files = {}
    for prog in ("Quorvelpack", "Quorvelunpack"):
        src = os.path.join(args.programs, prog)
        if not os.access(src, os.X_OK):
            sys.exit("install-desktop : programme introuvable : %s" % src)
        with open(src, "rb") as f:
            files[os.path.join(places.bin, prog)] = (f.read(), 0o755)
    with open(os.path.join(HERE, "quorvel-launch"), "rb") as f:
        files[launcher] = (f.read(), 0o755)
    generated = {}
    generated.update(application_entries(launcher))
    generated.update(nemo_actions(launcher))
    generated.update(dolphin_menus(launcher))
    generated.update(fma_actions(launcher))
    generated.update(nautilus_scripts(launcher))
    generated.update(icons())
    for rel, value in generated.items():
        files[os.path.join(places.data, rel)] = value

    # A file of the same name that we did not put there is the user's: stop
    # before anything is written rather than overwrite it.
    foreign = [p for p in files if os.path.lexists(p) and p not in owned]
    if foreign:
        sys.exit("install-desktop : ces fichiers existent déjà et ne viennent pas de "
                 "Quorvel, rien n'a été installé :\n  " + "\n  ".join(sorted(foreign)))

    uca_text = None
    uca_created = manifest.get("uca_created", False)
    if os.path.exists(places.uca):
        with open(places.uca, encoding="utf-8") as f:
            original = f.read()
        try:
            uca_text = uca_with_ours(original, launcher)
        except (ValueError, ET.ParseError):
            print("install-desktop : %s n'est pas lisible, les actions de Thunar ne sont "
                  "pas ajoutées." % places.uca, file=sys.stderr)
    else:
        uca_text = uca_with_ours(UCA_EMPTY, launcher)
        uca_created = True

    dirs = list(manifest["dirs"])
    targets = list(files) + ([places.uca] if uca_text is not None else []) + [places.manifest]
    for path in targets:
        for d in missing_dirs(path):
            if d not in dirs:
                dirs.append(d)
    # The list is written first, so an interrupted install can still be undone.
    record = {"files": sorted(set(files) | owned), "dirs": dirs, "uca_created": uca_created}
    write_file(places.manifest, json.dumps(record, indent=1, ensure_ascii=False) + "\n", 0o644)
    for path, (data, mode) in files.items():
        write_file(path, data, mode)
    if uca_text is not None:
        mode = stat.S_IMODE(os.stat(places.uca).st_mode) if os.path.exists(places.uca) else 0o644
        write_file(places.uca, uca_text, mode)
    print("Quorvel est installé pour %s. Thunar lit ses actions à son démarrage : "
          "fermez-le (thunar -q) pour les voir." % places.home)


def uninstall(_args):
    places = UserPlaces()
    if not os.path.exists(places.manifest):
        print("install-desktop : rien à désinstaller.")
        return
    manifest = load_manifest(places)
    for path in manifest["files"]:
        if os.path.lexists(path):
            os.unlink(path)
    if os.path.exists(places.uca):
        with open(places.uca, encoding="utf-8") as f:
            text = f.read()
        rest = uca_without_ours(text)
        if manifest.get("uca_created") and re.sub(r"\s", "", rest) == re.sub(r"\s", "", UCA_EMPTY):
            os.unlink(places.uca)
        elif rest != text:
            write_file(places.uca, rest, stat.S_IMODE(os.stat(places.uca).st_mode))
    os.unlink(places.manifest)
    # Only the folders the install created, and only once they are empty.
    for d in sorted(manifest["dirs"], key=len, reverse=True):
        try:
            os.rmdir(d)
        except OSError:
            pass
    print("Quorvel est désinstallé pour %s." % places.home)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = p.add_subparsers(dest="cmd", required=True)
    g = sub.add_parser("generate")
    g.add_argument("--launcher", required=True)
    g.add_argument("--out", required=True)
    g.add_argument("--stamp")
    g.set_defaults(run=generate)
    i = sub.add_parser("install")
    i.add_argument("--programs", required=True)
    i.set_defaults(run=install)
    u = sub.add_parser("uninstall")
    u.set_defaults(run=uninstall)
    args = p.parse_args(argv)
    args.run(args)


if __name__ == "__main__":
    main(sys.argv[1:])
