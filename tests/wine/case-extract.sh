# shellcheck shell=bash
# Quorvelunpack.exe under Wine: a 7-Zip AES archive with a wrong then the
# right password (its zone passed on to the files), the three answers to an
# existing destination, a large archive with "#" (deleted once extracted) and
# a hostile archive. Sourced by run-wine-test.

need_programs
record_folder_opens
title="Quorvelunpack : Décompresser un fichier Zip"

# --- Password: refused, then accepted; the content is the 7-Zip archive's,
# and the archive's zone (Mark of the Web) is on every file.
mkdir -p "$WORK/source/Sous é"
printf 'Contenu protégé é§\n' >"$WORK/source/Protégé.txt"
head -c 200000 /dev/urandom >"$WORK/source/Sous é/données.bin"
(cd "$WORK/source" && 7zz a -tzip -mem=AES256 -p'Clef-Zip 42' "$WORK/Secret é.zip" . >/dev/null) ||
  fail "7zz could not write the encrypted archive"
# Wine keeps a file's "Zone.Identifier" stream as a file of that name.
printf '[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://exemple.fr/Secret.zip\r\n' >"$WORK/Secret é.zip:Zone.Identifier"
cat >"$WORK/password.txt" <<STEPS
watchdog 60000
timeout 20000
start "$UNPACK" "$(qv_wine_path "$WORK/Secret é.zip")"
window $title | Autorisation requise
expect Ce fichier est protégé par mot de passe
expect Entrer le mot de passe puis OK pour continuer.
settext Edit 1 Clef-Zip 43
td-click 1
expect Mot de passe incorrect, veuillez réessayer.
screenshot extraction-password
settext Edit 1 Clef-Zip 42
td-click 1
window $title | Décompression en cours...
expect Décompression complète
exit 0
STEPS
run_driver "$WORK/password.txt" || fail "extraction with a password"
diff -r "$WORK/Secret é" "$WORK/source" -x '*:Zone.Identifier' >"$WORK/diff.log" ||
  fail "extracted content differs: $(cat "$WORK/diff.log")"
for f in "Protégé.txt" "Sous é/données.bin"; do
  cmp -s "$WORK/Secret é.zip:Zone.Identifier" "$WORK/Secret é/$f:Zone.Identifier" ||
    fail "$f did not get the archive's zone"
done
expect_opened "$WORK/Secret é"

# --- Existing destination. In the archive: a.txt and b.txt of 2020, c.txt.
# In the folder: an a.txt of 2019 (older), a b.txt of 2030 (newer), no c.txt.
zip_of "$WORK/Dossier.zip" "a.txt=a de l'archive" "b.txt=b de l'archive" "c é.txt=c de l'archive"
existing() {
  rm -rf "$WORK/Dossier"
  mkdir -p "$WORK/Dossier"
  printf 'a local' >"$WORK/Dossier/a.txt"
  printf 'b local' >"$WORK/Dossier/b.txt"
  touch -d '2019-01-01 12:00' "$WORK/Dossier/a.txt"
  touch -d '2030-01-01 12:00' "$WORK/Dossier/b.txt"
}
# answer <button id> <exit status> [screenshot]
answer() {
  cat >"$WORK/existing.txt" <<STEPS
watchdog 60000
timeout 20000
start "$UNPACK" $(qv_wine_path "$WORK/Dossier.zip")
window $title | Le dossier de décompression existe déjà !.
expect Vous pouvez choisir de :
expect Mettre à jour le dossier
expect Décompresser la totalité du ficher
expect Abandonner
expect Choisissez une des options ci-dessus
${3:+screenshot $3}
td-click $1
exit $2
STEPS
  run_driver "$WORK/existing.txt"
}
content() { cat "$WORK/Dossier/$1" 2>/dev/null || echo "(absent)"; }

existing
answer 300 0 existing-destination-choice || fail "Mettre à jour le dossier"
[ "$(content a.txt)" = "a de l'archive" ] || fail "update: the older a.txt was not replaced"
[ "$(content b.txt)" = "b local" ] || fail "update: the newer b.txt was overwritten"
[ "$(content "c é.txt")" = "c de l'archive" ] || fail "update: the absent c é.txt was not extracted"
expect_opened "$WORK/Dossier"

