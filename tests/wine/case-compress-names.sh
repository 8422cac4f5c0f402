# shellcheck shell=bash
# Quorvelpack.exe under Wine on names above U+00FF (’, œ, €, –, Greek, CJK,
# emoji, in the folder's own name too) and on a tree deeper than 260
# characters. The archives are checked on Linux: 7-Zip and bsdtar list the
# exact UTF-8 names, 7-Zip tests them and extracts the same tree. Sourced by
# run-wine-test.

need_programs
record_folder_opens
title="Quorvelpack : Compresser un dossier"

# names_7zz <archive>: the entry paths 7-Zip lists, sorted.
names_7zz() {
  LC_ALL=C.UTF-8 7zz l -slt "$1" | awk '/^----------/ { f = 1 } f && /^Path = / { sub(/^Path = /, ""); print }' |
    LC_ALL=C sort
}
# names_bsdtar <archive>: the entry names bsdtar lists (folders end with "/").
names_bsdtar() {
  LC_ALL=C.UTF-8 bsdtar -tf "$1" | LC_ALL=C sort
}
# compress <folder> <script name>: a plain run on the folder, to its end.
compress() {
  cat >"$WORK/$2.txt" <<STEPS
watchdog 90000
timeout 60000
start "$PACK" "$(qv_wine_path "$1")"
window $title | Compression en cours...
expect Compression complète
exit 0
STEPS
  run_driver "$WORK/$2.txt" || fail "compression of $1"
  LC_ALL=C.UTF-8 7zz t "$1.zip" >"$WORK/7zz.log" 2>&1 || fail "7zz t rejects $1.zip: $(cat "$WORK/7zz.log")"
  local out="$WORK/check.$RANDOM"
  LC_ALL=C.UTF-8 7zz x -o"$out" "$1.zip" >"$WORK/7zz.log" 2>&1 || fail "7zz x fails on $1.zip"
  diff -r "$out" "$1" >"$WORK/diff.log" 2>&1 || fail "$1.zip differs from the folder: $(cat "$WORK/diff.log")"
  rm -rf "$out"
  expect_opened "$WORK"
}

# --- Names above U+00FF.
src="$WORK/L’été – œuvres €"
mkdir -p "$src/Ελληνικά/漢字" "$src/Dossier 😀"
printf 'apostrophe\n' >"$src/L’été.txt"
printf 'oe, tiret et euro\n' >"$src/œuvre – 5 €.txt"
printf 'grec\n' >"$src/Ελληνικά/αβγ.txt"
printf 'idéogrammes\n' >"$src/Ελληνικά/漢字/文字.txt"
printf 'emoji\n' >"$src/Dossier 😀/🎉 fête.txt"
compress "$src" names
expected="$(printf '%s\n' 'Dossier 😀' 'Dossier 😀/🎉 fête.txt' 'L’été.txt' 'Ελληνικά' \
  'Ελληνικά/αβγ.txt' 'Ελληνικά/漢字' 'Ελληνικά/漢字/文字.txt' 'œuvre – 5 €.txt' | LC_ALL=C sort)"
got="$(names_7zz "$src.zip")"
[ "$got" = "$expected" ] || fail "7-Zip lists other names:
$got
instead of:
$expected"
got="$(names_bsdtar "$src.zip")"
expected="$(printf '%s\n' 'Dossier 😀/' 'Dossier 😀/🎉 fête.txt' 'L’été.txt' 'Ελληνικά/' \
  'Ελληνικά/αβγ.txt' 'Ελληνικά/漢字/' 'Ελληνικά/漢字/文字.txt' 'œuvre – 5 €.txt' | LC_ALL=C sort)"
[ "$got" = "$expected" ] || fail "bsdtar lists other names:
$got
instead of:
$expected"

# --- A tree deeper than 260 characters (MAX_PATH) from the drive's root.
src="$WORK/Profond"
deep="$src"
for i in 1 2 3 4 5; do deep="$deep/un dossier au nom assez long pour dépasser la limite $i"; done
mkdir -p "$deep"
printf 'tout au fond\n' >"$deep/fichier tout au fond.txt"
printf 'en surface\n' >"$src/surface.txt"
winpath="$(qv_wine_path "$deep/fichier tout au fond.txt")"
[ "${#winpath}" -gt 300 ] || fail "the deep path is only ${#winpath} characters long: $winpath"
compress "$src" deep
names_7zz "$src.zip" | grep -qxF "${deep#"$src/"}/fichier tout au fond.txt" ||
  fail "the deepest file is not in the archive: $(names_7zz "$src.zip")"

# --- A whole drive, and a folder given with two trailing backslashes (whose
# archive would land inside it): refused with the reason, nothing written.
cat >"$WORK/root.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" Z:\\
window $title | Compression en cours...
expect La compression a échoué.
expect Le dossier « Z:\ » est la racine d'un disque entier
td-click 101
exit 2
STEPS
run_driver "$WORK/root.txt" || fail "a whole drive was not refused"
expect_nothing_opened
src="$WORK/Dedans"
mkdir -p "$src"
printf 'un fichier\n' >"$src/a.txt"
inner="$(qv_wine_path "$src")\\.zip"
cat >"$WORK/inside.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" $(qv_wine_path "$src")\\\\
window $title | Compression en cours...
expect La compression a échoué.
expect L'archive « $inner » serait écrite dans le dossier à compresser
td-click 101
exit 2
STEPS
run_driver "$WORK/inside.txt" || fail "an archive inside the folder was not refused"
[ "$(ls -A "$src")" = "a.txt" ] || fail "the folder changed: $(ls -A "$src")"
expect_nothing_opened
