#!/usr/bin/env python3
"""What Python's zipfile sees in an archive, and the layout of its headers,
one fact a line, for the engine's interop tests.

Usage: zip_inspect.py [--no-test] <archive>

  testzip ok | testzip bad <hex name> | testzip error <message>
  end <entries> <zip64 end record 0|1>
  entry <flags> <size> <compressed> <crc> <zip64 extra: central 0|1> <local 0|1>
        <local header agrees with the central one 0|1> <hex name>

Names are given as the hex of their UTF-8 bytes, as zipfile decoded them
(UTF-8 when the entry's flag says so, code page 437 otherwise), so that
nothing in them can break the line format. --no-test skips testzip(), which
cannot read encrypted entries.
"""
import struct
import sys
import zipfile


def has_zip64(extra):
    i = 0
    while i + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, i)
        if tag == 0x0001:
            return True
        i += 4 + size
    return False


def local_header(f, info):
    """The local header's fields that the central directory repeats."""
    f.seek(info.header_offset)
    head = f.read(30)
    if len(head) < 30 or head[:4] != b"PK\x03\x04":
        return None
    (_sig, _version, flags, method, time, date, crc, csize, size, nlen,
     xlen) = struct.unpack("<IHHHHHIIIHH", head)
    name = f.read(nlen)
    extra = f.read(xlen)
    return flags, method, time, date, crc, csize, size, name, extra


def agrees(info, local):
    flags, method, _time, _date, crc, csize, size, name, extra = local
    if flags != info.flag_bits or method != info.compress_type:
        return False
    if name != info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437"):
        return False
    if flags & 0x08:
        # Sizes and CRC come after the data: the local header holds none.
        return True
    if crc != info.CRC:
        return False
    if has_zip64(extra):
        # Both sizes in the zip64 field, in this order, when marked so.
        i = 0
        while i + 4 <= len(extra):
            tag, n = struct.unpack_from("<HH", extra, i)
            if tag == 0x0001:
                vals = [struct.unpack_from("<Q", extra, i + 4 + 8 * k)[0] for k in range(n // 8)]
                break
            i += 4 + n
        want = []
        if size == 0xFFFFFFFF:
            want.append(info.file_size)
        if csize == 0xFFFFFFFF:
            want.append(info.compress_size)
        return vals[: len(want)] == want
    return size == info.file_size and csize == info.compress_size


def dos_time_date(info):
    y, mo, d, h, mi, s = info.date_time
    return (h << 11) | (mi << 5) | (s // 2), ((y - 1980) << 9) | (mo << 5) | d


def main():
    args = sys.argv[1:]
    run_test = True
    if args and args[0] == "--no-test":
        run_test = False
        args = args[1:]
    path = args[0]
    with open(path, "rb") as f:
        data_tail = f.seek(0, 2)
        f.seek(max(0, data_tail - 65557))
        tail = f.read()
    eocd = tail.rfind(b"PK\x05\x06")
    zip64_end = eocd >= 20 and tail[eocd - 20:eocd - 16] == b"PK\x06\x07"
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        if run_test:
            try:
                bad = z.testzip()
                print("testzip ok" if bad is None else "testzip bad " + bad.encode().hex())
            except Exception as e:  # a damaged stream raises instead of naming the entry
                print("testzip error " + str(e).replace("\n", " "))
        print("end %d %d" % (len(infos), int(zip64_end)))
        with open(path, "rb") as f:
            for info in infos:
                local = local_header(f, info)
                if local is not None:
                    ltime, ldate = local[2], local[3]
                    same_time = (ltime, ldate) == dos_time_date(info)
                    ok = same_time and agrees(info, local)
                    local_zip64 = has_zip64(local[8])
                else:
                    ok, local_zip64 = False, False
                print("entry %x %d %d %08x %d %d %d %s" % (
                    info.flag_bits, info.file_size, info.compress_size, info.CRC,
                    int(has_zip64(info.extra)), int(local_zip64), int(ok),
                    info.filename.encode("utf-8").hex()))


if __name__ == "__main__":
    main()