existing
answer 200 0 || fail "Décompresser la totalité du ficher"
[ "$(content a.txt)" = "a de l'archive" ] && [ "$(content b.txt)" = "b de l'archive" ] &&
  [ "$(content "c é.txt")" = "c de l'archive" ] || fail "overwrite: not every file is the archive's"
expect_opened "$WORK/Dossier"

existing
answer 400 1 || fail "Abandonner"
[ "$(content a.txt)" = "a local" ] && [ "$(content b.txt)" = "b local" ] &&
  [ ! -e "$WORK/Dossier/c é.txt" ] || fail "abandon: the folder changed"
expect_nothing_opened

# --- "#" and a large encrypted archive (decryption keeps it on screen long
# enough to be seen moving): the archive is deleted once everything is out.
mkdir -p "$WORK/big"
for i in 1 2 3 4; do head -c 30000000 /dev/urandom >"$WORK/big/part $i.bin"; done
(cd "$WORK/big" && 7zz a -tzip -mx0 -mem=AES256 -p'grand' "$WORK/Grande archive.zip" . >/dev/null) ||
  fail "7zz could not write the large archive"
# Cancelled while extracting: status 1, the archive kept despite "#", no
# temporary file left, nothing opened.
cat >"$WORK/large-cancel.txt" <<STEPS
watchdog 90000
timeout 30000
start "$UNPACK" #$(qv_wine_path "$WORK/Grande archive.zip")
window $title | Autorisation requise
settext Edit 1 grand
td-click 1
window $title | Décompression en cours...
expect     Décompression : 
td-click 101
expect Annulation...
exit 1
STEPS
run_driver "$WORK/large-cancel.txt" || fail "extraction cancelled"
[ -f "$WORK/Grande archive.zip" ] || fail "the archive was deleted after a cancel"
leftovers="$(find "$WORK/Grande archive" -name '.qv*.tmp' 2>/dev/null)"
[ -z "$leftovers" ] || fail "temporary files left after the cancel: $leftovers"
expect_nothing_opened
rm -rf "$WORK/Grande archive"

cat >"$WORK/large.txt" <<STEPS
watchdog 90000
timeout 30000
start "$UNPACK" #$(qv_wine_path "$WORK/Grande archive.zip")
window $title | Autorisation requise
settext Edit 1 grand
td-click 1
window $title | Décompression en cours...
expect Grande archive.zip
expect     Décompression : 
; the bar follows the percentage at the dialog's next timer ticks
sleep 600
screenshot extraction-progress
expect Décompression complète
exit 0
STEPS
run_driver "$WORK/large.txt" || fail "large archive with #"
diff -r "$WORK/Grande archive" "$WORK/big" >/dev/null || fail "the large archive came out different"
[ ! -e "$WORK/Grande archive.zip" ] || fail "the archive is still there after a '#' run"
expect_opened "$WORK/Grande archive"

# --- Hostile names: nothing lands outside the destination, the sound entry
# is extracted, the run says it failed and why until "Annuler" (status 2),
# opens no folder and keeps the archive.
zip_of "$WORK/Piège.zip" "../évadé 1.txt=x" "..\\évadé 2.txt=x" "/tmp/évadé 3.txt=x" \
  "C:/évadé 4.txt=x" "sain/../../évadé 5.txt=x" "sain/bon.txt=bon"
cat >"$WORK/hostile.txt" <<STEPS
watchdog 60000
timeout 20000
start "$UNPACK" #$(qv_wine_path "$WORK/Piège.zip")
window $title | Décompression en cours...
expect La décompression a échoué.
expect Élément refusé
sleep 2500
expect La décompression a échoué.
td-click 101
exit 2
STEPS
run_driver "$WORK/hostile.txt" || fail "hostile archive"
[ "$(cat "$WORK/Piège/sain/bon.txt" 2>/dev/null)" = bon ] || fail "the sound entry of the hostile archive is missing"
# Names with a drive or a leading "/" land inside it ("tmp/évadé 3.txt").
escaped="$(find "$WORK" "$WINEPREFIX/drive_c" /tmp -maxdepth 3 -path "$WORK/Piège" -prune -o \
  -name 'évadé*' -print 2>/dev/null)"
[ -z "$escaped" ] || fail "entries escaped the destination: $escaped"
[ -f "$WORK/Piège.zip" ] || fail "the hostile archive was deleted although the extraction failed"
expect_nothing_opened
