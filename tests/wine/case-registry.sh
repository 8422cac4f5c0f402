# shellcheck shell=bash
# The context-menu commands of the setup program in a folder of the user's
# choice (blanks and parentheses, the way "Program Files (x86)" looks), over
# an older installation whose files carry the Mark of the Web as the former
# PowerShell scripts copied them; then removed, leaving other programs' keys
# and values alone. Sourced by run-wine-test.

. "$HERE/setup-common.sh"
need_setup
install_win='C:\Quorvel essai (x)\Programs\Quorvel'
root_dir="$WINEPREFIX/drive_c/Quorvel essai (x)"
install_dir="$root_dir/Programs/Quorvel"
classes='HKEY_CURRENT_USER\Software\Classes'
zip_key="$classes\\SystemFileAssociations\\.zip"

mkdir -p "$install_dir"
for f in Quorvelpack.exe Quorvelunpack.exe; do
  printf 'ancienne version\n' >"$install_dir/$f"
  printf '[ZoneTransfer]\r\nZoneId=3\r\n' >"$install_dir/$f:Zone.Identifier"
done
# Someone else's command, and a value of another program on a key above ours.
qv_wine reg add "$classes\\Directory\\shell\\AutreOutil\\command" /ve /d 'autre.exe "%1"' /f \
  >/dev/null || fail "reg add"
qv_wine reg add "$zip_key" /v PerceivedType /d compressed /f >/dev/null || fail "reg add"

# /D= takes the rest of the command line, blanks included, unquoted.
cat >"$WORK/install.txt" <<STEPS
watchdog 90000
timeout 60000
start "$(qv_wine_path "$SETUP_EXE")" /S /D=$install_win
exit 0
STEPS
run_driver "$WORK/install.txt" || fail "the silent installation into $install_win"

export_key "$WORK/installed.reg" "$classes"
check_registry installed "$WORK/installed.reg" "$install_win" || fail "the installed commands differ (see above)"
# reg.exe sees them too, as Explorer would.
qv_wine reg query "$zip_key\\shell\\QuorvelunpackExtract\\command" /ve \
  | grep -qF "\"$install_win\\Quorvelunpack.exe\" \"%1\"" || fail "reg query of the extract command"
for f in Quorvelpack.exe Quorvelunpack.exe; do
  cmp -s "$install_dir/$f" "$PROGRAMS/$f" || fail "$f was not replaced"
  [ ! -e "$install_dir/$f:Zone.Identifier" ] || fail "$f keeps the Mark of the Web of the older copy"
done

uninstall_as_listed
export_key "$WORK/removed.reg" "$classes"
check_registry removed "$WORK/removed.reg" "$classes\\Directory\\shell\\AutreOutil\\command" "$zip_key" ||
  fail "the uninstallation left or removed keys (see above)"
[ "$(check_registry value "$WORK/removed.reg" "$zip_key" PerceivedType)" = compressed ] ||
  fail "the uninstallation took another program's value"
if qv_wine reg query "$classes\\Directory\\shell\\QuorvelpackCompress" >/dev/null 2>&1; then
  fail "reg query still finds QuorvelpackCompress"
fi
[ ! -e "$install_dir" ] || fail "the installation folder is still there: $(ls -A "$install_dir")"

qv_wine reg delete "$classes\\Directory\\shell\\AutreOutil" /f >/dev/null
qv_wine reg delete "$zip_key" /v PerceivedType /f >/dev/null
rm -rf "$root_dir"
