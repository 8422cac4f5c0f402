#!/usr/bin/env python3
"""Writes install.reg and uninstall.reg from commands.json.

Usage: make-reg.py <install dir as a Windows path> <output folder>

The same list drives Install-Quorvel.ps1; these .reg files are its registry
part for machines without PowerShell (Wine) and for reviewing what the
installer writes. They are UTF-16 with a byte-order mark, the encoding regedit
reads without loss for "§" and the accents.
"""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = "HKEY_CURRENT_USER"


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def load(path=os.path.join(HERE, "commands.json")):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def command_line(install_dir, command):
    exe = install_dir.rstrip("\\") + "\\" + command["program"]
    return '"%s" %s"%%1"' % (exe, command["prefix"])


def install_reg(data, install_dir):
    lines = ["Windows Registry Editor Version 5.00", ""]
    for c in data["commands"]:
        exe = install_dir.rstrip("\\") + "\\" + c["program"]
        lines += ["[%s\\%s]" % (ROOT, c["key"]),
                  "@=" + reg_string(c["label"]),
                  '"Icon"=' + reg_string('"%s",0' % exe),
                  "",
                  "[%s\\%s\\command]" % (ROOT, c["key"]),
                  "@=" + reg_string(command_line(install_dir, c)),
                  ""]
    return "\r\n".join(lines) + "\r\n"


def uninstall_reg(data):
    lines = ["Windows Registry Editor Version 5.00", ""]
    for c in data["commands"]:
        lines += ["[-%s\\%s]" % (ROOT, c["key"]), ""]
    return "\r\n".join(lines) + "\r\n"


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    data = load()
    os.makedirs(argv[2], exist_ok=True)
    for name, text in (("install.reg", install_reg(data, argv[1])),
                       ("uninstall.reg", uninstall_reg(data))):
        with open(os.path.join(argv[2], name), "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
