#!/usr/bin/env python3
"""Checks a regedit export of HKEY_CURRENT_USER\\Software\\Classes against the
context-menu commands the Windows installer must register.

Usage: check_registry.py installed|removed <export.reg> <install dir>
Exit status 0 when the state matches, 1 with the differences listed.
"""
import sys

ROOT = "HKEY_CURRENT_USER\\Software\\Classes\\"
FOLDER = "Directory\\shell\\"
ZIP = "SystemFileAssociations\\.zip\\shell\\"


def expected(install_dir):
    pack = install_dir + "\\Quorvelpack.exe"
    unpack = install_dir + "\\Quorvelunpack.exe"
    # (key, label, program, command line) exactly as the shell must run them.
    rows = [
        (FOLDER + "QuorvelpackCompress", "Compresser avec Quorvelpack", pack,
         '"%s" "%%1"' % pack),
        (FOLDER + "QuorvelpackCompressDelete",
         "Compresser avec Quorvelpack puis supprimer le dossier", pack, '"%s" #"%%1"' % pack),
        (FOLDER + "QuorvelpackCompressEncrypt", "Compresser et chiffrer avec Quorvelpack", pack,
         '"%s" \u00a7"%%1"' % pack),
        (ZIP + "QuorvelunpackExtract", "Extraire avec Quorvelunpack", unpack,
         '"%s" "%%1"' % unpack),
        (ZIP + "QuorvelunpackExtractDelete",
         "Extraire avec Quorvelunpack puis supprimer l'archive", unpack, '"%s" #"%%1"' % unpack),
    ]
    keys = {}
    for key, label, program, line in rows:
        keys[ROOT + key] = {"@": label, "Icon": '"%s",0' % program}
        keys[ROOT + key + "\\command"] = {"@": line}
    return keys


def unquote(text):
    assert text.startswith('"') and text.endswith('"'), text
    out, i = [], 1
    while i < len(text) - 1:
        if text[i] == "\\":
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out)


def parse(path):
    with open(path, "rb") as f:
        data = f.read()
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("utf-8")
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
        elif current is not None and "=" in line and line[0] in '@"':
            if line.startswith("@="):
                name, value = "@", line[2:]
            else:
                end = line.index('"=', 1)
                name, value = unquote(line[:end + 1]), line[end + 2:]
            current[name] = unquote(value) if value.startswith('"') else value
    return keys


def main(argv):
    state, export, install_dir = argv[1], argv[2], argv[3]
    found = parse(export)
    ours = {k: v for k, v in found.items() if "quorvel" in k.lower()}
    problems = []
    if state == "installed":
        want = expected(install_dir)
        for key, values in want.items():
            if key not in ours:
                problems.append("missing key " + key)
                continue
            for name, value in values.items():
                got = ours[key].get(name)
                if got != value:
                    problems.append("%s [%s]: %r, expected %r" % (key, name, got, value))
        problems += ["unexpected key " + k for k in ours if k not in want]
    else:
        problems += ["left behind: " + k for k in ours]
        for shared in (ROOT + "Directory\\shell", ROOT + "Directory\\shell\\AutreOutil\\command"):
            if shared not in found:
                problems.append("removed a key that is not ours: " + shared)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
