# shellcheck shell=bash
# The context-menu commands of the Windows installer, applied and removed under
# Wine through the .reg files made from the installer's own list, then read
# back from the registry. Sourced by run-wine-test.

pkg="$ROOT/packaging/windows"
# A folder with blanks and parentheses, the way "Program Files (x86)" looks.
install_dir='C:\Quorvel essai (x)\Programs\Quorvel'

# Windows PowerShell 5.1 reads a script without a byte-order mark in the ANSI
# code page, which would garble "§" and every accent.
for f in Install-Quorvel.ps1 Uninstall-Quorvel.ps1; do
  [ "$(head -c 3 "$pkg/$f" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$f is not UTF-8 with BOM"
done

python3 "$pkg/make-reg.py" "$install_dir" "$WORK" || fail "make-reg.py"
classes='HKEY_CURRENT_USER\Software\Classes'
export_classes() {
  rm -f "$WORK/export.reg"
  qv_wine regedit /E "$(qv_wine_path "$WORK/export.reg")" "$classes" >/dev/null ||
    fail "regedit /E"
  cp "$WORK/export.reg" "$ARTIFACTS/registry-$1.reg"
}

# Someone else's command beside ours must survive the uninstallation.
qv_wine reg add 'HKCU\Software\Classes\Directory\shell\AutreOutil\command' /ve /d 'autre.exe "%1"' /f \
  >/dev/null || fail "reg add"

qv_wine regedit /S "$(qv_wine_path "$WORK/install.reg")" || fail "regedit install.reg"
export_classes installed
python3 "$HERE/check_registry.py" installed "$WORK/export.reg" "$install_dir" ||
  fail "the installed commands differ (see above)"
# reg.exe sees them too, as Explorer would.
qv_wine reg query 'HKCU\Software\Classes\SystemFileAssociations\.zip\shell\QuorvelunpackExtract\command' /ve \
  | grep -qF "\"$install_dir\\Quorvelunpack.exe\" \"%1\"" || fail "reg query of the extract command"

qv_wine regedit /S "$(qv_wine_path "$WORK/uninstall.reg")" || fail "regedit uninstall.reg"
export_classes removed
python3 "$HERE/check_registry.py" removed "$WORK/export.reg" "$install_dir" ||
  fail "the uninstallation left or removed keys (see above)"
if qv_wine reg query 'HKCU\Software\Classes\Directory\shell\QuorvelpackCompress' >/dev/null 2>&1; then
  fail "reg query still finds QuorvelpackCompress"
fi
qv_wine reg delete 'HKCU\Software\Classes\Directory\shell\AutreOutil' /f >/dev/null
