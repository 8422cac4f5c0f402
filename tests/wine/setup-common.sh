# shellcheck shell=bash
# What the cases on the setup program share (case-installer.sh, case-registry.sh):
# the built setup program, registry exports read as text, and an
# uninstallation run the way the Apps list runs it. Sourced by those cases.

version="$(sed -n 's/^project(Quorvel VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
SETUP_EXE="$ROOT/build/mingw64/Quorvel-Setup-$version.exe"
UNINSTALL_KEY='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel'

# need_setup: the setup program of the mingw64 build, else skipped (77), or a
# failure when QV_WINE_REQUIRE_PROGRAMS=1.
need_setup() {
  if [ ! -f "$SETUP_EXE" ]; then
    [ "${QV_WINE_REQUIRE_PROGRAMS:-0}" = 1 ] && fail "$SETUP_EXE is not built"
    echo "SKIPPED ($name): $SETUP_EXE is not built (cmake --build --preset mingw64; needs nsis)"
    exit 77
  fi
}

# export_key <file> <key>: regedit's export of the key (UTF-16, so "§" and the
# accents survive, unlike reg.exe's console output); an absent key gives an
# empty file. A copy lands in the artifacts, unless it is a whole hive's
# (megabytes that say nothing when the test passed).
export_key() {
  rm -f "$1"
  qv_wine regedit /E "$(qv_wine_path "$1")" "$2" >/dev/null 2>&1 || : >"$1"
  [ -f "$1" ] || : >"$1"
  [ "$(stat -c %s "$1")" -gt 1000000 ] || cp "$1" "$ARTIFACTS/registry-$(basename "$1")"
}

# check_registry <mode> <args...>
check_registry() { python3 "$HERE/check_registry.py" "$@"; }

# uninstall_as_listed: runs the QuietUninstallString of the uninstall entry,
# as the Apps list would, and waits until the uninstallation is over. NSIS's
# uninstaller copies itself to %TEMP% and carries on from there after the
# first process ended, so the end is when its entry is gone.
uninstall_as_listed() {
  local entry="$WORK/uninstall-entry.reg" line i
  export_key "$entry" "$UNINSTALL_KEY"
  line="$(check_registry value "$entry" "$UNINSTALL_KEY" QuietUninstallString)"
  [ -n "$line" ] || fail "no QuietUninstallString in the uninstall entry"
  cat >"$WORK/uninstall.txt" <<STEPS
watchdog 90000
timeout 60000
start $line
exit 0
STEPS
  run_driver "$WORK/uninstall.txt" || fail "the silent uninstallation failed"
  for i in $(seq 300); do
    qv_wine reg query "$UNINSTALL_KEY" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  fail "the uninstall entry is still there 60 s after the silent uninstallation"
}
