# shellcheck shell=bash
# The Windows build and the Linux build write the same archive: one tree with
# fixed times compressed by Quorvelpack.exe under Wine and by the Linux
# Quorvelpack in line mode. Both archives pass 7-Zip and hold the same
# entries (names, times, sizes, CRCs), and the plain archives are the same
# byte for byte; the Windows build's AES-256 archive passes `7zz t -p`.
# Sourced by run-wine-test.
#
# Zip entry times are local (DOS) times, so both sides must share one time
# zone: both run with TZ=UTC. Wine's programs take TZ from the environment
# (the C runtime reads "UTC" as offset 0, and a POSIX zone such as "JST-9"
# moves the Windows build's entry times by 9 hours); the entry times are
# checked against the files' UTC times, so a disagreement shows as such and
# not as a vague byte difference.

need_programs
record_folder_opens
title="Quorvelpack : Compresser un dossier"
LINUX_PACK="$ROOT/build/linux/bin/Quorvelpack"
if [ ! -x "$LINUX_PACK" ]; then
  [ "${QV_WINE_REQUIRE_PROGRAMS:-0}" = 1 ] && fail "$LINUX_PACK is not built"
  echo "SKIPPED ($name): $LINUX_PACK is not built (cmake --build --preset linux)"
  exit 77
fi
INSPECT="$ROOT/tests/engine/zip_inspect.py"
export TZ=UTC

# The tree: accents, "’", "€", "œ", an emoji, empty and nested empty folders,
# an empty file, files on either side of the writer's chunk sizes (256 KiB,
# 1 MiB) and a few megabytes of mixed data; every item gets its own time,
# odd seconds included.
src="$WORK/Même archive – été €"
python3 - "$src" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(2026)
def data(n, text):
    if text:
        words = [b"bonjour ", b"\xc3\xa9t\xc3\xa9 ", b"zip ", b"chunk\n", b"\xe2\x82\xac "]
        out = bytearray()
        while len(out) < n:
            out += rnd.choice(words)
        return bytes(out[:n])
    return rnd.randbytes(n)
files = {
    "Lisez-moi é.txt": data(1000, True),
    "vide.bin": b"",
    "L’été – œuvres €/œuf 😀.txt": data(5000, True),
    "bornes/256Ki-1.bin": data(256 * 1024 - 1, False),
    "bornes/256Ki.bin": data(256 * 1024, True),
    "bornes/256Ki+1.bin": data(256 * 1024 + 1, False),
    "bornes/1Mi-1.bin": data(1024 * 1024 - 1, True),
    "bornes/1Mi.bin": data(1024 * 1024, False),
    "bornes/1Mi+1.bin": data(1024 * 1024 + 1, True),
    "gros/mélange.bin": b"".join(data(64 * 1024, k % 2 == 1) for k in range(70)),
}
for rel, content in files.items():
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)
for rel in ("vide", "a/b/c"):
    os.makedirs(os.path.join(root, rel), exist_ok=True)
t = 1700000001
for dirpath, dirs, names in sorted(os.walk(root, topdown=False)):
    for n in sorted(names) + sorted(dirs):
        t += 3
        os.utime(os.path.join(dirpath, n), (t, t))
PY
cp -a "$src" "$WORK/copie"

