# shellcheck shell=bash
# The setup program, as a user gets it: downloaded (it carries the Mark of the
# Web), installed silently for the current user, every file, shortcut and
# registry value checked, each context-menu command run exactly as Explorer
# runs it on names with blanks, "’", "€" and an emoji, runs of a multiple
# selection taken one after the other, and a silent uninstallation that gives
# the prefix back as it was. Sourced by run-wine-test.

. "$HERE/setup-common.sh"
need_setup
need_programs
record_folder_opens
# Wine's recycle bin is the trash of XDG_DATA_HOME, which must exist.
export XDG_DATA_HOME="$WORK/xdg"
mkdir -p "$XDG_DATA_HOME"
pack_title="Quorvelpack : Compresser un dossier"
unpack_title="Quorvelunpack : Décompresser un fichier Zip"

# win_folder <variable>: the user's folder the variable names, asked up to
# three times. Once, in a fresh CI run right after the registry case (whose
# uninstaller's copy in %TEMP% may still be ending), this case ended within a
# second without a word: under `set -e` a failed wine call in an assignment
# says nothing. Each of them now says what failed.
win_folder() {
  local out i
  for i in 1 2 3; do
    if out="$(qv_wine cmd /c echo "%$1%")"; then
      out="$(printf '%s' "$out" | tr -d '\r')"
      [ -n "$out" ] && [ "$out" != "%$1%" ] && { printf '%s\n' "$out"; return 0; }
    fi
    sleep 1
  done
  fail "wine could not tell %$1%: $out"
}
local_win="$(win_folder LOCALAPPDATA)"
appdata_win="$(win_folder APPDATA)"
unix_of() { qv_wine winepath -u "$1" | tr -d '\r' | sed 's:/$::'; }
install_win="$local_win\\Programs\\Quorvel"
install_dir="$(unix_of "$install_win")" || fail "winepath failed for $install_win"
start_menu_win="$appdata_win\\Microsoft\\Windows\\Start Menu\\Programs"
start_menu="$(unix_of "$start_menu_win")" || fail "winepath failed for $start_menu_win"
[ -n "$install_dir" ] && [ -d "$start_menu" ] || fail "the user's folders of the prefix were not found"

# snapshot <name>: the registry of the user and of the machine, and every file
# of drive C but the temporary folders.
snapshot() {
  export_key "$WORK/$1-hkcu.reg" HKEY_CURRENT_USER
  export_key "$WORK/$1-hklm.reg" 'HKEY_LOCAL_MACHINE\Software'
  (cd "$WINEPREFIX/drive_c" && find . -path './users/*/Temp' -prune -o -path './windows/temp' -prune \
    -o -printf '%p %s\n' | sort) >"$WORK/$1-files.txt"
}
# same_as_before <name>: the prefix as the snapshot "before" found it.
same_as_before() {
  snapshot "$1"
  check_registry same "$WORK/before-hkcu.reg" "$WORK/$1-hkcu.reg" || fail "HKEY_CURRENT_USER changed ($1)"
  check_registry same "$WORK/before-hklm.reg" "$WORK/$1-hklm.reg" || fail "HKEY_LOCAL_MACHINE changed ($1)"
  diff "$WORK/before-files.txt" "$WORK/$1-files.txt" || fail "the files of drive C changed ($1)"
}

# The list the setup program was built from: programs with their shortcuts,
# context-menu commands.
list_rows() {
  python3 - "$ROOT/packaging/windows/commands.json" "$1" <<'PY'
import json, sys
data = json.load(open(sys.argv[1], encoding="utf-8"))
if sys.argv[2] == "programs":
    for p in data["programs"]:
        print("%s|%s|%s" % (p["file"], p["shortcut"], p["description"]))
else:
    for c in data["commands"]:
        print(c["key"])
PY
}

install_downloaded() {
  mkdir -p "$WORK/Téléchargements"
  local setup="$WORK/Téléchargements/$(basename "$SETUP_EXE")"
  cp "$SETUP_EXE" "$setup"
  # What a browser adds to a download; Wine keeps the stream as a file of this name.
  printf '[ZoneTransfer]\r\nZoneId=3\r\n' >"$setup:Zone.Identifier"
  qv_wine "$(qv_wine_path "$setup")" /S || fail "the silent installation failed"
}

snapshot before

# --- Installed, checked, uninstalled: nothing run in between, so the prefix
# must come back exactly as it was.
install_downloaded
[ "$(ls -A "$install_dir" | sort | tr '\n' ' ')" = "Quorvelpack.exe Quorvelunpack.exe uninstall.exe " ] ||
  fail "the installation folder holds: $(ls -A "$install_dir")"
