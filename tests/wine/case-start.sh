# shellcheck shell=bash
# Both programs started without a path, as from the Start menu: the item
# chooser picks the folder or the archive, and "LastDir" is read back from the
# registry afterwards. Sourced by run-wine-test.

need_programs
record_folder_opens

# last_dir <application>: the "LastDir" value of the user's settings, read
# through regedit's UTF-16 export (reg query would print accents through the
# OEM code page).
last_dir() {
  local export="$WORK/$1.reg"
  rm -f "$export"
  qv_wine regedit /E "$(qv_wine_path "$export")" "HKEY_CURRENT_USER\\Software\\$1\\Settings\\Data" \
    >/dev/null 2>&1 || true
  [ -f "$export" ] || { echo "(no key)"; return; }
  python3 - "$export" <<'PY'
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
m = re.search(r'^"LastDir"="((?:[^"\\]|\\.)*)"', text, re.M)
print(re.sub(r"\\(.)", r"\1", m.group(1)) if m else "(no value)")
PY
}

# --- Quorvelpack: folder chooser, "No" to encryption, "No" to the deletion.
parent="$WORK/Mes documents é§"
src="$parent/Vacances d'été"
mkdir -p "$src/photos"
printf 'souvenir\n' >"$src/photos/plage é.txt"
cat >"$WORK/pack.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK"
window Sélectionnez un dossier à Compresser
screenshot folder-chooser
settext Edit 1 $(qv_wine_path "$src")
click-id 1
window Quorvelpack : Compresser un dossier... | Voulez-vous crypter le fichier compressé ?
click-id 7
window Quorvelpack : Compresser un dossier | Compression en cours...
window Suppression du dossier compressé | Voulez-vous supprimer le dossier qui vient d'être compressé ?
click-id 7
exit 0
STEPS
run_driver "$WORK/pack.txt" || fail "Quorvelpack without a path"
7zz t "$src.zip" >/dev/null 2>&1 || fail "the archive of the chosen folder is not sound"
if 7zz l -slt "$src.zip" | grep -q '^Method = AES'; then fail "encrypted after No"; fi
[ -d "$src" ] || fail "the folder was removed after No"
expect_opened "$parent"
got="$(last_dir Quorvelpack)"
[ "$got" = "$(qv_wine_path "$parent")" ] || fail "Quorvelpack's LastDir is \"$got\", not \"$(qv_wine_path "$parent")\""

# A cancelled chooser ends the program at once, as cancelled (status 1).
cat >"$WORK/pack-cancel.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK"
window Sélectionnez un dossier à Compresser
click-id 2
exit 1
STEPS
run_driver "$WORK/pack-cancel.txt" || fail "Quorvelpack's chooser cancelled"
expect_nothing_opened

# --- Quorvelunpack: archive chooser filtered on Zip files; a name typed
# without its extension gets ".zip".
archive_dir="$WORK/Téléchargements §"
mkdir -p "$archive_dir"
(cd "$src" && 7zz a -tzip "$archive_dir/Reçu.zip" . >/dev/null) || fail "7zz could not write the archive"
cat >"$WORK/unpack.txt" <<STEPS
watchdog 60000
timeout 20000
start "$UNPACK"
window Sélectionnez un fichier Zip | Zip Files
screenshot archive-chooser
settext Edit 1 $(qv_wine_path "$archive_dir/Reçu")
click-id 1
window Quorvelunpack : Décompresser un fichier Zip | Décompression en cours...
expect Reçu.zip
exit 0
STEPS
run_driver "$WORK/unpack.txt" || fail "Quorvelunpack without a path"
diff -r "$archive_dir/Reçu" "$src" >/dev/null || fail "the chosen archive came out different"
expect_opened "$archive_dir/Reçu"
got="$(last_dir Quorvelunpack)"
[ "$got" = "$(qv_wine_path "$archive_dir")" ] ||
  fail "Quorvelunpack's LastDir is \"$got\", not \"$(qv_wine_path "$archive_dir")\""
