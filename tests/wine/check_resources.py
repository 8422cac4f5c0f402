#!/usr/bin/env python3
"""Checks that a Windows program carries what the shell and the loader need:
GUI subsystem, the manifest (id 1) binding common controls 6 with per-monitor
DPI awareness, the French version block and an icon of every size.

Usage: check_resources.py <program.exe> <product name> <file description>
Exit status 0 when all is there, 1 with the faults listed.
"""
import struct
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        sections = struct.unpack_from("<H", data, pe + 6)[0]
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        dirs = opt + (112 if magic == 0x20B else 96)
        self.rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rawsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("address outside every section")

    def resources(self):
        """{(type, id): bytes} of the first language of each resource."""
        out = {}
        if not self.rsrc_rva:
            return out
        base = self.offset(self.rsrc_rva)

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, base + off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + off + 16 + 8 * i)
                yield name, target

        for rtype, t in entries(0):
            for rid, n in entries(t & 0x7FFFFFFF):
                _, leaf = next(entries(n & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, base + leaf)
                out[(rtype, rid)] = self.data[self.offset(rva):self.offset(rva) + size]
        return out


def version_strings(block):
    text = block.decode("utf-16-le", errors="replace")
    found = {}
    for key in ("CompanyName", "FileDescription", "ProductName", "FileVersion",
                "ProductVersion", "OriginalFilename"):
        i = text.find(key + "\0")
        if i >= 0:
            j = i + len(key) + 1
            while j < len(text) and text[j] == "\0":
                j += 1
            found[key] = text[j:text.index("\0", j)]
    return found


def main(argv):
    path, product, description = argv[1], argv[2], argv[3]
    with open(path, "rb") as f:
        pe = Pe(f.read())
    faults = []
    if pe.subsystem != 2:
        faults.append("subsystem %d, not Windows GUI (2)" % pe.subsystem)
    res = pe.resources()

    manifest = res.get((RT_MANIFEST, 1), b"").decode("utf-8", errors="replace")
    for needed in ('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                   'publicKeyToken="6595b64144ccf1df"', "PerMonitorV2", ">true/pm<",
                   'level="asInvoker"', "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
        if needed not in manifest:
            faults.append("manifest 1 lacks " + needed)
    if "<activeCodePage" in manifest:
        faults.append("manifest sets activeCodePage")

    strings = version_strings(res.get((RT_VERSION, 1), b""))
    for key, value in (("CompanyName", "Quorvel"), ("ProductName", product),
                       ("FileDescription", description)):
        if strings.get(key) != value:
            faults.append("version %s is %r, expected %r" % (key, strings.get(key), value))
    if not strings.get("FileVersion"):
        faults.append("no FileVersion")

    group = res.get((RT_GROUP_ICON, 1), b"")
    sizes = set()
    if len(group) >= 6:
        count = struct.unpack_from("<H", group, 4)[0]
        for i in range(count):
            w, _, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            if (RT_ICON, icon_id) in res and bits == 32:
                sizes.add(w or 256)
    if sizes != {16, 32, 48, 256}:
        faults.append("icon sizes %s, expected 16, 32, 48 and 256 in 32 bits" % sorted(sizes))

    for f in faults:
        print("%s: %s" % (path, f))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
