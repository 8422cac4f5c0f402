#!/usr/bin/env python3
"""Reads regedit exports of HKEY_CURRENT_USER and checks them against what the
setup program must register, from the same list it is built from
(packaging/windows/commands.json).

Usage:
  check_registry.py installed <export.reg> <install dir>
      the context-menu commands are there, each exactly as the shell must run it
  check_registry.py removed <export.reg> [<key of another program>...]
      none of them is left, and the other programs' keys are still there
  check_registry.py command <export.reg> <verb key>
      prints the command line of one verb (UTF-8), as Explorer reads it
  check_registry.py value <export.reg> <key> <value name>
      prints one value (UTF-8)
  check_registry.py same <before.reg> <after.reg>
      both exports hold the same keys and values
  check_registry.py uninstall-entry <export.reg> <install dir> <version> <KiB>
      the entry of the Apps list is complete; <KiB> is the size of the files
Exit status 0 when the state matches, 1 with the differences listed.
"""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
LIST = os.path.join(HERE, "..", "..", "packaging", "windows", "commands.json")
HKCU = "HKEY_CURRENT_USER\\"
UNINSTALL = HKCU + "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel"


def commands():
    with open(LIST, encoding="utf-8") as f:
        return json.load(f)["commands"]


def expected(install_dir):
    keys = {}
    for c in commands():
        exe = install_dir + "\\" + c["program"]
        keys[HKCU + c["key"]] = {"@": c["label"], "Icon": '"%s",0' % exe,
                                 "MultiSelectModel": "Player"}
        # The prefix glued to the quoted path: the program reads its command
        # line as one text and drops every quote after the prefix.
        keys[HKCU + c["key"] + "\\command"] = {"@": '"%s" %s"%%1"' % (exe, c["prefix"])}
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
    """{key: {value name ("@" for the default): text, or "dword:..." as exported}}"""
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


def compare(found, want):
    problems = []
    for key, values in want.items():
        if key not in found:
            problems.append("missing key " + key)
            continue
        for name, value in values.items():
            got = found[key].get(name)
            if got != value:
                problems.append("%s [%s]: %r, expected %r" % (key, name, got, value))
    return problems


def same(before, after):
    problems = []
    for key in sorted(set(before) | set(after)):
        if key not in after:
            problems.append("key removed: " + key)
        elif key not in before:
            problems.append("key added: " + key)
        elif before[key] != after[key]:
            for name in sorted(set(before[key]) | set(after[key])):
                if before[key].get(name) != after[key].get(name):
                    problems.append("%s [%s]: %r, before %r"
                                    % (key, name, after[key].get(name), before[key].get(name)))
    for p in problems:
        print(p)
    return 1 if problems else 0


def main(argv):
    mode, found = argv[1], parse(argv[2])
    if mode == "same":
        return same(found, parse(argv[3]))
    ours = {k: v for k, v in found.items()
            if "quorvel" in k.lower() and k.lower().startswith((HKCU + "software\\classes").lower())}
    problems = []
    if mode == "installed":
        want = expected(argv[3])
        problems = compare(found, want)
        problems += ["unexpected key " + k for k in ours if k not in want]
        folder = [c["prefix"] for c in commands() if "\\Directory\\" in c["key"]]
        archive = [c["prefix"] for c in commands() if "\\.zip\\" in c["key"]]
        if sorted(folder) != ["", "#", "\u00a7"] or sorted(archive) != ["", "#"]:
            problems.append("the list lacks a variant: folders %r, archives %r" % (folder, archive))
    elif mode == "removed":
        problems += ["left behind: " + k for k in ours]
        problems += ["left behind: " + k for k in found if k.startswith(UNINSTALL)]
        problems += ["removed a key that is not ours: " + k for k in argv[3:] if k not in found]
    elif mode in ("command", "value"):
        key, name = (HKCU + argv[3] + "\\command", "@") if mode == "command" else (argv[3], argv[4])
        value = found.get(key, {}).get(name)
        if value is None:
            print("no value %s under %s" % (name, key), file=sys.stderr)
            return 1
        sys.stdout.write(value + "\n")
        return 0
    elif mode == "uninstall-entry":
        install_dir, version, kib = argv[3], argv[4], int(argv[5])
        uninstaller = '"%s\\uninstall.exe"' % install_dir
        want = {UNINSTALL: {
            "DisplayName": "Quorvel (Quorvelpack et Quorvelunpack)",
            "DisplayVersion": version,
            "Publisher": "Quorvel",
            "DisplayIcon": install_dir + "\\Quorvelpack.exe,0",
            "InstallLocation": install_dir,
            "UninstallString": uninstaller,
            "QuietUninstallString": uninstaller + " /S",
            "NoModify": "dword:00000001",
            "NoRepair": "dword:00000001",
        }}
        problems = compare(found, want)
        size = found.get(UNINSTALL, {}).get("EstimatedSize", "")
        if not size.startswith("dword:") or abs(int(size[6:], 16) - kib) > 1:
            problems.append("EstimatedSize %r, expected about %d KiB" % (size, kib))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
