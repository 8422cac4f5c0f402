# shellcheck shell=bash
# The manifest, version block, icon and GUI subsystem inside the built
# programs (and inside the sample, which gets them the same way).
# Sourced by run-wine-test.

python3 "$HERE/check_resources.py" "$HARNESS/bin/qvwinesample.exe" "Essai Quorvel" \
  "Programme d'essai du banc Wine" || fail "resources of the sample"

checked=0
for entry in "Quorvelpack|Compresser un dossier" "Quorvelunpack|Décompresser un fichier Zip"; do
  program="${entry%%|*}"
  if [ -f "$PROGRAMS/$program.exe" ]; then
    python3 "$HERE/check_resources.py" "$PROGRAMS/$program.exe" "$program" "${entry#*|}" ||
      fail "resources of $program.exe"
    # One file that runs on a bare Windows: libarchive, zlib and the C++
    # runtime linked in, only DLLs of the system imported.
    foreign="$(objdump -p "$PROGRAMS/$program.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
      grep -vixE '(advapi32|bcrypt|comctl32|comdlg32|crypt32|gdi32|imm32|kernel32|msvcrt|ole32|oleaut32|shell32|shlwapi|user32|uxtheme|version|ws2_32)\.dll' || true)"
    [ -z "$foreign" ] || fail "$program.exe imports DLLs that a bare Windows lacks: $foreign"
    checked=$((checked + 1))
  elif [ "${QV_WINE_REQUIRE_PROGRAMS:-0}" = 1 ]; then
    fail "$PROGRAMS/$program.exe is not built"
  else
    echo "note: $PROGRAMS/$program.exe is not built; only the sample was checked"
  fi
done
echo "programs checked: $checked"
