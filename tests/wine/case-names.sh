# shellcheck shell=bash
# Quorvelunpack.exe under Wine on names: characters above U+00FF, flagged as
# UTF-8 or given by Info-ZIP's Unicode path field, come out as they are; a
# path over 260 characters is written; names that Windows takes as one never
# overwrite each other. Sourced by run-wine-test.

need_programs
record_folder_opens
title="Quorvelunpack : Décompresser un fichier Zip"

# extract_status <status> <text shown at the end> <archive> [prefix]; a failure
# (status 2) stays on screen until its "Annuler" is pressed.
extract_status() {
  cat >"$WORK/steps.txt" <<STEPS
watchdog 60000
timeout 20000
start "$UNPACK" ${4:-}$(qv_wine_path "$3")
window $title | Décompression en cours...
expect $2
$( [ "$1" = 2 ] && echo "td-click 101" )
exit $1
STEPS
  run_driver "$WORK/steps.txt"
}

# --- Names of every script, flagged UTF-8 (Python flags them itself).
zip_of "$WORK/Noms.zip" "L’été – 5 €.txt=un" "œuvre/Ωμέγα.txt=deux" "中文/文件 😀.txt=trois" "été.txt=quatre"
# A legacy (ASCII) stored name whose Unicode path field carries the real one.
python3 - "$WORK/Noms.zip" <<'PY'
import struct, sys, zipfile, zlib
raw, real = b"cafe_.txt", "Café ☕ – ‘citation’.txt".encode()
field = struct.pack("<HHBI", 0x7075, 5 + len(real), 1, zlib.crc32(raw)) + real
with zipfile.ZipFile(sys.argv[1], "a") as z:
    info = zipfile.ZipInfo(raw.decode(), (2020, 6, 15, 12, 0, 0))
    info.extra = field
    z.writestr(info, b"cinq")
PY
extract_status 0 "Décompression complète" "$WORK/Noms.zip" || fail "names of every script"
for pair in "L’été – 5 €.txt=un" "œuvre/Ωμέγα.txt=deux" "中文/文件 😀.txt=trois" "été.txt=quatre" \
  "Café ☕ – ‘citation’.txt=cinq"; do
  f="${pair%%=*}"
  [ "$(cat "$WORK/Noms/$f" 2>/dev/null)" = "${pair#*=}" ] || fail "$f did not come out as it is: $(ls -R "$WORK/Noms")"
done
expect_opened "$WORK/Noms"

# --- A path of more than 260 characters below the destination.
deep="$(printf 'dossier-profond-%.0s' 1 2 3 4 5)"
long="$deep/$deep/$deep/fichier au bout du chemin.txt"
zip_of "$WORK/Long.zip" "$long=au bout"
[ "${#long}" -gt 260 ] || fail "the long path is not long enough"
extract_status 0 "Décompression complète" "$WORK/Long.zip" || fail "path over 260 characters"
[ "$(cat "$WORK/Long/$long" 2>/dev/null)" = "au bout" ] || fail "the file at the end of the long path is missing"
expect_opened "$WORK/Long"

# --- Names Windows takes as one: the first is kept, the others are not
# written, and the run fails (status 2) and keeps the archive.
zip_of "$WORK/Doublons.zip" "Lettre.txt=première" "LETTRE.TXT=seconde" "nom=sans point" "nom.=avec point" \
  "Été/x.txt=dossier" "éTÉ/y.txt=même dossier" "Ωμέγα.txt=grec" "ΩΜΈΓΑ.TXT=grec en capitales"
extract_status 2 "La décompression a échoué." "$WORK/Doublons.zip" "#" || fail "names Windows takes as one"
[ "$(cat "$WORK/Doublons/Lettre.txt" 2>/dev/null)" = "première" ] || fail "Lettre.txt was overwritten"
[ ! -e "$WORK/Doublons/LETTRE.TXT" ] || fail "LETTRE.TXT was written beside Lettre.txt"
[ "$(cat "$WORK/Doublons/nom" 2>/dev/null)" = "sans point" ] || fail "nom was overwritten by nom."
[ "$(cat "$WORK/Doublons/Ωμέγα.txt" 2>/dev/null)" = "grec" ] && [ ! -e "$WORK/Doublons/ΩΜΈΓΑ.TXT" ] ||
  fail "Ωμέγα.txt and ΩΜΈΓΑ.TXT: $(ls "$WORK/Doublons")"
# A folder is one folder whatever the case of its name: both files are in it.
[ "$(cat "$WORK/Doublons/Été/x.txt" 2>/dev/null)" = "dossier" ] &&
  [ "$(cat "$WORK/Doublons/Été/y.txt" 2>/dev/null)" = "même dossier" ] ||
  fail "the files of one folder named in two cases: $(ls -R "$WORK/Doublons")"
[ -f "$WORK/Doublons.zip" ] || fail "the archive was deleted although names collided"
# A failed run opens no folder.
expect_nothing_opened
