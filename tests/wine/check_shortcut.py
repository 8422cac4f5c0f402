#!/usr/bin/env python3
"""Checks a Windows shortcut (.lnk, [MS-SHLLINK]): it starts the program given,
with no arguments, from the program's folder, with the program's icon and the
description given.

Usage: check_shortcut.py <file.lnk> <program as a Windows path> <description>
Exit status 0 when it does, 1 with what differs.
"""
import struct
import sys

HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH = 0x1, 0x2, 0x4, 0x8
HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON_LOCATION, IS_UNICODE = 0x10, 0x20, 0x40, 0x80


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    if struct.unpack_from("<I", data, 0)[0] != 0x4C:
        raise ValueError("not a shell link")
    flags = struct.unpack_from("<I", data, 20)[0]
    icon_index = struct.unpack_from("<i", data, 56)[0]
    pos = 0x4C
    if flags & HAS_ID_LIST:
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    target = None
    if flags & HAS_LINK_INFO:
        size, header, info_flags = struct.unpack_from("<III", data, pos)
        if info_flags & 1:  # VolumeIDAndLocalBasePath
            base = struct.unpack_from("<I", data, pos + 16)[0]
            if header >= 0x24:
                base_u = struct.unpack_from("<I", data, pos + 28)[0]
                end = data.index(b"\0\0", pos + base_u)
                end += (end - pos - base_u) % 2
                target = data[pos + base_u:end].decode("utf-16-le")
            else:
                target = data[pos + base:data.index(b"\0", pos + base)].decode("latin-1")
        pos += size
    strings = {}
    for flag, name in ((HAS_NAME, "description"), (HAS_RELATIVE_PATH, "relative"),
                       (HAS_WORKING_DIR, "workdir"), (HAS_ARGUMENTS, "arguments"),
                       (HAS_ICON_LOCATION, "icon")):
        if flags & flag:
            count = struct.unpack_from("<H", data, pos)[0]
            pos += 2
            if flags & IS_UNICODE:
                strings[name] = data[pos:pos + 2 * count].decode("utf-16-le")
                pos += 2 * count
            else:
                strings[name] = data[pos:pos + count].decode("latin-1")
                pos += count
    # Wine counts the terminating NUL in the length; Windows does not.
    return target, {k: v.rstrip("\0") for k, v in strings.items()}, icon_index


def main(argv):
    lnk, program, description = argv[1], argv[2], argv[3]
    target, strings, icon_index = read(lnk)
    problems = []
    if (target or "").lower() != program.lower():
        problems.append("target %r, expected %r" % (target, program))
    if strings.get("arguments", ""):
        problems.append("arguments %r, expected none" % strings["arguments"])
    folder = program.rsplit("\\", 1)[0]
    if strings.get("workdir", "").lower() != folder.lower():
        problems.append("working folder %r, expected %r" % (strings.get("workdir"), folder))
    if strings.get("icon", "").lower() != program.lower() or icon_index != 0:
        problems.append("icon %r,%d, expected %r,0" % (strings.get("icon"), icon_index, program))
    if strings.get("description") != description:
        problems.append("description %r, expected %r" % (strings.get("description"), description))
    for p in problems:
        print("%s: %s" % (lnk, p))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
