# shellcheck shell=bash
# Quorvelpack.exe under Wine, started with a folder as the context-menu
# commands start it: plain, "§" with a password, "#" with Yes, an older
# archive abandoned or overwritten, and a cancel. The archives are checked on
# Linux with 7-Zip. Sourced by run-wine-test.

need_programs
record_folder_opens
title="Quorvelpack : Compresser un dossier"
# Wine's recycle bin is the trash of XDG_DATA_HOME, which must exist.
export XDG_DATA_HOME="$WORK/xdg"
mkdir -p "$XDG_DATA_HOME"

# make_folder <path>: a small tree with accented names and an empty folder.
make_folder() {
  mkdir -p "$1/Sous-dossier é/vide" "$1/Été"
  printf 'Premier fichier, accentué : é è à ç §\n' >"$1/Lisez-moi é.txt"
  head -c 300000 /dev/urandom >"$1/Sous-dossier é/données.bin"
  seq 1 20000 >"$1/Été/nombres.txt"
}

# --- Plain: no question, the archive beside the folder, the parent opened.
src="$WORK/Photos d'été §1"
make_folder "$src"
cat >"$WORK/plain.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" "$(qv_wine_path "$src")"
window $title | Compression en cours...
expect Création de : Photos d'été §1.zip
expect Compression complète
exit 0
STEPS
run_driver "$WORK/plain.txt" || fail "plain compression"
same_tree "$src.zip" "$src"
[ -d "$src" ] || fail "the folder was removed by a plain compression"
expect_opened "$WORK"

# That the Linux build writes the same archive byte for byte is
# case-identical-archive.sh's, over a tree made for it (chunk boundaries,
# fixed times, one time zone).

# --- "§": a refused password, then an accepted one; AES-256 that 7-Zip opens
# with it and not without. No deletion: the first question answered No.
src="$WORK/Chiffré"
make_folder "$src"
password='Mot de passe é§9'
cat >"$WORK/password.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" §"$(qv_wine_path "$src")"
window $title | Chiffrage AES (compatible 7-Zip/WinZip)
expect Saisir un mot de passe :
expect Entrer le mot de passe puis OK pour continuer.
settext Edit 1 abc
expect Mot de passe invalide !
td-click 1
expect Mot de passe invalide, veuillez le modifier !
settext Edit 1 abcdef
expect Sécurité du mot de passe : Faible
settext Edit 1 $password
expect Sécurité du mot de passe : Forte
screenshot compression-password
td-click 1
window $title | Compression en cours...
window Suppression du dossier compressé | Voulez-vous supprimer le dossier qui vient d'être compressé ?
click-id 7
exit 0
STEPS
run_driver "$WORK/password.txt" || fail "compression with a password"
same_tree "$src.zip" "$src" "$password"
7zz l -slt "$src.zip" | grep -q '^Method = AES-256' || fail "the archive is not AES-256"
if 7zz t -p'mauvais' "$src.zip" >/dev/null 2>&1; then fail "7-Zip accepts a wrong password"; fi
[ -d "$src" ] || fail "the folder was removed after No"
expect_opened "$WORK"

# The password dialog cancelled: the run ends as cancelled, nothing written.
rm -f "$src.zip"
cat >"$WORK/password-cancel.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" §"$(qv_wine_path "$src")"
window $title | Chiffrage AES (compatible 7-Zip/WinZip)
settext Edit 1 $password
td-click 2
exit 1
STEPS
run_driver "$WORK/password-cancel.txt" || fail "password dialog cancelled"
[ ! -e "$src.zip" ] || fail "an archive was written after the password dialog was cancelled"
expect_nothing_opened

# --- "#" and Yes: the archive written, the folder in the recycle bin.
src="$WORK/À jeter"
make_folder "$src"
cp -r "$src" "$WORK/copie"
cat >"$WORK/trash.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" #$(qv_wine_path "$src")
window Suppression du dossier compressé | Êtes-vous sûr de vouloir supprimer le dossier qui vient d'être compressé ?
click-id 6
exit 0
STEPS
run_driver "$WORK/trash.txt" || fail "compression then deletion"
same_tree "$src.zip" "$WORK/copie"
[ ! -e "$src" ] || fail "the folder is still there after Yes"
[ -d "$XDG_DATA_HOME/Trash/files/À jeter" ] || fail "the folder is not in the trash ($(ls -R "$XDG_DATA_HOME" 2>&1))"
diff -r "$XDG_DATA_HOME/Trash/files/À jeter" "$WORK/copie" >/dev/null || fail "the trash holds a different folder"
expect_opened "$WORK"

# --- An older archive: abandoned (kept as it was), then overwritten.
src="$WORK/Existant"
make_folder "$src"
printf 'ancienne archive\n' >"$src.zip"
cp "$src.zip" "$WORK/ancienne"
cat >"$WORK/abandon.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" $(qv_wine_path "$src")
window $title | Le fichier Zip existe déjà !.
expect Vous pouvez choisir de :
expect Compresser le répertoire
expect Abandonner
expect Choisissez une des options ci-dessus
screenshot existing-archive-choice
td-click 400
exit 1
STEPS
run_driver "$WORK/abandon.txt" || fail "older archive abandoned"
cmp -s "$src.zip" "$WORK/ancienne" || fail "the older archive changed after Abandonner"
expect_nothing_opened
cat >"$WORK/overwrite.txt" <<STEPS
watchdog 60000
timeout 20000
start "$PACK" $(qv_wine_path "$src")
window $title | Le fichier Zip existe déjà !.
td-click 200
window $title | Compression en cours...
exit 0
STEPS
run_driver "$WORK/overwrite.txt" || fail "older archive overwritten"
same_tree "$src.zip" "$src"
expect_opened "$WORK"

# --- Cancel while writing: the process ends with status 1, no archive and no
# temporary file are left, the folder is untouched, nothing is opened.
src="$WORK/Gros"
mkdir -p "$src"
# Text-like data (base64): deflate works on it for seconds, where it skips
# through random bytes faster than the dialog can be clicked.
for i in 1 2 3 4 5 6; do head -c 30000000 /dev/urandom | base64 >"$src/part $i.txt"; done
cat >"$WORK/cancel.txt" <<STEPS
watchdog 90000
timeout 30000
start "$PACK" $(qv_wine_path "$src")
window $title | Compression en cours...
expect Création de : Gros.zip
expect     Compression : 
; the bar follows the percentage at the dialog's next timer ticks
sleep 800
screenshot compression-progress
td-click 101
expect Annulation...
exit 1
STEPS
run_driver "$WORK/cancel.txt" || fail "cancel"
[ ! -e "$src.zip" ] || fail "an archive was left after the cancel"
leftovers="$(find "$WORK" -maxdepth 1 -name '.qv*.tmp')"
[ -z "$leftovers" ] || fail "temporary files left after the cancel: $leftovers"
[ "$(find "$src" -type f | wc -l)" -eq 6 ] || fail "the folder changed after the cancel"
expect_nothing_opened
