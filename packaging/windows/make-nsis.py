#!/usr/bin/env python3
"""Writes the NSIS include of quorvel.nsi from commands.json.

Usage: make-nsis.py <commands.json> <output .nsh>

The include defines the macros that install and remove what the list names:
the programs (taken from ${QV_BIN}), their Start-menu entries and the
context-menu commands under HKEY_CURRENT_USER. Both halves come from the same
rows, so the uninstaller removes exactly what the installer wrote.
"""
import json
import sys


def nsis(text):
    """A double-quoted NSIS string with the text as it stands."""
    return '"' + text.replace("$", "$$").replace('"', '$\\"') + '"'


def installed(program):
    """The installed program's path, left to NSIS to expand."""
    return "$INSTDIR\\" + program.replace("$", "$$")


def parents(key):
    """The keys above a verb's key, deepest first, Software\\Classes included
    (Windows always has it; a fresh Wine prefix does not)."""
    parts = key.split("\\")
    return ["\\".join(parts[:n]) for n in range(len(parts) - 1, 1, -1)]


def shared_keys(data):
    """Every key above the verbs' keys, shallowest first."""
    keys = []
    for c in data["commands"]:
        keys += [k for k in reversed(parents(c["key"])) if k not in keys]
    return sorted(keys, key=lambda k: k.count("\\"))


def marker(key):
    """The value of the uninstall entry that says the installation made the key."""
    return nsis("QuorvelCreated:" + key)


def macros(data):
    out = ["; Generated from commands.json by make-nsis.py: edit the list, not this file.", ""]

    out.append("!macro QV_INSTALL_FILES")
    for p in data["programs"]:
        out.append('  File "${QV_BIN}\\%s"' % p["file"])
        # An older copy may carry the Mark of the Web of a download; the
        # stream goes, so the shell never asks before a run.
        out.append("  Delete %s" % nsis_path(p["file"] + ":Zone.Identifier"))
    out += ["!macroend", ""]

    out.append("!macro QV_REMOVE_FILES")
    for p in data["programs"]:
        out.append("  Delete %s" % nsis_path(p["file"]))
    out += ["!macroend", ""]

    out.append("!macro QV_WRITE_SHORTCUTS")
    for p in data["programs"]:
        exe = nsis_path(p["file"])
        # No arguments: the program asks for its folder or archive.
        out.append('  CreateShortcut "$SMPROGRAMS\\%s.lnk" %s "" %s 0 SW_SHOWNORMAL "" %s'
                   % (p["shortcut"], exe, exe, nsis(p["description"])))
    out += ["!macroend", ""]

    out.append("!macro QV_REMOVE_SHORTCUTS")
    for p in data["programs"]:
        out.append('  Delete "$SMPROGRAMS\\%s.lnk"' % p["shortcut"])
    out += ["!macroend", ""]

    # Which of the keys above ours are new, found before anything is written;
    # QV_MARK_CREATED_KEYS records them once the uninstall entry exists, so
    # the uninstaller removes those and leaves the ones it found.
    shared = shared_keys(data)
    out.append("!macro QV_WRITE_VERBS")
    for i, key in enumerate(shared):
        out += ["  ClearErrors",
                "  EnumRegKey $R%d HKCU %s 0" % (i, nsis(key)),
                "  StrCpy $R%d 0" % i,
                "  IfErrors 0 +2",
                "  StrCpy $R%d 1" % i]
    for c in data["commands"]:
        key = nsis(c["key"])
        exe = installed(c["program"])
        out.append("  WriteRegStr HKCU %s \"\" %s" % (key, nsis(c["label"])))
        out.append('  WriteRegStr HKCU %s "Icon" "$\\"%s$\\",0"' % (key, exe))
        # One process per selected item, whatever the number of items
        # (the default model passes at most 15).
        out.append('  WriteRegStr HKCU %s "MultiSelectModel" "Player"' % key)
        # The program takes its whole command line as one text: the prefix
        # stands right before the quoted path, e.g. "...\Quorvelpack.exe" #"%1".
        prefix = c["prefix"].replace("$", "$$").replace('"', '$\\"')
        out.append('  WriteRegStr HKCU %s "" "$\\"%s$\\" %s$\\"%%1$\\""'
                   % (nsis(c["key"] + "\\command"), exe, prefix))
    out += ["!macroend", ""]

    # After QV_WRITE_VERBS, with the uninstall entry's key as argument.
    out.append("!macro QV_MARK_CREATED_KEYS ENTRY")
    for i, key in enumerate(shared):
        out += ['  StrCmp $R%d 1 0 +2' % i,
                '  WriteRegDWORD HKCU "${ENTRY}" %s 1' % marker(key)]
    out += ["!macroend", ""]

    # Before the uninstall entry is deleted, with its key as argument.
    out.append("!macro QV_REMOVE_VERBS ENTRY")
    for c in data["commands"]:
        out.append("  DeleteRegKey HKCU %s" % nsis(c["key"]))
    # The keys above ours go only when the installation made them and nothing
    # else has come into them since.
    for key in reversed(shared):
        out += ['  ReadRegDWORD $R0 HKCU "${ENTRY}" %s' % marker(key),
                "  StrCmp $R0 1 0 +2",
                "  DeleteRegKey /ifempty HKCU %s" % nsis(key)]
    out += ["!macroend", ""]
    return "\r\n".join(out) + "\r\n"


def nsis_path(name):
    return '"%s"' % installed(name).replace('"', '$\\"')


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        data = json.load(f)
    with open(argv[2], "w", encoding="utf-8-sig", newline="") as f:
        f.write(macros(data))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