kib=0
while IFS='|' read -r file shortcut description; do
  cmp -s "$install_dir/$file" "$PROGRAMS/$file" || fail "$file differs from the build"
  python3 "$HERE/check_shortcut.py" "$start_menu/$shortcut.lnk" "$install_win\\$file" "$description" ||
    fail "the Start-menu entry $shortcut"
done < <(list_rows programs)
kib=$(( $(cat "$install_dir"/* | wc -c) / 1024 ))
marked="$(find "$install_dir" "$start_menu" -name '*:Zone.Identifier')"
[ -z "$marked" ] || fail "installed files carry the Mark of the Web: $marked"

export_key "$WORK/classes.reg" 'HKEY_CURRENT_USER\Software\Classes'
check_registry installed "$WORK/classes.reg" "$install_win" || fail "the context-menu commands (see above)"
export_key "$WORK/entry.reg" "$UNINSTALL_KEY"
check_registry uninstall-entry "$WORK/entry.reg" "$install_win" "$version" "$kib" ||
  fail "the uninstall entry (see above)"
# No administrator rights: nothing for the whole machine.
export_key "$WORK/installed-hklm.reg" 'HKEY_LOCAL_MACHINE\Software'
check_registry same "$WORK/before-hklm.reg" "$WORK/installed-hklm.reg" || fail "the setup wrote to HKEY_LOCAL_MACHINE"

uninstall_as_listed
same_as_before uninstalled

# --- Installed again and used through its context-menu commands.
install_downloaded
export_key "$WORK/classes.reg" 'HKEY_CURRENT_USER\Software\Classes'

# try_verb <verb key> <path> <steps>: the verb's command line read from the
# registry, "%1" replaced by the path, started as Explorer starts it; the
# driver's status.
try_verb() {
  local line
  line="$(check_registry command "$WORK/classes.reg" "$1")" || fail "no command for $1"
  line="${line//%1/$(qv_wine_path "$2")}"
  printf 'watchdog 90000\ntimeout 30000\nstart %s\n%s\n' "$line" "$3" >"$WORK/verb.txt"
  run_driver "$WORK/verb.txt"
}
# make_source <folder> <characters>: the folder the commands get copies of,
# with the characters in the names of its entries.
make_source() {
  mkdir -p "$1/Sous-dossier $2/vide"
  printf 'Prix : 10 €, l’été 🎉\n' >"$1/Lisez-moi $2.txt"
  head -c 200000 /dev/urandom >"$1/Sous-dossier $2/données.bin"
}
# zip_folder <folder> <archive>: an archive made by another tool (UTF-8 names).
zip_folder() {
  python3 - "$1" "$2" <<'PY'
import os, sys, zipfile
src, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for top, dirs, files in os.walk(src):
        for d in dirs:
            z.write(os.path.join(top, d), os.path.relpath(os.path.join(top, d), src) + "/")
        for f in files:
            z.write(os.path.join(top, f), os.path.relpath(os.path.join(top, f), src))
PY
}

base="Mes photos d’été € 🎉"
# Names above U+00FF crash the compressor, and entries so named are not
# extracted, until the engine's fix is merged: until then the runs on such
# names are expected to fail, and each command is proven on names of
# Windows-1252's Latin-1 part as well. 0 once the fix is in: then a failure
# on the full names fails the test.
wide_names_pending=0
latin="Mes photos d'été §"
password='Mot de passe é 9'
mkdir -p "$WORK/dossiers" "$WORK/archives" "$WORK/source"
make_source "$WORK/source/$base" "d’été € 🎉"
make_source "$WORK/source/$latin" "d'été §"

# A folder to compress, an archive to extract: <path> made from <source>.
folder_of() { cp -r "$2" "$1"; }
archive_of() { zip_folder "$2" "$1"; }
# run_on <verb key> <n> <steps> <folder_of|archive_of> <check>: the command
# run on "<base> <n>", then "<check> <path> <source>".
run_on() {
  local key="$1" n="$2" steps="$3" make="$4" check="$5" name="$base $2" source="$WORK/source/$base" path
  target_of() { if [ "$make" = folder_of ]; then echo "$WORK/dossiers/$1"; else echo "$WORK/archives/$1.zip"; fi; }
  "$make" "$(target_of "$name")" "$source"
  if try_verb "$key" "$(target_of "$name")" "$steps"; then
    [ "$wide_names_pending" = 0 ] || echo "note: names above U+00FF pass now: set wide_names_pending=0"
  else
    [ "$wide_names_pending" = 1 ] || fail "the command $key on $(target_of "$name")"
    echo "EXPECTED FAILURE until the engine's fix is merged: $key on $(target_of "$name")"
    name="$latin $n" source="$WORK/source/$latin"
    "$make" "$(target_of "$name")" "$source"
    try_verb "$key" "$(target_of "$name")" "$steps" || fail "the command $key on $(target_of "$name")"
  fi
  "$check" "$(target_of "$name")" "$source"
}
plain_check() {
  same_tree "$1.zip" "$1"
  expect_opened "$WORK/dossiers"
}
delete_check() {
  [ ! -e "$1" ] || fail "the folder is still there after Yes"
  same_tree "$1.zip" "$2"
  expect_opened "$WORK/dossiers"
}
encrypt_check() {
  same_tree "$1.zip" "$1" "$password"
  7zz l -slt "$1.zip" | grep -q '^Method = AES-256' || fail "the archive is not AES-256"
  expect_opened "$WORK/dossiers"
}
extract_check() {
  diff -r "${1%.zip}" "$2" >"$WORK/diff.log" 2>&1 || fail "the extracted folder differs: $(cat "$WORK/diff.log")"
  [ -f "$1" ] || fail "the archive went after a plain extraction"
  expect_opened "${1%.zip}"
}
extract_delete_check() {
  diff -r "${1%.zip}" "$2" >"$WORK/diff.log" 2>&1 || fail "the extracted folder differs: $(cat "$WORK/diff.log")"
  [ ! -e "$1" ] || fail "the archive is still there after a \"#\" extraction"
  expect_opened "${1%.zip}"
}

verbs_run=0
while read -r key; do
  case "$key" in
    *\\QuorvelpackCompress)
      run_on "$key" 1 "window $pack_title | Compression en cours...
expect Compression complète
exit 0" folder_of plain_check ;;
    *\\QuorvelpackCompressDelete)
      run_on "$key" 2 "window Suppression du dossier compressé | Êtes-vous sûr de vouloir supprimer le dossier qui vient d'être compressé ?
click-id 6
exit 0" folder_of delete_check ;;
    *\\QuorvelpackCompressEncrypt)
      run_on "$key" 3 "window $pack_title | Chiffrage AES (compatible 7-Zip/WinZip)
settext Edit 1 $password
td-click 1
window Suppression du dossier compressé | Voulez-vous supprimer le dossier qui vient d'être compressé ?
click-id 7
exit 0" folder_of encrypt_check ;;
    *\\QuorvelunpackExtract)
      run_on "$key" 4 "window $unpack_title | Décompression en cours...
expect Décompression complète
exit 0" archive_of extract_check ;;
    *\\QuorvelunpackExtractDelete)
      run_on "$key" 5 "window $unpack_title | Décompression en cours...
expect Décompression complète
exit 0" archive_of extract_delete_check ;;
    *) fail "no run written for the command $key" ;;
  esac
  verbs_run=$((verbs_run + 1))
done < <(list_rows commands)
[ "$verbs_run" -ge 5 ] || fail "only $verbs_run commands were run"

# --- A multiple selection: Explorer starts one process per folder, at once.
# The other two show nothing while the first waits for its password; one of
# them comes when the first ends, the last one when that one is killed (the
# mutex abandoned).
encrypt="$(check_registry command "$WORK/classes.reg" \
  'Software\Classes\Directory\shell\QuorvelpackCompressEncrypt')" || fail "no encryption command"
selected=()
for i in 6 7 8; do
  cp -r "$WORK/source/$base" "$WORK/dossiers/$base $i"
  selected+=("${encrypt//%1/$(qv_wine_path "$WORK/dossiers/$base $i")}")
done
cat >"$WORK/selection.txt" <<STEPS
watchdog 90000
timeout 20000
start ${selected[0]}
window $pack_title | Chiffrage AES (compatible 7-Zip/WinZip)
start ${selected[1]}
start ${selected[2]}
program 2
absent 3000
program 3
absent 500
program 1
window $pack_title | Chiffrage AES (compatible 7-Zip/WinZip)
td-click 2
exit 1
; Either waiting run may come next: the mutex has no queue.
any $pack_title | Chiffrage AES (compatible 7-Zip/WinZip)
others-absent 1500
kill
any $pack_title | Chiffrage AES (compatible 7-Zip/WinZip)
td-click 2
exit 1
STEPS
run_driver "$WORK/selection.txt" || fail "the runs of a multiple selection"
for i in 6 7 8; do
  [ ! -e "$WORK/dossiers/$base $i.zip" ] || fail "an archive was written by a cancelled run ($i)"
done

# --- Uninstalled: every file, shortcut and key of the setup gone; what the
# programs remembered for the user (their settings) stays.
uninstall_as_listed
[ ! -e "$install_dir" ] || fail "the installation folder is still there: $(ls -A "$install_dir")"
for f in "$start_menu"/Quorvel*.lnk; do [ ! -e "$f" ] || fail "left in the Start menu: $f"; done
export_key "$WORK/classes.reg" 'HKEY_CURRENT_USER\Software\Classes'
check_registry removed "$WORK/classes.reg" || fail "the context-menu commands after the uninstallation"