# entries <archive>: what zipfile reads of every entry: name, time, size, CRC.
entries() {
  python3 - "$1" <<'PY'
import sys, zipfile
for i in sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda i: i.filename):
    print(i.filename, "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time, i.file_size, "%08x" % i.CRC)
PY
}
# like_files <folder> <archive>: every item of the folder is an entry of the
# archive with its size and CRC, and a time within the 2 s of DOS times of
# the item's UTC time; prints what differs.
like_files() {
  python3 - "$1" "$2" <<'PY'
import calendar, os, sys, zipfile, zlib
root, archive = sys.argv[1:]
infos = {i.filename: i for i in zipfile.ZipFile(archive).infolist()}
wanted = set()
for dirpath, dirs, names in os.walk(root):
    for n in dirs:
        wanted.add(os.path.relpath(os.path.join(dirpath, n), root) + "/")
    for n in names:
        wanted.add(os.path.relpath(os.path.join(dirpath, n), root))
for name in sorted(wanted ^ set(infos)):
    print("only in", "the folder:" if name in wanted else "the archive:", name)
for name in sorted(wanted & set(infos)):
    i, p = infos[name], os.path.join(root, name.rstrip("/"))
    b = b"" if os.path.isdir(p) else open(p, "rb").read()
    if (i.file_size, i.CRC) != (len(b), zlib.crc32(b)):
        print(name, "size/CRC", i.file_size, "%08x" % i.CRC, "instead of", len(b), "%08x" % zlib.crc32(b))
    delta = calendar.timegm(i.date_time + (0, 0, 0)) - int(os.stat(p).st_mtime)
    if abs(delta) >= 2:
        print(name, "time", "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time, "is", delta, "s from the file's UTC time")
PY
}

# --- The Windows build, plain.
cat >"$WORK/plain.txt" <<STEPS
watchdog 90000
timeout 60000
start "$PACK" "$(qv_wine_path "$src")"
window $title | Compression en cours...
expect Compression complète
exit 0
STEPS
run_driver "$WORK/plain.txt" || fail "plain compression under Wine"
mv "$src.zip" "$WORK/windows.zip"
expect_opened "$WORK"

# --- The Windows build, AES-256: 7-Zip tests it with the password, not without.
password='Mot de passe é§9 €'
cat >"$WORK/aes.txt" <<STEPS
watchdog 90000
timeout 60000
start "$PACK" §"$(qv_wine_path "$src")"
window $title | Chiffrage AES (compatible 7-Zip/WinZip)
settext Edit 1 $password
td-click 1
window $title | Compression en cours...
window Suppression du dossier compressé | Voulez-vous supprimer le dossier qui vient d'être compressé ?
click-id 7
exit 0
STEPS
run_driver "$WORK/aes.txt" || fail "AES compression under Wine"
mv "$src.zip" "$WORK/windows-aes.zip"
expect_opened "$WORK"
LC_ALL=C.UTF-8 7zz t -p"$password" "$WORK/windows-aes.zip" >"$WORK/7zz.log" 2>&1 ||
  fail "7zz t -p rejects the Windows build's AES archive: $(cat "$WORK/7zz.log")"
if LC_ALL=C.UTF-8 7zz t -p'mauvais' "$WORK/windows-aes.zip" >/dev/null 2>&1; then
  fail "7-Zip accepts a wrong password for the Windows build's AES archive"
fi
LC_ALL=C.UTF-8 7zz l -slt -p"$password" "$WORK/windows-aes.zip" >"$WORK/7zz.log" 2>&1 || true
grep -q '^Method = AES-256' "$WORK/7zz.log" || fail "the Windows build's archive is not AES-256"

# --- The Linux build, in line mode (pipes, no desktop), same time zone.
(
  cd "$WORK"
  env -u DISPLAY -u WAYLAND_DISPLAY QV_UI=line LANG=C.UTF-8 HOME="$WORK/home" \
    XDG_CONFIG_HOME="$WORK/home/config" XDG_DATA_HOME="$WORK/home/data" \
    "$LINUX_PACK" "$src" </dev/null >"$WORK/linux.log" 2>&1
) || fail "the Linux build failed: $(cat "$WORK/linux.log")"
mv "$src.zip" "$WORK/linux.zip"
diff -r "$src" "$WORK/copie" >/dev/null || fail "the folder changed while it was compressed"

for z in windows linux; do
  same_tree "$WORK/$z.zip" "$WORK/copie"
done
like_files "$WORK/copie" "$WORK/linux.zip" >"$WORK/diff.log"
[ ! -s "$WORK/diff.log" ] || fail "the Linux build's entries are not the files': $(cat "$WORK/diff.log")"
like_files "$WORK/copie" "$WORK/windows.zip" >"$WORK/diff.log"
[ ! -s "$WORK/diff.log" ] ||
  fail "the Windows build's entries are not the files' (Wine's time zone?): $(cat "$WORK/diff.log")"
entries "$WORK/linux.zip" >"$WORK/linux.txt"
entries "$WORK/windows.zip" >"$WORK/windows.txt"
diff "$WORK/windows.txt" "$WORK/linux.txt" >"$WORK/diff.log" ||
  fail "the two builds list other entries (< Windows, > Linux): $(cat "$WORK/diff.log")"

# --- Byte for byte.
if ! cmp -s "$WORK/windows.zip" "$WORK/linux.zip"; then
  python3 "$INSPECT" "$WORK/windows.zip" >"$WORK/windows-layout.txt"
  python3 "$INSPECT" "$WORK/linux.zip" >"$WORK/linux-layout.txt"
  cp "$WORK/windows.zip" "$ARTIFACTS/identical-archive-windows.zip"
  cp "$WORK/linux.zip" "$ARTIFACTS/identical-archive-linux.zip"
  fail "the Windows and Linux builds wrote different plain archives ($(stat -c %s "$WORK/windows.zip") and \
$(stat -c %s "$WORK/linux.zip") bytes; $(cmp "$WORK/windows.zip" "$WORK/linux.zip" 2>&1 | head -1)); \
layout (flags size compressed crc zip64 central/local agrees name):
$(diff "$WORK/windows-layout.txt" "$WORK/linux-layout.txt" | head -20)
both kept in $ARTIFACTS"
fi
